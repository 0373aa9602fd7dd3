// Encoding a merged image: entry tables, value fields, data areas, chains and the pointers between
// the top directories, byte for byte, and the rewrite trace.
#include <gtest/gtest.h>

#include <cstring>

#include "exif/image.h"
#include "tests/support/exif_builder.h"
#include "writer/encoder.h"

using namespace tagloom;

using fixture::Bytes;
using fixture::getU16;
using fixture::getU32;

namespace {

class AnEncoder : public ::testing::Test {
protected:
    void SetUp() override {
        image.base = 12;  // a JPEG's TIFF header, behind SOI, the APP1 marker, its length and "Exif\0\0"
        std::memcpy(image.header + 12, "II*\0", 4);
    }
    CExifEntry* add(CExifDirectory& directory, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                    const Bytes& bytes) {
        auto* e = new CExifEntry(&directory, tag, type, count, static_cast<std::uint32_t>(bytes.size()));
        e->data = bytes;
        directory.entries.append(e);
        return e;
    }
    /// Encodes the image; gives its rewrite trace.
    std::string encode() {
        ::testing::internal::CaptureStdout();
        tiff = encodeTiff(image, TiffPlacement{12, 2, 0}, Reporter(stdout, verbose::kRewrite));
        return ::testing::internal::GetCapturedStdout();
    }
    std::uint32_t u32At(std::size_t at) const { return getU32(tiff.bytes, at); }
    std::uint16_t u16At(std::size_t at) const { return getU16(tiff.bytes, at); }
    Bytes bytesAt(std::size_t at, std::size_t n) const {
        return Bytes(tiff.bytes.begin() + static_cast<long>(at), tiff.bytes.begin() + static_cast<long>(at + n));
    }

    CExifImage image;
    EncodedTiff tiff;
};

// IFD0 with an out-of-line value, a short one and the Exif pointer, an empty IFD1, the Exif
// sub-directory with the maker-note entry, and the maker note: each directory right behind the one
// before, the pointers settled before anything is written, the trace as the writer always gave it.
TEST_F(AnEncoder, placesEveryDirectoryThenWritesItOnce) {
    add(image.ifd0, 270, 2, 5, {'a', 'b', 'c', 'd', 0});
    add(image.ifd0, 274, 3, 1, {6, 0})->change = CExifEntry::Change::added;
    add(image.ifd0, 0x8769, 4, 1, {0x78, 0x56, 0x34, 0x12});
    image.ifd0.next = std::make_unique<CExifDirectory>(&image.ifd0);
    add(image.subIfd, 0x927C, 7, 100, {0, 0, 0, 0});
    add(image.makerNote, 1, 3, 1, {7, 0});
    const std::string trace = encode();

    EXPECT_EQ(bytesAt(0, 8), (Bytes{'I', 'I', '*', 0, 8, 0, 0, 0}));
    EXPECT_EQ(u16At(8), 3);
    EXPECT_EQ(u16At(10), 270);
    EXPECT_EQ(u32At(14), 5u);
    EXPECT_EQ(u32At(18), 50u) << "value field: where the data went";
    EXPECT_EQ(bytesAt(22, 12), (Bytes{0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0}));
    EXPECT_EQ(u32At(46), 56u) << "IFD1 starts behind IFD0's data";
    EXPECT_EQ(bytesAt(50, 6), (Bytes{'a', 'b', 'c', 'd', 0, 0})) << "with its pad byte";
    EXPECT_EQ(u32At(58), 0u) << "no directory behind IFD1";
    EXPECT_EQ(u32At(42), 62u) << "the Exif pointer leads to the sub-directory behind IFD1";
    EXPECT_EQ(u16At(62), 1);
    EXPECT_EQ(u32At(62 + 2 + 4), 18u) << "the maker-note entry's count: the note's length";
    EXPECT_EQ(u32At(62 + 2 + 8), 80u) << "its value field: where the note starts";
    EXPECT_EQ(u16At(80), 1);
    EXPECT_EQ(tiff.bytes.size(), 98u);
    EXPECT_EQ(tiff.segmentEnd, 12u + 98 + 2);
    EXPECT_EQ(trace,
              "  IFD0 3 entries start at 0x0014\n"
              "    Dir Entry 0x0016, Tag IFD0:0x010e, Data 0x003e, Size 0x0005  \n"
              "    Dir Entry 0x0022, Tag IFD0:0x0112, Data ------, Size 0x0002  add\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  \n"
              "  IFD1 0 entries start at 0x0044\n"
              "  SUB0 1 entries start at 0x004a\n"
              "    Dir Entry 0x004c, Tag SUB0:0x927c, Data ------, Size 0x0004  \n"
              "  MAK0 1 entries start at 0x005c\n"
              "    Dir Entry 0x005e, Tag MAK0:0x0001, Data ------, Size 0x0002  \n"
              "  IFD-EOF: 0x0070.   Re-write:\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  SubPtr\n"
              "    Dir Entry 0x004c, Tag SUB0:0x927c, Data 0x005c, Size 0x0012  Maker Note\n");
}

// Values of four bytes or fewer stay in the field; longer ones start even; removed entries leave no
// gap and no data, and are traced as removed.
TEST_F(AnEncoder, keepsShortValuesInTheFieldAndClosesUpRemovedEntries) {
    add(image.ifd0, 1, 1, 3, {1, 2, 3});
    add(image.ifd0, 2, 1, 0, {})->removed = true;
    add(image.ifd0, 3, 7, 5, {9, 9, 9, 9, 9});
    add(image.ifd0, 4, 7, 6, {8, 8, 8, 8, 8, 8})->removed = true;
    add(image.ifd0, 5, 7, 6, {7, 7, 7, 7, 7, 7});
    const std::string trace = encode();
    EXPECT_EQ(u16At(8), 3);
    EXPECT_EQ(bytesAt(10 + 8, 4), (Bytes{1, 2, 3, 0}));
    const std::uint32_t first = 8 + 2 + 3 * 12 + 4;
    EXPECT_EQ(u32At(22 + 8), first);
    EXPECT_EQ(bytesAt(first, 6), (Bytes{9, 9, 9, 9, 9, 0}));
    EXPECT_EQ(u32At(34 + 8), first + 6) << "the next datum starts even";
    EXPECT_EQ(bytesAt(first + 6, 6), Bytes(6, 7));
    EXPECT_NE(trace.find("    Dir Entry         Tag IFD0:0x0002, Data         Size 0x0000  remove\n"), std::string::npos);
    EXPECT_NE(trace.find("    Dir Entry         Tag IFD0:0x0004, Data         Size 0x0006  remove\n"), std::string::npos);
}

// IFD1 follows IFD0's data; the thumbnail, a carried value, follows IFD1's entries and keeps its count.
TEST_F(AnEncoder, laysOutIfd0ItsDataIfd1AndTheThumbnailInARow) {
    add(image.ifd0, 0x010F, 2, 6, {'C', 'a', 'n', 'o', 'n', 0});
    image.ifd0.next = std::make_unique<CExifDirectory>(&image.ifd0);
    add(*image.ifd0.next, 0x0201, 4, 1, Bytes(5000, 0xAB))->carried = true;
    add(*image.ifd0.next, 0x0202, 4, 1, {0x88, 0x13, 0, 0});
    encode();
    const std::uint32_t ifd1 = 8 + 2 + 12 + 4 + 6;
    EXPECT_EQ(u32At(8 + 2 + 12), ifd1) << "IFD0's next offset is its end";
    const std::uint32_t thumbnail = ifd1 + 2 + 24 + 4;
    EXPECT_EQ(u32At(ifd1 + 2 + 4), 1u) << "the thumbnail keeps its count";
    EXPECT_EQ(u32At(ifd1 + 2 + 8), thumbnail);
    EXPECT_EQ(bytesAt(thumbnail, 5000), Bytes(5000, 0xAB));
}

}  // namespace
