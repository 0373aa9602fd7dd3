// How a destination is rewritten, as the command line says.
#pragma once

#include <cstdint>

namespace tagloom {

struct WriteOptions {
    std::int32_t keepBackup = 0;  // -s: keep the ".old" backup of each rewritten destination
    bool keepTime = false;        // --keep-time: the rewritten file keeps the old modification time
    bool allFormats = false;      // --all-formats: read back in that reading; name the file in every refusal line
};

}  // namespace tagloom
