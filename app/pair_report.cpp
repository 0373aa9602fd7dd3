#include "app/pair_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/display.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/tag_names.h"

namespace tagloom {

namespace {

constexpr std::size_t kMostValuesShown = 8;

bool printable(const std::uint8_t* data, std::size_t size) {
    while (size > 0 && data[size - 1] == 0) --size;  // a text's terminator
    if (size == 0) return false;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < 0x20 || data[i] > 0x7E) return false;
    }
    return true;
}

/// The length of the valid UTF-8 sequence of more than one byte at `data` (no overlong forms, no
/// surrogates); 0 where none begins there.
std::size_t utf8Sequence(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t lead = data[0];
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                                ? 4
                                                                                              : 0;
    if (length == 0 || length > size) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((data[k] & 0xC0) != 0x80) return 0;
    }
    if (length == 3 && ((lead == 0xE0 && data[1] < 0xA0) || (lead == 0xED && data[1] >= 0xA0))) return 0;
    if (length == 4 && ((lead == 0xF0 && data[1] < 0x90) || (lead == 0xF4 && data[1] >= 0x90))) return 0;
    return length;
}

/// Text as a terminal line shows it safely: quoted; control characters (C1 too), quotes, backslashes
/// and bytes that are not UTF-8 escaped; cut behind its first 64 bytes.
std::string quoted(const std::string& value) {
    constexpr std::size_t kMostShown = 64;
    const auto* data = reinterpret_cast<const std::uint8_t*>(value.data());
    std::string shown = "\"";
    std::size_t i = 0;
    while (i < value.size() && i < kMostShown) {
        const std::size_t sequence = utf8Sequence(data + i, value.size() - i);
        const bool control = sequence == 2 && data[i] == 0xC2 && data[i + 1] < 0xA0;  // U+0080 to U+009F
        if (sequence > 0 && !control) {
            shown.append(value, i, sequence);
            i += sequence;
            continue;
        }
        const std::uint8_t byte = data[i++];
        char escaped[8];
        if (byte == '\n') std::snprintf(escaped, sizeof escaped, "\\n");
        else if (byte == '\t') std::snprintf(escaped, sizeof escaped, "\\t");
        else if (byte == '\r') std::snprintf(escaped, sizeof escaped, "\\r");
        else if (byte == '"' || byte == '\\') std::snprintf(escaped, sizeof escaped, "\\%c", byte);
        else if (byte < 0x20 || byte >= 0x7F) std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        else std::snprintf(escaped, sizeof escaped, "%c", byte);
        shown += escaped;
    }
    shown += "\"";
    if (i < value.size()) shown += "... (" + std::to_string(value.size()) + " bytes)";
    return shown;
}

ShownValue text(const std::uint8_t* data, std::size_t size) {
    std::size_t length = 0;
    while (length < size && data[length] != 0) ++length;
    const std::string value(reinterpret_cast<const char*>(data), length);
    return {quoted(value), losslessUtf8(value), ""};
}

ShownValue bytes(std::size_t size) {
    const std::string shown = "(" + std::to_string(size) + " bytes)";
    return {shown, shown, ""};
}

/// True for the entry of `directory` that leads to another top directory (or is the maker note).
bool leadsToDirectory(const CExifImage& image, const CExifDirectory& directory, const CExifEntry& entry) {
    for (const TopDirectory& top : kTopDirectories) {
        if (top.holder != nullptr && &(image.*top.holder) == &directory && top.pointerTag == entry.tag) return true;
    }
    return entry.isPointer;
}

/// The value of one entry's bytes in `order`.
ShownValue storedValue(const CExifEntry& entry, bool pointer, std::uint16_t type, const std::uint8_t* data,
                       std::size_t size, ByteOrder order) {
    if (pointer) return {"(directory)", "(directory)", ""};
    if (entry.carried) return bytes(size);
    using namespace fieldType;
    if (type == kAscii) return text(data, size);
    const std::uint32_t unit = exif::typeUnitSize(type);
    const bool numeric = type != kByte && type != kUndefined && type >= kShort && type <= kIfd;
    if (!numeric) return printable(data, size) ? text(data, size) : bytes(size);
    const std::size_t values = size / unit;
    std::string shown;
    nlohmann::json number;
    for (std::size_t i = 0; i < values && i < kMostValuesShown; ++i) {
        const std::uint8_t* at = data + i * unit;
        char one[64];
        switch (type) {
            case kShort: std::snprintf(one, sizeof one, "%u", unsigned(getU16(at, order))); number = getU16(at, order); break;
            case kSShort: std::snprintf(one, sizeof one, "%d", int(std::int16_t(getU16(at, order)))); number = std::int16_t(getU16(at, order)); break;
            case kLong:
            case kIfd: std::snprintf(one, sizeof one, "%" PRIu32, getU32(at, order)); number = getU32(at, order); break;
            case kSLong: std::snprintf(one, sizeof one, "%" PRId32, std::int32_t(getU32(at, order))); number = std::int32_t(getU32(at, order)); break;
            case kSByte: std::snprintf(one, sizeof one, "%d", int(std::int8_t(at[0]))); number = std::int8_t(at[0]); break;
            case kRational: std::snprintf(one, sizeof one, "%" PRIu32 "/%" PRIu32, getU32(at, order), getU32(at + 4, order)); break;
            case kSRational:
                std::snprintf(one, sizeof one, "%" PRId32 "/%" PRId32, std::int32_t(getU32(at, order)),
                              std::int32_t(getU32(at + 4, order)));
                break;
            case kFloat: {
                float value = 0;
                const std::uint32_t raw = getU32(at, order);
                std::memcpy(&value, &raw, sizeof value);
                std::snprintf(one, sizeof one, "%g", double(value));
                break;
            }
            default: {
                double value = 0;
                const std::uint64_t raw = (std::uint64_t(getU32(at, order)) << (order == ByteOrder::bigEndian ? 32 : 0)) |
                                          (std::uint64_t(getU32(at + 4, order)) << (order == ByteOrder::bigEndian ? 0 : 32));
                std::memcpy(&value, &raw, sizeof value);
                std::snprintf(one, sizeof one, "%g", value);
                break;
            }
        }
        shown += (i == 0 ? "" : " ") + std::string(one);
    }
    if (values > kMostValuesShown) shown += " ... (" + std::to_string(values) + " values)";
    if (values == 0) return bytes(size);
    if (values == 1 && !number.is_null()) return {shown, number, ""};
    return {shown, shown, ""};
}

/// The value of one entry's bytes in `order`, with its display.
ShownValue showValue(const CExifEntry& entry, bool pointer, std::uint16_t type, const std::uint8_t* data,
                     std::size_t size, ByteOrder order) {
    ShownValue shown = storedValue(entry, pointer, type, data, size, order);
    if (pointer || entry.carried) return shown;
    const Display display = displayOf(*entry.directory, entry.tag, type, data, size, order);
    shown.display = display.isText ? quoted(display.words) : display.words;
    return shown;
}

std::string hex(std::uint16_t tag) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", tag);
    return text;
}

void addLines(std::vector<DiffLine>& lines, const CExifImage& image, const CExifDirectory& directory, TagTable table) {
    const ByteOrder order = image.orderOf(directory);
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        const std::string action = changeWord(*entry);
        if (action.empty()) continue;
        DiffLine line{action, directory.name(), hex(entry->tag), "", std::nullopt, std::nullopt};
        const char* standard = standardTagName(table, entry->tag);
        line.name = standard != nullptr ? standard : directory.name() + ":" + hex(entry->tag);
        const bool pointer = leadsToDirectory(image, directory, *entry);
        const ShownValue now = showValue(*entry, pointer, entry->type, entry->data.data(), entry->size, order);
        if (action == "add") line.after = now;
        if (action == "remove") line.before = now;
        if (action == "change") {
            line.after = now;
            if (entry->previous)
                line.before = showValue(*entry, pointer, entry->previous->type, entry->previous->data.data(),
                                        entry->previous->data.size(), order);
        }
        lines.push_back(std::move(line));
    }
}

}  // namespace

std::vector<DiffLine> diffLines(const CExifImage& destination) {
    std::vector<DiffLine> lines;
    for (const TopDirectory& top : kTopDirectories) {
        for (const CExifDirectory* directory = &(destination.*top.directory); directory != nullptr;
             directory = directory->next.get())
            addLines(lines, destination, *directory, top.names);
    }
    return lines;
}

bool printResultLine(const Reporter& report, const CExifImage& image) {
    if (image.diffCount == 0) {
        report.line("%s - no diffs\n", image.path.c_str());
        return false;
    }
    report.line("%s - %d diffs\n", image.path.c_str(), image.diffCount);
    return true;
}

void printDiffLines(const Reporter& reporter, const std::vector<DiffLine>& lines) {
    for (const DiffLine& line : lines) {
        const auto withDisplay = [](const ShownValue& shown) {
            return shown.display.empty() ? shown.text : shown.text + " (" + shown.display + ")";
        };
        std::string value;
        if (line.before && line.after) value = withDisplay(*line.before) + " -> " + withDisplay(*line.after);
        else value = line.after ? withDisplay(*line.after) : line.before ? withDisplay(*line.before) : "";
        reporter.line("  %-7s %-5s %-21s %s\n", line.action.c_str(), line.directory.c_str(), line.name.c_str(),
                      value.c_str());
    }
}

std::string losslessUtf8(const std::string& bytes) {
    std::string out;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    for (std::size_t i = 0; i < size;) {
        const std::uint8_t lead = data[i];
        const std::size_t length = lead < 0x80 ? 1 : utf8Sequence(data + i, size - i);
        if (length != 0) {
            out.append(bytes, i, length);
            i += length;
            continue;
        }
        out += static_cast<char>(0xC0 | (lead >> 6));  // the byte's own value as a code point
        out += static_cast<char>(0x80 | (lead & 0x3F));
        ++i;
    }
    return out;
}

std::string toJsonLine(const PairReport& report) {
    nlohmann::json object;
    if (!report.source.empty()) object["source"] = losslessUtf8(report.source);
    if (!report.destination.empty()) object["destination"] = losslessUtf8(report.destination);
    object["result"] = report.result;
    if (!report.reason.empty()) object["reason"] = losslessUtf8(report.reason);
    object["diffs"] = nlohmann::json::array();
    for (const DiffLine& line : report.diffs) {
        object["diffs"].push_back({{"action", line.action},
                                   {"directory", line.directory},
                                   {"tag", line.tag},
                                   {"name", line.name},
                                   {"old", line.before ? line.before->json : nullptr},
                                   {"new", line.after ? line.after->json : nullptr}});
        const bool before = line.before && !line.before->display.empty(), after = line.after && !line.after->display.empty();
        if (before || after) {
            object["diffs"].back()["display"] = {{"old", before ? nlohmann::json(losslessUtf8(line.before->display)) : nullptr},
                                                 {"new", after ? nlohmann::json(losslessUtf8(line.after->display)) : nullptr}};
        }
    }
    object["left_behind"] = nlohmann::json::array();
    for (const auto& [part, reason] : report.leftBehind) object["left_behind"].push_back({{"part", part}, {"reason", reason}});
    if (!report.notes.empty()) {
        object["notes"] = nlohmann::json::array();
        for (const std::string& note : report.notes) object["notes"].push_back(losslessUtf8(note));
    }
    return object.dump();
}

}  // namespace tagloom
