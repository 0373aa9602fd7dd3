// Where editors' exports keep their Exif data: PNG, WebP, JPEG XL and TIFF files (exif/exports.h
// describes each); their walks and locators. A file without Exif data is located where its new data
// goes; the assemblers (writer/assembler.cpp) put it there.
#include "exif/exports.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/tiff_view.h"

namespace tagloom {

namespace {

constexpr std::size_t kMostChunks = 1 << 20;       // a PNG of a million chunks is no photo
constexpr std::size_t kMostRiffChunks = 4096;
constexpr std::size_t kMostBoxes = 4096;
constexpr std::uint64_t kMostLegacyText = 1 << 22;  // hex of an Exif segment takes 128 KiB; more is not one

/// A printable four-character type, for lines that name it.
void typeOf(const std::uint8_t* field, char (&type)[5]) {
    for (int i = 0; i < 4; ++i) type[i] = field[i] >= ' ' && field[i] <= '~' ? static_cast<char>(field[i]) : '?';
    type[4] = '\0';
}

/// The TIFF data of a located file's Exif data at `base`, up to `limit`: its header names the order
/// and IFD0; kept as the header the encoder writes again.
Located tiffIn(const SourceBytes& bytes, Layout layout, std::uint64_t base, std::uint64_t limit) {
    if (limit < base + 8) throw CExifException(Fault::exifDataUnreadable);
    Located found = takeTiff(bytes, layout, base, limit);
    found.headerStart = found.segmentStart = base;
    bytes.copy(base, found.header, 8);
    return found;
}

/// Exif data read into memory (from a text chunk): "Exif\0\0" in front is dropped.
Located inMemory(Layout layout, std::vector<std::uint8_t> data) {
    static const std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    std::size_t skip = data.size() >= 6 && std::equal(kExif, kExif + 6, data.begin()) ? 6 : 0;
    auto item = std::make_unique<SourceBytes>(data.data() + skip, data.size() - skip);
    Located found = tiffIn(*item, layout, 0, item->length());
    found.item = std::move(item);
    return found;
}

/// Inflates a zlib stream of at most `most` bytes; none when it is no such stream.
bool inflateAll(const std::vector<std::uint8_t>& packed, std::vector<std::uint8_t>& out, std::uint64_t most) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() >= most) break;
        const std::size_t at = out.size();
        out.resize(std::min<std::uint64_t>(most, at + 65536));
        stream.next_out = out.data() + at;
        stream.avail_out = static_cast<uInt>(out.size() - at);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(out.size() - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

/// ImageMagick's raw profile: "\n<name>\n", the length in decimal (padded with spaces), "\n", then
/// that many bytes as hex digits, in lines. Gives the bytes; false where the text is no such profile.
bool rawProfileBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    std::size_t at = text.find_first_not_of("\n\r ");
    if (at == std::string::npos || (at = text.find('\n', at)) == std::string::npos) return false;  // the name
    const std::size_t digits = text.find_first_not_of(" \r\n", at);
    if (digits == std::string::npos || text[digits] < '0' || text[digits] > '9') return false;
    std::uint64_t length = 0;
    for (at = digits; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        length = length * 10 + std::uint64_t(text[at] - '0');
        if (length > exif::kMaxHeldBytes) return false;
    }
    const auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    int high = -1;
    for (; at < text.size() && out.size() < length; ++at) {
        const int value = nibble(text[at]);
        if (value < 0) continue;  // line breaks and spaces
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    return out.size() == length;
}

/// The text a legacy chunk holds: tEXt as it is; zTXt and a compressed iTXt inflated.
bool legacyText(const SourceBytes& bytes, const PngChunk& chunk, std::string& text) {
    if (chunk.length > kMostLegacyText) return false;
    std::vector<std::uint8_t> data(chunk.length);
    bytes.copy(chunk.data(), data.data(), data.size());
    const auto keywordEnd = std::find(data.begin(), data.end(), 0);
    if (keywordEnd == data.end()) return false;
    std::size_t at = static_cast<std::size_t>(keywordEnd - data.begin()) + 1;
    bool compressed = chunk.is("zTXt");
    if (chunk.is("zTXt")) {
        at += 1;  // the compression method
    } else if (chunk.is("iTXt")) {
        if (at + 2 > data.size()) return false;
        compressed = data[at] != 0;
        at += 2;
        for (int field = 0; field < 2; ++field) {  // the language and the translated keyword
            const auto end = std::find(data.begin() + static_cast<long>(at), data.end(), 0);
            if (end == data.end()) return false;
            at = static_cast<std::size_t>(end - data.begin()) + 1;
        }
    }
    if (at > data.size()) return false;
    std::vector<std::uint8_t> body(data.begin() + static_cast<long>(at), data.end());
    if (compressed) {
        std::vector<std::uint8_t> inflated;
        if (!inflateAll(body, inflated, kMostLegacyText)) return false;
        body = std::move(inflated);
    }
    text.assign(body.begin(), body.end());
    return true;
}

std::uint32_t bigEndian32(const SourceBytes& bytes, std::uint64_t at) {
    std::uint8_t field[4] = {};
    bytes.copy(at, field, 4);
    return getU32(field, ByteOrder::bigEndian);
}

}  // namespace

bool PngChunk::is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
bool RiffChunk::is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
bool JxlBox::is(const char* name) const { return std::memcmp(type, name, 4) == 0; }

std::vector<PngChunk> walkPng(const SourceBytes& bytes) {
    std::vector<PngChunk> chunks;
    for (std::uint64_t at = sizeof kPngSignature;;) {
        if (chunks.size() >= kMostChunks) throw CExifException(Fault::boxTooMany, {"the PNG file"});
        std::uint8_t head[8] = {};
        if (bytes.copy(at, head, 8) != 8) throw CExifException(Fault::pngWithoutEnd);
        PngChunk chunk;
        typeOf(head + 4, chunk.type);
        chunk.offset = at;
        chunk.length = getU32(head, ByteOrder::bigEndian);
        if (chunk.length > 0x7FFFFFFFu || chunk.end() > bytes.length()) throw CExifException(Fault::chunkPastFile, {chunk.type});
        if (chunks.empty() && (!chunk.is("IHDR") || chunk.length < 8)) throw CExifException(Fault::pngWithoutHeader);
        chunks.push_back(chunk);
        if (chunk.is("IEND")) return chunks;
        at = chunk.end();
    }
}

bool holdsLegacyExif(const SourceBytes& bytes, const PngChunk& chunk) {
    if (!chunk.is("tEXt") && !chunk.is("zTXt") && !chunk.is("iTXt")) return false;
    static const char* const kKeywords[] = {"Raw profile type exif", "Raw profile type APP1"};
    char keyword[24] = {};
    bytes.copy(chunk.data(), reinterpret_cast<std::uint8_t*>(keyword), std::min<std::uint64_t>(chunk.length, 22));
    for (const char* known : kKeywords) {
        if (std::strlen(known) + 1 <= chunk.length && std::memcmp(keyword, known, std::strlen(known) + 1) == 0) return true;
    }
    return false;
}

// PNG: the eXIf chunk, before or after the image data; else the legacy text chunk; else none (the
// new chunk goes in front of the first IDAT). An animated PNG is read, never rewritten.
Located locatePng(const SourceBytes& bytes, const Reading& reading) {
    const std::vector<PngChunk> chunks = walkPng(bytes);
    FrameSize frame{bigEndian32(bytes, chunks.front().data()), bigEndian32(bytes, chunks.front().data() + 4)};
    const PngChunk* exif = nullptr;
    const PngChunk* legacy = nullptr;
    for (const PngChunk& chunk : chunks) {
        if (chunk.is("acTL") && !reading.source) throw CExifException(Fault::animated, {"PNG"});
        if (chunk.is("eXIf")) {
            if (exif != nullptr) throw CExifException(Fault::twoExifParts, {"eXIf chunks"});
            exif = &chunk;
        }
        if (legacy == nullptr && holdsLegacyExif(bytes, chunk)) legacy = &chunk;
    }
    Located found = withoutExif(Layout::pngWithoutExif);
    if (exif != nullptr) {
        found = tiffIn(bytes, Layout::pngFile, exif->data(), exif->data() + exif->length);
    } else if (legacy != nullptr) {
        std::string text;
        std::vector<std::uint8_t> data;
        if (!legacyText(bytes, *legacy, text) || !rawProfileBytes(text, data))
            throw CExifException(Fault::exifChunkUnreadable, {legacy->type});
        found = inMemory(Layout::pngLegacyExif, std::move(data));
    }
    found.frame = frame;
    return found;
}

std::vector<RiffChunk> walkWebp(const SourceBytes& bytes) {
    std::uint8_t head[12] = {};
    bytes.copy(0, head, sizeof head);
    const std::uint64_t riffEnd = 8 + std::uint64_t(getU32(head + 4, ByteOrder::littleEndian));
    if (riffEnd > bytes.length()) throw CExifException(Fault::chunkPastFile, {"RIFF"});
    std::vector<RiffChunk> chunks;
    for (std::uint64_t at = 12; at < riffEnd;) {
        if (chunks.size() >= kMostRiffChunks) throw CExifException(Fault::boxTooMany, {"the WebP file"});
        std::uint8_t field[8] = {};
        if (riffEnd - at < 8) throw CExifException(Fault::chunkPastFile, {"RIFF"});
        bytes.copy(at, field, 8);
        RiffChunk chunk;
        typeOf(field, chunk.type);
        chunk.offset = at;
        chunk.size = getU32(field + 4, ByteOrder::littleEndian);
        if (chunk.end() > riffEnd && !(chunk.data() + chunk.size == riffEnd))  // a last odd chunk may lack its pad
            throw CExifException(Fault::chunkPastFile, {chunk.type});
        chunks.push_back(chunk);
        at = std::min(chunk.end(), riffEnd);
    }
    if (chunks.empty()) throw CExifException(Fault::headerNotUnderstood);
    return chunks;
}

WebpCanvas canvasOf(const SourceBytes& bytes, const std::vector<RiffChunk>& chunks) {
    WebpCanvas canvas;
    std::uint8_t data[10] = {};
    const RiffChunk& first = chunks.front();
    bytes.copy(first.data(), data, std::min<std::uint64_t>(first.size, sizeof data));
    if (first.is("VP8X") && first.size >= 10) {
        canvas.width = 1 + (std::uint32_t(data[4]) | std::uint32_t(data[5]) << 8 | std::uint32_t(data[6]) << 16);
        canvas.height = 1 + (std::uint32_t(data[7]) | std::uint32_t(data[8]) << 8 | std::uint32_t(data[9]) << 16);
        canvas.alpha = (data[0] & kWebpAlpha) != 0;
    } else if (first.is("VP8 ") && first.size >= 10 && data[3] == 0x9D && data[4] == 0x01 && data[5] == 0x2A) {
        // A key frame: a 3-byte frame tag, the start code, then width and height (14 bits each).
        canvas.width = getU16(data + 6, ByteOrder::littleEndian) & 0x3FFF;
        canvas.height = getU16(data + 8, ByteOrder::littleEndian) & 0x3FFF;
    } else if (first.is("VP8L") && first.size >= 5 && data[0] == 0x2F) {
        // The signature byte, then width - 1 and height - 1 (14 bits each) and the alpha bit.
        const std::uint32_t bits = getU32(data + 1, ByteOrder::littleEndian);
        canvas.width = (bits & 0x3FFF) + 1;
        canvas.height = ((bits >> 14) & 0x3FFF) + 1;
        canvas.alpha = ((bits >> 28) & 1) != 0;
    } else {
        throw CExifException(Fault::headerNotUnderstood);
    }
    return canvas;
}

// WebP: the EXIF chunk of an extended file (behind "Exif\0\0" where a writer put it there); else none.
// An animated WebP is read, never rewritten.
Located locateWebp(const SourceBytes& bytes, const Reading& reading) {
    const std::vector<RiffChunk> chunks = walkWebp(bytes);
    const WebpCanvas canvas = canvasOf(bytes, chunks);
    std::uint8_t flags = 0;
    bytes.copy(chunks.front().data(), &flags, chunks.front().is("VP8X") ? 1 : 0);
    const RiffChunk* exif = nullptr;
    for (const RiffChunk& chunk : chunks) {
        if ((chunk.is("ANIM") || (flags & kWebpAnimation) != 0) && !reading.source)
            throw CExifException(Fault::animated, {"WebP"});
        if (chunk.is("EXIF")) {
            if (exif != nullptr) throw CExifException(Fault::twoExifParts, {"EXIF chunks"});
            exif = &chunk;
        }
    }
    Located found = withoutExif(Layout::webpWithoutExif);
    if (exif != nullptr) {
        std::uint8_t prefix[6] = {};
        bytes.copy(exif->data(), prefix, sizeof prefix);
        const std::uint64_t skip = exif->size >= 6 && std::memcmp(prefix, "Exif\0\0", 6) == 0 ? 6 : 0;
        found = tiffIn(bytes, Layout::webpFile, exif->data() + skip, exif->data() + exif->size);
    }
    found.frame = {canvas.width, canvas.height};
    return found;
}

std::vector<JxlBox> walkJxl(const SourceBytes& bytes) {
    std::vector<JxlBox> boxes;
    const std::uint64_t length = bytes.length();
    for (std::uint64_t at = 0; at < length;) {
        if (boxes.size() >= kMostBoxes) throw CExifException(Fault::boxTooMany, {"the file"});
        std::uint8_t head[16] = {};
        if (length - at < 8) throw CExifException(Fault::boxInParentTooSmall, {"the file"});
        bytes.copy(at, head, sizeof head);
        JxlBox box;
        typeOf(head + 4, box.type);
        std::uint64_t size = getU32(head, ByteOrder::bigEndian);
        std::uint64_t header = 8;
        if (size == 1) {
            size = (std::uint64_t(getU32(head + 8, ByteOrder::bigEndian)) << 32) | getU32(head + 12, ByteOrder::bigEndian);
            header = 16;
        } else if (size == 0) {
            size = length - at;
        }
        if (size < header) throw CExifException(Fault::boxTooSmall, {box.type});
        if (size > length - at) throw CExifException(Fault::boxPastFile, {box.type});
        box.offset = at;
        box.payload = at + header;
        box.end = at + size;
        boxes.push_back(box);
        at = box.end;
    }
    return boxes;
}

// JPEG XL: the container's Exif box; a bare codestream or a container without one has none. Brotli-
// compressed Exif data cannot be read, and a file that keeps the JPEG it was made from (jbrd) is
// not rewritten: the new Exif data would contradict the one it records.
/// The picture's size as it is shown, from the codestream's size header and its orientation (5 to 8
/// swap width and height); 0 x 0 where the codestream does not begin at `at`.
FrameSize jxlFrameAt(const SourceBytes& bytes, std::uint64_t at) {
    std::uint8_t head[16] = {};
    if (bytes.copy(at, head, sizeof head) < 12 || head[0] != 0xFF || head[1] != 0x0A) return {};
    std::size_t bit = 16;  // the fields are packed from each byte's lowest bit on
    const auto read = [&head, &bit](unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit) value |= std::uint32_t(head[bit / 8] >> (bit % 8) & 1) << i;
        return value;
    };
    const auto side = [&read](bool small) -> std::uint32_t {
        static const unsigned kBits[4] = {9, 13, 18, 30};
        return small ? (read(5) + 1) * 8 : read(kBits[read(2)]) + 1;
    };
    const bool small = read(1) != 0;
    const std::uint32_t height = side(small);
    static const std::uint32_t kRatios[8][2] = {{0, 0}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}};
    const std::uint32_t ratio = read(3);
    const std::uint32_t width = ratio == 0 ? side(small)
                                           : std::uint32_t(std::uint64_t(height) * kRatios[ratio][0] / kRatios[ratio][1]);
    std::uint32_t orientation = 1;
    if (read(1) == 0 && read(1) != 0) orientation = read(3) + 1;  // not all default, extra fields
    return orientation > 4 ? FrameSize{height, width} : FrameSize{width, height};
}

Located locateJxl(const SourceBytes& bytes, const Reading& reading) {
    std::uint8_t head[12] = {};
    bytes.copy(0, head, sizeof head);
    if (head[0] == 0xFF && head[1] == 0x0A) {
        Located found = withoutExif(Layout::jxlWithoutExif);
        found.frame = jxlFrameAt(bytes, 0);
        return found;
    }
    const std::vector<JxlBox> boxes = walkJxl(bytes);
    FrameSize frame;
    for (const JxlBox& box : boxes) {
        if (box.is("jxlc")) frame = jxlFrameAt(bytes, box.payload);
        if (box.is("jxlp") && frame.width == 0) frame = jxlFrameAt(bytes, box.payload + 4);  // behind its index
    }
    const JxlBox* exif = nullptr;
    for (const JxlBox& box : boxes) {
        std::uint8_t inner[4] = {};
        if (box.is("brob") && bytes.copy(box.payload, inner, 4) == 4 && std::memcmp(inner, "Exif", 4) == 0)
            throw CExifException(Fault::brotliExif);
        if (box.is("jbrd") && !reading.source) throw CExifException(Fault::jpegReconstruction);
        if (box.is("Exif")) {
            if (exif != nullptr) throw CExifException(Fault::twoExifParts, {"Exif boxes"});
            exif = &box;
        }
    }
    Located found = withoutExif(Layout::jxlWithoutExif);
    if (exif != nullptr) {
        // The offset of the TIFF header behind its field.
        const std::uint64_t offset = bigEndian32(bytes, exif->payload);
        if (exif->end - exif->payload < 4 || offset > exif->end - exif->payload - 4)
            throw CExifException(Fault::exifItemUnreadable);
        found = tiffIn(bytes, Layout::jxlFile, exif->payload + 4 + offset, exif->end);
    }
    found.frame = frame;
    return found;
}

// TIFF (an export named .tif or .tiff): its IFD0 describes its own image and the photo; reads may go
// anywhere in the file. BigTIFF keeps 8-byte offsets: not read.
Located locateTiffFile(const SourceBytes& bytes, const Reading&) {
    std::uint8_t head[4] = {};
    bytes.copy(0, head, sizeof head);
    if (head[2] == 43 || head[3] == 43) throw CExifException(Fault::bigTiff);
    Located found = tiffIn(bytes, Layout::tiffFile, 0, bytes.length());
    // Its own pixel size: IFD0's ImageWidth and ImageLength (SHORT or LONG).
    TiffView view(bytes, 0, found.sectionEnd, found.order);
    view.seekSource(found.ifd0);
    const std::uint16_t count = view.readU16();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint16_t entryTag = view.readU16();
        const std::uint16_t type = view.readU16();
        view.readU32();
        std::uint8_t value[4] = {};
        view.readBytes(value, 4);
        const std::uint32_t number = type == fieldType::kShort ? getU16(value, found.order) : getU32(value, found.order);
        if (entryTag == tag::kImageWidth) found.frame.width = number;
        if (entryTag == tag::kImageLength) found.frame.height = number;
    }
    return found;
}

}  // namespace tagloom
