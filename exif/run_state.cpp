#include "exif/run_state.h"

#include <cstdarg>
#include <cstdio>

TagloomOptions Options;
std::string Src;
std::string Dst;
std::int32_t filesFound = 0;
std::int32_t filesChecked = 0;
std::int32_t filesUpdated = 0;
std::uint8_t* copyBuffer = nullptr;

void printVerbose(std::int32_t mask, const char* format, ...) {
    if ((mask & Options.verboseMask) == 0) return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void resetRunState() {
    Options = TagloomOptions{};
    Src.clear();
    Dst.clear();
    filesFound = filesChecked = filesUpdated = 0;
}
