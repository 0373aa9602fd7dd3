#include "writer/assembler.h"

#include <algorithm>
#include <iterator>

#include "exif/exports.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/tiff_view.h"
#include "writer/assemblers.h"

namespace tagloom {

using platform::Piece;

void appendBigEndian32(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendLittleEndian32(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

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

std::vector<std::uint8_t> boxHeader(const char* type, std::uint64_t payload, bool large) {
    std::vector<std::uint8_t> header;
    large = large || payload + 8 > 0xFFFFFFFFu;
    appendBigEndian32(header, large ? 1 : payload + 8);
    header.insert(header.end(), type, type + 4);
    if (large) {
        appendBigEndian32(header, (payload + 16) >> 32);
        appendBigEndian32(header, (payload + 16) & 0xFFFFFFFFu);
    }
    return header;
}

SourceBytes oldBytes(const CExifImage& image) { return SourceBytes(image.file, image.fileStatus.size, exif::kMaxSectionEnd); }

namespace {

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

}  // namespace

const Assembler kJpeg = {"JPEG", placeInJpeg, assembleJpeg};
const Assembler kTiff = {"TIFF", placeInTiff, assembleTiff};

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
        case Layout::heifFile:
        case Layout::heifWithoutExif: return &kHeif;
        default: return nullptr;
    }
}

}  // namespace tagloom
