// The merge rules and the diff listing.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "exif/exception.h"
#include "exif/image.h"
#include "merge/merge.h"
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

namespace {

using namespace fixture::tags;

class AMerge : public ::testing::Test {
protected:

    /// Loads both, merges with the options set, and gives what the merge printed (bit 1 on).
    std::string merge(const ExifBuilder& destinationFile, const ExifBuilder& sourceFile) {
        folder.write("dst.jpg", destinationFile.build());
        folder.write("src.jpg", sourceFile.build());
        fixture::Loaded loadedDestination = fixture::load(folder / "dst.jpg");
        fixture::Loaded loadedSource = fixture::load(folder / "src.jpg");
        destination = std::move(loadedDestination.image);
        source = std::move(loadedSource.image);
        if (loadedDestination.refusal || loadedSource.refusal) {
            ADD_FAILURE() << loadedDestination.message() << loadedSource.message();
            return "";
        }
        ::testing::internal::CaptureStdout();
        mergeFrom(*destination, *source, Options, Reporter(stdout, verbose::kDiffs));
        return ::testing::internal::GetCapturedStdout();
    }
    std::string heading() const { return folder / "dst.jpg" + " diffs:\n"; }
    std::vector<std::uint16_t> tags(const CExifDirectory& directory) const {
        std::vector<std::uint16_t> found;
        for (const CExifEntry* e = directory.entries.first(); e != nullptr; e = directory.entries.next(e))
            found.push_back(e->tag);
        return found;
    }

    MergeOptions Options;
    TempFolder folder;
    std::unique_ptr<CExifImage> destination;
    std::unique_ptr<CExifImage> source;
};

TEST_F(AMerge, insertsBeforeTheFirstGreaterTagAndDropsSoftware) {
    const auto listing = merge(
        ExifBuilder::jpeg().ifd0({shortValue(kImageWidth, 8), ascii(kMake, "Canon"), ascii(kSoftware, "Editor 1")}),
        ExifBuilder::jpeg().ifd0({ascii(kModel, "EOS 350D")}));
    EXPECT_EQ(tags(destination->ifd0), (std::vector<std::uint16_t>{kImageWidth, kMake, kModel, kSoftware}));
    EXPECT_EQ(destination->diffCount, 2);
    EXPECT_TRUE(destination->ifd0.findEntry(kSoftware)->removed);
    EXPECT_EQ(listing, heading() +
                           "    01 IFD0:0x0110 add      - 9 bytes\n"
                           "    02 IFD0:0x0131 remove   - 9 bytes\n"
                           "\n");
}

TEST_F(AMerge, insertsIntoAnUnorderedListBeforeTheFirstGreaterTagMet) {
    merge(ExifBuilder::jpeg().ifd0({shortValue(300, 1), shortValue(100, 1)}),
          ExifBuilder::jpeg().ifd0({shortValue(200, 1)}));
    EXPECT_EQ(tags(destination->ifd0), (std::vector<std::uint16_t>{200, 300, 100}));
}

TEST_F(AMerge, replacesDifferingValuesOnlyUnderCopyMismatched) {
    const auto destinationFile = ExifBuilder::jpeg().ifd0({ascii(kArtist, "Canon"), shortValue(kOrientation, 1)});
    const auto sourceFile =
        ExifBuilder::jpeg().ifd0({ascii(kArtist, "Canon Inc."), entry(kOrientation, 8, 1, {1, 0})});  // SSHORT, same bytes
    EXPECT_EQ(merge(destinationFile, sourceFile), "") << "nothing differs without -u";
    EXPECT_EQ(destination->diffCount, 0);

    Options.copyMismatched = 1;
    const auto listing = merge(destinationFile, sourceFile);
    EXPECT_EQ(listing, heading() + "    01 IFD0:0x013b change   - 11 bytes\n\n");
    const CExifEntry* make = destination->ifd0.findEntry(kArtist);
    EXPECT_EQ(make->size, 11u);
    EXPECT_EQ(make->count, 11u);
    EXPECT_EQ(std::string(make->data.begin(), make->data.end()), std::string("Canon Inc.\0", 11));
    EXPECT_EQ(destination->ifd0.findEntry(kOrientation)->type, 3) << "equal bytes, other type: left alone";
    EXPECT_EQ(destination->diffCount, 1);
}

TEST_F(AMerge, neverReplacesFollowedPointers) {
    Options.copyMismatched = 1;
    // The two images lay their directories out differently, so their pointer values differ.
    merge(ExifBuilder::jpeg().ifd0({ascii(kMake, "A")}).subIfd({shortValue(kFlash, 0)}).makerNote({}),
          ExifBuilder::jpeg().ifd0({ascii(kMake, "A"), ascii(kModel, "Longer model")}).subIfd({shortValue(kFlash, 0)})
              .makerNote({shortValue(1, 1)}));
    EXPECT_EQ(destination->ifd0.findEntry(0x8769)->change, CExifEntry::Change::none);
    EXPECT_EQ(destination->subIfd.findEntry(0x927C)->change, CExifEntry::Change::none);
    EXPECT_EQ(destination->diffCount, 2) << "the model added and the maker-note entry 1 added";
}

TEST_F(AMerge, removesUnderOverwriteWhatTheSourceLacks) {
    Options.overwrite = 1;
    const auto listing = merge(
        ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kSoftware, "Editor")})
            .subIfd({shortValue(kFlash, 16), shortValue(0x9207, 2)}).makerNote({shortValue(1, 1)}),
        ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({}));
    EXPECT_EQ(listing, heading() +
                           "    01 IFD0:0x0131 remove   - 7 bytes\n"
                           "    01 SUB0:0x9209 remove   - 2 bytes\n"
                           "    02 SUB0:0x9207 remove   - 2 bytes\n"
                           "    03 SUB0:0x927c remove   - 4 bytes\n"
                           "    01 MAK0:0x0001 remove   - 2 bytes\n"
                           "\n");
    EXPECT_EQ(destination->diffCount, 5) << "the Software rule finds its entry removed already";
}

TEST_F(AMerge, matchesRepeatedTagsByTheirPositionAmongEqualTags) {
    const auto twice = ExifBuilder::jpeg().ifd0({ascii(kArtist, "A"), ascii(kArtist, "BB")}).subIfd({})
                           .makerNote({shortValue(0, 1), shortValue(0, 2), shortValue(0, 3)});
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({}), twice).substr(heading().size()),
              "    01 IFD0:0x013b add      - 2 bytes\n"
              "    02 IFD0:0x013b add      - 3 bytes\n"
              "    03 IFD0:0x8769 add      - 4 bytes\n"
              "    01 SUB0:0x927c add      - 4 bytes\n"
              "    01 MAK0:0x0000 add      - 2 bytes\n"
              "    02 MAK0:0x0000 add      - 2 bytes\n"
              "    03 MAK0:0x0000 add      - 2 bytes\n\n");
    Options.copyMismatched = 1;
    Options.overwrite = 1;
    EXPECT_EQ(merge(twice, twice), "") << "an identical copy";

    // The second of each meets the second: only it changes; a third is added behind the others.
    Options.overwrite = 0;
    const auto other = ExifBuilder::jpeg().ifd0({ascii(kArtist, "A"), ascii(kArtist, "C"), ascii(kArtist, "D")});
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({ascii(kArtist, "A"), ascii(kArtist, "BB"), shortValue(kCopyright, 1)}),
                    other),
              heading() + "    01 IFD0:0x013b change   - 2 bytes\n    02 IFD0:0x013b add      - 2 bytes\n\n");
    EXPECT_EQ(tags(destination->ifd0), (std::vector<std::uint16_t>{kArtist, kArtist, kArtist, kCopyright}));
    EXPECT_EQ(destination->diffCount, 2);

    // Under -o the destination's entries beyond the source's count of that tag go.
    Options.overwrite = 1;
    EXPECT_EQ(merge(other, ExifBuilder::jpeg().ifd0({ascii(kArtist, "A")})),
              heading() + "    01 IFD0:0x013b remove   - 2 bytes\n    02 IFD0:0x013b remove   - 2 bytes\n\n");
}

TEST_F(AMerge, keepsTheMakerNoteWithItsCameraAndTheRawsImageTagsOut) {
    Options.copyMismatched = 1;
    Options.overwrite = 1;
    const auto camera = [](const char* make, const char* model, std::uint16_t value) {
        return ExifBuilder::jpeg().ifd0({ascii(kMake, make), ascii(kModel, model)})
            .subIfd({shortValue(kFlash, value)}).makerNote({shortValue(1, value), shortValue(2, value)});
    };
    const std::string sameCamera = merge(camera("Canon", "EOS 30D", 1), camera("Canon", "EOS 30D", 2));
    EXPECT_EQ(sameCamera.substr(heading().size()),
              "    01 SUB0:0x9209 change   - 2 bytes\n"
              "    01 MAK0:0x0001 change   - 2 bytes\n"
              "    02 MAK0:0x0002 change   - 2 bytes\n\n");
    for (const auto& other : {camera("Canon", "EOS 40D", 2), camera("NIKON", "EOS 30D", 2)}) {
        EXPECT_EQ(merge(camera("Canon", "EOS 30D", 1), other), heading() + "    01 SUB0:0x9209 change   - 2 bytes\n\n")
            << "another camera: Make, Model and the maker note stay";
    }
    // A destination that names no camera takes the maker note, as before.
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({}).subIfd({}), camera("Canon", "EOS 30D", 1)).substr(heading().size()),
              "    01 IFD0:0x010f add      - 6 bytes\n    02 IFD0:0x0110 add      - 8 bytes\n"
              "    01 SUB0:0x9209 add      - 2 bytes\n    02 SUB0:0x927c add      - 4 bytes\n"
              "    01 MAK0:0x0001 add      - 2 bytes\n    02 MAK0:0x0002 add      - 2 bytes\n\n");

    // A raw file's own image description and the JPEG's rendering stay the JPEG's own.
    folder.write("src.cr2", ExifBuilder::raw().ifd0({shortValue(kImageWidth, 5184), rational(0x011A, 72, 1),
                                                     longValue(0x0111, 90000), ascii(kArtist, "Ann")}).build());
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({rational(0x011A, 180, 1), shortValue(0x0213, 2)}).build());
    EXPECT_EQ(fixture::runTagloom({"-x", "-uo", "src.cr2", "dst.jpg"}, folder.path()).output,
              "dst.jpg diffs:\n    01 IFD0:0x013b add      - 4 bytes\n\n");
}

// A maker-note position leads into its own file: a zero leads nowhere and merges like a value; a
// non-zero one stays with its file, under -u and -o alike.
TEST_F(AMerge, mergesAZeroPositionLikeAValueAndKeepsEveryOtherWithItsFile) {
    Options.copyMismatched = 1;
    Options.overwrite = 1;
    const auto canon = [](std::optional<std::uint32_t> position) {
        std::vector<fixture::Entry> note = {shortValue(1, 1)};
        if (position) note.push_back(longValue(0x0083, *position));
        return ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).makerNote(note);
    };
    const std::string added = "    01 MAK0:0x0083 add      - 4 bytes\n\n",
                      removed = "    01 MAK0:0x0083 remove   - 4 bytes\n\n";
    const struct {
        std::optional<std::uint32_t> destination, source;
        std::string listing;
    } rows[] = {{std::nullopt, 0, added}, {std::nullopt, 0x1234, ""}, {0, 0x1234, ""}, {0x1234, 0, ""},
                {0x1234, std::nullopt, ""}, {0x1234, 0x5678, ""}, {0, std::nullopt, removed}, {0, 0, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.destination.value_or(99) << " <- " << row.source.value_or(99));
        const std::string listing = merge(canon(row.destination), canon(row.source));
        EXPECT_EQ(listing.empty() ? listing : listing.substr(heading().size()), row.listing);
    }
}

TEST_F(AMerge, dropsTheThumbnailDirectoryUnderDropThumbnailWithoutListingIt) {
    Options.dropThumbnail = 1;
    const auto withThumbnail = ExifBuilder::jpeg().ifd0({ascii(kMake, "A")}).thumbnail(Bytes(100, 7));
    EXPECT_EQ(merge(withThumbnail, ExifBuilder::jpeg().ifd0({ascii(kMake, "A")})), heading() + "\n");
    EXPECT_EQ(destination->diffCount, 2) << "513 and 514";
    EXPECT_TRUE(destination->ifd0.next->findEntry(0x0201)->removed);

    const auto withSoftware = ExifBuilder::jpeg().ifd0({ascii(kSoftware, "X")}).thumbnail(Bytes(100, 7));
    EXPECT_EQ(merge(withSoftware, ExifBuilder::jpeg().ifd0({ascii(kSoftware, "X")})),
              heading() + "    01 IFD0:0x0131 remove   - 2 bytes\n\n");
    EXPECT_EQ(destination->diffCount, 3);

    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({ascii(kSoftware, "X")}), ExifBuilder::jpeg().ifd0({})), "")
        << "no IFD1: nothing to drop";
}

// The Software rule: a source's Software never arrives, a destination's goes only where something else
// differs, so that a re-run finds nothing.
TEST_F(AMerge, takesNoSoftwareAndRemovesTheDestinationsOnlyWhereSomethingElseDiffers) {
    Options.copyMismatched = 1;
    Options.overwrite = 1;
    const auto same = ExifBuilder::jpeg().ifd0({ascii(kMake, "A"), ascii(kSoftware, "Editor")});
    EXPECT_EQ(merge(same, same), "");
    EXPECT_FALSE(destination->ifd0.findEntry(kSoftware)->removed);
    const auto firmware = ExifBuilder::jpeg().ifd0({ascii(kSoftware, "Firmware 1.0")});
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({}), firmware), "");
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({ascii(kSoftware, "Editor")}), firmware), "");
    EXPECT_EQ(destination->diffCount, 0);
}

TEST_F(AMerge, numbersPastNinetyNine) {
    std::vector<fixture::Entry> many;
    for (std::uint16_t tag = 0xC000; tag < 0xC000 + 100; ++tag) many.push_back(shortValue(tag, 1));
    const auto listing = merge(ExifBuilder::jpeg().ifd0({}), ExifBuilder::jpeg().ifd0(many));
    EXPECT_NE(listing.find("    99 IFD0:0xc062 add      - 2 bytes\n    100 IFD0:0xc063 add      - 2 bytes\n\n"),
              std::string::npos);
}

TEST_F(AMerge, copiesBytesSoTheSourceCanGo) {
    merge(ExifBuilder::jpeg().ifd0({}), ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}));
    source.reset();
    const CExifEntry* make = destination->ifd0.findEntry(kMake);
    EXPECT_EQ(std::string(make->data.begin(), make->data.end()), std::string("Canon\0", 6));
    EXPECT_EQ(make->change, CExifEntry::Change::added);
    EXPECT_FALSE(make->isPointer);
}

}  // namespace
