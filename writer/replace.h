// Replacing a user's file with new content, durably. Nothing here knows what the bytes mean: the
// new content is complete and on disk under a temporary name before it takes the file's name, and at
// every instant that name holds the whole old file or the whole new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tagloom {

/// The buffer through which bytes are copied where the kernel cannot copy them.
struct CopyBuffer {
    std::uint8_t* bytes;
    std::size_t size;
};

/// A file to be replaced, and how.
struct Replacement {
    const std::string& path;
    platform::File& original;              // open since it was read; locked here until the swap is done
    const platform::FileStatus& loaded;    // the file as it was when read
    bool keepBackup = false;               // keep the old file as "<path>.old"
    bool keepTime = false;                 // the new file keeps the old modification time
    CopyBuffer buffer;
    platform::FileSystem& files;           // every step whose failure or interruption must be survived
};

/// What became of a replacement that was not refused.
struct ReplaceOutcome {
    bool updated = false;  // the new file is in place
    std::string warning;   // what failed after that, for a report line
};

/// Claims the file (its lock; unchanged since it was read; what an interrupted run left removed),
/// writes `content` under "<path>.tmp", gives it the old file's owner, mode, access list (and time),
/// flushes it to disk and renames it over the file, keeping "<path>.old" first where asked. A refusal
/// throws CExifException; the file is then as it was, and no temporary file stays.
ReplaceOutcome replaceFile(const Replacement& file, const std::vector<platform::Piece>& content);

/// The same up to the temporary file, which keeps `content` for inspection; nothing is renamed.
void leaveTemporary(const Replacement& file, const std::vector<platform::Piece>& content);

}  // namespace tagloom
