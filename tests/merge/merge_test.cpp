// The merge rules and the diff listing.
#include <gtest/gtest.h>

#include <memory>

#include "exif/exception.h"
#include "exif/image.h"
#include "exif/run_state.h"
#include "merge/merge.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using fixture::ascii;
using fixture::Bytes;
using fixture::entry;
using fixture::ExifBuilder;
using fixture::longValue;
using fixture::shortValue;
using fixture::TempFolder;

namespace {

using namespace fixture::tags;

class AMerge : public ::testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }

    /// Loads both, merges with the options set, and gives what the merge printed (bit 1 on).
    std::string merge(const ExifBuilder& destinationFile, const ExifBuilder& sourceFile) {
        folder.write("dst.jpg", destinationFile.build());
        folder.write("src.jpg", sourceFile.build());
        destination = std::make_unique<CExifImage>();
        source = std::make_unique<CExifImage>();
        try {
            destination->load(folder / "dst.jpg");
            source->load(folder / "src.jpg");
        } catch (CExifException* raw) {
            std::unique_ptr<CExifException> failure(raw);
            ADD_FAILURE() << failure->message;
            return "";
        }
        Options.verboseMask |= verbose::kDiffs;
        ::testing::internal::CaptureStdout();
        mergeFrom(*destination, *source);
        return ::testing::internal::GetCapturedStdout();
    }
    std::string heading() const { return folder / "dst.jpg" + " diffs:\n"; }
    std::vector<std::uint16_t> tags(const CExifDirectory& directory) const {
        std::vector<std::uint16_t> found;
        for (const CExifEntry* e = directory.entries.first(); e != nullptr; e = directory.entries.next(e))
            found.push_back(e->tag);
        return found;
    }

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
    const auto destinationFile = ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), shortValue(kOrientation, 1)});
    const auto sourceFile =
        ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon Inc."), entry(kOrientation, 8, 1, {1, 0})});  // SSHORT, same bytes
    EXPECT_EQ(merge(destinationFile, sourceFile), "") << "nothing differs without -u";
    EXPECT_EQ(destination->diffCount, 0);

    Options.copyMismatched = 1;
    const auto listing = merge(destinationFile, sourceFile);
    EXPECT_EQ(listing, heading() + "    01 IFD0:0x010f change   - 11 bytes\n\n");
    const CExifEntry* make = destination->ifd0.findEntry(kMake);
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
    EXPECT_TRUE(destination->ifd0.findEntry(0x8769)->action.empty());
    EXPECT_TRUE(destination->subIfd.findEntry(0x927C)->action.empty());
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

TEST_F(AMerge, countsARepeatedSourceTagTwiceAndListsItOnce) {
    const auto sourceFile = ExifBuilder::jpeg().ifd0({ascii(kMake, "A"), ascii(kMake, "BB")});
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({}), sourceFile), heading() + "    01 IFD0:0x010f add      - 2 bytes\n\n");
    EXPECT_EQ(destination->diffCount, 2);
    Options.copyMismatched = 1;
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({}), sourceFile), heading() + "    01 IFD0:0x010f change   - 3 bytes\n\n");
    EXPECT_EQ(destination->diffCount, 2);
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

TEST_F(AMerge, keepsSoftwareWhenNothingDiffers) {
    Options.copyMismatched = 1;
    Options.overwrite = 1;
    const auto same = ExifBuilder::jpeg().ifd0({ascii(kMake, "A"), ascii(kSoftware, "Editor")});
    EXPECT_EQ(merge(same, same), "");
    EXPECT_EQ(destination->diffCount, 0);
    EXPECT_FALSE(destination->ifd0.findEntry(kSoftware)->removed);
}

TEST_F(AMerge, removesASoftwareEntryItHasJustCopied) {
    EXPECT_EQ(merge(ExifBuilder::jpeg().ifd0({}), ExifBuilder::jpeg().ifd0({ascii(kSoftware, "Firmware 1.0")})),
              heading() + "    01 IFD0:0x0131 remove   - 13 bytes\n\n");
    EXPECT_EQ(destination->diffCount, 2);
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
    EXPECT_EQ(make->action, "add");
    EXPECT_FALSE(make->isPointer);
}

TEST_F(AMerge, labelsRemovedEntriesEvenWhenNothingIsPrinted) {
    Options.overwrite = 1;
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "A"), shortValue(kOrientation, 1)}).build());
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "A")}).build());
    CExifImage to;
    CExifImage from;
    to.load(folder / "dst.jpg");
    from.load(folder / "src.jpg");
    ::testing::internal::CaptureStdout();
    mergeFrom(to, from);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(to.ifd0.findEntry(kOrientation)->action, "remove");
}

}  // namespace
