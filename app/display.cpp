// Values as a camera's display shows them, derived from the Exif standard's definitions of each tag:
// f/2.8, 1/60 s, +1/3 EV, 34° 3' 34.59" N, "rotate 90° clockwise".
#include "app/display.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "exif/format.h"
#include "exif/image.h"

namespace tagloom {

namespace {

/// A number with at most `decimals` decimals, trailing zeros dropped: 2.8, 35, 34.59.
std::string decimal(double value, int decimals = 1) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string shown = text;
    if (shown.find('.') != std::string::npos) {
        while (shown.back() == '0') shown.pop_back();
        if (shown.back() == '.') shown.pop_back();
    }
    return shown == "-0" ? "0" : shown;
}

/// One stored value's bytes, read by its type.
class Value {
public:
    Value(std::uint16_t type, const std::uint8_t* data, std::size_t size, ByteOrder order)
        : type_(type), data_(data), size_(size), order_(order) {}

    std::size_t count() const {
        const std::uint32_t unit = exif::typeUnitSize(type_);
        return unit == 0 ? 0 : size_ / unit;
    }
    bool isRational() const { return type_ == fieldType::kRational || type_ == fieldType::kSRational; }
    bool isInteger() const {
        return type_ == fieldType::kShort || type_ == fieldType::kLong || type_ == fieldType::kByte;
    }
    /// The i-th integer; false where there is none.
    bool integer(std::size_t i, std::uint32_t& out) const {
        if (!isInteger() || i >= count()) return false;
        const std::uint8_t* at = data_ + i * exif::typeUnitSize(type_);
        out = type_ == fieldType::kShort ? getU16(at, order_) : type_ == fieldType::kLong ? getU32(at, order_) : at[0];
        return true;
    }
    /// The i-th rational as a number; false where there is none or its denominator is 0.
    bool rational(std::size_t i, double& out) const {
        if (!isRational() || i >= count()) return false;
        const std::uint8_t* at = data_ + i * 8;
        const std::uint32_t numerator = getU32(at, order_), denominator = getU32(at + 4, order_);
        if (denominator == 0) return false;
        out = type_ == fieldType::kSRational ? double(std::int32_t(numerator)) / double(std::int32_t(denominator))
                                             : double(numerator) / double(denominator);
        return true;
    }
    std::string bytes() const { return std::string(reinterpret_cast<const char*>(data_), size_); }
    ByteOrder order() const { return order_; }

private:
    std::uint16_t type_;
    const std::uint8_t* data_;
    std::size_t size_;
    ByteOrder order_;
};

struct Named {
    std::uint32_t value;
    const char* words;
};

template <std::size_t N>
std::string named(const Value& value, const Named (&table)[N]) {
    std::uint32_t number = 0;
    if (!value.integer(0, number)) return "";
    for (const Named& row : table) {
        if (row.value == number) return row.words;
    }
    return "unknown (" + std::to_string(number) + ")";
}

constexpr Named kOrientations[] = {{1, "upright"},
                                   {2, "mirrored left to right"},
                                   {3, "rotate 180°"},
                                   {4, "mirrored top to bottom"},
                                   {5, "mirrored, rotate 270° clockwise"},
                                   {6, "rotate 90° clockwise"},
                                   {7, "mirrored, rotate 90° clockwise"},
                                   {8, "rotate 270° clockwise"}};
constexpr Named kResolutionUnits[] = {{1, "no unit"}, {2, "inches"}, {3, "centimetres"}};
constexpr Named kPositionings[] = {{1, "centred"}, {2, "co-sited"}};
constexpr Named kPrograms[] = {{0, "not defined"},      {1, "manual"},          {2, "normal program"},
                               {3, "aperture priority"}, {4, "shutter priority"}, {5, "creative program"},
                               {6, "action program"},    {7, "portrait mode"},     {8, "landscape mode"}};
constexpr Named kMetering[] = {{0, "unknown"}, {1, "average"}, {2, "centre-weighted average"}, {3, "spot"},
                               {4, "multi-spot"}, {5, "pattern"}, {6, "partial"}, {255, "other"}};
constexpr Named kWhiteBalances[] = {{0, "auto"}, {1, "manual"}};
constexpr Named kLightSources[] = {{0, "unknown"}, {1, "daylight"}, {2, "fluorescent"}, {3, "tungsten"},
                                   {4, "flash"}, {9, "fine weather"}, {10, "cloudy"}, {11, "shade"},
                                   {12, "daylight fluorescent"}, {13, "day white fluorescent"},
                                   {14, "cool white fluorescent"}, {15, "white fluorescent"},
                                   {16, "warm white fluorescent"}, {17, "standard light A"}, {18, "standard light B"},
                                   {19, "standard light C"}, {20, "D55"}, {21, "D65"}, {22, "D75"}, {23, "D50"},
                                   {24, "ISO studio tungsten"}, {255, "other"}};
constexpr Named kScenes[] = {{0, "standard"}, {1, "landscape"}, {2, "portrait"}, {3, "night scene"}};
constexpr Named kColorSpaces[] = {{1, "sRGB"}, {0xFFFF, "uncalibrated"}};

std::string fNumber(const Value& value) {
    double number = 0;
    return value.rational(0, number) ? "f/" + decimal(number) : value.isRational() ? "unknown" : "";
}

/// 1/60 s below a quarter second, 2.5 s from there on.
std::string exposureTime(const Value& value) {
    double seconds = 0;
    if (!value.rational(0, seconds)) return value.isRational() ? "unknown" : "";
    if (seconds > 0 && seconds < 0.25) return "1/" + decimal(1 / seconds, 0) + " s";
    return decimal(seconds) + " s";
}

std::string millimetres(const Value& value) {
    double length = 0;
    std::uint32_t whole = 0;
    if (value.rational(0, length)) return decimal(length) + " mm";
    if (value.integer(0, whole)) return whole == 0 ? "unknown" : std::to_string(whole) + " mm";
    return value.isRational() ? "unknown" : "";
}

/// In thirds or halves of a stop where it is one: +1/3 EV, -1 1/2 EV, 0 EV; else one decimal.
std::string exposureBias(const Value& value) {
    double stops = 0;
    if (!value.rational(0, stops)) return value.isRational() ? "unknown" : "";
    if (std::fabs(stops) < 0.005) return "0 EV";
    const std::string sign = stops < 0 ? "-" : "+";
    for (int parts : {3, 2}) {
        const double scaled = std::fabs(stops) * parts;
        const long rounded = std::lround(scaled);
        if (std::fabs(scaled - double(rounded)) > 0.05 * parts) continue;
        const long whole = rounded / parts, rest = rounded % parts;
        std::string shown = sign;
        if (whole != 0) shown += std::to_string(whole) + (rest != 0 ? " " : "");
        if (rest != 0) shown += std::to_string(rest) + "/" + std::to_string(parts);
        return shown + " EV";
    }
    return sign + decimal(std::fabs(stops)) + " EV";
}

std::string iso(const Value& value) {
    std::uint32_t speed = 0;
    return value.integer(0, speed) ? "ISO " + std::to_string(speed) : "";
}

std::string flash(const Value& value) {
    std::uint32_t bits = 0;
    if (!value.integer(0, bits)) return "";
    if ((bits & 0x20) != 0) return "no flash function";
    std::string shown = (bits & 1) != 0 ? "fired" : "did not fire";
    static const char* const kModes[] = {"", ", compulsory", ", suppressed", ", auto"};
    shown += kModes[(bits >> 3) & 3];
    if (((bits >> 1) & 3) == 2) shown += ", return not detected";
    if (((bits >> 1) & 3) == 3) shown += ", return detected";
    if ((bits & 0x40) != 0) shown += ", red-eye reduction";
    return shown;
}

/// "0232" as 2.32, "0100" as 1.0.
std::string version(const Value& value) {
    const std::string digits = value.bytes();
    if (digits.size() != 4 || digits.find_first_not_of("0123456789") != std::string::npos) return "";
    std::string minor = digits.substr(2);
    if (minor.back() == '0') minor.pop_back();
    return std::to_string(std::stoi(digits.substr(0, 2))) + "." + minor;
}

/// UCS-2 code units as UTF-8, up to the first zero; a lone surrogate as U+FFFD.
std::string fromUcs2(const std::string& bytes, ByteOrder order) {
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto* at = reinterpret_cast<const std::uint8_t*>(bytes.data() + i);
        std::uint32_t unit = getU16(at, order);
        if (unit == 0) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = getU16(at + 2, order);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        if (unit < 0x80) {
            text += char(unit);
        } else if (unit < 0x800) {
            text += char(0xC0 | unit >> 6), text += char(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            text += char(0xE0 | unit >> 12), text += char(0x80 | (unit >> 6 & 0x3F)), text += char(0x80 | (unit & 0x3F));
        } else {
            text += char(0xF0 | unit >> 18), text += char(0x80 | (unit >> 12 & 0x3F)), text += char(0x80 | (unit >> 6 & 0x3F)),
                text += char(0x80 | (unit & 0x3F));
        }
    }
    return text;
}

/// The text behind UserComment's 8-byte character code: ASCII (or none given) as it is, Unicode as
/// UCS-2 in the file's byte order; trailing NULs and spaces dropped. JIS is not decoded.
bool userComment(const Value& value, std::string& text) {
    const std::string bytes = value.bytes();
    if (bytes.size() < 8) return false;
    const std::string code = bytes.substr(0, 8), rest = bytes.substr(8);
    if (code == std::string("UNICODE\0", 8)) {
        text = fromUcs2(rest, value.order());
    } else if (code == std::string("ASCII\0\0\0", 8) || code == std::string(8, '\0')) {
        text = rest.substr(0, rest.find('\0'));
    } else {
        return false;
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return true;
}

/// 34° 3' 34.59" N: degrees, minutes and seconds with the reference that the directory holds.
std::string coordinate(const Value& value, const CExifDirectory& directory, std::uint16_t referenceTag) {
    double parts[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!value.rational(i, parts[i])) return value.isRational() ? "unknown" : "";
    }
    std::string shown = decimal(parts[0], 4) + "° " + decimal(parts[1], 4) + "' " + decimal(parts[2], 2) + "\"";
    const CExifEntry* reference = directory.findEntry(referenceTag);
    if (reference == nullptr || reference->removed || reference->size == 0 || reference->data[0] == 0) return shown + " (no reference)";
    return shown + " " + std::string(1, char(reference->data[0]));
}

std::string altitude(const Value& value, const CExifDirectory& directory) {
    double metres = 0;
    if (!value.rational(0, metres)) return value.isRational() ? "unknown" : "";
    const CExifEntry* reference = directory.findEntry(0x0005);
    const std::string shown = decimal(metres) + " m";
    if (reference == nullptr || reference->removed || reference->size == 0) return shown + " (no reference)";
    return shown + (reference->data[0] == 1 ? " below sea level" : " above sea level");
}

std::string timeStamp(const Value& value) {
    double parts[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!value.rational(i, parts[i])) return value.isRational() ? "unknown" : "";
    }
    // A time of day: anything else stays as stored.
    if (parts[0] < 0 || parts[0] >= 24 || parts[1] < 0 || parts[1] >= 60 || parts[2] < 0 || parts[2] >= 61) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:", int(parts[0]), int(parts[1]));
    const std::string seconds = decimal(parts[2], 2);
    return text + std::string(parts[2] < 10 ? "0" : "") + seconds + " UTC";
}

}  // namespace

Display displayOf(const CExifDirectory& directory, std::uint16_t tag, std::uint16_t type, const std::uint8_t* data,
                  std::size_t size, ByteOrder order) {
    const Value value(type, data, size, order);
    const std::string role = directory.prefix;
    Display shown;
    if (role == "GPS") {
        switch (tag) {
            case 0x0002: shown.words = coordinate(value, directory, 0x0001); break;
            case 0x0004: shown.words = coordinate(value, directory, 0x0003); break;
            case 0x0006: shown.words = altitude(value, directory); break;
            case 0x0007: shown.words = timeStamp(value); break;
            default: break;
        }
        return shown;
    }
    if (role != "IFD" && role != "SUB") return shown;
    switch (tag) {
        case 0x829D: shown.words = fNumber(value); break;
        case 0x829A: shown.words = exposureTime(value); break;
        case 0x920A:
        case 0xA405: shown.words = millimetres(value); break;
        case 0x9204: shown.words = exposureBias(value); break;
        case 0x8827: shown.words = iso(value); break;
        case 0x0112: shown.words = named(value, kOrientations); break;
        case 0x9209: shown.words = flash(value); break;
        case 0x8822: shown.words = named(value, kPrograms); break;
        case 0x9207: shown.words = named(value, kMetering); break;
        case 0xA403: shown.words = named(value, kWhiteBalances); break;
        case 0x9208: shown.words = named(value, kLightSources); break;
        case 0xA406: shown.words = named(value, kScenes); break;
        case 0xA001: shown.words = named(value, kColorSpaces); break;
        case 0x0128: shown.words = named(value, kResolutionUnits); break;
        case 0x0213: shown.words = named(value, kPositionings); break;
        case 0x9000:
        case 0xA000: shown.words = version(value); break;
        case 0x9286: shown.isText = userComment(value, shown.words); break;
        default:
            if (tag::isWindowsXpTag(tag)) {
                shown.words = fromUcs2(value.bytes(), ByteOrder::littleEndian);
                shown.isText = true;
            }
            break;
    }
    return shown;
}

}  // namespace tagloom
