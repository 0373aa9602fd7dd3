// The one failure type of loading and rewriting: a message, and the file it concerns.
#pragma once

#include <string>

namespace tagloom {

/// Thrown by pointer (`throw new CExifException(...)`); the pair handler owns and deletes it.
/// `load` fills in `fileName` on the way out; a rewrite failure leaves it empty.
class CExifException {
public:
    /// Formats the message printf-style.
    explicit CExifException(const char* format, ...) __attribute__((format(printf, 2, 3)));

    std::string fileName;
    std::string message;
    bool located = false;  // the message names where in the file the fault lies
};

}  // namespace tagloom
