// Text comparisons that file names need. Case is folded for ASCII letters only: a name's other
// bytes are compared as they are, whatever the locale.
#pragma once

#include <string>
#include <string_view>

namespace tagloom {

inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

inline std::string foldAsciiCase(std::string text) {
    for (char& c : text) c = lowerAscii(c);
    return text;
}

/// The extension of a file's name (the last part of a path): its text from its last '.'; none for a
/// name without one or that starts with it (".profile").
inline std::string extensionOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = path.find_last_of('.');
    return dot == std::string::npos || dot <= name ? std::string() : path.substr(dot);
}

inline bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace tagloom
