#include "exif/jpeg_segments.h"

#include <cstring>

#include "exif/byte_order.h"
#include "exif/tiff_view.h"

namespace tagloom {

namespace {
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfScan = 0xDA;
// Far more than any camera or editor writes; a file past them is not taken for a JPEG worth walking.
constexpr std::size_t kMostSegments = 1024;
constexpr std::uint64_t kMostFillBytes = 64;

/// Markers that stand alone, without a length: TEM, RST0-7, SOI, EOI; and 0, which is no marker.
bool standsAlone(std::uint8_t marker) { return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9); }
}  // namespace

JpegSegments scanSegments(const SourceBytes& bytes, std::size_t wanted, std::uint64_t start) {
    JpegSegments found;
    std::uint64_t at = start + 2;  // behind FF D8
    while (found.segments.size() < wanted && found.segments.size() < kMostSegments) {
        std::uint8_t head[4];
        if (bytes.copy(at, head, 1) != 1 || head[0] != kMarkerPrefix) return found;
        std::uint64_t marker = at + 1;
        while (bytes.copy(marker, head, 1) == 1 && head[0] == kMarkerPrefix) {  // fill bytes
            if (++marker - at > kMostFillBytes) return found;
        }
        if (bytes.copy(marker, head, 3) != 3) return found;
        JpegSegment segment;
        segment.marker = head[0];
        segment.offset = marker - 1;
        if (segment.marker == kStartOfScan) {
            found.wellFormed = true;
            return found;
        }
        if (standsAlone(segment.marker)) return found;
        segment.length = getU16(head + 1, ByteOrder::bigEndian);
        found.segments.push_back(segment);
        if (segment.length < 2 || segment.end() > bytes.length()) return found;
        at = segment.end();
    }
    return found;
}

FrameSize frameSizeOf(const SourceBytes& bytes, const JpegSegments& found) {
    for (const JpegSegment& segment : found.segments) {
        // SOF0-SOF15 but DHT (C4), JPG (C8) and DAC (CC): precision (1), height (2), width (2).
        const std::uint8_t marker = segment.marker;
        if (marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 || marker == 0xCC) continue;
        std::uint8_t frame[5];
        if (segment.length < 2 + sizeof frame || bytes.copy(segment.offset + 4, frame, sizeof frame) != sizeof frame)
            return {};
        return {getU16(frame + 3, ByteOrder::bigEndian), getU16(frame + 1, ByteOrder::bigEndian)};
    }
    return {};
}

bool holdsExif(const SourceBytes& bytes, const JpegSegment& segment) {
    static const std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    std::uint8_t payload[6];
    return segment.marker == kApp1Marker && segment.length >= 2 + sizeof payload &&
           bytes.copy(segment.offset + 4, payload, sizeof payload) == sizeof payload &&
           std::memcmp(payload, kExif, sizeof kExif) == 0;
}

}  // namespace tagloom
