// Tags the tests name, beside the ones the format itself names (exif/format.h).
#pragma once

#include <cstdint>

namespace fixture::tags {
constexpr std::uint16_t kImageWidth = 0x0100;    // 256, IFD0
constexpr std::uint16_t kMake = 0x010F;          // 271, IFD0
constexpr std::uint16_t kModel = 0x0110;         // 272, IFD0
constexpr std::uint16_t kOrientation = 0x0112;   // 274, IFD0
constexpr std::uint16_t kSoftware = 0x0131;      // 305, IFD0
constexpr std::uint16_t kArtist = 0x013B;        // 315, IFD0
constexpr std::uint16_t kCopyright = 0x8298;     // IFD0
constexpr std::uint16_t kExposureTime = 0x829A;  // Exif sub-directory
constexpr std::uint16_t kFlash = 0x9209;         // Exif sub-directory
constexpr std::uint16_t kXpComment = 0x9C9C;     // any directory; counted in units of 2 bytes
constexpr std::uint16_t kExifPointer = 0x8769;
constexpr std::uint16_t kGpsPointer = 0x8825;
constexpr std::uint16_t kMakerNote = 0x927C;
constexpr std::uint16_t kInteropPointer = 0xA005;
constexpr std::uint16_t kThumbnailOffset = 0x0201;  // IFD1
constexpr std::uint16_t kThumbnailLength = 0x0202;  // IFD1
}  // namespace fixture::tags
