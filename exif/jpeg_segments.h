// Where the bytes of a JPEG file are split: the segments in front of the image data.
//
// A JPEG file: FF D8 (start of image), then segments FF <marker> <length, 2 bytes big-endian,
// counting itself> <payload>, up to the first scan (FF DA), which runs on to FF D9. FF fill bytes
// may stand before a marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tagloom {

class SourceBytes;

struct JpegSegment {
    std::uint8_t marker = 0;   // the byte after FF: 0xE1 for APP1
    std::uint64_t offset = 0;  // where its FF lies in the file
    std::uint32_t length = 0;  // its length field: payload + 2
    /// The first byte after the segment.
    std::uint64_t end() const { return offset + 2 + length; }
};

struct JpegSegments {
    std::vector<JpegSegment> segments;  // in file order, as far as they are well formed
    bool wellFormed = false;            // the walk reached the first scan without a fault
};

/// Walks the segments of a file from after its start-of-image marker to the first scan, listing at
/// most `wanted` of them. Stops at the first segment that is not well formed (a marker without a
/// length, a length below 2, a segment that runs past the end of the file, more fill bytes or
/// segments than any real file has), keeping a segment whose marker and length it could read even
/// when that length is impossible.
/// A JPEG embedded in another file starts at `start`.
JpegSegments scanSegments(const SourceBytes& bytes, std::size_t wanted = SIZE_MAX, std::uint64_t start = 0);

constexpr std::uint8_t kApp0Marker = 0xE0;
constexpr std::uint8_t kApp1Marker = 0xE1;

/// A JPEG's pixel size from its frame header (SOFn); 0 x 0 when none was found.
struct FrameSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};
FrameSize frameSizeOf(const SourceBytes& bytes, const JpegSegments& found);

/// True when the segment is APP1 and its payload starts "Exif\0\0".
bool holdsExif(const SourceBytes& bytes, const JpegSegment& segment);

}  // namespace tagloom
