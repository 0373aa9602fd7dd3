// --all-formats with JPEG layouts the default reading refuses: the Exif segment behind other
// segments, no Exif segment at all; every byte outside the Exif segment stays as it was.
#include <gtest/gtest.h>

#include <memory>

#include "exif/exception.h"
#include "exif/image.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using fixture::ascii;
using fixture::Bytes;
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
        auto image = std::make_unique<CExifImage>();
        try {
            image->load(folder / name, true);
        } catch (CExifException* raw) {
            std::unique_ptr<CExifException> failure(raw);
            ADD_FAILURE() << failure->message;
        }
        return image;
    }
    TempFolder folder;
};

TEST_F(AllFormats, rewritesOnlyTheExifSegmentWhereverItLiesAndAddsOneWhereThereIsNone) {
    folder.write("src.jpg", source().build());
    const auto jfif = ExifBuilder::jpeg().segmentsBefore(fixture::join(fixture::jfifSegment(), kIcc)).ifd0({ascii(kMake, "Canon")})
                          .subIfd({});
    const auto bare = ExifBuilder::jpeg().segmentsBefore(fixture::join(fixture::jfifSegment(), kComment)).withoutExif();
    const std::size_t jfifEnd = 2 + fixture::jfifSegment().size();
    for (const auto& [name, file, diffs, at] : {std::tuple{std::string("jfif.jpg"), jfif.build(), 2, jfifEnd + kIcc.size()},
                                                std::tuple{std::string("bare.jpg"), bare.build(), 4, jfifEnd}}) {
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
    EXPECT_EQ(run({"--all-formats", "more.jpg", "big.jpg"}).output, "big.jpg - 1 diffs\nTagloom: '' Exif data too large\n");
    EXPECT_EQ(folder.read("big.jpg"), big);
}

}  // namespace
