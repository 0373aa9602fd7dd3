// What the assemblers of each kind share: the old file with edits made, and the rows of the table.
#pragma once

#include <cstdint>
#include <vector>

#include "exif/tiff_view.h"
#include "writer/assembler.h"

namespace tagloom {

void appendBigEndian32(std::vector<std::uint8_t>& bytes, std::uint64_t value);
void appendLittleEndian32(std::vector<std::uint8_t>& bytes, std::uint64_t value);

/// An ISO base media box's header (JPEG XL, HEIF) for a payload of that size: 8 bytes, or 16 with a
/// 64-bit size where `large` or where the size needs it.
std::vector<std::uint8_t> boxHeader(const char* type, std::uint64_t payload, bool large = false);

/// A replacement of the old file's bytes [at, end) by `bytes` (an insertion where at == end).
struct Edit {
    std::uint64_t at;
    std::uint64_t end;
    std::vector<std::uint8_t> bytes;
};

/// The new file: the old file's bytes with the edits made (in the order of their places, none
/// overlapping), every other byte as it was.
std::vector<platform::Piece> edited(const CExifImage& image, std::vector<Edit> edits);

/// The old file, as the assemblers walk it.
SourceBytes oldBytes(const CExifImage& image);

extern const Assembler kJpeg;
extern const Assembler kPng;
extern const Assembler kWebp;
extern const Assembler kJxl;
extern const Assembler kTiff;
extern const Assembler kHeif;

}  // namespace tagloom
