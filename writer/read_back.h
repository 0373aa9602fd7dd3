// The proof of a rewrite: its new bytes, read as the next run will read them, must hold what the
// merge planned, before they replace anything.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace tagloom {

class CExifEntry;
class CExifImage;

/// The entries whose first four value bytes the encoder set to a position in the new file (a preview
/// that another entry's value holds, a position behind the segment), with what it wrote there.
using PatchedValues = std::unordered_map<const CExifEntry*, std::uint32_t>;

/// The first part of `planned` (a merged destination) that `readBack` (its new bytes, read as a
/// destination in the same reading) does not hold as planned: "SUB0:0x9286", "MAK0 kind", "GPS0";
/// "" when it reads back entry for entry. Positions count by what they lead to: pointers by the
/// directory read behind them, a thumbnail or preview by its bytes, a patched value by what the
/// encoder wrote.
std::string partNotReadBack(const CExifImage& planned, const CExifImage& readBack, const PatchedValues& patched);

/// Refuses the new file (`content`, the runs it is made of) unless its Exif data, read back as the
/// next run will read it (the same reading, as a destination), holds every directory and entry that
/// the merge planned in `planned` and nothing else: "not done - the new Exif data does not read back
/// as planned (<part>)", naming the destination.
void ensureReadsBack(const CExifImage& planned, const std::vector<platform::Piece>& content, const PatchedValues& patched,
                     bool allFormats);

}  // namespace tagloom
