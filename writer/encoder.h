// The encoder: a merged image's Exif data as new TIFF data, bytes only. It places everything first
// (every directory, entry and value, the pointers and positions that lead to them), then writes each
// byte once; which file the data goes into is its assembler's business (writer/assembler.h).
//
// The TIFF data, by position from its header (all in the image's byte order):
//   0             "II*\0" or "MM\0*" (the header's first four bytes as read), then 8: IFD0's offset
//   8             the top directories in the order of kTopDirectories, each right behind the one
//                 before: IFD0 and its chain (IFD1 ...), the Exif sub-directory and its chain, the
//                 maker note, GPS, interoperability. The Exif sub-directory and the maker note are
//                 written wherever the Exif sub-directory is (the maker note even when nothing
//                 points to it); GPS and interoperability data only behind a pointer that leads there.
//
// A directory D at position S, with N = its written entries (removed ones leave no gap):
//   S               N (2)
//   S + 2 + 12 i    the i-th written entry, in list order
//   S + 2 + 12 N    next-directory offset (4): where D's chained directory starts, or 0
//   S + 6 + 12 N    data area: the out-of-line values of D's entries in list order, each starting
//                   even, a carried preview last (as cameras lay it); D's chained directory follows
// An entry's value field holds its value when that takes 4 bytes or fewer (and is no carried
// thumbnail or preview), else the position of its value in the data area; an entry of a TIFF
// export's own image holds its value field as it was, its value where it lies. A TIFF export's
// directories start at the end of the file instead, without a header, and its IFD0 leads on to the
// pages that followed it. The maker-note entry's
// value field holds where the note starts, its count the note's length (16 bits of it).
// A maker note of a kind behind a header: the header as read, then its directory laid out as any.
// A block note: its bytes, and a zero byte where their count is odd.
#pragma once

#include <cstdint>
#include <vector>

#include "exif/report.h"
#include "writer/read_back.h"

namespace tagloom {

class CExifImage;

/// Where the new TIFF data goes in its file, as far as the encoder needs to know.
struct TiffPlacement {
    std::uint64_t base = 0;          // where its TIFF header lies in the new file
    std::uint64_t trailer = 0;       // bytes behind it that belong to its segment (a JPEG's FF D9)
    std::uint64_t oldRestStart = 0;  // where the old file's bytes behind its Exif data began
    /// Where IFD0 goes, relative to base, and whether the 8-byte TIFF header is written in front of
    /// it (a TIFF export keeps its own header and old bytes; its new directories go at its end).
    std::uint32_t firstDirectory = 8;
    bool writesHeader = true;
};

/// The new TIFF data.
struct EncodedTiff {
    std::vector<std::uint8_t> bytes;  // from the TIFF header on (or from IFD0, where no header is written)
    std::uint64_t segmentEnd = 0;     // the first byte of the new file behind the segment: base + bytes + trailer
    PatchedValues patched;            // the positions written anew (previews, positions behind the segment)
};

/// Encodes the image's directories as new TIFF data; its rewrite trace goes to `report`. Refuses a
/// position that the new data cannot keep.
EncodedTiff encodeTiff(const CExifImage& image, const TiffPlacement& where, const Reporter& report = Reporter::quiet());

/// True when the top directory (by its index in kTopDirectories) is written.
bool isWritten(const CExifImage& image, std::size_t top);

}  // namespace tagloom
