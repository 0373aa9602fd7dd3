// The progress line of a folder run on a terminal: pairs done of pairs found, rewritten and refused so
// far, rewritten in place and cleared at the end.
#pragma once

#include <cstdio>
#include <functional>

namespace tagloom {

class ProgressLine {
public:
    /// Seconds since some fixed moment.
    using Clock = std::function<double()>;

    /// Shows nothing unless `shown` (a terminal, and no --json); nothing either during the run's first
    /// second; a shown line changes at most ten times a second.
    ProgressLine(std::FILE* out, bool shown, Clock clock = steadySeconds);

    void update(std::size_t done, std::size_t found, int rewritten, int refused);
    /// Clears the line, where it shows one, so that a line of output can take its place.
    void clear();

    static double steadySeconds();

private:
    std::FILE* out_;
    bool shown_;
    Clock clock_;
    double start_;
    double last_ = -1;
    bool showing_ = false;
};

}  // namespace tagloom
