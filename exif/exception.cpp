#include "exif/exception.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tagloom {

CExifException::CExifException(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, arguments);
        message.assign(text.data(), static_cast<std::size_t>(length));
    }
    va_end(arguments);
}

}  // namespace tagloom
