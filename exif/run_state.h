// Process-wide state of one run: the options, the two paths, the counters and the copy buffer.
// Set up by the command line, read everywhere else.
#pragma once

#include <cstdint>
#include <string>

/// One field per flag; each of the first six is set to 1 by its flag and never back to 0.
struct TagloomOptions {
    std::int32_t recurse = 0;         // -r: also walk the sub-folders of Src
    std::int32_t copyMismatched = 0;  // -u: replace destination entries whose data differ
    std::int32_t overwrite = 0;       // -o: remove destination entries that the source lacks
    std::int32_t keepBackup = 0;      // -s: keep the ".old" backup of each rewritten destination
    std::int32_t showOnly = 0;        // -x: never rewrite; also turns on bit 1 of verboseMask
    std::int32_t dropThumbnail = 0;   // -t: remove the thumbnail directory (IFD1)
    std::int32_t verboseMask = 0;     // -v: which traces are printed
};

/// Bits of verboseMask.
namespace verbose {
constexpr std::int32_t kDiffs = 1;    // diff listing
constexpr std::int32_t kRewrite = 2;  // rewrite trace
constexpr std::int32_t kParse = 4;    // parse trace
}  // namespace verbose

extern TagloomOptions Options;
extern std::string Src;
extern std::string Dst;
extern std::int32_t filesFound;
extern std::int32_t filesChecked;
extern std::int32_t filesUpdated;

constexpr std::size_t kCopyBufferSize = 0x100000;  // 1 MiB
/// The one buffer through which image data is copied when the kernel cannot copy it; made at start-up.
extern std::uint8_t* copyBuffer;

/// Prints printf-style to standard output when `mask` shares a bit with Options.verboseMask.
void printVerbose(std::int32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// Back to the state at process start (the copy buffer stays). For tests that run several times in one process.
void resetRunState();
