// The report in words (--explain), JSON for scripts (--json), the status scripts can trust
// (--fail-on-refusal) and the hint towards --all-formats on standard error.
#include <gtest/gtest.h>

#include <filesystem>

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
        "  change  IFD0  Orientation           1 -> 6\n"
        "  remove  IFD0  Software              \"GIMP 2.10\"\n"
        "  add     IFD0  GPSInfoIFDPointer     (directory)\n"
        "  add     IFD0  IFD0:0xc4a5           (3 bytes)\n"
        "  remove  IFD1  Compression           6\n"
        "  remove  IFD1  JPEGInterchangeFormat (" + std::to_string(fixture::tinyJpegScan().size()) + " bytes)\n"
        "  remove  IFD1  JPEGInterchangeFormatLength " + std::to_string(fixture::tinyJpegScan().size()) + "\n"
        "  change  SUB0  ExposureTime          1/60 -> 1/250\n"
        "  add     SUB0  ExifVersion           \"0232\"\n"
        "  add     SUB0  ExposureBiasValue     -1/3\n"
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
