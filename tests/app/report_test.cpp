// The report in words (--explain), JSON for scripts (--json), the status scripts can trust
// (--fail-on-refusal) and the hint towards --all-formats on standard error.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/progress.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using fixture::ascii;
using fixture::Bytes;
using fixture::entry;
using fixture::ExifBuilder;
using fixture::rational;
using fixture::shortValue;

namespace {

using namespace fixture::tags;

class AReport : public ::testing::Test {
protected:
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }
    fixture::TempFolder folder;
};

// A destination with a thumbnail and values of its own; a source with a value of every type.
ExifBuilder destination() {
    return ExifBuilder::jpeg()
        .ifd0({shortValue(kOrientation, 1), ascii(kSoftware, "GIMP 2.10")})
        .subIfd({rational(kExposureTime, 1, 60)})
        .ifd1({shortValue(0x0103, 6)})
        .thumbnail(fixture::tinyJpegScan());
}
ExifBuilder source() {
    Bytes shorts;
    for (std::uint16_t i = 1; i <= 10; ++i) shorts.insert(shorts.end(), {static_cast<std::uint8_t>(i), 0});
    return ExifBuilder::jpeg()
        .ifd0({ascii(kMake, "Canon"), shortValue(kOrientation, 6), entry(0xC4A5, 7, 3, {1, 2, 3})})
        .subIfd({rational(kExposureTime, 1, 250), entry(0x9000, 7, 4, {'0', '2', '3', '2'}),
                 entry(0x9204, 10, 1, {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}), entry(0x9214, 3, 10, shorts),
                 entry(0x9400, 9, 1, {0xF6, 0xFF, 0xFF, 0xFF})})
        .gps({entry(0x0000, 1, 4, {2, 3, 0, 0})})
        .makerNote({shortValue(0x0004, 7)});
}

TEST_F(AReport, explainsEachDifferenceInWordsAndPreviewsThemUnderX) {
    folder.write("dst.jpg", destination().build());
    folder.write("src.jpg", source().build());
    const std::string explained =
        "dst.jpg - 16 diffs\n"
        "  add     IFD0  Make                  \"Canon\"\n"
        "  change  IFD0  Orientation           1 (upright) -> 6 (rotate 90° clockwise)\n"
        "  remove  IFD0  Software              \"GIMP 2.10\"\n"
        "  add     IFD0  GPSInfoIFDPointer     (directory)\n"
        "  add     IFD0  IFD0:0xc4a5           (3 bytes)\n"
        "  remove  IFD1  Compression           6\n"
        "  remove  IFD1  JPEGInterchangeFormat (" + std::to_string(fixture::tinyJpegScan().size()) + " bytes)\n"
        "  remove  IFD1  JPEGInterchangeFormatLength " + std::to_string(fixture::tinyJpegScan().size()) + "\n"
        "  change  SUB0  ExposureTime          1/60 (1/60 s) -> 1/250 (1/250 s)\n"
        "  add     SUB0  ExifVersion           \"0232\" (2.32)\n"
        "  add     SUB0  ExposureBiasValue     -1/3 (-1/3 EV)\n"
        "  add     SUB0  SubjectArea           1 2 3 4 5 6 7 8 ... (10 values)\n"
        "  add     SUB0  MakerNote             (directory)\n"
        "  add     SUB0  Temperature           -10\n"
        "  add     MAK0  MAK0:0x0004           7\n"
        "  add     GPS0  GPSVersionID          (4 bytes)\n";
    const Bytes before = folder.read("dst.jpg");
    EXPECT_EQ(run({"--explain", "-x", "-ut", "src.jpg", "dst.jpg"}).output, explained);
    EXPECT_EQ(folder.read("dst.jpg"), before);
    EXPECT_EQ(run({"-ut", "--explain", "src.jpg", "dst.jpg"}).output, explained);
    EXPECT_EQ(run({"--explain", "-ut", "src.jpg", "dst.jpg"}).output, "dst.jpg - no diffs\n");

    // A left-behind part keeps its line; a refused rewrite's line follows the differences.
    folder.write("faulty.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Ann")}).subIfd({entry(0x9286, 77, 1, {1})}).build());
    folder.write("plain.jpg", ExifBuilder::jpeg().ifd0({}).build());
    std::filesystem::create_symlink("plain.jpg", folder / "link.jpg");
    EXPECT_EQ(run({"--all-formats", "--explain", "faulty.jpg", "link.jpg"}).output,
              "Tagloom: 'faulty.jpg' left behind: SUB0:0x9286 - its field type is none that Tagloom reads\n"
              "link.jpg - 1 diffs\n"
              "  add     IFD0  Artist                \"Ann\"\n"
              "Tagloom: 'link.jpg' not done - 'link.jpg' is a symbolic link; name the file it points to\n");
}

// Values as a camera's display shows them, behind the stored ones, old and new; in JSON as each
// difference's display. A zero denominator reads "unknown"; a coordinate without its reference says so.
TEST_F(AReport, showsValuesAsACameraDisplaysThem) {
    // little-endian, as Windows writes the XP tags; their count is one of UCS-2 units
    const auto ucs2 = [](const std::string& text) {
        Bytes bytes;
        for (char c : text) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
        return bytes;
    };
    const auto rationals = [](std::vector<std::uint32_t> parts) {
        Bytes bytes;
        for (std::uint32_t part : parts)
            for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(part >> shift));
        return bytes;
    };
    folder.write("dst.jpg", ExifBuilder::jpeg()
                                .ifd0({shortValue(kOrientation, 1)})
                                .subIfd({rational(kExposureTime, 25, 10), rational(0x829D, 0, 0),
                                         entry(0x9204, 10, 1, rationals({1, 3}))})
                                .build());
    folder.write("src.jpg",
                 ExifBuilder::jpeg()
                     .ifd0({shortValue(kOrientation, 6), shortValue(0x0128, 2), shortValue(0x0213, 1),
                            entry(0x9C9B, 1, 6, ucs2("Gipfel"))})
                     .subIfd({rational(kExposureTime, 5, 300), rational(0x829D, 28, 10), shortValue(0x8822, 3),
                              shortValue(0x8827, 400), entry(0x9000, 7, 4, {'0', '2', '3', '2'}),
                              entry(0x9204, 10, 1, rationals({0xFFFFFFFE, 3})), shortValue(0x9207, 5),
                              shortValue(0x9208, 10), shortValue(0x9209, 0x59), rational(0x920A, 35, 1),
                              entry(0x9286, 7, 14, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'i', '!', ' ', ' ', 0}),
                              entry(0xA000, 7, 4, {'0', '1', '0', '0'}), shortValue(0xA001, 0xFFFF),
                              shortValue(0xA403, 0), shortValue(0xA405, 50), shortValue(0xA406, 2)})
                     .gps({ascii(0x0001, "N"), entry(0x0002, 5, 3, rationals({34, 1, 3, 1, 3459, 100})),
                           entry(0x0004, 5, 3, rationals({118, 1, 14, 1, 3712, 100})), entry(0x0005, 1, 1, {0}),
                           rational(0x0006, 123, 10), entry(0x0007, 5, 3, rationals({14, 1, 5, 1, 9, 1}))})
                     .build());
    EXPECT_EQ(run({"--explain", "-x", "-u", "src.jpg", "dst.jpg"}).output,
              "dst.jpg - 27 diffs\n"
              "  change  IFD0  Orientation           1 (upright) -> 6 (rotate 90° clockwise)\n"
              "  add     IFD0  ResolutionUnit        2 (inches)\n"
              "  add     IFD0  YCbCrPositioning      1 (centred)\n"
              "  add     IFD0  GPSInfoIFDPointer     (directory)\n"
              "  add     IFD0  IFD0:0x9c9b           (12 bytes) (\"Gipfel\")\n"
              "  change  SUB0  ExposureTime          25/10 (2.5 s) -> 5/300 (1/60 s)\n"
              "  change  SUB0  FNumber               0/0 (unknown) -> 28/10 (f/2.8)\n"
              "  add     SUB0  ExposureProgram       3 (aperture priority)\n"
              "  add     SUB0  PhotographicSensitivity 400 (ISO 400)\n"
              "  add     SUB0  ExifVersion           \"0232\" (2.32)\n"
              "  change  SUB0  ExposureBiasValue     1/3 (+1/3 EV) -> -2/3 (-2/3 EV)\n"
              "  add     SUB0  MeteringMode          5 (pattern)\n"
              "  add     SUB0  LightSource           10 (cloudy)\n"
              "  add     SUB0  Flash                 89 (fired, auto, red-eye reduction)\n"
              "  add     SUB0  FocalLength           35/1 (35 mm)\n"
              "  add     SUB0  UserComment           (14 bytes) (\"Hi!\")\n"
              "  add     SUB0  FlashpixVersion       \"0100\" (1.0)\n"
              "  add     SUB0  ColorSpace            65535 (uncalibrated)\n"
              "  add     SUB0  WhiteBalance          0 (auto)\n"
              "  add     SUB0  FocalLengthIn35mmFilm 50 (50 mm)\n"
              "  add     SUB0  SceneCaptureType      2 (portrait)\n"
              "  add     GPS0  GPSLatitudeRef        \"N\"\n"
              "  add     GPS0  GPSLatitude           34/1 3/1 3459/100 (34° 3' 34.59\" N)\n"
              "  add     GPS0  GPSLongitude          118/1 14/1 3712/100 (118° 14' 37.12\" (no reference))\n"
              "  add     GPS0  GPSAltitudeRef        (1 bytes)\n"
              "  add     GPS0  GPSAltitude           123/10 (12.3 m above sea level)\n"
              "  add     GPS0  GPSTimeStamp          14/1 5/1 9/1 (14:05:09 UTC)\n");
    // A time stamp that is no time of day stays as stored, without words.
    folder.write("late.jpg", ExifBuilder::jpeg().ifd0({}).gps({entry(0x0007, 5, 3, rationals({0xFFFFFFFF, 1, 61, 1, 0, 1}))}).build());
    const std::string late = run({"--explain", "-x", "late.jpg", "dst.jpg"}).output;
    EXPECT_NE(late.find("  add     GPS0  GPSTimeStamp          4294967295/1 61/1 0/1\n"), std::string::npos) << late;
    const auto json = run({"--json", "-x", "-u", "src.jpg", "dst.jpg"});
    folder.write("run.json", Bytes(json.output.begin(), json.output.end()));
    EXPECT_EQ(fixture::commandOutput("python3 -c 'import json, sys\n"
                                     "for d in json.loads(open(sys.argv[1]).readline())[\"diffs\"]:\n"
                                     "    if d[\"name\"] in (\"FNumber\", \"GPSLongitude\"): print(d[\"display\"])\n' '" +
                                     folder / "run.json" + "'"),
              "{'new': 'f/2.8', 'old': 'unknown'}\n{'new': '118° 14\\' 37.12\" (no reference)', 'old': None}\n");
}

// The progress line of a folder run: nothing in the first second, then pairs done of found, rewritten
// and refused, redrawn in place at most ten times a second (at once where output cleared it), and
// cleared at the end; nothing at all where nobody watches.
TEST_F(AReport, drawsItsProgressLineInPlaceOnlyWhereSomeoneWatches) {
    double now = 0;
    const auto drawn = [&now](bool shown, const std::vector<std::pair<double, int>>& steps) {
        std::FILE* out = std::tmpfile();
        now = 10;
        tagloom::ProgressLine progress(out, shown, [&now] { return now; });
        for (const auto& [at, done] : steps) {
            now = at;
            if (done < 0) progress.clear();
            else progress.update(std::size_t(done), 5, done, 0);
        }
        progress.clear();
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += char(c);
        std::fclose(out);
        return text;
    };
    const std::vector<std::pair<double, int>> steps = {{10.5, 1}, {11.2, 2}, {11.25, 3}, {11.26, -1}, {11.27, 4}, {11.5, 5}};
    EXPECT_EQ(drawn(true, steps),
              "\rtagloom: 2 of 5 pairs, 2 rewritten, 0 refused\x1b[K\r\x1b[K"
              "\rtagloom: 4 of 5 pairs, 4 rewritten, 0 refused\x1b[K"
              "\rtagloom: 5 of 5 pairs, 5 rewritten, 0 refused\x1b[K\r\x1b[K");
    EXPECT_EQ(drawn(false, steps), "");
}

// One JSON object a line, which Python's json module reads whole: names and values not in UTF-8
// keep every byte; each result, a left-behind part, a skipped file and the folder's counts.
TEST_F(AReport, writesOneJsonObjectALineThatScriptsRead) {
    const std::string latin = "caf\xe9";  // a Latin-1 name and Copyright
    fixture::Entry badType = entry(0x9286, 77, 1, {1});
    folder.write("in/a.jpg", source().build());
    folder.write("in/" + latin + ".jpg", ExifBuilder::jpeg().ifd0({ascii(kCopyright, latin)}).subIfd({badType}).build());
    folder.write("in/c.jpg", source().build());
    folder.write("in/d.CR2", ExifBuilder::raw().ifd0({ascii(kMake, "Canon")}).build());
    folder.write("in/d.jpg", source().build());
    folder.write("out/a.jpg", destination().build());
    folder.write("out/" + latin + ".jpg", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
    folder.write("out/c.jpg", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'});
    folder.write("out/d.jpg", destination().build());
    const fixture::RunResult result = run({"--all-formats", "--json", "-x", "in", "out"});
    EXPECT_EQ(result.status, 0);
    folder.write("run.json", Bytes(result.output.begin(), result.output.end()));
    const std::string read = fixture::commandOutput(
        "python3 -c 'import json, sys\n"
        "for line in open(sys.argv[1], encoding=\"utf-8\"):\n"
        "    o = json.loads(line)\n"
        "    if \"found\" in o: print(o[\"found\"], o[\"checked\"], o[\"updated\"]); continue\n"
        "    diffs = [d[\"name\"] + \"=\" + ascii(d[\"new\"]) for d in o[\"diffs\"] if d[\"name\"] in (\"Copyright\", \"Make\", \"Orientation\")]\n"
        "    print(ascii(o.get(\"source\")), o.get(\"destination\") and ascii(o[\"destination\"]), o[\"result\"], o.get(\"reason\", \"\"), diffs,\n"
        "          [p[\"part\"] for p in o.get(\"left_behind\", [])])\n' '" + folder / "run.json" + "'");
    EXPECT_EQ(read,
              "'in/a.jpg' 'out/a.jpg' preview  [\"Make='Canon'\"] []\n"
              "'in/c.jpg' 'out/c.jpg' refused File not support (header not understood) [] []\n"
              "'in/caf\\xe9.jpg' 'out/caf\\xe9.jpg' preview  [\"Copyright='caf\\\\xe9'\"] ['SUB0:0x9286']\n"
              "'in/d.CR2' 'out/d.jpg' preview  [\"Make='Canon'\"] []\n"
              "'in/d.jpg' None skipped another file of that name is the source [] []\n"
              "5 3 0\n");
}

// --explain shows text as it stands without letting it forge a line or steer the terminal: line
// breaks, escape sequences and bytes that are not UTF-8 escaped, text past 64 bytes cut.
TEST_F(AReport, explainsTextThatCannotForgeLinesOrSteerTheTerminal) {
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
    folder.write("src.jpg", ExifBuilder::jpeg()
                                .ifd0({ascii(0x010E, std::string(100, 'a')), ascii(kArtist, "Ann\nTagloom: 'x' forged"),
                                       ascii(kCopyright, "\x1b[31mred caf\xe9 \xc3\xa9 \xc2\x9b \"q\"")})
                                .subIfd({})
                                .build());
    EXPECT_EQ(run({"--explain", "-x", "src.jpg", "dst.jpg"}).output,
              "dst.jpg - 3 diffs\n"
              "  add     IFD0  ImageDescription      \"" + std::string(64, 'a') + "\"... (100 bytes)\n"
              "  add     IFD0  Artist                \"Ann\\nTagloom: 'x' forged\"\n"
              "  add     IFD0  Copyright             \"\\x1b[31mred caf\\xe9 \xc3\xa9 \\xc2\\x9b \\\"q\\\"\"\n");
}

// A rewrite's JSON lists the differences its preview lists, as many as its result line counts, the
// pointers and the maker note among them.
TEST_F(AReport, listsTheSameDifferencesInJsonWithAndWithoutX) {
    folder.write("dst.jpg", destination().build());
    folder.write("src.jpg", source().build());
    std::string preview = run({"--json", "-x", "-ut", "src.jpg", "dst.jpg"}).output;
    const std::string rewritten = run({"--json", "-ut", "src.jpg", "dst.jpg"}).output;
    preview.replace(preview.find("\"result\":\"preview\""), 18, "\"result\":\"updated\"");
    EXPECT_EQ(rewritten, preview);
    std::size_t listed = 0;
    for (std::size_t at = rewritten.find("\"action\""); at != std::string::npos; at = rewritten.find("\"action\"", at + 1)) ++listed;
    EXPECT_EQ(listed, 16u);
    EXPECT_NE(rewritten.find("\"name\":\"MakerNote\""), std::string::npos);
}

// --fail-on-refusal: status 3 when a pair was refused, 0 when none was; --json is no partner of the traces.
TEST_F(AReport, endsWithStatusThreeOnARefusalOnlyWhenAsked) {
    folder.write("src.jpg", source().build());
    folder.write("dst.jpg", destination().build());
    folder.write("bad.jpg", Bytes{'n', 'o', 't'});
    EXPECT_EQ(run({"--fail-on-refusal", "-x", "src.jpg", "dst.jpg"}).status, 0);
    EXPECT_EQ(run({"--fail-on-refusal", "src.jpg", "bad.jpg"}).status, 3);
    EXPECT_EQ(run({"src.jpg", "bad.jpg"}).status, 0);
    const fixture::RunResult traced = run({"--json", "-v4", "src.jpg", "dst.jpg"});
    EXPECT_EQ(traced.status, 1);
    EXPECT_EQ(traced.output.rfind("Option --json cannot go with the traces of -v2 and -v4\n", 0), 0u);
}

// Without --all-formats, the files it refused or passed over that the option reads are counted in
// one line on standard error at the end; none with the option, none for other refusals.
TEST_F(AReport, pointsToAllFormatsOnStandardErrorWhereItWouldHaveHelped) {
    folder.write("in/a.jpg", source().build());
    folder.write("in/b.jpg", source().build());
    folder.write("in/c.NEF", ExifBuilder::raw().magic("II*").ifd0Offset(8).ifd0({ascii(kMake, "NIKON")}).build());
    folder.write("in/notes.txt", Bytes{'x'});
    folder.write("out/a.jpg", destination().segmentsBefore(fixture::jfifSegment()).build());
    folder.write("out/b.jpg", Bytes{'n', 'o', 't'});
    folder.write("out/c.jpg", destination().build());
    const fixture::RunResult plain = run({"-x", "in", "out"});
    EXPECT_EQ(plain.output, "Tagloom: 'out/a.jpg' Jpg header type not supported\n"
                            "Tagloom: 'out/b.jpg' File not support (header not understood)\n"
                            "Files found 2, checked 0, updated 0\n");
    EXPECT_EQ(plain.errors, "tagloom: 2 files were refused or passed over that --all-formats can read (see tagloom --help)\n");
    EXPECT_EQ(run({"-x", "in/a.jpg", "out/a.jpg"}).errors,
              "tagloom: 1 file was refused or passed over that --all-formats can read (see tagloom --help)\n");
    EXPECT_EQ(run({"-x", "in/b.jpg", "out/b.jpg"}).errors, "");
    EXPECT_EQ(run({"--all-formats", "-x", "in", "out"}).errors, "");
}

}  // namespace
