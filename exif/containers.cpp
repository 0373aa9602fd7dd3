// Where the TIFF data lies: the layouts and what each means, the kinds of file Tagloom recognises,
// and a locator for each, which gives what it found.
#include "exif/containers.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "exif/exception.h"
#include "exif/exports.h"
#include "exif/format.h"
#include "exif/jpeg_segments.h"
#include "exif/text.h"
#include "exif/tiff_view.h"

namespace tagloom {

namespace {

// By layout, in the order of its enumeration:
//                                raw    extended jpeg   holdsExif allowList orientApart export rawNote previews boxes inPlace
constexpr LayoutTraits kLayouts[] = {
    /* exifFirstJpeg */              {false, false, true,  true,  false, false, false, false, false, false, false},
    /* defaultRaw */                 {true,  false, false, true,  false, false, false, true,  false, false, false},
    /* exifAnywhereJpeg */           {false, true,  true,  true,  false, false, true,  false, false, false, false},
    /* jpegWithoutExif */            {false, true,  true,  false, false, false, true,  false, false, false, false},
    /* tiffRaw */                    {true,  true,  false, true,  true,  false, false, true,  true,  false, false},
    /* embeddedJpegRaw */            {true,  true,  false, true,  true,  false, false, false, false, false, false},
    /* embeddedJpegRawWithoutExif */ {true,  true,  false, false, true,  false, false, false, false, false, false},
    /* canonBoxesRaw */              {true,  true,  false, true,  true,  false, false, false, false, true,  false},
    /* heifItem */                   {false, true,  false, true,  true,  true,  false, false, false, false, false},
    /* pngFile */                    {false, true,  false, true,  false, false, true,  false, false, false, false},
    /* pngLegacyExif */              {false, true,  false, true,  false, false, true,  false, false, false, false},
    /* pngWithoutExif */             {false, true,  false, false, false, false, true,  false, false, false, false},
    /* webpFile */                   {false, true,  false, true,  false, false, true,  false, false, false, false},
    /* webpWithoutExif */            {false, true,  false, false, false, false, true,  false, false, false, false},
    /* jxlFile */                    {false, true,  false, true,  false, true,  true,  false, false, false, false},
    /* jxlWithoutExif */             {false, true,  false, false, false, true,  true,  false, false, false, false},
    /* tiffFile */                   {false, true,  false, true,  true,  false, true,  false, true,  false, true},
    /* heifFile */                   {false, true,  false, true,  false, true,  true,  false, false, false, false},
    /* heifWithoutExif */            {false, true,  false, false, false, true,  true,  false, false, false, false},
};
static_assert(std::size(kLayouts) == std::size_t(Layout::heifWithoutExif) + 1, "one row per layout");

bool startsWith(const std::uint8_t* head, const char* text, std::size_t n) { return std::memcmp(head, text, n) == 0; }

Located locateJpeg(const SourceBytes& bytes, const Reading& reading);
Located locateDefaultRaw(const SourceBytes& bytes, const Reading& reading);
Located locateTiffRaw(const SourceBytes& bytes, const Reading& reading);
Located locateMrw(const SourceBytes& bytes, const Reading& reading);
Located locateRaf(const SourceBytes& bytes, const Reading& reading);
Located locateRw2(const SourceBytes& bytes, const Reading& reading);

/// One kind of file. Rows are tried in order; a row of --all-formats is tried only under that reading.
struct FileKind {
    const char* name;
    bool allFormatsOnly;
    bool raw;   // a source only, never rewritten
    bool jpeg;  // a JPEG: folder mode's destinations are of this kind
    /// By the first 16 bytes of the file (zero where the file is shorter) and its name's extension.
    bool (*recognises)(const std::uint8_t* head, const std::string& extension);
    /// Finds the TIFF data and sets how far reads may go (the locator's comment says).
    Located (*locate)(const SourceBytes& bytes, const Reading& reading);
    /// Folder mode takes a file of such a name as a source: extensions separated by spaces; and
    /// under --all-formats those of `moreExtensions` too; or, an export's, as a destination.
    const char* extensions;
    const char* moreExtensions = "";
    const char* exportExtensions = "";
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
    // --all-formats: editors' exports. A TIFF named ".tif" or ".tiff" is an export (raw files carry
    // other names).
    {"TIFF", true, false, false,
     [](const std::uint8_t* head, const std::string& extension) {
         return (startsWith(head, "II", 2) || startsWith(head, "MM", 2)) &&
                (equalIgnoringAsciiCase(extension, ".tif") || equalIgnoringAsciiCase(extension, ".tiff"));
     },
     locateTiffFile, "", "", ".tif .tiff"},
    {"PNG", true, false, false,
     [](const std::uint8_t* head, const std::string&) { return std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0; },
     locatePng, "", "", ".png"},
    {"WebP", true, false, false,
     [](const std::uint8_t* head, const std::string&) { return startsWith(head, "RIFF", 4) && startsWith(head + 8, "WEBP", 4); },
     locateWebp, "", "", ".webp"},
    {"JPEG XL", true, false, false,
     [](const std::uint8_t* head, const std::string&) {
         return std::memcmp(head, kJxlSignature, sizeof kJxlSignature) == 0 || (head[0] == 0xFF && head[1] == 0x0A);
     },
     locateJxl, "", "", ".jxl"},
    // --all-formats: raw files by their content. TIFF-based raws (the default reading's CR2, marked
    // "CR" at 8, is its own): values anywhere in the file.
    {"TIFF-based raw", true, true, false,
     [](const std::uint8_t* head, const std::string&) {
         return (startsWith(head, "II*\0", 4) && !startsWith(head + 8, "CR", 2)) || startsWith(head, "MM\0*", 4);
     },
     locateTiffRaw, ".nef .nrw .arw .sr2 .srf .dng .pef .srw .iiq"},
    {"ORF", true, true, false,
     [](const std::uint8_t* head, const std::string&) {
         return startsWith(head, "IIRO", 4) || startsWith(head, "IIRS", 4) || startsWith(head, "MMOR", 4);
     },
     locateTiffRaw, ".orf"},
    {"RW2", true, true, false, [](const std::uint8_t* head, const std::string&) { return startsWith(head, "IIU\0", 4); }, locateRw2, ".rw2 .rwl"},
    {"RAF", true, true, false, [](const std::uint8_t* head, const std::string&) { return startsWith(head, "FUJIFILMCCD-RAW ", 16); }, locateRaf,
     ".raf"},
    {"MRW", true, true, false, [](const std::uint8_t* head, const std::string&) { return startsWith(head, "\0MRM", 4); }, locateMrw, ".mrw"},
    // ISO base media files by their major brand: a CR3 (a raw file), a HEIF or AVIF photo.
    {"CR3", true, true, false, [](const std::uint8_t* head, const std::string&) { return isoMedia(head, "crx "); }, locateCr3, ".cr3"},
    {"HEIF", true, false, false,
     [](const std::uint8_t* head, const std::string&) { return isoMedia(head, "heicheixhevchevxheimheishevmhevsmif1msf1avifavis"); },
     locateHeif, ".heic .heif .hif .avif", "", ".heic .heif .hif .avif"},
    // The default reading: any file that begins "II" is a raw file of the CR2 kind, and a JPEG.
    {"raw (CR2)", false, true, false, [](const std::uint8_t* head, const std::string&) { return startsWith(head, "II", 2); }, locateDefaultRaw,
     ".cr2"},
    {"JPEG", false, false, true, [](const std::uint8_t* head, const std::string&) { return head[0] == 0xFF && head[1] == 0xD8; }, locateJpeg,
     ".jpg", ".jpeg .jpe"},
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

/// The Exif segment of a JPEG that the default reading refuses, wherever it lies before the image
/// data, in either byte order; a JPEG without one gets the place where a new segment goes. An
/// embedded JPEG (of a raw file) starts at `jpegStart`.
Located locateExif(const SourceBytes& bytes, std::uint64_t jpegStart = 0) {
    Located found;
    found.layout = Layout::exifAnywhereJpeg;
    const JpegSegments segments = scanSegments(bytes, SIZE_MAX, jpegStart);
    found.frame = frameSizeOf(bytes, segments);
    const JpegSegment* exif = nullptr;
    for (const JpegSegment& segment : segments.segments) {
        if (holdsExif(bytes, segment)) {
            exif = &segment;
            break;
        }
    }
    if (exif == nullptr) {
        // None before the image data: a new segment goes behind SOI and the APP0 segments (JFIF,
        // JFXX) that follow it directly, where other programs put it too.
        if (!segments.wellFormed) throw CExifException(Fault::jpegHeaderNotSupported);
        std::uint64_t insertAt = exif::kFirstSegment;
        for (const JpegSegment& segment : segments.segments) {
            if (segment.marker != kApp0Marker || segment.offset != insertAt) break;
            insertAt = segment.end();
        }
        if (insertAt > std::uint64_t(UINT32_MAX) - 0x10000) throw CExifException(Fault::jpegHeaderNotSupported);
        static const std::uint8_t kNewSegment[18] = {0xFF, kApp1Marker, 0, 0, 'E', 'x', 'i', 'f', 0, 0,
                                                     'I',  'I',         42, 0, 8, 0, 0, 0};
        std::copy(std::begin(kNewSegment), std::end(kNewSegment), found.header);
        found.layout = Layout::jpegWithoutExif;
        found.headerStart = found.segmentStart = found.sectionEnd = insertAt;
        found.base = insertAt + exif::kTiffHeaderInSegment;
        return found;
    }
    // The segment's start up to IFD0's offset; the TIFF data in either byte order, read within the segment.
    found.headerStart = found.segmentStart = exif->offset;
    found.sectionEnd = exif->end();
    found.base = exif->offset + exif::kTiffHeaderInSegment;
    const std::uint64_t headerSize = exif::kTiffHeaderInSegment + 8;
    if (exif->end() > std::uint64_t(UINT32_MAX) || exif->length < headerSize - 2 ||
        bytes.copy(exif->offset, found.header, headerSize) != headerSize || !orderOf(found.header + 10, found.order))
        throw CExifException(Fault::jpegHeaderNotSupported);
    found.ifd0 = getU32(found.header + 14, found.order);
    return found;
}

// The default reading's JPEG: the Exif segment must be the first segment, with little-endian TIFF
// data; reads stay inside the segment. --all-formats looks further, and reads the frame's size.
Located locateJpeg(const SourceBytes& bytes, const Reading& reading) {
    Located found;
    bytes.copy(0, found.header, sizeof found.header);
    const JpegSegments first = scanSegments(bytes, 1);
    if (!first.segments.empty() && first.segments.front().offset == exif::kFirstSegment &&
        first.segments.front().marker == kApp1Marker && found.header[12] == exif::kIntelByte &&
        found.header[13] == exif::kIntelByte) {
        const JpegSegment& segment = first.segments.front();
        found.segmentStart = segment.offset;
        found.sectionEnd = segment.end();
        found.base = segment.offset + exif::kTiffHeaderInSegment;
        // IFD0 lies where the TIFF header says; most cameras store 8, right behind the header.
        found.ifd0 = getU32(found.header + 16, ByteOrder::littleEndian);
        if (reading.allFormats) found.frame = frameSizeOf(bytes, scanSegments(bytes));
        return found;
    }
    if (!reading.allFormats) throw CExifException(Fault::jpegHeaderNotSupported);
    return locateExif(bytes);
}

// The default reading's raw file: TIFF data from byte 0, IFD0 read at 16 whatever the header says,
// and no read past the first 64 KiB.
Located locateDefaultRaw(const SourceBytes&, const Reading&) {
    Located found;
    found.layout = Layout::defaultRaw;
    found.sectionEnd = exif::kRawSectionEnd;
    found.ifd0 = exif::kRawIfd0Position;
    return found;
}

// TIFF and ORF (TIFF data with a magic number of its own): reads may go to the end of the file.
Located locateTiffRaw(const SourceBytes& bytes, const Reading&) {
    return takeTiff(bytes, Layout::tiffRaw, 0, bytes.length());
}

// MRW: blocks of a name (4) and a big-endian length (4); the TIFF data is the "\0TTW" block's, and
// reads stay inside that block.
Located locateMrw(const SourceBytes& bytes, const Reading&) {
    const std::uint64_t length = std::min<std::uint64_t>(bytes.length(), UINT32_MAX);
    std::uint8_t field[8] = {};
    bytes.copy(4, field, 4);
    const std::uint64_t end = std::min<std::uint64_t>(8 + std::uint64_t(getU32(field, ByteOrder::bigEndian)), length);
    int blocks = 0;
    for (std::uint64_t at = 8; at + 8 <= end && ++blocks <= kMostMrwBlocks;) {
        bytes.copy(at, field, sizeof field);
        const std::uint64_t blockEnd = at + 8 + getU32(field + 4, ByteOrder::bigEndian);
        if (std::memcmp(field, "\0TTW", 4) == 0) return takeTiff(bytes, Layout::tiffRaw, at + 8, std::min(blockEnd, length));
        at = blockEnd;
    }
    throw CExifException(Fault::headerNotUnderstood);
}

/// The Exif data of the JPEG that a raw file embeds at `jpeg`, `jpegLength` bytes long, wherever it
/// lies in that JPEG; reads stay inside the segment.
Located takeEmbeddedJpeg(const SourceBytes& bytes, std::uint64_t jpeg, std::uint64_t jpegLength) {
    std::uint8_t soi[2] = {};
    if (jpegLength < 4 || jpeg + jpegLength > bytes.length() || bytes.copy(jpeg, soi, 2) != 2 ||
        getU16(soi, ByteOrder::bigEndian) != 0xFFD8)
        throw CExifException(Fault::noJpegInRaw);
    Located found = locateExif(bytes, jpeg);
    found.layout = found.layout == Layout::jpegWithoutExif ? Layout::embeddedJpegRawWithoutExif : Layout::embeddedJpegRaw;
    return found;
}

// RAF: the embedded JPEG's place and length, big-endian, at 84.
Located locateRaf(const SourceBytes& bytes, const Reading&) {
    std::uint8_t field[8] = {};
    bytes.copy(84, field, sizeof field);
    return takeEmbeddedJpeg(bytes, getU32(field, ByteOrder::bigEndian), getU32(field + 4, ByteOrder::bigEndian));
}

// RW2 and RWL: IFD0's tag 0x002E holds the embedded JPEG.
Located locateRw2(const SourceBytes& bytes, const Reading&) {
    const Located tiff = takeTiff(bytes, Layout::embeddedJpegRaw, 0, bytes.length());
    TiffView view(bytes, 0, tiff.sectionEnd, tiff.order);
    view.seekSource(tiff.ifd0);
    const std::uint16_t count = view.readU16();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint16_t entryTag = view.readU16();
        view.readU16();
        const std::uint32_t length = view.readU32();
        const std::uint32_t at = view.readU32();
        if (entryTag == tag::kPanasonicJpegFromRaw) return takeEmbeddedJpeg(bytes, at, length);
    }
    return takeEmbeddedJpeg(bytes, 0, 0);
}

}  // namespace

const LayoutTraits& traitsOf(Layout layout) { return kLayouts[static_cast<std::size_t>(layout)]; }

Located withoutExif(Layout layout) {
    Located found;
    found.layout = layout;
    static const std::uint8_t kNewHeader[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::copy(std::begin(kNewHeader), std::end(kNewHeader), found.header);
    return found;
}

Located takeTiff(const SourceBytes& bytes, Layout layout, std::uint64_t base, std::uint64_t limit) {
    Located found;
    found.layout = layout;
    std::uint8_t head[8] = {};
    bytes.copy(base, head, sizeof head);
    if (!orderOf(head, found.order)) throw CExifException(Fault::headerNotUnderstood);
    found.base = base;
    found.sectionEnd = std::min<std::uint64_t>(limit, UINT32_MAX);
    found.ifd0 = getU32(head + 4, found.order);
    return found;
}

NameKind kindOfName(const std::string& extension, bool allFormats) {
    NameKind found;
    for (const FileKind& kind : kFileKinds) {
        if (kind.allFormatsOnly && !allFormats) continue;
        if (!listsExtension(kind.extensions, extension) && !(allFormats && listsExtension(kind.moreExtensions, extension)))
            continue;
        found.candidate = true;
        found.raw = kind.raw;
        found.jpeg = kind.jpeg;
        found.rank = kind.raw ? 0 : found.jpeg ? 2 : 1;
        break;
    }
    return found;
}

const std::vector<std::string>& exportExtensions() {
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> all;
        for (const FileKind& kind : kFileKinds) {
            for (const char* at = kind.exportExtensions; *at != '\0';) {
                const char* end = std::strchr(at, ' ');
                const std::size_t n = end != nullptr ? std::size_t(end - at) : std::strlen(at);
                all.emplace_back(at, n);
                at += n + (end != nullptr ? 1 : 0);
            }
        }
        return all;
    }();
    return extensions;
}

bool orderOf(const std::uint8_t* mark, ByteOrder& order) {
    if (mark[0] != mark[1] || (mark[0] != 'I' && mark[0] != 'M')) return false;
    order = mark[0] == 'I' ? ByteOrder::littleEndian : ByteOrder::bigEndian;
    return true;
}

Located locate(const SourceBytes& bytes, const Reading& reading) {
    // Bytes missing at the end of a short file count as zero.
    std::uint8_t head[16] = {};
    bytes.copy(0, head, sizeof head);
    for (const FileKind& kind : kFileKinds) {
        if ((kind.allFormatsOnly && !reading.allFormats) || !kind.recognises(head, reading.extension)) continue;
        return kind.locate(bytes, reading);
    }
    throw CExifException(Fault::headerNotUnderstood);
}

}  // namespace tagloom
