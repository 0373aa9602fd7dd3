// The trace switch: which traces a run prints. The run driver sets it from the command line.
#pragma once

#include <cstdint>

/// Bits of the trace mask.
namespace verbose {
constexpr std::int32_t kDiffs = 1;    // diff listing
constexpr std::int32_t kRewrite = 2;  // rewrite trace
constexpr std::int32_t kParse = 4;    // parse trace
}  // namespace verbose

/// Which traces are printed from now on (0: none).
void setTraceMask(std::int32_t mask);

/// Prints printf-style to standard output when `mask` shares a bit with the trace mask.
void printVerbose(std::int32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
