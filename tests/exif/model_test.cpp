// The image records: the intrusive entry list, directories and their chains.
#include <gtest/gtest.h>

#include <vector>

#include "exif/image.h"

using namespace tagloom;

namespace {

std::vector<std::uint16_t> tagsOf(CExifDirectory& directory) {
    std::vector<std::uint16_t> tags;
    for (CExifEntry* e = directory.entries.first(); e != nullptr; e = directory.entries.next(e)) tags.push_back(e->tag);
    return tags;
}

CExifEntry* add(CExifDirectory& directory, std::uint16_t tag, std::uint32_t size = 2) {
    auto* entry = new CExifEntry(&directory, tag, 3, 1, size);
    directory.entries.append(entry);
    return entry;
}

TEST(AnEntryList, isEmptyWithItsSentinelPointingToItself) {
    CExifImage image;
    EXPECT_EQ(image.ifd0.entries.first(), nullptr);
    EXPECT_TRUE(image.ifd0.entries.empty());
    EXPECT_EQ(image.ifd0.findEntry(0x0131), nullptr);
}

TEST(AnEntryList, appendsInsertsAndUnlinks) {
    CExifImage image;
    CExifEntry* a = add(image.ifd0, 10);
    EXPECT_EQ(image.ifd0.entries.first(), a);
    EXPECT_EQ(image.ifd0.entries.next(a), nullptr) << "the only entry is also the last";

    CExifEntry* c = add(image.ifd0, 30);
    auto* b = new CExifEntry(&image.ifd0, 20, 3, 1, 2);
    image.ifd0.entries.insertBefore(c, b);
    auto* first = new CExifEntry(&image.ifd0, 5, 3, 1, 2);
    image.ifd0.entries.insertBefore(a, first);
    EXPECT_EQ(tagsOf(image.ifd0), (std::vector<std::uint16_t>{5, 10, 20, 30}));

    image.ifd0.entries.unlink(b);
    EXPECT_FALSE(b->link.isLinked());
    EXPECT_EQ(b->link.next, &b->link);
    EXPECT_EQ(b->link.previous, &b->link);
    EXPECT_EQ(image.ifd0.entries.next(a), c) << "former neighbours are joined";
    EXPECT_EQ(tagsOf(image.ifd0), (std::vector<std::uint16_t>{5, 10, 30}));

    image.ifd0.entries.append(b);  // a link taken out can be linked again
    EXPECT_EQ(tagsOf(image.ifd0), (std::vector<std::uint16_t>{5, 10, 30, 20}));
}

TEST(ADirectory, findsTheEarlierOfTwoEntriesWithOneTagRemovedOrNot) {
    CExifImage image;
    CExifEntry* earlier = add(image.subIfd, 0x9003);
    add(image.subIfd, 0x9003);
    earlier->removed = true;
    EXPECT_EQ(image.subIfd.findEntry(0x9003), earlier);
}

TEST(ADirectory, freesItsWholeChainWithTheImage) {
    // Run under the address sanitizer, a leak or a double free here fails the test.
    auto image = std::make_unique<CExifImage>();
    add(image->ifd0, 0x0100);
    image->ifd0.next = std::make_unique<CExifDirectory>(&image->ifd0);
    add(*image->ifd0.next, 0x0201, 5000);
    image->ifd0.next->next = std::make_unique<CExifDirectory>(image->ifd0.next.get());
    add(*image->ifd0.next->next, 0x0100);
    EXPECT_EQ(image->ifd0.next->next->name(), "IFD2");
    EXPECT_EQ(image->ifd0.next->next->owner, image.get());
    image.reset();
}

TEST(AnEntry, ofSizeZeroHasAnEmptyBufferAndReadsZeroAsU32) {
    CExifImage image;
    CExifEntry* empty = add(image.ifd0, 0x8769, 0);
    EXPECT_TRUE(empty->data.empty());
    EXPECT_EQ(empty->valueAsU32(), 0u);
    CExifEntry* three = add(image.ifd0, 0x8769, 3);
    three->data = {0x01, 0x02, 0x03};
    EXPECT_EQ(three->valueAsU32(), 0x030201u) << "missing bytes count as zero";
}

TEST(AnImage, namesItsDirectoriesAndClosesNothingTwice) {
    CExifImage image;
    EXPECT_EQ(image.ifd0.name(), "IFD0");
    EXPECT_EQ(image.subIfd.name(), "SUB0");
    EXPECT_EQ(image.makerNote.name(), "MAK0");
    EXPECT_EQ(image.gpsIfd.name(), "GPS0");
    EXPECT_EQ(image.interopIfd.name(), "INT0");
    image.closeFiles();
    image.closeFiles();
    EXPECT_FALSE(image.fileOpen);
}

}  // namespace
