// Laying out directories: entry tables, value fields, data areas and chains, byte for byte.
#include <gtest/gtest.h>

#include "exif/image.h"
#include "tests/support/exif_builder.h"
#include "writer/layout.h"

using namespace tagloom;

using fixture::Bytes;
using fixture::getU16;
using fixture::getU32;

namespace {

class ALayout : public ::testing::Test {
protected:
    void SetUp() override { target.seekTarget(8); }  // where IFD0 always starts

    CExifEntry* add(CExifDirectory& directory, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                    const Bytes& bytes) {
        auto* e = new CExifEntry(&directory, tag, type, count, static_cast<std::uint32_t>(bytes.size()));
        e->data = bytes;
        directory.entries.append(e);
        return e;
    }
    /// The block as written, by position relative to base.
    std::uint32_t u32At(std::uint64_t relative) const { return getU32(target.targetBlock, 12 + relative); }
    std::uint16_t u16At(std::uint64_t relative) const { return getU16(target.targetBlock, 12 + relative); }
    Bytes bytesAt(std::uint64_t relative, std::size_t n) const {
        return Bytes(target.targetBlock.begin() + 12 + static_cast<long>(relative),
                     target.targetBlock.begin() + 12 + static_cast<long>(relative + n));
    }
    std::string write(CExifDirectory& directory) {
        target.countWritable(directory);
        ::testing::internal::CaptureStdout();
        target.writeDirectory(directory);
        return ::testing::internal::GetCapturedStdout();
    }
    const DirectoryPlace& placed(const CExifDirectory& directory) { return target.place(directory); }

    CExifImage image;
    Reporter traces{stdout, verbose::kRewrite};
    CExifTarget target{12, ByteOrder::littleEndian, 0, traces};
};

TEST_F(ALayout, writesTheWorkedExample) {
    add(image.ifd0, 270, 2, 5, {'a', 'b', 'c', 'd', 0});
    add(image.ifd0, 274, 3, 1, {6, 0});
    add(image.ifd0, 34665, 4, 1, {0x78, 0x56, 0x34, 0x12});
    image.ifd0.next = std::make_unique<CExifDirectory>(&image.ifd0);
    const std::string trace = write(image.ifd0);

    EXPECT_EQ(u16At(8), 3);
    EXPECT_EQ(u16At(10), 270);
    EXPECT_EQ(u16At(12), 2);
    EXPECT_EQ(u32At(14), 5u);
    EXPECT_EQ(u32At(18), 50u) << "value field: where the data went";
    EXPECT_EQ(bytesAt(22, 12), (Bytes{0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0}));
    EXPECT_EQ(u32At(42), 0x12345678u);
    EXPECT_EQ(u32At(46), 56u) << "next directory";
    EXPECT_EQ(bytesAt(50, 6), (Bytes{'a', 'b', 'c', 'd', 0, 0})) << "with its pad byte";
    EXPECT_EQ(placed(image.ifd0).startPos, 8u);
    EXPECT_EQ(placed(image.ifd0).endPos, 56u);
    EXPECT_EQ(placed(*image.ifd0.next).startPos, 56u);
    EXPECT_EQ(placed(*image.ifd0.next).endPos, 62u);
    EXPECT_EQ(u32At(58), 0u) << "no further directory";
    EXPECT_EQ(target.targetPosition(), 62u);
    EXPECT_EQ(trace,
              "  IFD0 3 entries start at 0x0014\n"
              "    Dir Entry 0x0016, Tag IFD0:0x010e, Data 0x003e, Size 0x0005  \n"
              "    Dir Entry 0x0022, Tag IFD0:0x0112, Data ------, Size 0x0002  \n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  \n"
              "  IFD1 0 entries start at 0x0044\n");
}

TEST_F(ALayout, keepsShortValuesInTheFieldAndPadsOddData) {
    add(image.ifd0, 1, 1, 3, {1, 2, 3});
    add(image.ifd0, 2, 1, 0, {});
    add(image.ifd0, 3, 7, 5, {9, 9, 9, 9, 9});
    add(image.ifd0, 4, 7, 6, {8, 8, 8, 8, 8, 8});
    write(image.ifd0);
    EXPECT_EQ(bytesAt(10 + 8, 4), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(bytesAt(22 + 8, 4), (Bytes{0, 0, 0, 0}));
    const std::uint32_t first = 8 + 2 + 4 * 12 + 4;
    EXPECT_EQ(u32At(34 + 8), first);
    EXPECT_EQ(bytesAt(first, 6), (Bytes{9, 9, 9, 9, 9, 0}));
    EXPECT_EQ(u32At(46 + 8), first + 6) << "the next datum starts even";
    EXPECT_EQ(placed(image.ifd0).endPos, first + 12);
}

TEST_F(ALayout, closesUpRemovedEntriesAndTracesThem) {
    add(image.ifd0, 1, 3, 1, {1, 0})->removed = true;
    add(image.ifd0, 2, 3, 1, {2, 0});
    CExifEntry* gone = add(image.ifd0, 3, 7, 5, {9, 9, 9, 9, 9});
    gone->removed = true;
    add(image.ifd0, 4, 3, 1, {4, 0})->change = CExifEntry::Change::added;
    const std::string trace = write(image.ifd0);
    EXPECT_EQ(placed(image.ifd0).writeCount, 2);
    EXPECT_EQ(u16At(8), 2);
    EXPECT_EQ(u16At(10), 2);
    EXPECT_EQ(u16At(22), 4);
    EXPECT_EQ(u32At(34), 0u);
    EXPECT_EQ(placed(image.ifd0).endPos, 38u) << "no data area for the removed datum";
    EXPECT_EQ(trace,
              "  IFD0 2 entries start at 0x0014\n"
              "    Dir Entry         Tag IFD0:0x0001, Data         Size 0x0002  remove\n"
              "    Dir Entry 0x0016, Tag IFD0:0x0002, Data ------, Size 0x0002  \n"
              "    Dir Entry         Tag IFD0:0x0003, Data         Size 0x0005  remove\n"
              "    Dir Entry 0x0022, Tag IFD0:0x0004, Data ------, Size 0x0002  add\n");

    CExifImage other;
    CExifTarget another(12, ByteOrder::littleEndian);
    another.seekTarget(8);
    auto* only = new CExifEntry(&other.ifd0, 1, 3, 1, 2);
    only->removed = true;
    other.ifd0.entries.append(only);
    another.countWritable(other.ifd0);
    another.writeDirectory(other.ifd0);
    EXPECT_EQ(another.place(other.ifd0).endPos, another.place(other.ifd0).startPos + 6)
        << "all removed: a count of 0 and the next offset";
}

TEST_F(ALayout, writesAFixedDataPositionInsteadOfData) {
    CExifEntry* note = add(image.ifd0, 0x927C, 7, 100, Bytes(100, 1));
    target.place(*note).fixedDataPos = 400;
    target.place(*note).label = "Maker Note";
    const std::string trace = write(image.ifd0);
    EXPECT_EQ(u32At(18), 400u);
    EXPECT_EQ(placed(image.ifd0).endPos, 8u + 18) << "the data area did not grow";
    EXPECT_EQ(trace,
              "  IFD0 1 entries start at 0x0014\n"
              "    Dir Entry 0x0016, Tag IFD0:0x927c, Data 0x019c, Size 0x0064  Maker Note\n");
}

TEST_F(ALayout, laysOutIfd0ItsDataIfd1AndTheThumbnailInARow) {
    add(image.ifd0, 0x010F, 2, 6, {'C', 'a', 'n', 'o', 'n', 0});
    image.ifd0.next = std::make_unique<CExifDirectory>(&image.ifd0);
    add(*image.ifd0.next, 0x0201, 4, 1, Bytes(5000, 0xAB));
    add(*image.ifd0.next, 0x0202, 4, 1, {0x88, 0x13, 0, 0});
    write(image.ifd0);
    const std::uint32_t ifd1 = 8 + 2 + 12 + 4 + 6;
    EXPECT_EQ(u32At(8 + 2 + 12), ifd1) << "IFD0's next offset is its end";
    EXPECT_EQ(placed(*image.ifd0.next).startPos, ifd1);
    const std::uint32_t thumbnail = ifd1 + 2 + 24 + 4;
    EXPECT_EQ(u32At(ifd1 + 2 + 4), 1u) << "the thumbnail keeps its count";
    EXPECT_EQ(u32At(ifd1 + 2 + 8), thumbnail);
    EXPECT_EQ(bytesAt(thumbnail, 5000), Bytes(5000, 0xAB));
    EXPECT_EQ(placed(*image.ifd0.next).endPos, thumbnail + 5000u);
}

TEST_F(ALayout, rewritesAnEntryInItsPlace) {
    CExifEntry* pointer = add(image.ifd0, 0x8769, 4, 1, {0, 0, 0, 0});
    write(image.ifd0);
    const Bytes before = target.targetBlock;
    target.place(*pointer).value = 0x1234;
    target.rewriteEntry(*pointer);
    EXPECT_EQ(u32At(18), 0x1234u);
    Bytes after = target.targetBlock;
    after[12 + 18] = before[12 + 18];
    after[12 + 19] = before[12 + 19];
    EXPECT_EQ(after, before) << "nothing outside the entry changed";
}

}  // namespace
