// Where a file keeps its Exif data: the layouts an image can have, and the kinds of file that Tagloom
// recognises (exif/containers.cpp holds their table: how each is recognised, by which reading, where
// its TIFF data lies and how far reads may go, and the extensions folder mode takes it by).
#pragma once

#include <cstdint>
#include <string>

namespace tagloom {

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
};

/// A raw file: a source only, never rewritten.
constexpr bool isRawLayout(Layout layout) {
    return layout == Layout::defaultRaw || layout == Layout::tiffRaw || layout == Layout::embeddedJpegRaw ||
           layout == Layout::embeddedJpegRawWithoutExif || layout == Layout::canonBoxesRaw;
}
/// Read as only --all-formats reads files.
constexpr bool isExtendedLayout(Layout layout) {
    return layout != Layout::exifFirstJpeg && layout != Layout::defaultRaw;
}

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

}  // namespace tagloom
