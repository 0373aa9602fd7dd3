#include "app/progress.h"

#include <chrono>
#include <utility>

namespace tagloom {

namespace {
constexpr double kQuietStart = 1.0;   // seconds before the line first shows
constexpr double kBetweenLines = 0.1;  // seconds between two lines
}  // namespace

ProgressLine::ProgressLine(std::FILE* out, bool shown, Clock clock)
    : out_(out), shown_(shown), clock_(std::move(clock)), start_(shown ? clock_() : 0) {}

double ProgressLine::steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ProgressLine::update(std::size_t done, std::size_t found, int rewritten, int refused) {
    if (!shown_) return;
    const double now = clock_();
    // A line that output cleared comes back at once; one that shows changes at most ten times a second.
    if (now - start_ < kQuietStart || (showing_ && now - last_ < kBetweenLines)) return;
    last_ = now;
    std::fprintf(out_, "\rtagloom: %zu of %zu pairs, %d rewritten, %d refused\x1b[K", done, found, rewritten, refused);
    std::fflush(out_);
    showing_ = true;
}

void ProgressLine::clear() {
    if (!showing_) return;
    std::fprintf(out_, "\r\x1b[K");
    std::fflush(out_);
    showing_ = false;
}

}  // namespace tagloom
