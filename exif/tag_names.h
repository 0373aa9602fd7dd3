// The names of the standard tags (TIFF 6.0, Exif 2.32, GPS and interoperability), as the standards
// give them: for the report in words, and for choosing tags by name.
#pragma once

#include <cstdint>
#include <string>

namespace tagloom {

/// Which table a directory's tags are named by; none for a maker note's.
enum class TagTable { main, gps, interop, none };

struct TagName {
    TagTable table;
    std::uint16_t tag;
    const char* name;
};

/// The standard name of `tag` in `table`; none where the standards name no such tag.
const char* standardTagName(TagTable table, std::uint16_t tag);

/// The table entry whose name is `name` (ASCII case ignored); none.
const TagName* tagNamed(const std::string& name);

}  // namespace tagloom
