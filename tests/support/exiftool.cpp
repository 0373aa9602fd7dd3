#include "tests/support/exiftool.h"

#include <regex>
#include <sstream>
#include <vector>

#include "tests/support/run_tool.h"

namespace fixture {
namespace {

std::size_t barsBefore(const std::string& line) {
    std::size_t bars = 0;
    for (std::size_t i = 2; i + 1 < line.size() && line[i] == '|' && line[i + 1] == ' '; i += 2) ++bars;
    return bars;
}

}  // namespace

const std::map<std::uint16_t, std::string>& ExiftoolView::operator[](const std::string& directory) const {
    static const std::map<std::uint16_t, std::string> none;
    const auto found = directories.find(directory);
    return found == directories.end() ? none : found->second;
}

bool ExiftoolView::has(const std::string& directory, std::uint16_t tag) const {
    return (*this)[directory].count(tag) != 0;
}

bool ExiftoolView::isRepeated(const std::string& directory, std::uint16_t tag) const {
    const auto found = repeated.find(directory);
    return found != repeated.end() && found->second.count(tag) != 0;
}

ExiftoolView readWithExiftool(const std::string& path) {
    ExiftoolView view;
    const std::string quoted = "'" + path + "'";
    std::istringstream listing(commandOutput("exiftool -v2 " + quoted + " 2>&1"));
    const std::regex directoryLine(R"(^  (?:\| )*\+ \[(\w+) directory)");
    const std::regex valueLine(R"(^  (?:\| )*\d+\)\s+(.*)$)");
    const std::regex tagLine(R"(^  (?:\| )*\s+- Tag 0x([0-9a-f]{4}) )");
    std::vector<std::string> stack;
    std::string lastValue;
    std::string line;
    std::smatch match;
    while (std::getline(listing, line)) {
        if (std::regex_search(line, match, directoryLine)) {
            const std::size_t depth = barsBefore(line);
            stack.resize(depth + 1);
            stack[depth] = match[1];
        } else if (std::regex_search(line, match, valueLine)) {
            // Names depend on the camera exiftool takes the file for; the value does not.
            const std::string text = match[1];
            const auto equals = text.find(" = ");
            lastValue = equals == std::string::npos ? std::string() : text.substr(equals + 3);
        } else if (std::regex_search(line, match, tagLine)) {
            const std::size_t depth = barsBefore(line);
            if (depth == 0 || depth > stack.size()) continue;
            const auto tag = static_cast<std::uint16_t>(std::stoul(match[1], nullptr, 16));
            auto& tags = view.directories[stack[depth - 1]];
            if (tags.count(tag) == 0) {
                tags[tag] = lastValue;
            } else {
                view.repeated[stack[depth - 1]].insert(tag);
            }
        }
    }
    view.validation = commandOutput("exiftool -validate -warning -a " + quoted + " 2>&1");
    return view;
}

}  // namespace fixture
