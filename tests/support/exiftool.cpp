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
    return readWithExiftool(std::vector<std::string>{path}).at(path);
}

namespace {

std::string quotedList(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& path : paths) list += " '" + path + "'";
    return list;
}

/// Splits exiftool's output for several files at its "======== path" lines.
std::map<std::string, std::string> perFile(const std::vector<std::string>& paths, const std::string& output) {
    std::map<std::string, std::string> parts;
    if (paths.size() == 1) {
        parts[paths[0]] = output;
        return parts;
    }
    std::istringstream lines(output);
    std::string current;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("======== ", 0) == 0) {
            current = line.substr(9);
        } else if (!current.empty()) {
            parts[current] += line + "\n";
        }
    }
    return parts;
}

void parseListing(const std::string& output, ExiftoolView& view) {
    std::istringstream listing(output);
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
}

}  // namespace

std::map<std::string, ExiftoolView> readWithExiftool(const std::vector<std::string>& paths) {
    std::map<std::string, ExiftoolView> views;
    const std::string list = quotedList(paths);
    const auto listings = perFile(paths, commandOutput("exiftool -v2" + list + " 2>&1"));
    const auto validations = perFile(paths, commandOutput("exiftool -validate -warning -a" + list + " 2>&1"));
    for (const std::string& path : paths) {
        ExiftoolView& view = views[path];
        if (listings.count(path) != 0) parseListing(listings.at(path), view);
        view.validation = validations.count(path) != 0 ? validations.at(path) : "exiftool printed nothing";
    }
    return views;
}

std::map<std::string, std::string> thumbnailsWithExiftool(const std::vector<std::string>& paths) {
    return binaryWithExiftool("IFD1:ThumbnailImage", paths);
}

std::map<std::string, std::string> binaryWithExiftool(const std::string& tag, const std::vector<std::string>& paths) {
    std::map<std::string, std::string> values;
    for (const std::string& path : paths) values[path] = "";
    const std::string json = commandOutput("exiftool -j -b -" + tag + quotedList(paths) + " 2>/dev/null");
    // Each record: "SourceFile": "<path>", then the tag's "<name>": "base64:..." where the file has it.
    // Read by hand: the values run to megabytes, too long for a regular expression's recursion.
    const std::string name = "\"" + tag.substr(tag.find(':') == std::string::npos ? 0 : tag.find(':') + 1) + "\": \"";
    const std::string source = "\"SourceFile\": \"";
    for (std::size_t at = json.find(source); at != std::string::npos;) {
        const std::size_t pathStart = at + source.size();
        const std::size_t pathEnd = json.find('"', pathStart);
        if (pathEnd == std::string::npos) break;
        const std::size_t next = json.find(source, pathEnd);
        const std::size_t value = json.find(name, pathEnd);
        if (value != std::string::npos && value < next) {
            const std::size_t valueStart = value + name.size();
            values[json.substr(pathStart, pathEnd - pathStart)] = json.substr(valueStart, json.find('"', valueStart) - valueStart);
        }
        at = next;
    }
    return values;
}

std::string keptValues(const std::string& listing, const std::set<std::string>& left, bool makerNotes) {
    std::set<std::string> skipped = {"ExifOffset", "GPSInfo", "InteropOffset", "ThumbnailOffset", "Software",
                                     "ExifImageWidth", "ExifImageHeight", "[IFD1]", "[CIFF]", "[Qualcomm]"};
    skipped.insert(left.begin(), left.end());
    std::istringstream lines(listing);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string group, name;
        fields >> group >> name;
        const bool note = !makerNotes && name.rfind("MakerNote", 0) == 0;
        if (line.rfind('[', 0) != 0) continue;  // exiftool's count of files read
        const bool ownSize = group == "[IFD0]" && (name == "ImageWidth" || name == "ImageHeight");
        if (skipped.count(name) == 0 && skipped.count(group) == 0 && !note && !ownSize) kept += line + "\n";
    }
    return kept;
}

const char* valueGroups(bool makerNotes) { return makerNotes ? "-a -G1 -n -U -s -EXIF:all -MakerNotes:all" : "-a -G1 -n -U -s -EXIF:all"; }

const std::vector<std::string> kCameraPhotos = {
    "Canon.jpg", "22-canon_tags.jpg", "canon-ixus.jpg", "GPS.jpg", "Nikon.jpg", "ExifTool.jpg", "Canon_40D.jpg",
    "FLIR.jpg", "XMP.jpg", "Olympus.jpg", "Olympus2.jpg", "FujiFilm.jpg", "Panasonic.jpg", "Sony.jpg", "Sanyo.jpg",
    "Sigma.jpg", "DSCN0010.jpg", "87_OSError.jpg", "Apple.jpg", "Casio.jpg", "Casio2.jpg", "Kodak.jpg",
    "Minolta.jpg", "Motorola.jpg", "NikonD70.jpg", "Pentax.jpg", "no_exif.jpg", "NikonD2Hs.jpg",
    "NikonCaptureNX.jpg", "GE.jpg", "GoPro.jpg", "JVC.jpg", "kodak-dc210.jpg", "OlympusE1.jpg"};

std::map<std::string, std::string> exiftoolPerFile(const std::string& options, const std::vector<std::string>& paths) {
    return perFile(paths, commandOutput("exiftool " + options + quotedList(paths) + " 2>&1"));
}

}  // namespace fixture
