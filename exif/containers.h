// Where a file keeps its Exif data: the layouts an image can have and what each means, the kinds of
// file that Tagloom recognises (exif/containers.cpp holds their table: how each is recognised, by
// which reading, where its TIFF data lies and how far reads may go, and the extensions folder mode
// takes it by), and what a kind's locator finds.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exif/byte_order.h"
#include "exif/jpeg_segments.h"

namespace tagloom {

class SourceBytes;

/// How an image's Exif data lies in its file.
enum class Layout : std::uint8_t {
    exifFirstJpeg,               // a JPEG whose first segment is its Exif segment, little-endian
    defaultRaw,                  // any file that begins "II": TIFF data from byte 0, IFD0 at 16, within 64 KiB
    exifAnywhereJpeg,            // a JPEG whose Exif segment lies anywhere before its image data, either order
    jpegWithoutExif,             // a JPEG without one: a new segment goes behind SOI and its APP0 segments
    tiffRaw,                     // a raw file's TIFF data, IFD0 where its header says, values anywhere in it
    embeddedJpegRaw,             // a raw file whose Exif data is that of a JPEG inside it
    embeddedJpegRawWithoutExif,  // such a raw file whose JPEG holds none
    canonBoxesRaw,               // a CR3: IFD0, the Exif sub-directory, the maker note and GPS data in boxes of their own
    heifItem,                    // a HEIF or AVIF photo: its Exif item, read into memory; a source only
    pngFile,                     // a PNG whose Exif data lies in its eXIf chunk
    pngLegacyExif,               // a PNG that keeps it as hex in a text chunk: read into memory
    pngWithoutExif,              // a PNG without: a new eXIf chunk goes in front of the image data
    webpFile,                    // a WebP whose Exif data lies in its EXIF chunk
    webpWithoutExif,             // a WebP without: a new EXIF chunk goes behind the image data
    jxlFile,                     // a JPEG XL container whose Exif data lies in its Exif box
    jxlWithoutExif,              // a JPEG XL without (a bare codestream, or a container): a new box goes at the end
    tiffFile,                    // a TIFF export: its IFD0 describes its own image too; new directories go at the end
    heifFile,                    // a HEIF or AVIF destination: its Exif item, read into memory
    heifWithoutExif,             // one without: a new Exif item goes into meta, its data at the end
};

/// What a layout means for reading and writing, one row per layout.
struct LayoutTraits {
    bool raw;                 // a raw file: a source only, never rewritten
    bool extended;            // read only by --all-formats
    bool jpeg;                // a JPEG file, whose frame header gives its pixel size
    bool holdsExif;           // false: a file without Exif data yet, where a new segment goes
    bool ifd0ByAllowList;     // its IFD0 describes its own image too: only the photo's tags are read and take part
    bool orientationApart;    // its pixels are turned by the container's own properties: no Orientation arrives
    bool export_;             // a file an editor wrote (the Exif segment not first, or none): it describes its own pixels
    bool rawDataAsNote;       // a raw file may keep image data where a maker note belongs
    bool previewsStay;        // a maker note's preview stays in the file: no entries that lead to it arrive
    bool directoriesInBoxes;  // each top directory lies in a box of its own, and no pointer leads to it
    bool ownImageInPlace;     // a destination keeps its IFD0's own image entries where they lie, never merged
};
const LayoutTraits& traitsOf(Layout layout);

/// A CR3 metadata box (CMT1 to CMT4): where its TIFF data lies.
struct CanonBox {
    std::uint64_t start = 0;  // its TIFF data, absolute
    std::uint64_t end = 0;    // 0: the file has no such box
};

/// What a locator found: where the TIFF data lies, how far reads may go, and what else it read.
struct Located {
    Layout layout = Layout::exifFirstJpeg;
    std::uint64_t base = 0;        // the TIFF header, absolute
    std::uint64_t sectionEnd = 0;  // the first byte a read may not reach
    ByteOrder order = ByteOrder::littleEndian;
    std::uint64_t ifd0 = 0;        // IFD0's position, relative to base
    std::uint64_t headerStart = 0;   // 0: SOI and the Exif segment's start; else segmentStart
    std::uint64_t segmentStart = 0;  // where a JPEG's Exif segment lies (or where a new one goes)
    std::uint8_t header[20] = {};    // the file from headerStart up to the TIFF header's IFD0 offset
    FrameSize frame;                 // a JPEG's pixel size, where --all-formats reads it
    std::array<CanonBox, 4> boxes;   // a CR3's CMT1 to CMT4
    std::unique_ptr<SourceBytes> item;  // bytes read into memory (a HEIF's Exif item), which the TIFF data lies in
};

/// How a file is read: by which reading, and as what.
struct Reading {
    bool allFormats = false;
    bool source = false;    // a source (read by --all-formats: it leaves behind what it cannot carry)
    std::string extension;  // of its name: a TIFF named ".tif" is an export, not a raw file
};

/// Recognises the kind of file by its first bytes and locates its TIFF data; refuses a file it
/// cannot place.
Located locate(const SourceBytes& bytes, const Reading& reading);

/// What folder mode makes of a file by its name's extension (in any letter case) under a reading.
struct NameKind {
    bool candidate = false;  // a source: its kind is one the reading recognises
    bool raw = false;        // of a raw file's kind
    /// Of several files of one name, the one of the lowest rank is the source: a raw file, then a
    /// HEIF photo, then a JPEG.
    int rank = 0;
    bool jpeg = false;  // a JPEG: a destination's kind
};
NameKind kindOfName(const std::string& extension, bool allFormats);
/// The extensions of the exports that --all-formats rewrites beside JPEGs (".png", ".tif" ...), in the
/// order of the kinds.
const std::vector<std::string>& exportExtensions();

/// The byte order that two bytes name, "II" or "MM"; false for anything else.
bool orderOf(const std::uint8_t* mark, ByteOrder& order);

/// A file without Exif data yet: its new TIFF data will be little-endian, IFD0 right behind the header.
Located withoutExif(Layout layout);

/// The TIFF data at `base` of `bytes` (its header says the order and IFD0), reads up to `limit`.
Located takeTiff(const SourceBytes& bytes, Layout layout, std::uint64_t base, std::uint64_t limit);

// Locators of ISO base media files (exif/iso_media.cpp).
Located locateCr3(const SourceBytes& bytes, const Reading& reading);
Located locateHeif(const SourceBytes& bytes, const Reading& reading);

}  // namespace tagloom
