// The state of one run, owned by the run driver: the options, the two paths, the counters and the
// copy buffer. Set up by the command line; the merge and the writer are handed what they need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "exif/trace.h"
#include "merge/options.h"

extern TagloomOptions Options;
extern std::string Src;
extern std::string Dst;
extern std::int32_t filesFound;
extern std::int32_t filesChecked;
extern std::int32_t filesUpdated;

constexpr std::size_t kCopyBufferSize = 0x100000;  // 1 MiB
/// The one buffer through which image data is copied when the kernel cannot copy it; made at start-up.
extern std::uint8_t* copyBuffer;

/// Back to the state at process start (the copy buffer stays). For tests that run several times in one process.
void resetRunState();
