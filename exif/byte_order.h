// Byte order as data: the one place where 16- and 32-bit values are put together from bytes and
// taken apart into them, in either order.
#pragma once

#include <cstdint>

namespace tagloom {

enum class ByteOrder { littleEndian, bigEndian };

inline std::uint16_t getU16(const std::uint8_t* bytes, ByteOrder order) {
    return order == ByteOrder::littleEndian ? static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8))
                                            : static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline std::uint32_t getU32(const std::uint8_t* bytes, ByteOrder order) {
    if (order == ByteOrder::littleEndian)
        return std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) | (std::uint32_t(bytes[2]) << 16) |
               (std::uint32_t(bytes[3]) << 24);
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) |
           std::uint32_t(bytes[3]);
}

inline void putU16(std::uint8_t* bytes, std::uint16_t value, ByteOrder order) {
    const bool little = order == ByteOrder::littleEndian;
    bytes[little ? 0 : 1] = static_cast<std::uint8_t>(value);
    bytes[little ? 1 : 0] = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32(std::uint8_t* bytes, std::uint32_t value, ByteOrder order) {
    for (int i = 0; i < 4; ++i) {
        const int at = order == ByteOrder::littleEndian ? i : 3 - i;
        bytes[at] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace tagloom
