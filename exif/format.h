// The Exif format that Tagloom reads and writes: tags, field types, the top directories, limits.
//
// TIFF data: a header ("II*\0" little-endian or "MM\0*" big-endian, then IFD0's offset, 4 bytes),
// then directories; every offset counts from the header (base). Where a kind of file keeps it is
// exif/containers.h's. The default reading's JPEG starts with a 20-byte header, then the TIFF data of
// its APP1 segment:
//   0  FF D8        start of image
//   2  FF E1        APP1 marker: the APP1 segment must come first
//   4  L (2, big-endian) APP1 length, counting these two bytes and the rest of the segment
//   6  "Exif\0\0"   not tested
//   12 "II"         little-endian TIFF data (base = 12)
//   14 42           not tested
//   16 offset of IFD0 (4)
// The segment ends at absolute L + 4 (sectionEnd). The default reading's raw image starts with "II"
// and is TIFF data from byte 0 (base = 0); IFD0 is read at absolute 16 and no seek may pass 0xFFFF.
//
// A directory: count N (2), N entries of 12 bytes, next-directory offset (4, 0 ends the chain).
// An entry: tag (2), type (2), count (4), value field (4): the data itself when it takes 4 bytes
// or fewer, else the offset of the data. All in the TIFF header's byte order (exif/byte_order.h).
// The segments of a JPEG file are found by exif/jpeg_segments.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tagloom {

namespace tag {
constexpr std::uint16_t kImageWidth = 0x0100;       // 256, IFD0 of a TIFF: its own width
constexpr std::uint16_t kImageLength = 0x0101;      // 257, and height
constexpr std::uint16_t kMake = 0x010F;             // 271, IFD0
constexpr std::uint16_t kModel = 0x0110;            // 272, IFD0
constexpr std::uint16_t kOrientation = 0x0112;      // 274, IFD0
constexpr std::uint16_t kThumbnailOffset = 0x0201;  // 513, IFD1
constexpr std::uint16_t kThumbnailLength = 0x0202;  // 514, IFD1
constexpr std::uint16_t kSoftware = 0x0131;         // 305, IFD0
constexpr std::uint16_t kExifIfdPointer = 0x8769;   // 34665, IFD0 -> Exif sub-directory
constexpr std::uint16_t kGpsIfdPointer = 0x8825;    // 34853, IFD0 -> GPS directory
constexpr std::uint16_t kMakerNote = 0x927C;        // 37500, Exif sub-directory -> maker-note directory
constexpr std::uint16_t kOffsetSchema = 0xEA1D;     // Exif sub-directory: where Windows moved the maker note
constexpr std::uint16_t kInteropIfdPointer = 0xA005;  // 40965, Exif sub-directory -> interoperability directory
constexpr std::uint16_t kPixelXDimension = 0xA002;  // Exif sub-directory: the image's width
constexpr std::uint16_t kPixelYDimension = 0xA003;  // and height
constexpr std::uint16_t kComponentsConfiguration = 0x9101;  // Exif sub-directory: a compressed stream's channels
constexpr std::uint16_t kCompressedBitsPerPixel = 0x9102;   // and its bits per pixel
constexpr std::uint16_t kInteropIndex = 0x0001;             // interoperability directory: "R98", a DCF JPEG's rule
constexpr std::uint16_t kIptcNaa = 0x83BB;          // 33723, IFD0: IPTC data, a byte stream often typed LONG
constexpr std::uint16_t kFirstWindowsXpTag = 0x9C9B;  // 40091 .. 40095: XPTitle, XPComment, XPAuthor,
constexpr std::uint16_t kLastWindowsXpTag = 0x9C9F;   // XPKeywords, XPSubject
/// The Windows XP tags hold little-endian UCS-2 text in every file: their unit is 2 bytes whatever
/// their type says, and they never turn byte order.
constexpr bool isWindowsXpTag(std::uint16_t tag) { return tag >= kFirstWindowsXpTag && tag <= kLastWindowsXpTag; }

/// IFD0 tags of a raw source that never reach a JPEG: they describe the raw file's own image
/// (its layout, which a JPEG must not carry) or how the JPEG itself is rendered (which stays its own).
constexpr std::uint16_t kRawImageTags[] = {
    0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0111,  // subfile type, size, compression, strips
    0x0115, 0x0116, 0x0117, 0x011C, 0x013D, 0x0142, 0x0143, 0x0144,  // samples, rows, planes, predictor, tiles
    0x0145, 0x014A, 0x0152, 0x0153, 0x0201, 0x0202, 0x0212,          // sub-IFDs, samples, JPEG stream, subsampling
    0x011A, 0x011B, 0x0128, 0x0213,                                  // resolution, unit, YCbCr positioning
};

/// IFD0 tags of a TIFF export, beside those above, that describe its own pixels (their cells, colours,
/// pages and the blocks its editor wrote): they stay the export's whatever the source holds.
constexpr std::uint16_t kTiffImageTags[] = {
    0x0107, 0x0108, 0x0109, 0x010A, 0x010D, 0x0118, 0x0119, 0x011D,  // thresholds, fill order, min/max, names
    0x011E, 0x011F, 0x0120, 0x0121, 0x0122, 0x0123, 0x0124, 0x0125,  // positions, free blocks, units, options
    0x0129, 0x012D, 0x013E, 0x013F, 0x0140, 0x0141, 0x0146, 0x0147,  // page, transfer, white point, colour map
    0x014C, 0x014D, 0x014E, 0x0150, 0x0151, 0x0154, 0x0155, 0x0156,  // inks, dot range, sample range
    0x015B, 0x0200, 0x0203, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209,  // JPEG tables and the old JPEG tags
    0x0211, 0x0214, 0x02BC, 0x83BB, 0x8649, 0x8773, 0x935C,          // YCbCr, XMP, IPTC, Photoshop, ICC, layers
};

/// True for a tag of a TIFF's IFD0 that describes the file's own image.
constexpr bool isOwnImageTag(std::uint16_t tag) {
    for (std::uint16_t own : kRawImageTags) {
        if (own == tag) return true;
    }
    for (std::uint16_t own : kTiffImageTags) {
        if (own == tag) return true;
    }
    return false;
}

/// IFD0 tags of a raw source (of a kind only --all-formats reads) that take part in the merge; the
/// rest describe the raw file's own image. The Exif and GPS pointers lead on.
constexpr std::uint16_t kRawIfd0Tags[] = {0x010E, 0x010F, 0x0110, 0x0112, 0x0131, 0x0132, 0x013B, 0x4746,
                                          0x4749, 0x8298, 0x8769, 0x8825, 0x9C9B, 0x9C9C, 0x9C9D, 0x9C9E,
                                          0x9C9F, 0xC4A5};
/// Exposure tags that some raw files keep in IFD0; in a JPEG they belong in the Exif sub-directory.
constexpr bool isExposureTag(std::uint16_t tag) {
    return tag == 0x829A || tag == 0x829D || tag == 0x8822 || tag == 0x8827 || tag == 0x9003 ||
           (tag >= 0x9201 && tag <= 0x920A) || tag == 0x9214;
}
/// True for an IFD0 tag of such a raw file that is read at all: one that takes part, or an exposure tag.
constexpr bool reachesJpegFromRaw(std::uint16_t tag) {
    for (std::uint16_t kept : kRawIfd0Tags) {
        if (kept == tag) return true;
    }
    return isExposureTag(tag);
}
constexpr std::uint16_t kDngPrivateData = 0xC634;       // a DNG's IFD0: the original maker note
constexpr std::uint16_t kPanasonicJpegFromRaw = 0x002E;  // an RW2's IFD0: the embedded JPEG
}  // namespace tag

/// TIFF field types by number (TIFF 6.0; IFD from the TIFF technical notes).
namespace fieldType {
constexpr std::uint16_t kByte = 1;
constexpr std::uint16_t kAscii = 2;
constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kRational = 5;
constexpr std::uint16_t kSByte = 6;
constexpr std::uint16_t kUndefined = 7;
constexpr std::uint16_t kSShort = 8;
constexpr std::uint16_t kSLong = 9;
constexpr std::uint16_t kSRational = 10;
constexpr std::uint16_t kFloat = 11;
constexpr std::uint16_t kDouble = 12;
constexpr std::uint16_t kIfd = 13;  // read like LONG, inside notes carried whole
}  // namespace fieldType

/// The five top directories, by their place in kTopDirectories (exif/image.h): the order in which
/// they are read, merged, listed and written.
namespace top {
constexpr std::size_t kIfd0 = 0;
constexpr std::size_t kExif = 1;
constexpr std::size_t kMakerNote = 2;
constexpr std::size_t kGps = 3;
constexpr std::size_t kInterop = 4;
constexpr std::size_t kCount = 5;
}  // namespace top

namespace exif {
constexpr std::uint64_t kFirstSegment = 2;        // where the first segment lies, behind FF D8
constexpr std::uint64_t kTiffHeaderInSegment = 10;  // FF E1, the length, "Exif\0\0"
constexpr std::uint32_t kRawSectionEnd = 0xFFFF;  // raw images: seeks stay in the first 64 KiB
constexpr std::uint32_t kMaxSectionEnd = 0xFFFF + 4;  // the end of the largest APP1 segment
constexpr std::uint64_t kRawIfd0Position = 16;
constexpr std::uint16_t kLittleEndianMark = 0x4949;  // "II" read little-endian
constexpr std::uint16_t kStartOfImage = 0xD8FF;      // FF D8 read little-endian
constexpr std::uint8_t kIntelByte = 0x49;  // 'I': two of them mark little-endian TIFF data
constexpr std::uint32_t kEntrySize = 12;
constexpr std::uint32_t kInlineValueSize = 4;
constexpr std::uint32_t kMaxEntrySize = 0x10000;     // data of one entry, 64 KiB
constexpr std::uint16_t kMaxFieldType = 12;          // DOUBLE: the last type a directory outside notes holds
constexpr std::uint64_t kMakerNoteSlack = 16;        // how far past its count a carried note's values may reach
constexpr std::uint64_t kMaxExifEnd = 0xFFF0;        // the new APP1 segment ends at most here
constexpr std::uint64_t kMaxHeldBytes = 0x100000;    // what one image may hold in memory
constexpr std::uint64_t kHeldBytesPerEntry = 64;     // bookkeeping charged per entry against that
constexpr int kMaxChainLength = 64;                  // directories chained behind one top directory
constexpr int kMostFaultsLeftBehind = 8;             // entries a source's directory may leave behind, one by one
constexpr std::uint32_t kMaxNoteDirectories = 256;   // directories walked in one opaque maker note
constexpr std::uint64_t kMaxNoteEntries = 65536;     // entries walked in one opaque maker note

/// A TIFF field type: the bytes one value takes, and the unit by which its bytes turn between the
/// two byte orders (0: a type without a layout, which cannot be turned).
struct FieldType {
    const char* name;
    std::uint32_t unitSize;
    std::uint32_t turnUnit;
};
/// By number. Type 0 counts as bytes; IFD (13) is read like LONG, inside maker notes only.
constexpr FieldType kFieldTypes[] = {
    {"none", 1, 0},     {"BYTE", 1, 1},   {"ASCII", 1, 1},  {"SHORT", 2, 2},     {"LONG", 4, 4},
    {"RATIONAL", 8, 4},  // each half on its own
    {"SBYTE", 1, 1},    {"UNDEFINED", 1, 1}, {"SSHORT", 2, 2}, {"SLONG", 4, 4}, {"SRATIONAL", 8, 4},
    {"FLOAT", 4, 4},    {"DOUBLE", 8, 8}, {"IFD", 4, 4},
};
constexpr std::uint16_t kFieldTypeCount = sizeof kFieldTypes / sizeof kFieldTypes[0];
static_assert(kFieldTypeCount == fieldType::kIfd + 1, "one row per type number up to IFD");

/// Unit size of a TIFF field type; a number past the table counts as bytes.
constexpr std::uint32_t typeUnitSize(std::uint16_t type) { return type < kFieldTypeCount ? kFieldTypes[type].unitSize : 1; }
}  // namespace exif

}  // namespace tagloom
