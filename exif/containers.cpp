// Where the TIFF data lies: the kinds of file Tagloom recognises, and a locator for each.
#include "exif/containers.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/jpeg_segments.h"
#include "exif/parser.h"
#include "exif/text.h"

namespace tagloom {

namespace {

bool startsWith(const std::uint8_t* head, const char* text, std::size_t n) { return std::memcmp(head, text, n) == 0; }

/// One kind of file. Rows are tried in order; a row of --all-formats is tried only under that reading.
struct FileKind {
    const char* name;
    bool allFormatsOnly;
    bool raw;  // a source only, never rewritten
    /// By the first 16 bytes of the file (zero where the file is shorter).
    bool (*recognises)(const std::uint8_t* head);
    /// Finds the TIFF data and sets how far reads may go (the locator's comment says).
    std::uint64_t (CExifParser::*locate)();
    /// Folder mode takes a file of such a name as a source: extensions separated by spaces; and
    /// under --all-formats those of `moreExtensions` too.
    const char* extensions;
    const char* moreExtensions = "";
};

/// An ISO base media file whose major brand is one of `brands` (four characters each).
bool isoMedia(const std::uint8_t* head, const char* brands) {
    if (!startsWith(head + 4, "ftyp", 4)) return false;
    for (const char* brand = brands; *brand != '\0'; brand += 4) {
        if (startsWith(head + 8, brand, 4)) return true;
    }
    return false;
}

const FileKind kFileKinds[] = {
    // --all-formats: raw files by their content. TIFF-based raws (the default reading's CR2, marked
    // "CR" at 8, is its own): values anywhere in the file.
    {"TIFF-based raw", true, true,
     [](const std::uint8_t* head) {
         return (startsWith(head, "II*\0", 4) && !startsWith(head + 8, "CR", 2)) || startsWith(head, "MM\0*", 4);
     },
     &CExifParser::locateTiffRaw, ".nef .nrw .arw .sr2 .srf .dng .pef .srw .iiq"},
    {"ORF", true, true,
     [](const std::uint8_t* head) {
         return startsWith(head, "IIRO", 4) || startsWith(head, "IIRS", 4) || startsWith(head, "MMOR", 4);
     },
     &CExifParser::locateTiffRaw, ".orf"},
    {"RW2", true, true, [](const std::uint8_t* head) { return startsWith(head, "IIU\0", 4); }, &CExifParser::locateRw2,
     ".rw2 .rwl"},
    {"RAF", true, true, [](const std::uint8_t* head) { return startsWith(head, "FUJIFILMCCD-RAW ", 16); },
     &CExifParser::locateRaf, ".raf"},
    {"MRW", true, true, [](const std::uint8_t* head) { return startsWith(head, "\0MRM", 4); }, &CExifParser::locateMrw,
     ".mrw"},
    // ISO base media files by their major brand: a CR3 (a raw file), a HEIF or AVIF photo (a source only).
    {"CR3", true, true, [](const std::uint8_t* head) { return isoMedia(head, "crx "); }, &CExifParser::locateCr3, ".cr3"},
    {"HEIF", true, false,
     [](const std::uint8_t* head) { return isoMedia(head, "heicheixhevchevxheimheishevmhevsmif1msf1avifavis"); },
     &CExifParser::locateHeif, ".heic .heif .hif .avif"},
    // The default reading: any file that begins "II" is a raw file of the CR2 kind, and a JPEG.
    {"raw (CR2)", false, true, [](const std::uint8_t* head) { return startsWith(head, "II", 2); },
     &CExifParser::locateDefaultRaw, ".cr2"},
    {"JPEG", false, false, [](const std::uint8_t* head) { return head[0] == 0xFF && head[1] == 0xD8; },
     &CExifParser::locateJpeg, ".jpg", ".jpeg .jpe"},
};

/// True when the space-separated `list` holds `extension`, in any letter case.
bool listsExtension(const char* list, const std::string& extension) {
    for (const char* at = list; *at != '\0';) {
        const char* end = std::strchr(at, ' ');
        const std::size_t n = end != nullptr ? std::size_t(end - at) : std::strlen(at);
        if (equalIgnoringAsciiCase(extension, std::string_view(at, n))) return true;
        at += n + (end != nullptr ? 1 : 0);
    }
    return false;
}

constexpr int kMostMrwBlocks = 64;  // cameras write five or six

}  // namespace

NameKind kindOfName(const std::string& extension, bool allFormats) {
    NameKind found;
    for (const FileKind& kind : kFileKinds) {
        if (kind.allFormatsOnly && !allFormats) continue;
        if (!listsExtension(kind.extensions, extension) && !(allFormats && listsExtension(kind.moreExtensions, extension)))
            continue;
        found.candidate = true;
        found.raw = kind.raw;
        found.jpeg = kind.locate == &CExifParser::locateJpeg;
        found.rank = kind.raw ? 0 : found.jpeg ? 2 : 1;
        break;
    }
    return found;
}

bool orderOf(const std::uint8_t* mark, ByteOrder& order) {
    if (mark[0] != mark[1] || (mark[0] != 'I' && mark[0] != 'M')) return false;
    order = mark[0] == 'I' ? ByteOrder::littleEndian : ByteOrder::bigEndian;
    return true;
}

std::uint64_t CExifParser::locate() {
    // Bytes missing at the end of a short file count as zero.
    std::uint8_t head[16] = {};
    bytes_->copy(0, head, sizeof head);
    for (const FileKind& kind : kFileKinds) {
        if ((kind.allFormatsOnly && !allFormats_) || !kind.recognises(head)) continue;
        return (this->*kind.locate)();
    }
    throw CExifException(Fault::headerNotUnderstood);
}

// The default reading's JPEG: the Exif segment must be the first segment, with little-endian TIFF
// data; reads stay inside the segment. --all-formats looks further.
std::uint64_t CExifParser::locateJpeg() {
    bytes_->copy(0, image_.header, sizeof image_.header);
    const JpegSegments first = scanSegments(*bytes_, 1);
    if (!first.segments.empty() && first.segments.front().offset == exif::kFirstSegment &&
        first.segments.front().marker == kApp1Marker && image_.header[12] == exif::kIntelByte &&
        image_.header[13] == exif::kIntelByte) {
        const JpegSegment& segment = first.segments.front();
        image_.layout = Layout::exifFirstJpeg;
        image_.segmentStart = segment.offset;
        image_.sectionEnd = static_cast<std::uint32_t>(segment.end());
        image_.base = static_cast<std::uint32_t>(segment.offset + exif::kTiffHeaderInSegment);
        // IFD0 lies where the TIFF header says; most cameras store 8, right behind the header.
        return getU32(image_.header + 16, ByteOrder::littleEndian);
    }
    if (!allFormats_) throw CExifException(Fault::jpegHeaderNotSupported);
    return locateExif();
}

// The default reading's raw file: TIFF data from byte 0, IFD0 read at 16 whatever the header says,
// and no read past the first 64 KiB.
std::uint64_t CExifParser::locateDefaultRaw() {
    image_.layout = Layout::defaultRaw;
    image_.sectionEnd = exif::kRawSectionEnd;
    return exif::kRawIfd0Position;
}

std::uint64_t CExifParser::locateExif(std::uint64_t jpegStart) {
    image_.layout = Layout::exifAnywhereJpeg;
    const JpegSegments found = scanSegments(*bytes_, SIZE_MAX, jpegStart);
    frame_ = frameSizeOf(*bytes_, found);
    const JpegSegment* exif = nullptr;
    for (const JpegSegment& segment : found.segments) {
        if (holdsExif(*bytes_, segment)) {
            exif = &segment;
            break;
        }
    }
    if (exif == nullptr) {
        // None before the image data: a new segment goes behind SOI and the APP0 segments (JFIF,
        // JFXX) that follow it directly, where other programs put it too.
        if (!found.wellFormed) throw CExifException(Fault::jpegHeaderNotSupported);
        std::uint64_t insertAt = exif::kFirstSegment;
        for (const JpegSegment& segment : found.segments) {
            if (segment.marker != kApp0Marker || segment.offset != insertAt) break;
            insertAt = segment.end();
        }
        if (insertAt > std::uint64_t(UINT32_MAX) - 0x10000) throw CExifException(Fault::jpegHeaderNotSupported);
        static const std::uint8_t kNewSegment[18] = {0xFF, kApp1Marker, 0, 0, 'E', 'x', 'i', 'f', 0, 0,
                                                     'I',  'I',         42, 0, 8, 0, 0, 0};
        std::copy(std::begin(kNewSegment), std::end(kNewSegment), image_.header);
        image_.layout = Layout::jpegWithoutExif;
        image_.headerStart = image_.segmentStart = insertAt;
        image_.sectionEnd = static_cast<std::uint32_t>(insertAt);
        image_.base = static_cast<std::uint32_t>(insertAt + exif::kTiffHeaderInSegment);
        return 0;
    }
    // The segment's start up to IFD0's offset; the TIFF data in either byte order, read within the segment.
    image_.headerStart = image_.segmentStart = exif->offset;
    image_.sectionEnd = static_cast<std::uint32_t>(exif->end());
    image_.base = static_cast<std::uint32_t>(exif->offset + exif::kTiffHeaderInSegment);
    const std::uint64_t headerSize = exif::kTiffHeaderInSegment + 8;
    if (exif->end() > std::uint64_t(UINT32_MAX) || exif->length < headerSize - 2 ||
        bytes_->copy(exif->offset, image_.header, headerSize) != headerSize || !orderOf(image_.header + 10, image_.byteOrder))
        throw CExifException(Fault::jpegHeaderNotSupported);
    return getU32(image_.header + 14, image_.byteOrder);
}

std::uint64_t CExifParser::takeTiff(std::uint64_t base, std::uint64_t limit) {
    std::uint8_t head[8] = {};
    bytes_->copy(base, head, sizeof head);
    if (!orderOf(head, image_.byteOrder)) throw CExifException(Fault::headerNotUnderstood);
    image_.base = static_cast<std::uint32_t>(base);
    image_.sectionEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, UINT32_MAX));
    return getU32(head + 4, image_.byteOrder);
}

// TIFF and ORF (TIFF data with a magic number of its own): reads may go to the end of the file.
std::uint64_t CExifParser::locateTiffRaw() {
    image_.layout = Layout::tiffRaw;
    return takeTiff(0, std::min<std::uint64_t>(bytes_->length(), UINT32_MAX));
}

// MRW: blocks of a name (4) and a big-endian length (4); the TIFF data is the "\0TTW" block's, and
// reads stay inside that block.
std::uint64_t CExifParser::locateMrw() {
    image_.layout = Layout::tiffRaw;
    const std::uint64_t length = std::min<std::uint64_t>(bytes_->length(), UINT32_MAX);
    std::uint8_t field[8] = {};
    bytes_->copy(4, field, 4);
    const std::uint64_t end = std::min<std::uint64_t>(8 + std::uint64_t(getU32(field, ByteOrder::bigEndian)), length);
    int blocks = 0;
    for (std::uint64_t at = 8; at + 8 <= end && ++blocks <= kMostMrwBlocks;) {
        bytes_->copy(at, field, sizeof field);
        const std::uint64_t blockEnd = at + 8 + getU32(field + 4, ByteOrder::bigEndian);
        if (std::memcmp(field, "\0TTW", 4) == 0) return takeTiff(at + 8, std::min(blockEnd, length));
        at = blockEnd;
    }
    throw CExifException(Fault::headerNotUnderstood);
}

// RAF: the embedded JPEG's place and length, big-endian, at 84.
std::uint64_t CExifParser::locateRaf() {
    image_.layout = Layout::embeddedJpegRaw;
    std::uint8_t field[8] = {};
    bytes_->copy(84, field, sizeof field);
    return takeEmbeddedJpeg(getU32(field, ByteOrder::bigEndian), getU32(field + 4, ByteOrder::bigEndian));
}

// RW2 and RWL: IFD0's tag 0x002E holds the embedded JPEG.
std::uint64_t CExifParser::locateRw2() {
    image_.layout = Layout::embeddedJpegRaw;
    const std::uint64_t ifd0 = takeTiff(0, std::min<std::uint64_t>(bytes_->length(), UINT32_MAX));
    view_ = TiffView(*bytes_, 0, image_.sectionEnd, image_.byteOrder);
    const EntryField embedded = ifd0Field(ifd0, tag::kPanasonicJpegFromRaw);
    return takeEmbeddedJpeg(embedded.value, embedded.count);
}

// The embedded JPEG's Exif segment, wherever it lies in that JPEG; reads stay inside the segment.
std::uint64_t CExifParser::takeEmbeddedJpeg(std::uint64_t jpeg, std::uint64_t jpegLength) {
    std::uint8_t soi[2] = {};
    if (jpegLength < 4 || jpeg + jpegLength > bytes_->length() || bytes_->copy(jpeg, soi, 2) != 2 ||
        getU16(soi, ByteOrder::bigEndian) != 0xFFD8)
        throw CExifException(Fault::noJpegInRaw);
    const std::uint64_t ifd0 = locateExif(jpeg);
    image_.layout = image_.layout == Layout::jpegWithoutExif ? Layout::embeddedJpegRawWithoutExif : Layout::embeddedJpegRaw;
    return ifd0;
}

}  // namespace tagloom
