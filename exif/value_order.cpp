#include "exif/value_order.h"

#include <algorithm>
#include <cstring>

#include "exif/format.h"

namespace tagloom {

namespace {

constexpr std::uint16_t kUndefinedType = 7;

/// Reverses each whole `unit` of [from, to).
void turnUnits(std::uint8_t* data, std::size_t from, std::size_t to, std::size_t unit) {
    for (std::size_t at = from; at + unit <= to; at += unit) std::reverse(data + at, data + at + unit);
}

/// Two SHORTs (columns, rows), the column names (n strings), then columns x rows SRATIONALs.
TurnResult turnTable(std::uint8_t* data, std::size_t size, ByteOrder from) {
    if (size < 4) return TurnResult::badLayout;
    const std::size_t columns = getU16(data, from);
    const std::size_t rows = getU16(data + 2, from);
    turnUnits(data, 0, 4, 2);
    std::size_t at = 4;
    for (std::size_t i = 0; i < columns; ++i) {
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(data + at, 0, size - at));
        if (end == nullptr) return TurnResult::badLayout;
        at = static_cast<std::size_t>(end - data) + 1;
    }
    if (columns * rows * 8 > size - at) return TurnResult::badLayout;
    turnUnits(data, at, at + columns * rows * 8, 4);
    return TurnResult::turned;
}

/// "PrintIM\0", a version of 4 characters, 2 reserved bytes, a SHORT count, then that many
/// entries of a SHORT tag and a LONG value.
TurnResult turnPrintIm(std::uint8_t* data, std::size_t size, ByteOrder from) {
    if (size < 16 || std::memcmp(data, "PrintIM", 8) != 0) return TurnResult::turned;  // not one: bytes
    const std::size_t entries = getU16(data + 14, from);
    if (16 + entries * 6 > size) {
        // Some cameras write it in the other order than their file's; readers take the order whose
        // count fits, so such a value is left as it is.
        const ByteOrder other = from == ByteOrder::littleEndian ? ByteOrder::bigEndian : ByteOrder::littleEndian;
        return 16 + std::size_t(getU16(data + 14, other)) * 6 <= size ? TurnResult::turned : TurnResult::badLayout;
    }
    turnUnits(data, 14, 16, 2);
    for (std::size_t i = 0; i < entries; ++i) {
        turnUnits(data, 16 + 6 * i, 18 + 6 * i, 2);
        turnUnits(data, 18 + 6 * i, 22 + 6 * i, 4);
    }
    return TurnResult::turned;
}

/// Text behind "UNICODE\0" is UCS-2 in the file's order; text behind any other code stays.
TurnResult turnUnicodeText(std::uint8_t* data, std::size_t size) {
    if (size >= 8 && std::memcmp(data, "UNICODE", 8) == 0) turnUnits(data, 8, size, 2);
    return TurnResult::turned;
}

TurnResult turnUndefined(std::uint16_t tag, std::uint8_t* data, std::size_t size, ByteOrder from, bool inGpsDirectory) {
    if (inGpsDirectory) {
        // GPSProcessingMethod and GPSAreaInformation: a character code, then the text.
        return tag == 0x001B || tag == 0x001C ? turnUnicodeText(data, size) : TurnResult::turned;
    }
    switch (tag) {
        case 0xA302:  // CFAPattern: two SHORTs, then the colours
            if (size < 4) return TurnResult::badLayout;
            turnUnits(data, 0, 4, 2);
            return TurnResult::turned;
        case 0x8828:  // OECF
        case 0xA20C:  // SpatialFrequencyResponse
            return turnTable(data, size, from);
        case 0xA40B:  // DeviceSettingDescription: two SHORTs, then UCS-2 text
            if (size < 4) return TurnResult::badLayout;
            turnUnits(data, 0, size, 2);
            return TurnResult::turned;
        case 0x9286:  // UserComment
            return turnUnicodeText(data, size);
        case 0xC4A5:
            return turnPrintIm(data, size, from);
        default:
            return TurnResult::turned;
    }
}

}  // namespace

TurnResult turnByteOrder(std::uint16_t tag, std::uint16_t type, std::uint8_t* data, std::size_t size, ByteOrder from,
                         bool inGpsDirectory) {
    if (tag::isWindowsXpTag(tag)) return TurnResult::turned;
    if (tag == tag::kIptcNaa && !inGpsDirectory) return TurnResult::turned;
    if (type >= exif::kFieldTypeCount || exif::kFieldTypes[type].turnUnit == 0) return TurnResult::unknownType;
    if (type == kUndefinedType) return turnUndefined(tag, data, size, from, inGpsDirectory);
    turnUnits(data, 0, size, exif::kFieldTypes[type].turnUnit);  // bytes and text: a unit of 1 stays
    return TurnResult::turned;
}

}  // namespace tagloom
