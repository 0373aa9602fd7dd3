#include "exif/trace.h"

#include <cstdarg>
#include <cstdio>

namespace {
std::int32_t traceMask = 0;
}  // namespace

void setTraceMask(std::int32_t mask) { traceMask = mask; }

void printVerbose(std::int32_t mask, const char* format, ...) {
    if ((mask & traceMask) == 0) return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}
