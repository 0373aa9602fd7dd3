// --all-formats with JPEG layouts the default reading refuses: the Exif segment behind other
// segments, no Exif segment at all; every byte outside the Exif segment stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <tuple>
#include <vector>

#include "exif/exception.h"
#include "exif/image.h"
#include "tests/support/load.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using namespace tagloom;

using fixture::ascii;
using fixture::Bytes;
using fixture::entry;
using fixture::ExifBuilder;
using fixture::segment;
using fixture::shortValue;
using fixture::TempFolder;
using fixture::undefinedBytes;

namespace {

using namespace fixture::tags;

const Bytes kIcc = segment(0xE2, Bytes(300, 7));
const Bytes kComment = segment(0xFE, {'h', 'i'});

ExifBuilder source() {
    return ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "Ann")}).subIfd({shortValue(kFlash, 16)});
}

class AllFormats : public ::testing::Test {
protected:
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }
    std::unique_ptr<CExifImage> reread(const std::string& name) {
        fixture::Loaded loaded = fixture::load(folder / name, true);
        EXPECT_EQ(loaded.message(), "");
        return std::move(loaded.image);
    }
    TempFolder folder;
};

TEST_F(AllFormats, rewritesOnlyTheExifSegmentWhereverItLiesAndAddsOneWhereThereIsNone) {
    folder.write("src.jpg", source().build());
    const auto jfif = ExifBuilder::jpeg().segmentsBefore(fixture::join(fixture::jfifSegment(), kIcc)).ifd0({ascii(kMake, "Canon")})
                          .subIfd({});
    const auto bare = ExifBuilder::jpeg().segmentsBefore(fixture::join(fixture::jfifSegment(), kComment)).withoutExif();
    const std::size_t jfifEnd = 2 + fixture::jfifSegment().size();
    for (const auto& [name, file, diffs, at] : {std::tuple{std::string("jfif.jpg"), jfif.build(), 4, jfifEnd + kIcc.size()},
                                                std::tuple{std::string("bare.jpg"), bare.build(), 6, jfifEnd}}) {
        SCOPED_TRACE(name);
        folder.write(name, file);
        EXPECT_EQ(run({"src.jpg", name}).output, "Tagloom: '" + name + "' Jpg header type not supported\n");
        EXPECT_EQ(run({"--all-formats", "src.jpg", name}).output, name + " - " + std::to_string(diffs) + " diffs\n");
        const Bytes now = folder.read(name);
        const auto span = fixture::exifSegmentOf(now);
        // The segment stays where it was; a new one goes right behind SOI and the JFIF segment.
        EXPECT_EQ(span.first, at);
        EXPECT_EQ(fixture::withoutExifSegment(now), fixture::withoutExifSegment(file)) << "every other byte as it was";
        const auto image = reread(name);
        EXPECT_NE(image->ifd0.findEntry(kArtist), nullptr);
        EXPECT_NE(image->subIfd.findEntry(kFlash), nullptr);
        EXPECT_EQ(run({"--all-formats", "src.jpg", name}).output, name + " - no diffs\n");
    }
}

TEST_F(AllFormats, refusesWhatItCannotReadOrWriteWithOneLine) {
    folder.write("src.jpg", source().build());
    // A source without Exif data; a broken segment in front of the Exif segment.
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    folder.write("broken.jpg", ExifBuilder::jpeg().segmentsBefore({0xFF, 0xE0, 0x00, 0x01}).ifd0({}).build());
    EXPECT_EQ(run({"--all-formats", "bare.jpg", "src.jpg"}).output, "Tagloom: 'bare.jpg' no Exif data to copy\n");
    EXPECT_EQ(run({"--all-formats", "src.jpg", "broken.jpg"}).output,
              "Tagloom: 'broken.jpg' Jpg header type not supported\n");

    // Neither image has an Exif sub-directory: IFD0 is written without one.
    const Bytes lone = ExifBuilder::jpeg().segmentsBefore(fixture::jfifSegment()).ifd0({ascii(kMake, "X")}).build();
    folder.write("lone.jpg", lone);
    folder.write("plain.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Ann")}).build());
    EXPECT_EQ(run({"--all-formats", "plain.jpg", "lone.jpg"}).output, "lone.jpg - 1 diffs\n");
    EXPECT_NE(reread("lone.jpg")->ifd0.findEntry(kArtist), nullptr);

    // The segment's length field holds at most 65,535 bytes.
    const Bytes big = ExifBuilder::jpeg().segmentsBefore(fixture::jfifSegment())
                          .ifd0({undefinedBytes(0xC000, Bytes(40000, 1))}).build();
    folder.write("big.jpg", big);
    folder.write("more.jpg", ExifBuilder::jpeg().ifd0({undefinedBytes(0xC001, Bytes(30000, 2))}).build());
    EXPECT_EQ(run({"--all-formats", "more.jpg", "big.jpg"}).output,
              "big.jpg - 1 diffs\nTagloom: 'big.jpg' Exif data too large\n");
    EXPECT_EQ(folder.read("big.jpg"), big);

    // What a rewrite refuses names the destination, where the default mode's line names no file.
    std::filesystem::create_directory(folder / "plain.jpg.tmp");
    const Bytes plain = folder.read("plain.jpg");
    EXPECT_EQ(run({"-u", "src.jpg", "plain.jpg"}).output, "plain.jpg - 3 diffs\nTagloom: '' Failed to open tmp file\n");
    EXPECT_EQ(run({"--all-formats", "-u", "src.jpg", "plain.jpg"}).output,
              "plain.jpg - 3 diffs\nTagloom: 'plain.jpg' Failed to open tmp file 'plain.jpg.tmp': File exists\n");
    EXPECT_EQ(folder.read("plain.jpg"), plain);
}

/// exiftool's numeric values of a file's EXIF, PrintIM and maker-note tags, the positions aside, and
/// the pixel size, which a JPEG that only --all-formats reads takes from its own frame.
std::string valuesOf(const std::string& path) {
    return fixture::commandOutput("exiftool -a -G1 -n -U -s -EXIF:all -PrintIM:all -IPTC:all -MakerNotes:all '" + path +
                                  "' | grep -av 'ExifOffset\\|GPSInfo\\|InteropOffset\\|ExifImageWidth\\|ExifImageHeight'");
}

// Across byte orders every value keeps what it says: a big-endian source into a little-endian
// destination and back, one entry of each type and each undefined value with numbers of its own.
// The other order of an equal value is equal; a maker note in its file's order stays where it is.
TEST_F(AllFormats, turnsEveryCopiedValueIntoTheDestinationsByteOrder) {
    if (!fixture::haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    // Each value as a little-endian and as a big-endian file stores it.
    struct Value {
        std::uint16_t tag, type;
        std::uint32_t count;
        Bytes little, big;
    };
    // OECF and SpatialFrequencyResponse: columns, rows, the column names, SRATIONALs.
    const Bytes littleTable = {2, 0, 1, 0, 'a', 0, 'b', 0, 1, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0};
    const Bytes bigTable = {0, 2, 0, 1, 'a', 0, 'b', 0, 0, 0, 0, 1, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3};
    const std::vector<Value> ifd0 = {
        {kMake, 2, 6, {'C', 'a', 'n', 'o', 'n', 0}, {'C', 'a', 'n', 'o', 'n', 0}},
        {kArtist, 2, 4, {'A', 'n', 'n', 0}, {'A', 'n', 'n', 0}},
        {0x9C9C, 1, 2, {'H', 0, 'i', 0}, {'H', 0, 'i', 0}},  // XPComment: 2 UCS-2 units, little-endian in any file
        {0xC001, 8, 2, {0xFE, 0xFF, 0x2C, 0x01}, {0xFF, 0xFE, 0x01, 0x2C}},
        {0xC002, 9, 1, {0x60, 0x79, 0xFE, 0xFF}, {0xFF, 0xFE, 0x79, 0x60}},
        {0xC003, 11, 1, {0, 0, 0xC0, 0x3F}, {0x3F, 0xC0, 0, 0}},
        {0xC004, 12, 1, {0, 0, 0, 0, 0, 0, 2, 0x40}, {0x40, 2, 0, 0, 0, 0, 0, 0}},
        {0xC005, 10, 1, {0xFD, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFD, 0, 0, 0, 4}},
        {0xC006, 6, 1, {0xFB}, {0xFB}},
        {0xC007, 3, 3, {1, 0, 2, 0, 3, 1}, {0, 1, 0, 2, 1, 3}},
        {0xC008, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {4, 3, 2, 1, 8, 7, 6, 5}},
        {0x83BB, 4, 2, {0x1C, 2, 0, 0, 2, 0, 4, 0}, {0x1C, 2, 0, 0, 2, 0, 4, 0}},  // IPTC-NAA: bytes, typed LONG
        {0xC4A5, 7, 28,  // PrintIM: its count, tags and values
         {'P', 'r', 'i', 'n', 't', 'I', 'M', 0, '0', '3', '0', '0', 0, 0, 2, 0, 1, 0, 0x10, 0x20, 0x30, 0x40, 2, 0, 5, 0, 0, 0},
         {'P', 'r', 'i', 'n', 't', 'I', 'M', 0, '0', '3', '0', '0', 0, 0, 0, 2, 0, 1, 0x40, 0x30, 0x20, 0x10, 0, 2, 0, 0, 0, 5}},
    };
    const std::vector<Value> sub = {
        {0x829A, 5, 1, {1, 0, 0, 0, 250, 0, 0, 0}, {0, 0, 0, 1, 0, 0, 0, 250}},
        {0x8828, 7, 24, littleTable, bigTable},
        {0x9204, 10, 1, {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3}},
        {0x9286, 7, 12, {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 'O', 0, 'k', 0},
         {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0, 'O', 0, 'k'}},
        {0xA20C, 7, 24, littleTable, bigTable},
        {0xA302, 7, 8, {2, 0, 2, 0, 0, 1, 1, 2}, {0, 2, 0, 2, 0, 1, 1, 2}},  // CFAPattern
        {0xA40B, 7, 8, {1, 0, 1, 0, 'X', 0, 0, 0}, {0, 1, 0, 1, 0, 'X', 0, 0}},  // DeviceSettingDescription
    };
    const std::vector<Value> gps = {
        {0x0000, 1, 4, {2, 3, 0, 0}, {2, 3, 0, 0}},
        {0x0002, 5, 2, {51, 0, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 1, 0, 0, 0}, {0, 0, 0, 51, 0, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 1}},
        {0x001B, 7, 14, {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 'G', 0, 'P', 0, 'S', 0},  // GPSProcessingMethod
         {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0, 'G', 0, 'P', 0, 'S'}},
        {0x001C, 7, 12, {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 'A', 0, 'b', 0},  // GPSAreaInformation
         {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0, 'A', 0, 'b'}},
    };
    const auto build = [](const std::vector<Value>& values, bool big) {
        std::vector<fixture::Entry> entries;
        for (const Value& v : values) entries.push_back(entry(v.tag, v.type, v.count, big ? v.big : v.little));
        return entries;
    };
    for (const bool big : {false, true}) {
        ExifBuilder file = ExifBuilder::jpeg().ifd0(build(ifd0, big)).subIfd(build(sub, big)).gps(build(gps, big));
        folder.write(big ? "be.jpg" : "le.jpg", (big ? file.bigEndian() : file).build());
        ExifBuilder other = ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "Bob")}).subIfd({});
        folder.write(big ? "dst-be.jpg" : "dst.jpg", (big ? other.bigEndian() : other).build());
    }
    ASSERT_EQ(valuesOf(folder / "be.jpg"), valuesOf(folder / "le.jpg"));  // the fixtures say the same
    EXPECT_NE(run({"--all-formats", "-x", "-v4", "be.jpg", "le.jpg"}).output.find(
                  "be.jpg parse:\n  Byte order: MM (big-endian)\n  IFD0 15 entries starting at offset 0x0014\n"),
              std::string::npos);
    // Each value's bytes in a file of the given order, as the fixtures above state them.
    const auto expectStored = [&](const std::string& name, bool big) {
        const std::unique_ptr<CExifImage> image = reread(name);
        for (const auto& [directory, values] : {std::pair{&image->ifd0, &ifd0}, std::pair{&image->subIfd, &sub},
                                                std::pair{&image->gpsIfd, &gps}}) {
            for (const Value& v : *values) {
                const CExifEntry* found = directory->findEntry(v.tag);
                ASSERT_NE(found, nullptr) << std::hex << v.tag;
                EXPECT_EQ(Bytes(found->data.begin(), found->data.begin() + found->size), big ? v.big : v.little)
                    << std::hex << v.tag;
            }
        }
    };
    for (const auto& [from, to, big] : {std::tuple{"be.jpg", "dst.jpg", false}, std::tuple{"le.jpg", "dst-be.jpg", true}}) {
        SCOPED_TRACE(std::string(from) + " into " + to);
        EXPECT_EQ(run({"--all-formats", "-uo", from, to}).output.find("Tagloom:"), std::string::npos);
        EXPECT_EQ(valuesOf(folder / to), valuesOf(folder / from));
        EXPECT_EQ(fixture::commandOutput("exiftool -q -q -warning '" + folder / to + "'"), "");
        const auto gpsTexts = [&](const char* name) {
            return fixture::commandOutput("exiv2 -q -Pkv -g GPSProcessingMethod -g GPSAreaInformation '" + folder / name + "'");
        };
        EXPECT_EQ(gpsTexts(to), gpsTexts(from));
        expectStored(to, big);  // the destination keeps its byte order
        EXPECT_EQ(run({"--all-formats", "-uo", from, to}).output, std::string(to) + " - no diffs\n");
    }

    // A type without a known layout cannot be turned: the pair is refused.
    folder.write("odd.jpg", ExifBuilder::jpeg().bigEndian().ifd0({entry(0xC009, 0, 2, {1, 2})}).subIfd({}).build());
    const Bytes before = folder.read("dst.jpg");
    EXPECT_EQ(run({"--all-formats", "odd.jpg", "dst.jpg"}).output, "Tagloom: 'odd.jpg' Unknown format type\n");
    EXPECT_EQ(folder.read("dst.jpg"), before);

    // A PrintIM whose count fits only the other order is left as it is; one that fits neither cannot
    // be turned.
    const Bytes printImHead = {'P', 'r', 'i', 'n', 't', 'I', 'M', 0, '0', '3', '0', '0', 0, 0};
    for (const auto& [count, line] : {std::pair{Bytes{1, 0}, std::string("dst.jpg - 1 diffs\n")},
                                      std::pair{Bytes{0xFF, 0xFF}, std::string("Tagloom: 'pim.jpg' Value of tag 0xc4a5 "
                                                                               "cannot be turned into the other byte order\n")}}) {
        const Bytes printIm = fixture::join(fixture::join(printImHead, count), {0, 1, 5, 0, 0, 0});
        folder.write("pim.jpg", ExifBuilder::jpeg().bigEndian().ifd0({entry(0xC4A5, 7, 22, printIm)}).subIfd({}).build());
        folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
        EXPECT_EQ(run({"--all-formats", "pim.jpg", "dst.jpg"}).output, line);
        if (count[0] == 1) {
            const std::unique_ptr<CExifImage> image = reread("dst.jpg");
            const CExifEntry* kept = image->ifd0.findEntry(0xC4A5);
            ASSERT_NE(kept, nullptr);
            EXPECT_EQ(kept->data, printIm);
        }
    }

    // A note in its file's byte order stays; readers still read the destination's own.
    folder.write("note-be.jpg", ExifBuilder::jpeg().bigEndian().ifd0({ascii(kMake, "Canon")}).subIfd({})
                                    .makerNote({entry(0x0006, 2, 6, {'O', 't', 'h', 'e', 'r', 0})}).build());
    folder.write("note-le.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "Bob")}).subIfd({})
                                    .makerNote({ascii(0x0006, "Mine"), ascii(0x0007, "Firmware 1")}).build());
    const std::string notes = fixture::commandOutput("exiv2 -q -pa -g Exif.Canon '" + folder / "note-le.jpg" + "'");
    EXPECT_NE(notes.find("Mine"), std::string::npos);
    EXPECT_EQ(run({"--all-formats", "-uo", "-v1", "note-be.jpg", "note-le.jpg"}).output,
              "note-le.jpg diffs:\n    01 IFD0:0x013b remove   - 4 bytes\n\nnote-le.jpg - 1 diffs\n");
    EXPECT_EQ(fixture::commandOutput("exiv2 -q -pa -g Exif.Canon '" + folder / "note-le.jpg" + "'"), notes);
}

// Raw kinds without a sample, as cameras lay them out: the header's magic, IFD0 where the header
// says, either byte order, a value past the first 64 KiB. Only what describes the photo arrives; the
// exposure tags kept in IFD0 arrive in the Exif sub-directory.
TEST_F(AllFormats, takesTheTagsOfEveryRawKindThatDescribeThePhoto) {
    constexpr std::uint32_t kFarAway = 0x11000;
    for (const auto& [name, magic, big] : {std::tuple{"a.orf", "IIRO", false}, std::tuple{"b.orf", "MMOR", true},
                                           std::tuple{"c.arw", "II*", false}, std::tuple{"d.pef", "MM\0*", true},
                                           std::tuple{"e.srw", "II*", false}}) {
        SCOPED_TRACE(name);
        const auto inOrder = [&, big = big](Bytes little) {
            if (big) std::reverse(little.begin(), little.end());
            return little;
        };
        fixture::Entry artist = ascii(kArtist, "Bobby");
        artist.valueField = kFarAway;
        ExifBuilder builder = ExifBuilder::raw()
                                  .magic(std::string(magic, 4))
                                  .ifd0Offset(8)
                                  .ifd0({entry(0x0100, 3, 1, inOrder({0x40, 0x1F})), ascii(kMake, "Maker"), artist,
                                         entry(0x829A, 5, 1, fixture::join(inOrder({1, 0, 0, 0}), inOrder({250, 0, 0, 0})))})
                                  .subIfd({entry(0x8827, 3, 1, inOrder({200, 0}))});
        Bytes raw = (big ? builder.bigEndian() : builder).build();
        raw.resize(kFarAway);
        for (const char c : std::string("Bobby")) raw.push_back(static_cast<std::uint8_t>(c));
        raw.push_back(0);
        folder.write(name, raw);
        // -o takes part in what describes the photo only: the resolution stays, the Copyright goes.
        folder.write("dst.jpg",
                     ExifBuilder::jpeg().ifd0({fixture::rational(0x011A, 72, 1), ascii(0x8298, "Old")}).subIfd({}).build());

        EXPECT_EQ(run({"--all-formats", "-uo", name, "dst.jpg"}).output, "dst.jpg - 5 diffs\n");
        const std::unique_ptr<CExifImage> image = reread("dst.jpg");
        const auto text = [](const CExifEntry* found) {
            return found == nullptr ? std::string("(none)") : std::string(found->data.begin(), found->data.end() - 1);
        };
        EXPECT_EQ(text(image->ifd0.findEntry(kMake)), "Maker");
        EXPECT_EQ(text(image->ifd0.findEntry(kArtist)), "Bobby");
        EXPECT_EQ(image->ifd0.findEntry(0x0100), nullptr);
        EXPECT_NE(image->ifd0.findEntry(0x011A), nullptr);
        EXPECT_EQ(image->ifd0.findEntry(0x8298), nullptr);
        EXPECT_EQ(image->ifd0.findEntry(0x829A), nullptr);
        const CExifEntry* exposure = image->subIfd.findEntry(0x829A);
        ASSERT_NE(exposure, nullptr);
        EXPECT_EQ(exposure->data, (Bytes{1, 0, 0, 0, 250, 0, 0, 0}));
        ASSERT_NE(image->subIfd.findEntry(0x8827), nullptr);
        EXPECT_EQ(image->subIfd.findEntry(0x8827)->valueAsU32() & 0xFFFF, 200u);
        EXPECT_EQ(run({"--all-formats", "-uo", name, "dst.jpg"}).output, "dst.jpg - no diffs\n");
    }
    // A PEF's note points to the preview inside the PEF: the JPEG gains the note without those entries.
    const Bytes pentaxNote = {'A', 'O', 'C', 0, 'M', 'M', 0, 3,                 // header, 3 entries
                              0, 3, 0, 4, 0, 0, 0, 1, 0, 0, 0, 4,                // 0x0003 preview length
                              0, 4, 0, 4, 0, 0, 0, 1, 0, 0, 0, 8,                // 0x0004 preview start
                              0, 5, 0, 4, 0, 0, 0, 1, 0, 1, 0x2C, 0x1E, 0, 0, 0, 0};  // 0x0005 model
    folder.write("f.pef", ExifBuilder::raw().magic(std::string("MM\0*", 4)).ifd0Offset(8).bigEndian()
                              .ifd0({ascii(kMake, "PENTAX")}).subIfd({})
                              .makerNoteBytes([&](std::uint32_t) { return pentaxNote; }).build());
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    EXPECT_EQ(run({"--all-formats", "f.pef", "bare.jpg"}).output, "bare.jpg - 6 diffs\n");  // its own size too
    const std::unique_ptr<CExifImage> pentax = reread("bare.jpg");
    ASSERT_NE(pentax->makerNoteKind, nullptr);
    EXPECT_STREQ(pentax->makerNoteKind->name, "Pentax");
    EXPECT_EQ(pentax->makerNote.findEntry(0x0003), nullptr);
    EXPECT_EQ(pentax->makerNote.findEntry(0x0004), nullptr);
    ASSERT_NE(pentax->makerNote.findEntry(0x0005), nullptr);
    EXPECT_EQ(pentax->makerNote.findEntry(0x0005)->valueAsU32(), 76830u);

    // A raw file is never a destination.
    folder.write("artist.jpg", ExifBuilder::jpeg().ifd0({ascii(0x8298, "Zed")}).build());
    const Bytes before = folder.read("c.arw");
    EXPECT_EQ(run({"--all-formats", "artist.jpg", "c.arw"}).output,
              "c.arw - 1 diffs\nTagloom: 'c.arw' not done - a raw image cannot be rewritten\n");
    EXPECT_EQ(folder.read("c.arw"), before);
}

// Folder mode pairs every raw kind with the JPEG of its name; of several raw files of one name the
// first in byte order is the source and the others are named.
TEST_F(AllFormats, pairsRawFilesOfEveryKindWithTheirJpegsInFolderMode) {
    const auto raw = [](const char* magic, const char* make) {
        return ExifBuilder::raw().magic(magic).ifd0Offset(8).ifd0({ascii(kMake, make)}).subIfd({}).build();
    };
    folder.write("shots/IMG_1.NEF", raw("II*\0", "Nikon"));
    folder.write("shots/IMG_1.dng", raw("II*\0", "Other"));
    folder.write("shots/IMG_2.ORF", raw("IIRO", "Olympus"));
    folder.write("shots/IMG_3.tif", raw("II*\0", "Editor"));
    for (const char* name : {"IMG_1.JPG", "IMG_2.jpg", "IMG_3.jpg"})
        folder.write(std::string("shots/") + name, ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
    EXPECT_EQ(run({"--all-formats", "shots", "shots"}).output,
              "shots/IMG_1.JPG - 1 diffs\n"
              "Tagloom: 'shots/IMG_1.dng' skipped - another raw file of that name is the source\n"
              "shots/IMG_2.jpg - 1 diffs\n"
              "shots/IMG_3.tif - no diffs\n"  // a TIFF is an export: the JPEG of its name's destination
              "Files found 7, checked 3, updated 2\n");
    EXPECT_EQ(run({"shots", "shots"}).output, "Files found 3, checked 0, updated 0\n");
}

// A RAW+JPEG card as cameras and phones name it: of the files of one name the raw file is the source,
// then the HEIF photo, then the JPEG; the others are named, but a JPEG that is the source's own
// destination. Without the option only .jpg and .cr2 files are sources, each for itself.
TEST_F(AllFormats, pairsACardsFilesByTheirNameWithTheRawOrHeifAsSource) {
    const auto tiff = [](const char* artist) {
        return ExifBuilder::raw().ifd0Offset(8).ifd0({ascii(kMake, "Canon"), ascii(kArtist, artist)}).build();
    };
    const Bytes jpeg = ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({}).build();
    for (const char* card : {"card/", "edited/"}) {
        folder.write(std::string(card) + "IMG_0001.JPG", jpeg);
        folder.write(std::string(card) + "IMG_0002.jpg", jpeg);
        folder.write(std::string(card) + "IMG_0003.JPG", jpeg);
        folder.write(std::string(card) + "IMG_0004.jpeg", jpeg);
    }
    folder.write("card/IMG_0001.CR2", ExifBuilder::raw().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "cr2")}).build());
    folder.write("card/IMG_0002.cr3", fixture::cr3File({tiff("cr3")}));
    folder.write("card/IMG_0003.HEIC", fixture::heifFile(fixture::exifItem(tiff("heic"))));
    folder.write("card/IMG_0004.CR2", ExifBuilder::raw().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "cr2")}).build());
    // A HEIF photo beside a raw file of its name is that file's destination, in the card and beside it.
    folder.write("card/IMG_0005.CR2", ExifBuilder::raw().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "cr2")}).build());
    const Bytes makeOnly = ExifBuilder::raw().ifd0Offset(8).ifd0({ascii(kMake, "Canon")}).build();
    folder.write("card/IMG_0005.HEIC", fixture::heifFile(fixture::exifItem(makeOnly)));
    folder.write("edited/IMG_0005.heic", fixture::heifFile(fixture::exifItem(makeOnly)));
    // Without the option: the .cr2 files into the .jpg of their name, which are sources for themselves.
    EXPECT_EQ(run({"card", "card"}).output, "card/IMG_0001.JPG - 1 diffs\nFiles found 6, checked 1, updated 1\n");
    EXPECT_EQ(run({"--all-formats", "card", "edited"}).output,
              "edited/IMG_0001.JPG - 1 diffs\n"
              "Tagloom: 'card/IMG_0001.JPG' skipped - another file of that name is the source\n"
              "edited/IMG_0002.jpg - 1 diffs\n"
              "Tagloom: 'card/IMG_0002.jpg' skipped - another file of that name is the source\n"
              "edited/IMG_0003.JPG - 1 diffs\n"
              "Tagloom: 'card/IMG_0003.JPG' skipped - another file of that name is the source\n"
              "edited/IMG_0004.jpeg - 1 diffs\n"
              "Tagloom: 'card/IMG_0004.jpeg' skipped - another file of that name is the source\n"
              "edited/IMG_0005.heic - 1 diffs\n"
              "Tagloom: 'card/IMG_0005.HEIC' skipped - another file of that name is the source\n"
              "Files found 11, checked 5, updated 5\n");
    EXPECT_EQ(run({"--all-formats", "card", "card"}).output,
              "card/IMG_0001.JPG - no diffs\n"
              "card/IMG_0002.jpg - 1 diffs\n"
              "card/IMG_0003.JPG - 1 diffs\n"
              "card/IMG_0004.jpeg - 1 diffs\n"
              "card/IMG_0005.HEIC - 1 diffs\n"
              "Files found 11, checked 5, updated 4\n");
}

// A source's part that cannot be read or carried stays behind, said in one line; everything else
// arrives, and a re-run finds nothing more to do. As a destination the same file is refused whole.
TEST_F(AllFormats, leaveBehindWhatASourceCannotCarryAndBringTheRest) {
    if (!fixture::haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    fixture::Entry outside = undefinedBytes(0x9286, Bytes(20, 'x'));
    outside.valueField = 0xFFF0;  // past the Exif segment
    const ExifBuilder faulty =
        ExifBuilder::jpeg()
            .ifd0({ascii(kMake, "Canon"), ascii(kArtist, "Ann"), entry(0xC001, 14, 1, {1, 0, 0, 0}),
                   fixture::longValue(0x8825, 0xFFF0)})  // a GPS directory that lies past the segment
            .subIfd({fixture::rational(kExposureTime, 1, 250), outside, fixture::longValue(0xA005, 8),  // interop: IFD0 again
                     entry(0xA420, 14, 1, {1, 0, 0, 0})})
            .ifd1({fixture::longValue(0x0201, 8), fixture::longValue(0x0202, 0xFFFF)});  // a thumbnail past the segment
    // (The thumbnail and the link behind SUB0 never reach a destination: nothing is said of them.)
    Bytes faultyFile = faulty.build();
    const fixture::Layout where = faulty.layout();
    fixture::putU32(faultyFile, where.base + where.subIfd + 2 + 4 * 12, 0xFFF0);  // a garbage link behind SUB0
    folder.write("faulty.jpg", faultyFile);
    folder.write("dst.jpg", ExifBuilder::jpeg().segmentsBefore(fixture::jfifSegment()).withoutExif().build());
    const std::string left = "Tagloom: 'faulty.jpg' left behind: IFD0:0xc001 - its field type is none that Tagloom reads\n"
                             "Tagloom: 'faulty.jpg' left behind: SUB0:0x9286 - it lies outside the Exif segment\n"
                             "Tagloom: 'faulty.jpg' left behind: SUB0:0xa420 - its field type is none that Tagloom reads\n"
                             "Tagloom: 'faulty.jpg' left behind: GPS0 - it lies outside the Exif segment\n"
                             "Tagloom: 'faulty.jpg' left behind: INT0 - parse error - directory at offset 0x0008 is read twice\n";
    EXPECT_EQ(run({"--all-formats", "faulty.jpg", "dst.jpg"}).output, left + "dst.jpg - 6 diffs\n");
    EXPECT_EQ(fixture::commandOutput("exiftool -s3 -Make -Artist -ExposureTime '" + folder / "dst.jpg" + "'"),
              "Canon\nAnn\n1/250\n");
    EXPECT_EQ(fixture::commandOutput("exiftool -s -GPS:all -InteropIFD:all -UserComment '" + folder / "dst.jpg" + "'"), "");
    EXPECT_EQ(run({"--all-formats", "-uo", "faulty.jpg", "dst.jpg"}).output, left + "dst.jpg - no diffs\n");

    // What stays behind takes no part: under -o the destination keeps its counterparts.
    folder.write("own.jpg", ExifBuilder::jpeg()
                                .ifd0({ascii(kMake, "Canon"), entry(0xC001, 3, 1, {5, 0})})
                                .subIfd({undefinedBytes(0x9286, Bytes(8, 'm'))})
                                .gps({ascii(0x0001, "N")})
                                .interop({ascii(0x0001, "R98")})
                                .build());
    EXPECT_EQ(run({"--all-formats", "-uo", "faulty.jpg", "own.jpg"}).output, left + "own.jpg - 2 diffs\n");
    const std::unique_ptr<CExifImage> own = reread("own.jpg");
    for (const auto& [directory, tag] : {std::pair{&own->ifd0, 0xC001}, std::pair{&own->subIfd, 0x9286},
                                         std::pair{&own->gpsIfd, 0x0001}, std::pair{&own->interopIfd, 0x0001}}) {
        const CExifEntry* kept = directory->findEntry(static_cast<std::uint16_t>(tag));
        EXPECT_TRUE(kept != nullptr && !kept->removed) << directory->name() << " " << tag;
    }

    // As a destination every part must stay intact: refused, untouched.
    folder.write("artist.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Bo")}).build());
    const Bytes before = folder.read("faulty.jpg");
    EXPECT_EQ(run({"--all-formats", "artist.jpg", "faulty.jpg"}).output, "Tagloom: 'faulty.jpg' Unknown format type\n");
    EXPECT_EQ(folder.read("faulty.jpg"), before);

    // A relaid note's entry of no field type, and its preview past the end of the file, stay
    // behind; the note arrives without them.
    const auto sony = [](std::uint32_t) {
        Bytes note = {'S', 'O', 'N', 'Y', ' ', 'D', 'S', 'C', ' ', 0, 0, 0, 4, 0,  // four entries
                      0x00, 0x01, 14, 0, 1, 0, 0, 0, 7, 0, 0, 0,                 // 0x0100: type 14
                      0x02, 0x01, 3, 0, 1, 0, 0, 0, 5, 0, 0, 0,                  // 0x0102: 5
                      0x01, 0x02, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0x10,               // 0x0201: far past the file
                      0x02, 0x02, 4, 0, 1, 0, 0, 0, 0, 1, 0, 0,                  // 0x0202: 256 bytes
                      0, 0, 0, 0};
        return note;
    };
    folder.write("sony.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "SONY")}).subIfd({}).makerNoteBytes(sony).build());
    folder.write("dst.jpg", ExifBuilder::jpeg().withoutExif().build());
    EXPECT_EQ(run({"--all-formats", "sony.jpg", "dst.jpg"}).output,
              "Tagloom: 'sony.jpg' left behind: MAK0:0x0100 - its field type is none that Tagloom reads\n"
              "Tagloom: 'sony.jpg' left behind: MAK0:0x0202 - it is the length of a preview that lies outside the "
              "Exif segment\n"
              "Tagloom: 'sony.jpg' left behind: MAK0:0x0201 - its preview lies outside the Exif segment\n"
              "dst.jpg - 6 diffs\n");
    const std::string again = run({"--all-formats", "sony.jpg", "dst.jpg"}).output;
    EXPECT_EQ(again.substr(again.rfind("left behind")), "left behind: MAK0:0x0201 - its preview lies outside the Exif "
                                                        "segment\ndst.jpg - no diffs\n");
    const Bytes sonyBefore = folder.read("sony.jpg");
    EXPECT_EQ(run({"--all-formats", "artist.jpg", "sony.jpg"}).output.rfind("Tagloom: 'sony.jpg' Unknown format type (MAK0:0x0100, type 14)", 0), 0u);
    EXPECT_EQ(folder.read("sony.jpg"), sonyBefore);
    const std::unique_ptr<CExifImage> arrived = reread("dst.jpg");
    ASSERT_NE(arrived->makerNoteKind, nullptr);
    EXPECT_STREQ(arrived->makerNoteKind->name, "Sony");
    EXPECT_EQ(arrived->makerNote.findEntry(0x0201), nullptr);
    EXPECT_EQ(arrived->makerNote.findEntry(0x0100), nullptr);
}

}  // namespace
