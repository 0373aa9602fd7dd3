#include "writer/assembler.h"

#include <algorithm>
#include <iterator>

#include <zlib.h>

#include "exif/exports.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/tiff_view.h"

namespace tagloom {

namespace {

using platform::Piece;

void appendBigEndian32(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendLittleEndian32(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

/// A replacement of the old file's bytes [at, end) by `bytes` (an insertion where at == end).
struct Edit {
    std::uint64_t at;
    std::uint64_t end;
    std::vector<std::uint8_t> bytes;
};

/// The new file: the old file's bytes with the edits made (in the order of their places, none
/// overlapping), every other byte as it was.
std::vector<Piece> edited(const CExifImage& image, std::vector<Edit> edits) {
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
    std::vector<Piece> content;
    std::uint64_t from = 0;
    for (Edit& edit : edits) {
        if (edit.at > from) content.push_back(Piece::ofFile(image.file, from, edit.at - from));
        if (!edit.bytes.empty()) content.push_back(Piece::ofBytes(std::move(edit.bytes)));
        from = edit.end;
    }
    if (image.fileStatus.size > from) content.push_back(Piece::ofFile(image.file, from, image.fileStatus.size - from));
    return content;
}

/// The old file, as the assemblers walk it.
SourceBytes oldBytes(const CExifImage& image) { return SourceBytes(image.file, image.fileStatus.size, exif::kMaxSectionEnd); }

// ---- JPEG, by absolute offset:
//   0             the old file's bytes before its Exif segment, as they were
//   segmentStart  the segment's marker, its new length (big-endian), "Exif\0\0": as read, or made for
//                 a new segment (in a file whose Exif segment comes first, SOI is read with them)
//   base          the new TIFF data
//   end - 2       FF D9, the segment's last two bytes
//   end           the old file from sectionEnd on, unchanged
constexpr std::uint8_t kEndOfImage[2] = {0xFF, 0xD9};

TiffPlacement placeInJpeg(const CExifImage& image) {
    TiffPlacement where;
    where.base = image.base;
    where.trailer = sizeof kEndOfImage;
    where.oldRestStart = image.sectionEnd;
    return where;
}

Assembly assembleJpeg(const CExifImage& image, const EncodedTiff& tiff, const Reporter& report) {
    std::vector<std::uint8_t> segment(image.header, image.header + (image.base - image.headerStart));
    segment.insert(segment.end(), tiff.bytes.begin(), tiff.bytes.end());
    segment.insert(segment.end(), std::begin(kEndOfImage), std::end(kEndOfImage));
    Assembly assembly;
    assembly.content.push_back(Piece::ofFile(image.file, 0, image.headerStart));

    // The segment's length field holds at most 0xFFFF; the first segment of a file ends by 0xFFF0.
    const std::uint64_t segmentLength = tiff.segmentEnd - image.segmentStart - 2;
    if (image.extended() ? segmentLength > 0xFFFF : tiff.segmentEnd > exif::kMaxExifEnd) {
        assembly.content.push_back(Piece::ofBytes(std::move(segment)));  // its header as read
        assembly.refusal = CExifException(Fault::tooLarge);
        return assembly;
    }
    putU16(segment.data() + (image.segmentStart + 2 - image.headerStart), static_cast<std::uint16_t>(segmentLength),
           ByteOrder::bigEndian);
    const std::uint64_t remainder = image.fileStatus.size - image.sectionEnd;
    report.trace(verbose::kRewrite, "  Append 0x%x bytes from offset 0x%x of original jpg\n",
                 static_cast<unsigned>(remainder), image.sectionEnd);
    assembly.content.push_back(Piece::ofBytes(std::move(segment)));
    assembly.content.push_back(Piece::ofFile(image.file, image.sectionEnd, remainder));
    return assembly;
}

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
std::vector<std::uint8_t> boxHeader(const char* type, std::uint64_t payload) {
    std::vector<std::uint8_t> header;
    const bool large = payload + 8 > 0xFFFFFFFFu;
    appendBigEndian32(header, large ? 1 : payload + 8);
    header.insert(header.end(), type, type + 4);
    if (large) {
        appendBigEndian32(header, (payload + 16) >> 32);
        appendBigEndian32(header, (payload + 16) & 0xFFFFFFFFu);
    }
    return header;
}

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

// ---- TIFF: no byte of the file changes but the header's offset of IFD0; the new directories go at
// its end, IFD0 leading on to the pages that followed the old one. Where IFD0 and all behind it are
// what an earlier rewrite appended (everything else the file refers to lies in front of it), the new
// directories take their place, so that the file does not grow with each run.
constexpr std::uint16_t kSubIfds = 0x014A;
constexpr std::uint16_t kStripOffsets = 0x0111, kStripByteCounts = 0x0117;
constexpr std::uint16_t kTileOffsets = 0x0144, kTileByteCounts = 0x0145;
constexpr std::uint64_t kMostPieces = 1 << 20;  // strips or tiles of one image

/// The values of an in-place SHORT or LONG entry, read from where they lie; none where they cannot be.
bool valuesOf(const SourceBytes& bytes, const CExifImage& image, const CExifEntry& entry, std::vector<std::uint64_t>& out) {
    const std::uint32_t unit = exif::typeUnitSize(entry.type);
    if ((entry.type != fieldType::kShort && entry.type != fieldType::kLong) || entry.count > kMostPieces) return false;
    std::vector<std::uint8_t> raw(std::size_t(unit) * entry.count);
    if (raw.size() <= exif::kInlineValueSize) {
        std::copy_n(entry.data.begin(), raw.size(), raw.begin());
    } else if (bytes.copy(getU32(entry.data.data(), image.byteOrder), raw.data(), raw.size()) != raw.size()) {
        return false;
    }
    for (std::size_t i = 0; i < entry.count; ++i)
        out.push_back(unit == 2 ? getU16(raw.data() + 2 * i, image.byteOrder) : getU32(raw.data() + 4 * i, image.byteOrder));
    return true;
}

/// Where the new directories go: the old IFD0's place where everything the file still refers to lies
/// in front of it; else the end of the file.
std::uint64_t appendAt(const CExifImage& image) {
    const std::uint64_t size = image.fileStatus.size;
    const std::uint64_t ifd0 = getU32(image.header + 4, image.byteOrder);
    if (image.ifd0NextInPlace != 0 || ifd0 >= size || ifd0 < 8) return size;
    const SourceBytes bytes(image.file, size, 0);
    std::uint64_t used = 8;
    std::vector<std::uint64_t> pieces[2];  // offsets and lengths of strips or tiles
    for (const CExifEntry* entry = image.ifd0.entries.first(); entry != nullptr; entry = image.ifd0.entries.next(entry)) {
        if (!entry->inPlace) continue;
        if (entry->tag == kSubIfds) return size;  // directories whose reach is not read
        const std::uint64_t length = std::uint64_t(exif::typeUnitSize(entry->type)) * entry->count;
        if (length > exif::kInlineValueSize) used = std::max(used, getU32(entry->data.data(), image.byteOrder) + length);
        const int which = entry->tag == kStripOffsets || entry->tag == kTileOffsets        ? 0
                          : entry->tag == kStripByteCounts || entry->tag == kTileByteCounts ? 1
                                                                                            : -1;
        if (which >= 0 && !valuesOf(bytes, image, *entry, pieces[which])) return size;
    }
    if (pieces[0].size() != pieces[1].size()) return size;
    for (std::size_t i = 0; i < pieces[0].size(); ++i) used = std::max(used, pieces[0][i] + pieces[1][i]);
    return used <= ifd0 ? ifd0 : size;
}

TiffPlacement placeInTiff(const CExifImage& image) {
    TiffPlacement where;
    where.firstDirectory = static_cast<std::uint32_t>((appendAt(image) + 1) & ~std::uint64_t(1));
    where.writesHeader = false;
    return where;
}

Assembly assembleTiff(const CExifImage& image, const EncodedTiff& tiff, const Reporter&) {
    const std::uint64_t cut = appendAt(image);
    const std::uint64_t first = (cut + 1) & ~std::uint64_t(1);
    std::vector<std::uint8_t> offset(4);
    putU32(offset.data(), static_cast<std::uint32_t>(first), image.byteOrder);
    std::vector<std::uint8_t> appended(first - cut, 0);  // the directories start even
    appended.insert(appended.end(), tiff.bytes.begin(), tiff.bytes.end());
    std::vector<Edit> edits = {{4, 8, std::move(offset)}, {cut, image.fileStatus.size, std::move(appended)}};
    Assembly assembly{edited(image, std::move(edits)), std::nullopt};
    if (first + tiff.bytes.size() > 0xFFFFFFFFu) assembly.refusal = CExifException(Fault::tooLarge);
    return assembly;
}

const Assembler kJpeg = {"JPEG", placeInJpeg, assembleJpeg};
const Assembler kPng = {"PNG", placeInPng, assemblePng};
const Assembler kWebp = {"WebP", placeInWebp, assembleWebp};
const Assembler kJxl = {"JPEG XL", placeInJxl, assembleJxl};
const Assembler kTiff = {"TIFF", placeInTiff, assembleTiff};

}  // namespace

const Assembler* assemblerFor(const CExifImage& image) {
    switch (image.layout) {
        case Layout::exifFirstJpeg:
        case Layout::exifAnywhereJpeg:
        case Layout::jpegWithoutExif: return &kJpeg;
        case Layout::pngFile:
        case Layout::pngLegacyExif:
        case Layout::pngWithoutExif: return &kPng;
        case Layout::webpFile:
        case Layout::webpWithoutExif: return &kWebp;
        case Layout::jxlFile:
        case Layout::jxlWithoutExif: return &kJxl;
        case Layout::tiffFile: return &kTiff;
        default: return nullptr;
    }
}

}  // namespace tagloom
