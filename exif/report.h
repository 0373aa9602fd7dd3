// Where a run's output goes: every result line, report line and trace of a run is printed through
// its Reporter, which the run driver hands to the parser, the merge and the writer.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tagloom {

/// Bits of the trace mask.
namespace verbose {
constexpr std::int32_t kDiffs = 1;    // diff listing
constexpr std::int32_t kRewrite = 2;  // rewrite trace
constexpr std::int32_t kParse = 4;    // parse trace
}  // namespace verbose

class Reporter {
public:
    /// Prints to `out` (nowhere when none), traces under `traceMask`.
    explicit Reporter(std::FILE* out = stdout, std::int32_t traceMask = 0) : out_(out), traceMask_(traceMask) {}

    /// A reporter that prints nothing: for loads and merges whose lines nobody reads.
    static const Reporter& quiet();

    void setTraceMask(std::int32_t mask) { traceMask_ = mask; }
    std::int32_t traceMask() const { return traceMask_; }

    /// A result or report line, printf-style.
    void line(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    /// Printed printf-style when `mask` shares a bit with the trace mask.
    void trace(std::int32_t mask, const char* format, ...) const __attribute__((format(printf, 3, 4)));

private:
    std::FILE* out_;
    std::int32_t traceMask_;
};

}  // namespace tagloom
