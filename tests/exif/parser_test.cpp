// Loading JPEG and raw images: header recognition, the bounded reader, directories and their bounds.
#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

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
using fixture::longValue;
using fixture::rational;
using fixture::shortValue;
using fixture::TempFolder;
using fixture::undefinedBytes;

namespace {

using namespace fixture::tags;

// The JPEG of the golden trace: IFD0 with IFD1 and a 10-byte thumbnail, SUB0 and MAK0.
ExifBuilder tracedJpeg() {
    return ExifBuilder::jpeg()
        .ifd0({ascii(kMake, "Canon"), shortValue(kOrientation, 1)})
        .thumbnail({0xFF, 0xD8, 1, 2, 3, 4, 5, 6, 0xFF, 0xD9})
        .subIfd({rational(kExposureTime, 1, 250)})
        .makerNote({shortValue(0x0001, 7), undefinedBytes(0x0002, {1, 2, 3, 4, 5})});
}

ExifBuilder tracedRaw() {
    return ExifBuilder::raw()
        .ifd0({shortValue(kImageWidth, 1536), ascii(kMake, "Canon")})
        .subIfd({rational(kExposureTime, 1, 15)})
        .makerNote({shortValue(0x0001, 2)});
}

class AParser : public ::testing::Test {
protected:

    /// Loads the bytes in this process; gives the refusal message, or "" when the load succeeds.
    std::string refusal(const Bytes& bytes, const std::string& name = "image.jpg") {
        folder.write(name, bytes);
        fixture::Loaded loaded = fixture::load(folder / name);
        image = std::move(loaded.image);
        if (loaded.refusal) {
            EXPECT_EQ(loaded.refusal->fileName, folder / name);
        }
        return loaded.message();
    }
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }

    TempFolder folder;
    std::unique_ptr<CExifImage> image;
};

TEST_F(AParser, tracesAJpegWithThumbnailSubDirectoryAndMakerNote) {
    folder.write("dst.jpg", tracedJpeg().build());
    folder.write("src.jpg", tracedJpeg().build());
    const std::string trace =
        "  IFD0 3 entries starting at offset 0x0014\n"
        "    Dir Entry 0x0016, Tag IFD0:0x010f, Data 0x003e, Size 0x0006\n"
        "    Dir Entry 0x0022, Tag IFD0:0x0112, Data ------, Size 0x0002\n"
        "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004\n"
        "  IFD1 2 entries starting at offset 0x0044\n"
        "    Dir Entry 0x0046, Tag IFD1:0x0201, Data ------, Size 0x0004\n"
        "    Dir Entry 0x0052, Tag IFD1:0x0202, Data ------, Size 0x0004\n"
        "  SUB0 2 entries starting at offset 0x0062\n"
        "    Dir Entry 0x0064, Tag SUB0:0x829a, Data 0x0080, Size 0x0008\n"
        "    Dir Entry 0x0070, Tag SUB0:0x927c, Data 0x0088, Size 0x0024\n"
        "  MAK0 2 entries starting at offset 0x0088\n"
        "    Dir Entry 0x008a, Tag MAK0:0x0001, Data ------, Size 0x0002\n"
        "    Dir Entry 0x0096, Tag MAK0:0x0002, Data 0x00a6, Size 0x0005\n"
        "\n";
    const auto result = run({"-x", "-v4", "src.jpg", "dst.jpg"});
    EXPECT_EQ(result.output, "dst.jpg parse:\n" + trace + "src.jpg parse:\n" + trace);
    EXPECT_EQ(result.status, 0);
}

TEST_F(AParser, tracesARawFileWithoutFollowingChains) {
    folder.write("dst.jpg", tracedJpeg().build());
    folder.write("src.cr2", tracedRaw().build());
    const auto result = run({"-v4", "src.cr2", "dst.jpg", "-x", "-v4"});
    const auto rawTrace = result.output.substr(result.output.find("src.cr2 parse:"));
    EXPECT_EQ(rawTrace,
              "src.cr2 parse:\n"
              "  IFD0 3 entries starting at offset 0x0010\n"
              "    Dir Entry 0x0012, Tag IFD0:0x0100, Data ------, Size 0x0002\n"
              "    Dir Entry 0x001e, Tag IFD0:0x010f, Data 0x003a, Size 0x0006\n"
              "    Dir Entry 0x002a, Tag IFD0:0x8769, Data ------, Size 0x0004\n"
              "  SUB0 2 entries starting at offset 0x0040\n"
              "    Dir Entry 0x0042, Tag SUB0:0x829a, Data 0x005e, Size 0x0008\n"
              "    Dir Entry 0x004e, Tag SUB0:0x927c, Data 0x0066, Size 0x0012\n"
              "  MAK0 1 entries starting at offset 0x0066\n"
              "    Dir Entry 0x0068, Tag MAK0:0x0001, Data ------, Size 0x0002\n"
              "\n");
}

TEST_F(AParser, capturesTheThumbnailAndMarksThePointers) {
    ASSERT_EQ(refusal(tracedJpeg().build()), "");
    ASSERT_TRUE(image->ifd0.next);
    const CExifEntry* thumbnail = image->ifd0.next->findEntry(0x0201);
    EXPECT_EQ(thumbnail->size, 10u);
    EXPECT_EQ(thumbnail->data, (Bytes{0xFF, 0xD8, 1, 2, 3, 4, 5, 6, 0xFF, 0xD9}));
    EXPECT_EQ(thumbnail->count, 1u) << "keeps its stored count";
    EXPECT_TRUE(image->ifd0.findEntry(0x8769)->isPointer);
    const CExifEntry* note = image->subIfd.findEntry(0x927C);
    EXPECT_TRUE(note->isPointer);
    EXPECT_EQ(note->size, 4u) << "the maker-note entry counts 4 bytes";
    EXPECT_EQ(note->data.size(), 36u) << "and keeps the bytes it read";
    EXPECT_FALSE(image->ifd0.findEntry(kMake)->isPointer);
    EXPECT_EQ(image->base, 12u);
    EXPECT_EQ(image->sectionEnd, tracedJpeg().layout().sectionEnd);
}

TEST_F(AParser, readsAJpegIfd0WhereItsTiffHeaderSaysNotAt8) {
    const auto built = ExifBuilder::jpeg().ifd0Offset(40).ifd0({ascii(kMake, "Nikon")});
    ASSERT_EQ(refusal(built.build()), "");
    ASSERT_NE(image->ifd0.findEntry(kMake), nullptr);
    EXPECT_EQ(std::string(image->ifd0.findEntry(kMake)->data.begin(), image->ifd0.findEntry(kMake)->data.end()),
              std::string("Nikon\0", 6));
}

TEST_F(AParser, followsNoChainInAFileNamedCr2InAnyCase) {
    const Bytes raw = ExifBuilder::raw().ifd0({shortValue(kImageWidth, 1)}).ifd1({shortValue(kImageWidth, 2)}).build();
    for (const char* name : {"IMG_0001.CR2", "b.Cr2", "c.cr2"}) {
        EXPECT_EQ(refusal(raw, name), "");
        EXPECT_FALSE(image->ifd0.next) << name;
    }
    EXPECT_EQ(refusal(raw, "d.tif"), "");
    EXPECT_TRUE(image->ifd0.next) << "a raw image named otherwise follows its chain";
}

TEST_F(AParser, readsRawIfd0At16WhateverItsHeaderSays) {
    Bytes raw = tracedRaw().build();
    fixture::putU32(raw, 4, 400);
    EXPECT_EQ(refusal(raw, "x.cr2"), "");
    EXPECT_NE(image->ifd0.findEntry(kImageWidth), nullptr);
    EXPECT_TRUE(image->isRaw());
}

TEST_F(AParser, refusesHeadersItDoesNotUnderstand) {
    Bytes app0 = tracedJpeg().build();
    app0[3] = 0xE0;
    Bytes bigEndian = tracedJpeg().build();
    bigEndian[12] = bigEndian[13] = 'M';
    Bytes noExifWord = tracedJpeg().build();
    noExifWord[6] = 'X';
    EXPECT_EQ(refusal(app0), "Jpg header type not supported");
    EXPECT_EQ(refusal(bigEndian), "Jpg header type not supported");
    EXPECT_EQ(refusal({0xFF, 0xD8}), "Jpg header type not supported") << "missing bytes count as zero";
    EXPECT_EQ(refusal({'M', 'M', 0, 42}), "File not support (header not understood)");
    EXPECT_EQ(refusal({}), "File not support (header not understood)");
    EXPECT_EQ(refusal({0x49}), "File not support (header not understood)");
    EXPECT_EQ(refusal(noExifWord), "") << "the word Exif is not tested";
}

TEST_F(AParser, refusesBadTypesAndSizes) {
    EXPECT_EQ(refusal(ExifBuilder::jpeg().ifd0({entry(kMake, 13, 1, {0})}).build()), "Unknown format type");
    Bytes big(0x10000, 'a');
    const Bytes tail(0x10001, 0);
    auto sized = [&](std::uint32_t count) {
        auto e = entry(0xC000, 1, count, {});
        e.valueField = 8;  // the data start inside the section and run on into the image data
        return ExifBuilder::jpeg().ifd0({e}).imageData(tail).build();
    };
    EXPECT_EQ(refusal(sized(0x10000)), "") << "65536 bytes are allowed";
    EXPECT_EQ(image->ifd0.findEntry(0xC000)->count, 0x10000u) << "the count is held in full";
    EXPECT_EQ(refusal(sized(0x10001)), "Parse error - size too big");
    EXPECT_EQ(refusal(ExifBuilder::jpeg().ifd0({entry(0xC000, 4, 0x40000001u, {})}).build()),
              "Parse error - size too big")
        << "4 x 0x40000001 wraps to 4 in 32 bits";
    ASSERT_EQ(refusal(ExifBuilder::jpeg().ifd0({entry(kXpComment, 1, 10, Bytes(20, 'c'))}).build()), "");
    EXPECT_EQ(image->ifd0.findEntry(kXpComment)->size, 20u) << "Windows tags count two bytes a unit";
}

TEST_F(AParser, boundsEverySeekBySectionEnd) {
    auto at = [](std::uint32_t relative) {
        auto e = undefinedBytes(0xC001, Bytes(6, 0));
        e.valueField = relative;
        return ExifBuilder::jpeg().ifd0({e}).padding(0x1300).app1Length(0x1234).build();
    };
    EXPECT_EQ(refusal(at(0x1238 - 12)), "") << "a seek to sectionEnd itself passes";
    EXPECT_EQ(refusal(at(0x1239 - 12)), "Attempted to seek past end of section");
    EXPECT_EQ(refusal(at(0xFFFFFFFFu)), "Attempted to seek past end of section") << "no wrap-around";

    auto rawAt = [](std::uint32_t absolute) {
        auto e = undefinedBytes(0xC001, Bytes(6, 0));
        e.valueField = absolute;
        return ExifBuilder::raw().ifd0({e}).padding(0x10100).build();
    };
    EXPECT_EQ(refusal(rawAt(0xFFFF), "a.cr2"), "");
    EXPECT_EQ(refusal(rawAt(0x10000), "a.cr2"), "Attempted to seek past end of section");

    auto farSub = ExifBuilder::jpeg().noAutoPointers().ifd0({longValue(0x8769, 0x9000)});
    EXPECT_EQ(refusal(farSub.build()), "Attempted to seek past end of section");
}

TEST_F(AParser, neverMakesValuesOfBytesItDidNotRead) {
    Bytes cut = tracedJpeg().build();
    cut.resize(60);  // inside IFD0's entry table
    EXPECT_EQ(refusal(cut), "Parse error - data runs past the end of the file");
    auto e = undefinedBytes(0xC001, Bytes(6, 0));
    e.valueField = 200;
    Bytes pastEnd = ExifBuilder::jpeg().ifd0({e}).imageData({}).app1Length(300).build();
    EXPECT_EQ(refusal(pastEnd), "Parse error - data runs past the end of the file");
}

TEST_F(AParser, refusesDirectoryLoopsAndEndlessChains) {
    auto loop = ExifBuilder::jpeg().ifd0({shortValue(kOrientation, 1)}).ifd1({shortValue(kOrientation, 1)});
    Bytes looped = loop.build();
    const std::uint32_t ifd1 = loop.layout().ifd0Chain[0];
    fixture::putU32(looped, 12 + ifd1 + 2 + 12, 8);  // IFD1's next directory is IFD0 again
    EXPECT_EQ(refusal(looped), "Parse error - directory at offset 0x0008 is read twice");

    auto chain = ExifBuilder::jpeg();
    for (int i = 0; i < 64; ++i) chain.chainAfterIfd0({});
    EXPECT_EQ(refusal(chain.build()), "");
    chain.chainAfterIfd0({});
    EXPECT_EQ(refusal(chain.build()), "Parse error - directory chain too long");

    auto subToIfd0 = ExifBuilder::jpeg().noAutoPointers().ifd0({longValue(0x8769, 8)});
    EXPECT_EQ(refusal(subToIfd0.build()), "Parse error - directory at offset 0x0008 is read twice");
}

TEST_F(AParser, boundsTheThumbnailAndWhatOneImageHolds) {
    auto thumb = [](std::uint32_t length) {
        return ExifBuilder::jpeg().noAutoPointers().ifd1({longValue(0x0201, 8), longValue(0x0202, length)}).build();
    };
    // From relative 8 to the end of the section, and not a byte further.
    const std::uint32_t room = ExifBuilder::jpeg().noAutoPointers().ifd1({longValue(0x0201, 8), longValue(0x0202, 0)})
                                   .layout().sectionEnd - 12 - 8;
    EXPECT_EQ(refusal(thumb(room)), "");
    EXPECT_EQ(image->ifd0.next->findEntry(0x0201)->size, room);
    EXPECT_EQ(refusal(thumb(room + 1)), "Parse error - thumbnail lies outside the Exif data");
    EXPECT_EQ(refusal(thumb(0xFFFFFFF0u)), "Parse error - thumbnail lies outside the Exif data");

    // 2000 entries that all claim the same 64 KiB: refused long before gigabytes are allocated.
    std::vector<fixture::Entry> hostile;
    for (int i = 0; i < 2000; ++i) {
        auto e = entry(static_cast<std::uint16_t>(0xC000 + i), 7, 0x10000, {});
        e.valueField = 8;
        hostile.push_back(e);
    }
    EXPECT_EQ(refusal(ExifBuilder::jpeg().ifd0(hostile).imageData(Bytes(0x10000, 0)).build()),
              "Parse error - more Exif data than one image may hold");
}

TEST_F(AParser, followsOnlyTheFirstExifPointerAndSubChainsButNoMakerNoteChain) {
    auto built = ExifBuilder::jpeg()
                     .subIfd({shortValue(0x9207, 2)})
                     .chainAfterSubIfd({shortValue(0x0001, 1)})
                     .makerNote({shortValue(0x0001, 1)});
    Bytes bytes = built.build();
    fixture::putU32(bytes, 12 + built.layout().makerNote + 2 + 12, 8);  // a maker-note "next" is ignored
    ASSERT_EQ(refusal(bytes), "");
    ASSERT_TRUE(image->subIfd.next);
    EXPECT_EQ(image->subIfd.next->name(), "SUB1");
    EXPECT_FALSE(image->makerNote.next);

    auto twice = ExifBuilder::jpeg().subIfd({}).build();
    ASSERT_EQ(refusal(twice), "");
    EXPECT_FALSE(image->ifd0.next) << "next offset 0: no IFD1";
}

TEST_F(AParser, readsAnEntryOfCountZeroAsAnEmptyValue) {
    // Found by fuzzing: reading zero bytes into an empty buffer.
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({entry(0xC000, 4, 0, {})}).build());
    EXPECT_EQ(run({"-x", "-v4", "dst.jpg", "dst.jpg"}).output, "");
    const auto result = run({"-x", "-v4", "./dst.jpg", "dst.jpg"});
    EXPECT_NE(result.output.find("    Dir Entry 0x0016, Tag IFD0:0xc000, Data ------, Size 0x0000\n"), std::string::npos)
        << result.output;
    ASSERT_EQ(refusal(ExifBuilder::jpeg().ifd0({entry(0xC000, 4, 0, {})}).build()), "");
    EXPECT_TRUE(image->ifd0.findEntry(0xC000)->data.empty());
}

TEST_F(AParser, reportsEachReadingFailureWithTheFileThatFailed) {
    auto sub = [](std::uint32_t at) {
        return ExifBuilder::jpeg().noAutoPointers().ifd0({longValue(0x8769, at)}).build();
    };
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{'G', 'I', 'F', '8'}, "File not support (header not understood)"},
        {ExifBuilder::jpeg().ifd0({entry(kMake, 13, 1, {0})}).build(), "Unknown format type"},
        {ExifBuilder::jpeg().ifd0({entry(kMake, 1, 0x10001, {})}).build(), "Parse error - size too big"},
        {sub(0x8000), "Attempted to seek past end of section"},
    };
    Bytes app0 = tracedJpeg().build();
    app0[3] = 0xE0;
    folder.write("good.jpg", tracedJpeg().build());
    folder.write("app0.jpg", app0);
    for (const auto& [bytes, message] : cases) {
        folder.write("bad.jpg", bytes);
        EXPECT_EQ(run({"-x", "app0.jpg", "bad.jpg"}).output, "Tagloom: 'bad.jpg' " + message + "\n")
            << "the destination is read first; the bad source is never opened";
        EXPECT_EQ(run({"-x", "bad.jpg", "good.jpg"}).output, "Tagloom: 'bad.jpg' " + message + "\n");
    }
    EXPECT_EQ(run({"-x", "app0.jpg", "good.jpg"}).output, "Tagloom: 'app0.jpg' Jpg header type not supported\n");
}

TEST_F(AParser, reportsTheFailingFileDestinationFirst) {
    Bytes bad = tracedJpeg().build();
    bad[3] = 0xE0;
    folder.write("bad.jpg", bad);
    folder.write("good.jpg", tracedJpeg().build());
    folder.write("text.jpg", Bytes{'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(run({"-x", "text.jpg", "bad.jpg"}).output, "Tagloom: 'bad.jpg' Jpg header type not supported\n")
        << "a bad destination means the source is never read";
    EXPECT_EQ(run({"-x", "text.jpg", "good.jpg"}).output,
              "Tagloom: 'text.jpg' File not support (header not understood)\n");
    ASSERT_EQ(::mkfifo((folder / "pipe.jpg").c_str(), 0600), 0);
    EXPECT_EQ(run({"-x", "pipe.jpg", "good.jpg"}).output, "Tagloom: 'pipe.jpg' Failed to open\n");
    const auto printed = run({"-x", "-v4", "text.jpg", "good.jpg"}).output;
    EXPECT_EQ(printed.find("text.jpg parse:"), std::string::npos) << "a refused header prints no trace";
}

}  // namespace
