// Values as a camera's display shows them (f/2.8, 1/60 s, 34° 3' 34.59" N), for the tags people look
// at; --explain prints them behind the stored value, --json as each value's display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "exif/byte_order.h"

namespace tagloom {

class CExifDirectory;

struct Display {
    std::string words;    // empty where the tag has no such form
    bool isText = false;  // decoded text (UserComment, the XP tags), shown quoted
};

/// The value of `tag` in `directory` (its reference entries, GPSLatitudeRef and the like, read from
/// there) as people read it; a zero denominator reads "unknown".
Display displayOf(const CExifDirectory& directory, std::uint16_t tag, std::uint16_t type, const std::uint8_t* data,
                  std::size_t size, ByteOrder order);

}  // namespace tagloom
