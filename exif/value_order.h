// Values of one byte order turned into the other: each field by the unit its type has, and the
// undefined values that hold numbers of their own field by field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exif/byte_order.h"

namespace tagloom {

enum class TurnResult { turned, unknownType, badLayout };

/// Turns the `size` value bytes of an entry (tag, type) stored in `from` order into the other order,
/// in place. SHORTs by 2 bytes, LONGs and FLOATs by 4, each half of a RATIONAL on its own, DOUBLEs by
/// 8; bytes, text and undefined bytes stay, but for CFAPattern, OECF, SpatialFrequencyResponse,
/// DeviceSettingDescription, a "UNICODE" UserComment (and GPS processing method and area
/// information, for an entry of the GPS directory) and PrintIM, whose inner fields are turned. The
/// XP tags stay: they are little-endian in every file; so does IPTC-NAA, a byte stream whatever its type.
TurnResult turnByteOrder(std::uint16_t tag, std::uint16_t type, std::uint8_t* data, std::size_t size, ByteOrder from,
                         bool inGpsDirectory = false);

}  // namespace tagloom
