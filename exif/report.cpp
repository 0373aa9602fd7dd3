#include "exif/report.h"

#include <cstdarg>

namespace tagloom {

const Reporter& Reporter::quiet() {
    static const Reporter nothing(nullptr, 0);
    return nothing;
}

void Reporter::line(const char* format, ...) const {
    if (out_ == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(out_, format, arguments);
    va_end(arguments);
}

void Reporter::trace(std::int32_t mask, const char* format, ...) const {
    if ((mask & traceMask_) == 0 || out_ == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(out_, format, arguments);
    va_end(arguments);
}

}  // namespace tagloom
