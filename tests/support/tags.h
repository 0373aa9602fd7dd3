// Tags the tests name: the format's own (exif/format.h), and a few more that only tests need.
#pragma once

#include <cstdint>

#include "exif/format.h"

namespace fixture::tags {
using namespace tagloom::tag;                    // kMake, kModel, kOrientation, kSoftware, kExifIfdPointer ...
constexpr std::uint16_t kArtist = 0x013B;        // 315, IFD0
constexpr std::uint16_t kCopyright = 0x8298;     // IFD0
constexpr std::uint16_t kExposureTime = 0x829A;  // Exif sub-directory
constexpr std::uint16_t kFlash = 0x9209;         // Exif sub-directory
constexpr std::uint16_t kXpComment = 0x9C9C;     // any directory; counted in units of 2 bytes
}  // namespace fixture::tags
