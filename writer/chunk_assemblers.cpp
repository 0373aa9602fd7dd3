// The assemblers of the exports whose Exif data is one chunk or box among others: PNG, WebP and
// JPEG XL. Each writes its new chunk or box and the fields that count it; every other byte stays.
#include <algorithm>
#include <iterator>

#include <zlib.h>

#include "exif/exports.h"
#include "exif/format.h"
#include "exif/image.h"
#include "writer/assemblers.h"

namespace tagloom {

using platform::Piece;

namespace {

// ---- PNG: a new eXIf chunk (its length, "eXIf", the TIFF data, a CRC-32 over type and data) where
// the old one lay, or else in front of the first IDAT; a legacy text chunk that held the Exif data
// goes; every other chunk stays as it was, in its order.
struct PngPlaces {
    const PngChunk* exif = nullptr;
    const PngChunk* legacy = nullptr;
    const PngChunk* firstData = nullptr;
};

PngPlaces placesIn(const SourceBytes& bytes, const std::vector<PngChunk>& chunks) {
    PngPlaces places;
    for (const PngChunk& chunk : chunks) {
        if (chunk.is("eXIf")) places.exif = &chunk;
        if (places.legacy == nullptr && holdsLegacyExif(bytes, chunk)) places.legacy = &chunk;
        if (places.firstData == nullptr && (chunk.is("IDAT") || chunk.is("IEND"))) places.firstData = &chunk;
    }
    return places;
}

TiffPlacement placeInPng(const CExifImage& image) {
    const SourceBytes bytes = oldBytes(image);
    const std::vector<PngChunk> chunks = walkPng(bytes);
    const PngPlaces places = placesIn(bytes, chunks);
    TiffPlacement where;
    where.trailer = 4;
    where.base = places.exif != nullptr ? places.exif->data() : places.firstData->offset + 8;
    if (places.exif == nullptr && places.legacy != nullptr && places.legacy->offset < places.firstData->offset)
        where.base -= places.legacy->end() - places.legacy->offset;
    return where;
}

Assembly assemblePng(const CExifImage& image, const EncodedTiff& tiff, const Reporter&) {
    const SourceBytes bytes = oldBytes(image);
    const std::vector<PngChunk> chunks = walkPng(bytes);
    const PngPlaces places = placesIn(bytes, chunks);
    std::vector<std::uint8_t> chunk;
    appendBigEndian32(chunk, tiff.bytes.size());
    chunk.insert(chunk.end(), {'e', 'X', 'I', 'f'});
    chunk.insert(chunk.end(), tiff.bytes.begin(), tiff.bytes.end());
    appendBigEndian32(chunk, crc32(crc32(0L, Z_NULL, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4)));
    std::vector<Edit> edits;
    if (places.exif != nullptr) {
        edits.push_back({places.exif->offset, places.exif->end(), std::move(chunk)});
    } else {
        edits.push_back({places.firstData->offset, places.firstData->offset, std::move(chunk)});
        if (places.legacy != nullptr) edits.push_back({places.legacy->offset, places.legacy->end(), {}});
    }
    return Assembly{edited(image, std::move(edits)), std::nullopt};
}

// ---- WebP: a new EXIF chunk where the old one lay, or else in front of "XMP ", or else behind the
// image data; the VP8X chunk says the file holds Exif data (a simple file gains one, with its
// canvas and alpha from its bitstream); the RIFF size counts the file anew. Every other byte stays.
struct WebpPlaces {
    const RiffChunk* exif = nullptr;
    std::uint64_t insertAt = 0;  // where a new EXIF chunk goes
    std::uint64_t riffEnd = 0;   // where the RIFF data ends
    bool padMissing = false;     // the last chunk is odd and ends the RIFF data without its pad byte
};

WebpPlaces placesIn(const SourceBytes& bytes, const std::vector<RiffChunk>& chunks) {
    WebpPlaces places;
    std::uint8_t size[4] = {};
    bytes.copy(4, size, 4);
    places.riffEnd = std::min(chunks.back().end(), 8 + std::uint64_t(getU32(size, ByteOrder::littleEndian)));
    places.padMissing = places.riffEnd < chunks.back().end();
    places.insertAt = chunks.back().end();
    for (const RiffChunk& chunk : chunks) {
        if (chunk.is("EXIF")) places.exif = &chunk;
        if (chunk.is("XMP ") && places.insertAt == chunks.back().end()) places.insertAt = chunk.offset;
    }
    return places;
}

std::vector<std::uint8_t> exifChunk(const EncodedTiff& tiff) {
    std::vector<std::uint8_t> chunk = {'E', 'X', 'I', 'F'};
    appendLittleEndian32(chunk, tiff.bytes.size());
    chunk.insert(chunk.end(), tiff.bytes.begin(), tiff.bytes.end());
    if (tiff.bytes.size() % 2 != 0) chunk.push_back(0);
    return chunk;
}

TiffPlacement placeInWebp(const CExifImage& image) {
    const SourceBytes bytes = oldBytes(image);
    const std::vector<RiffChunk> chunks = walkWebp(bytes);
    const WebpPlaces places = placesIn(bytes, chunks);
    TiffPlacement where;
    const std::uint64_t grown = chunks.front().is("VP8X") ? 0 : 18;  // a new VP8X chunk in front
    where.base = (places.exif != nullptr ? places.exif->offset : places.insertAt) + grown + 8;
    return where;
}

Assembly assembleWebp(const CExifImage& image, const EncodedTiff& tiff, const Reporter&) {
    const SourceBytes bytes = oldBytes(image);
    const std::vector<RiffChunk> chunks = walkWebp(bytes);
    const WebpPlaces places = placesIn(bytes, chunks);
    std::vector<Edit> edits;
    // VP8X: flags (1), reserved (3), canvas width - 1 and height - 1 (3 bytes each, little-endian).
    std::vector<std::uint8_t> header = {'V', 'P', '8', 'X', 10, 0, 0, 0};
    if (chunks.front().is("VP8X")) {
        std::uint8_t flags = 0;
        bytes.copy(chunks.front().data(), &flags, 1);
        edits.push_back({chunks.front().data(), chunks.front().data() + 1, {static_cast<std::uint8_t>(flags | kWebpExif)}});
    } else {
        const WebpCanvas canvas = canvasOf(bytes, chunks);
        header.push_back(static_cast<std::uint8_t>(kWebpExif | (canvas.alpha ? kWebpAlpha : 0)));
        header.insert(header.end(), {0, 0, 0});
        for (const std::uint32_t side : {canvas.width - 1, canvas.height - 1}) {
            for (int shift = 0; shift < 24; shift += 8) header.push_back(static_cast<std::uint8_t>(side >> shift));
        }
        edits.push_back({chunks.front().offset, chunks.front().offset, std::move(header)});
    }
    std::vector<std::uint8_t> chunk = exifChunk(tiff);
    if (places.exif != nullptr) {
        edits.push_back({places.exif->offset, std::min(places.exif->end(), places.riffEnd), std::move(chunk)});
    } else if (places.padMissing && places.insertAt > places.riffEnd) {
        chunk.insert(chunk.begin(), 0);  // the pad the last chunk lacked, so that the new one starts even
        edits.push_back({places.riffEnd, places.riffEnd, std::move(chunk)});
    } else {
        edits.push_back({places.insertAt, places.insertAt, std::move(chunk)});
    }
    // The RIFF header: "RIFF", the size of all that follows it, "WEBP".
    std::uint64_t riffSize = places.riffEnd - 8;
    for (const Edit& edit : edits) riffSize += edit.bytes.size() - (edit.end - edit.at);
    std::vector<std::uint8_t> riff = {'R', 'I', 'F', 'F'};
    appendLittleEndian32(riff, riffSize);
    riff.insert(riff.end(), {'W', 'E', 'B', 'P'});
    edits.push_back({0, 12, std::move(riff)});
    Assembly assembly{edited(image, std::move(edits)), std::nullopt};
    if (riffSize > 0xFFFFFFFFu) assembly.refusal = CExifException(Fault::tooLarge);
    return assembly;
}

// ---- JPEG XL: a new Exif box (its size, "Exif", a zero offset to the TIFF header, the TIFF data)
// where the old one lay, or else at the end of the container (in front of a last box that runs to the
// end of the file). A bare codestream is wrapped: the signature box, ftyp, jxlc holding the
// codestream byte for byte, then the Exif box.
std::vector<std::uint8_t> exifBox(const EncodedTiff& tiff) {
    std::vector<std::uint8_t> box;
    appendBigEndian32(box, 12 + tiff.bytes.size());
    box.insert(box.end(), {'E', 'x', 'i', 'f', 0, 0, 0, 0});
    box.insert(box.end(), tiff.bytes.begin(), tiff.bytes.end());
    return box;
}

bool bareCodestream(const SourceBytes& bytes) {
    std::uint8_t head[2] = {};
    bytes.copy(0, head, 2);
    return head[0] == 0xFF && head[1] == 0x0A;
}

/// Where a container's new Exif box goes: the old one's place, or the end (before a box of size 0).
std::uint64_t exifBoxAt(const SourceBytes& bytes, const std::vector<JxlBox>& boxes, const JxlBox*& old) {
    old = nullptr;
    for (const JxlBox& box : boxes) {
        if (box.is("Exif")) old = &box;
    }
    if (old != nullptr) return old->offset;
    std::uint8_t size[4] = {};
    bytes.copy(boxes.back().offset, size, 4);
    return getU32(size, ByteOrder::bigEndian) == 0 ? boxes.back().offset : boxes.back().end;
}

/// The header of a box of `payload` bytes: a 64-bit size where 32 bits cannot hold it.
const std::vector<std::uint8_t> kJxlPrologue = [] {
    std::vector<std::uint8_t> prologue(std::begin(kJxlSignature), std::end(kJxlSignature));
    const std::uint8_t ftyp[20] = {0, 0, 0, 20, 'f', 't', 'y', 'p', 'j', 'x', 'l', ' ', 0, 0, 0, 0, 'j', 'x', 'l', ' '};
    prologue.insert(prologue.end(), std::begin(ftyp), std::end(ftyp));
    return prologue;
}();

TiffPlacement placeInJxl(const CExifImage& image) {
    const SourceBytes bytes = oldBytes(image);
    TiffPlacement where;
    if (bareCodestream(bytes)) {
        where.base = kJxlPrologue.size() + boxHeader("jxlc", image.fileStatus.size).size() + image.fileStatus.size + 12;
        return where;
    }
    const JxlBox* old = nullptr;
    const std::vector<JxlBox> boxes = walkJxl(bytes);
    where.base = exifBoxAt(bytes, boxes, old) + 12;
    return where;
}

Assembly assembleJxl(const CExifImage& image, const EncodedTiff& tiff, const Reporter&) {
    const SourceBytes bytes = oldBytes(image);
    if (bareCodestream(bytes)) {
        std::vector<std::uint8_t> prologue = kJxlPrologue;
        const std::vector<std::uint8_t> codestream = boxHeader("jxlc", image.fileStatus.size);
        prologue.insert(prologue.end(), codestream.begin(), codestream.end());
        std::vector<Piece> content = {Piece::ofBytes(std::move(prologue)),
                                      Piece::ofFile(image.file, 0, image.fileStatus.size), Piece::ofBytes(exifBox(tiff))};
        return Assembly{std::move(content), std::nullopt};
    }
    const JxlBox* old = nullptr;
    const std::vector<JxlBox> boxes = walkJxl(bytes);  // `old` points into it
    const std::uint64_t at = exifBoxAt(bytes, boxes, old);
    return Assembly{edited(image, {{at, old != nullptr ? old->end : at, exifBox(tiff)}}), std::nullopt};
}

}  // namespace

const Assembler kPng = {"PNG", placeInPng, assemblePng};
const Assembler kWebp = {"WebP", placeInWebp, assembleWebp};
const Assembler kJxl = {"JPEG XL", placeInJxl, assembleJxl};

}  // namespace tagloom
