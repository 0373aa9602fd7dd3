#include "exif/jpeg_segments.h"

#include "exif/byte_order.h"

namespace {
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfScan = 0xDA;
}  // namespace

JpegSegments scanSegments(const std::vector<std::uint8_t>& bytes) {
    JpegSegments found;
    std::uint64_t at = 2;  // behind FF D8
    for (;;) {
        if (at >= bytes.size() || bytes[at] != kMarkerPrefix) return found;
        std::uint64_t marker = at + 1;
        while (marker < bytes.size() && bytes[marker] == kMarkerPrefix) ++marker;  // fill bytes
        if (marker + 2 >= bytes.size()) return found;
        JpegSegment segment;
        segment.marker = bytes[marker];
        segment.offset = marker - 1;
        if (segment.marker == kStartOfScan) {
            found.wellFormed = true;
            return found;
        }
        segment.length = getU16(bytes.data() + marker + 1, ByteOrder::bigEndian);
        found.segments.push_back(segment);
        if (segment.length < 2) return found;
        at = segment.end();
    }
}
