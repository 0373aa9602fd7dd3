// The files that editors export beside JPEG: PNG, WebP, JPEG XL and TIFF. Each has a walk of its
// structure (chunks, boxes), which its locator (exif/exports.cpp) and its assembler
// (writer/assembler.cpp) both use; every walk stays inside its file and its parent, and refuses a
// part that does not, in one line naming it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exif/containers.h"

namespace tagloom {

class SourceBytes;

// PNG: an 8-byte signature, then chunks: length (4, big-endian), type (4), data, CRC-32 (4) over
// type and data. IHDR comes first (width and height, 4 bytes each, big-endian), IEND last. Exif data
// lies in one eXIf chunk, the TIFF header first; ImageMagick's older files keep it, as hex text, in
// a text chunk of the keyword "Raw profile type exif" (tEXt, zTXt or iTXt).
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct PngChunk {
    char type[5] = {};
    std::uint64_t offset = 0;  // of its length field
    std::uint32_t length = 0;  // of its data
    std::uint64_t data() const { return offset + 8; }
    std::uint64_t end() const { return offset + 12 + length; }
    bool is(const char* name) const;
};
/// The chunks of a PNG file, IHDR to IEND.
std::vector<PngChunk> walkPng(const SourceBytes& bytes);
/// True when the chunk is a text chunk that holds Exif data as ImageMagick wrote it.
bool holdsLegacyExif(const SourceBytes& bytes, const PngChunk& chunk);

// WebP: "RIFF", the size of what follows (4, little-endian), "WEBP", then chunks: a FourCC, a size
// (4, little-endian), the data, a zero byte where the size is odd. An extended file begins with VP8X:
// flags (1: 0x02 animation, 0x04 XMP, 0x08 Exif, 0x10 alpha, 0x20 ICC), 3 reserved bytes, the canvas
// width - 1 and height - 1 (3 bytes each, little-endian). Its Exif data lies in an EXIF chunk behind
// the image data and before "XMP ", the TIFF header first (some writers put "Exif\0\0" in front).
struct RiffChunk {
    char type[5] = {};
    std::uint64_t offset = 0;  // of its FourCC
    std::uint32_t size = 0;    // of its data
    std::uint64_t data() const { return offset + 8; }
    std::uint64_t end() const { return offset + 8 + size + (size & 1); }
    bool is(const char* name) const;
};
/// The chunks of a WebP file.
std::vector<RiffChunk> walkWebp(const SourceBytes& bytes);
constexpr std::uint8_t kWebpAnimation = 0x02;
constexpr std::uint8_t kWebpExif = 0x08;
constexpr std::uint8_t kWebpAlpha = 0x10;
/// A WebP's canvas, from VP8X or from the bitstream of a simple file; whether the image has alpha.
struct WebpCanvas {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool alpha = false;
};
WebpCanvas canvasOf(const SourceBytes& bytes, const std::vector<RiffChunk>& chunks);

// JPEG XL: a bare codestream starts FF 0A; the container starts with its signature box, then boxes
// as in ISO base media files. Exif data lies in an Exif box: a 4-byte big-endian offset to the TIFF
// header behind it, then the TIFF data.
constexpr std::uint8_t kJxlSignature[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'};
struct JxlBox {
    char type[5] = {};
    std::uint64_t offset = 0;
    std::uint64_t payload = 0;
    std::uint64_t end = 0;
    bool is(const char* name) const;
};
/// The top-level boxes of a JPEG XL container.
std::vector<JxlBox> walkJxl(const SourceBytes& bytes);

// Their locators, rows of the kinds of file.
Located locatePng(const SourceBytes& bytes, const Reading& reading);
Located locateWebp(const SourceBytes& bytes, const Reading& reading);
Located locateJxl(const SourceBytes& bytes, const Reading& reading);
Located locateTiffFile(const SourceBytes& bytes, const Reading& reading);

}  // namespace tagloom
