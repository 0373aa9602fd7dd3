// The state of one run, made by the run driver and handed to what needs it: the options, the two
// paths, the counters, the copy buffer, the reporter every line of output goes through, and the
// file system the rewrites use. Nothing of a run lives anywhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "exif/report.h"
#include "app/options.h"
#include "platform/platform.h"
#include "writer/rewrite.h"

namespace tagloom {

constexpr std::size_t kCopyBufferSize = 0x100000;  // 1 MiB

struct RunContext {
    explicit RunContext(platform::FileSystem& fileSystem = platform::systemFileSystem(),
                        const Reporter& output = Reporter())
        : reporter(output), files(fileSystem) {}

    /// What a rewrite of this run is handed.
    Rewriting rewriting() { return Rewriting{Options, CopyBuffer{copyBuffer.data(), copyBuffer.size()}, reporter, files}; }

    TagloomOptions Options;
    std::string Src;
    std::string Dst;
    std::int32_t filesFound = 0;
    std::int32_t filesChecked = 0;
    std::int32_t filesUpdated = 0;
    /// The one buffer through which image data is copied when the kernel cannot copy it; made at start-up.
    std::vector<std::uint8_t> copyBuffer;
    Reporter reporter;
    platform::FileSystem& files;
    /// Where --json writes its objects (the reporter then prints nothing), and the notes of a line
    /// that belongs to the next pair (a photo put back from its backup).
    Reporter results;
    std::vector<std::string> notes;
    std::int32_t refusals = 0;  // pairs whose destination was to be rewritten and was not
    /// Files that this run refused or passed over and that --all-formats reads.
    std::set<std::string> readableWithAllFormats;
};

}  // namespace tagloom
