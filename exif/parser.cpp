// The directory parser: header recognition, then every directory of an image, read through a
// bounded TiffView.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/jpeg_segments.h"
#include "exif/text.h"
#include "exif/tiff_view.h"
#include "exif/trace.h"

namespace {

/// The byte order that two bytes name, "II" or "MM"; false for anything else.
bool orderOf(const std::uint8_t* mark, ByteOrder& order) {
    if (mark[0] != mark[1] || (mark[0] != 'I' && mark[0] != 'M')) return false;
    order = mark[0] == 'I' ? ByteOrder::littleEndian : ByteOrder::bigEndian;
    return true;
}

/// One load of one image: the view it reads through, the directories it has read (a directory
/// read twice is a loop), and what the image holds in memory so far.
class CExifParser {
public:
    CExifParser(CExifImage& image, const SourceBytes& bytes, bool allFormats)
        : image_(image), bytes_(bytes), allFormats_(allFormats), view_(bytes, 0, 0, ByteOrder::littleEndian) {}

    void parseHeader();

private:
    /// Finds the Exif segment of a JPEG that the default reading refuses; gives IFD0's position.
    /// An embedded JPEG (of a raw file) starts at `jpegStart`.
    std::uint64_t locateExif(std::uint64_t jpegStart = 0);
    /// Where a raw file of a kind other than the default reading's keeps its TIFF data; gives
    /// IFD0's position. False when the file is of no such kind.
    bool locateRaw(std::uint64_t& ifd0Position);
    /// The TIFF data at `base` (its header says the order and IFD0), up to `limit`.
    std::uint64_t takeTiff(std::uint64_t base, std::uint64_t limit);
    /// Where IFD0 of the TIFF data in view holds `wanted`: its count and value field. None: 0, 0.
    std::pair<std::uint32_t, std::uint32_t> ifd0Field(std::uint64_t ifd0, std::uint16_t wanted);
    /// A DNG's original maker note, kept in its private data with its old offset.
    void parseDngMakerNote(std::uint32_t count, std::uint32_t at);
    /// Moves the exposure tags a raw file keeps in IFD0 to the Exif sub-directory that lacks them.
    void moveExposureTags();
    /// Reads the maker note at `start` (relative to view_) whose value declares `declared` bytes;
    /// false when it is a raw file's image data rather than a note.
    bool readMakerNote(std::uint32_t start, std::uint32_t declared);
    void parseDirectory(CExifDirectory& directory, int chainLength = 0);
    void followPointer(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from);
    void captureThumbnail();
    /// Charges bytes against what one image may hold in memory.
    void hold(std::uint64_t bytes);
    /// The maker note that begins at `start`, read by its kind (--all-formats).
    void parseMakerNote(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared);
    /// The byte order of a note of this kind that begins at `noteStart` (absolute), where the kind
    /// fixes it or the note names it; `order` holds the outer one on entry. False when the note's
    /// bytes name none.
    bool orderOfNote(const MakerNoteKind& kind, std::uint64_t noteStart, ByteOrder& order) const;
    /// The end of what an opaque note's directory at `at` (in `view`) refers to, absolute; refuses
    /// a reference in front of `noteStart`.
    std::uint64_t reachOf(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint64_t noteStart,
                          int depth);
    /// Carries the data a relaid note's preview entries lead to with the start entry.
    void capturePreview(const MakerNoteKind& kind);
    /// Makes the `bytes` at position `at` the entry's value, so that writing it as an ordinary
    /// out-of-line value moves the data along and writes its new position.
    void carry(CExifEntry& entry, std::uint64_t at, std::uint64_t bytes);

    CExifImage& image_;
    const SourceBytes& bytes_;
    bool allFormats_;
    TiffView view_;
    std::set<std::uint64_t> directoriesRead_;  // absolute positions
    std::uint64_t heldBytes_ = 0;
    std::uint64_t makerNoteStart_ = 0;
    std::map<std::uint64_t, std::uint64_t> reaches_;  // an opaque note's directories: absolute position, reach
    std::uint64_t entriesWalked_ = 0;
};

std::uint64_t CExifParser::locateExif(std::uint64_t jpegStart) {
    image_.extended = true;
    const JpegSegments found = scanSegments(bytes_, SIZE_MAX, jpegStart);
    const JpegSegment* exif = nullptr;
    for (const JpegSegment& segment : found.segments) {
        if (holdsExif(bytes_, segment)) {
            exif = &segment;
            break;
        }
    }
    if (exif == nullptr) {
        // None before the image data: a new segment goes behind SOI and the APP0 segments (JFIF,
        // JFXX) that follow it directly, where other programs put it too.
        if (!found.wellFormed) throw new CExifException("Jpg header type not supported");
        std::uint64_t insertAt = exif::kFirstSegment;
        for (const JpegSegment& segment : found.segments) {
            if (segment.marker != kApp0Marker || segment.offset != insertAt) break;
            insertAt = segment.end();
        }
        if (insertAt > std::uint64_t(UINT32_MAX) - 0x10000) throw new CExifException("Jpg header type not supported");
        static const std::uint8_t kNewSegment[18] = {0xFF, kApp1Marker, 0, 0, 'E', 'x', 'i', 'f', 0, 0,
                                                     'I',  'I',         42, 0, 8, 0, 0, 0};
        std::copy(std::begin(kNewSegment), std::end(kNewSegment), image_.header);
        image_.hasExif = false;
        image_.headerStart = image_.segmentStart = insertAt;
        image_.sectionEnd = static_cast<std::uint32_t>(insertAt);
        image_.base = static_cast<std::uint32_t>(insertAt + exif::kTiffHeaderInSegment);
        return 0;
    }
    // The segment's start up to IFD0's offset; the TIFF data in either byte order.
    image_.headerStart = image_.segmentStart = exif->offset;
    image_.sectionEnd = static_cast<std::uint32_t>(exif->end());
    image_.base = static_cast<std::uint32_t>(exif->offset + exif::kTiffHeaderInSegment);
    const std::uint64_t headerSize = exif::kTiffHeaderInSegment + 8;
    if (exif->end() > std::uint64_t(UINT32_MAX) || exif->length < headerSize - 2 ||
        bytes_.copy(exif->offset, image_.header, headerSize) != headerSize || !orderOf(image_.header + 10, image_.byteOrder))
        throw new CExifException("Jpg header type not supported");
    return getU32(image_.header + 14, image_.byteOrder);
}

std::uint64_t CExifParser::takeTiff(std::uint64_t base, std::uint64_t limit) {
    std::uint8_t head[8] = {};
    bytes_.copy(base, head, sizeof head);
    if (!orderOf(head, image_.byteOrder)) throw new CExifException("File not support (header not understood)");
    image_.base = static_cast<std::uint32_t>(base);
    image_.sectionEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, UINT32_MAX));
    return getU32(head + 4, image_.byteOrder);
}

constexpr int kMostMrwBlocks = 64;  // cameras write five or six

bool CExifParser::locateRaw(std::uint64_t& ifd0Position) {
    std::uint8_t head[16] = {};
    bytes_.copy(0, head, sizeof head);
    const auto startsWith = [&](const char* text, std::size_t n) { return std::memcmp(head, text, n) == 0; };
    // The kind the default reading takes: left to it.
    if (startsWith("II*\0", 4) && head[8] == 'C' && head[9] == 'R') return false;
    const std::uint64_t length = std::min<std::uint64_t>(bytes_.length(), UINT32_MAX);
    const bool tiff = startsWith("II*\0", 4) || startsWith("MM\0*", 4);
    const bool orf = startsWith("IIRO", 4) || startsWith("IIRS", 4) || startsWith("MMOR", 4);
    const bool rw2 = startsWith("IIU\0", 4);
    const bool raf = startsWith("FUJIFILMCCD-RAW ", 16);
    const bool mrw = startsWith("\0MRM", 4);
    if (!tiff && !orf && !rw2 && !raf && !mrw) return false;
    image_.isRaw = true;
    image_.extended = true;

    if (raf || rw2) {
        // The embedded JPEG holds the Exif data: RAF says where at 84, RW2 in its IFD0's tag 0x002E.
        std::uint64_t jpeg = 0;
        std::uint64_t jpegLength = 0;
        if (raf) {
            std::uint8_t field[8] = {};
            bytes_.copy(84, field, sizeof field);
            jpeg = getU32(field, ByteOrder::bigEndian);
            jpegLength = getU32(field + 4, ByteOrder::bigEndian);
        } else {
            const std::uint64_t ifd0 = takeTiff(0, length);
            view_ = TiffView(bytes_, 0, image_.sectionEnd, image_.byteOrder);
            const auto [count, at] = ifd0Field(ifd0, tag::kPanasonicJpegFromRaw);
            jpeg = at;
            jpegLength = count;
        }
        std::uint8_t soi[2] = {};
        if (jpegLength < 4 || jpeg + jpegLength > bytes_.length() || bytes_.copy(jpeg, soi, 2) != 2 ||
            getU16(soi, ByteOrder::bigEndian) != 0xFFD8)
            throw new CExifException("Raw file holds no JPEG with Exif data");
        ifd0Position = locateExif(jpeg);
        image_.embedded = true;
        return true;
    }
    if (mrw) {
        // Blocks of a name (4) and a big-endian length (4); the TIFF data is the "\0TTW" block's.
        std::uint8_t field[8] = {};
        bytes_.copy(4, field, 4);
        const std::uint64_t end = std::min<std::uint64_t>(8 + std::uint64_t(getU32(field, ByteOrder::bigEndian)), length);
        int blocks = 0;
        for (std::uint64_t at = 8; at + 8 <= end && ++blocks <= kMostMrwBlocks;) {
            bytes_.copy(at, field, sizeof field);
            const std::uint64_t blockEnd = at + 8 + getU32(field + 4, ByteOrder::bigEndian);
            if (std::memcmp(field, "\0TTW", 4) == 0) {
                ifd0Position = takeTiff(at + 8, std::min(blockEnd, length));
                return true;
            }
            at = blockEnd;
        }
        throw new CExifException("File not support (header not understood)");
    }
    ifd0Position = takeTiff(0, length);  // TIFF, and ORF with its own magic number
    return true;
}

std::pair<std::uint32_t, std::uint32_t> CExifParser::ifd0Field(std::uint64_t ifd0, std::uint16_t wanted) {
    view_.seekSource(ifd0);
    const std::uint16_t count = view_.readU16();
    for (std::uint32_t i = 0; i < count; ++i) {
        view_.seekSource(ifd0 + 2 + std::uint64_t(exif::kEntrySize) * i);
        const std::uint16_t entryTag = view_.readU16();
        view_.readU16();
        const std::uint32_t valueCount = view_.readU32();
        const std::uint32_t value = view_.readU32();
        if (entryTag == wanted) return {valueCount, value};
    }
    return {0, 0};
}

void CExifParser::parseDngMakerNote(std::uint32_t count, std::uint32_t at) {
    // "Adobe\0", "MakN", the length (4, big-endian), the note's byte order, its old offset (4,
    // big-endian), then the note: its offsets count from where the note lay before.
    constexpr std::uint32_t kHead = 20;
    std::uint8_t head[kHead] = {};
    if (count < kHead || bytes_.copy(view_.base() + at, head, kHead) != kHead ||
        std::memcmp(head, "Adobe\0MakN", 10) != 0)
        return;
    ByteOrder order = image_.byteOrder;
    const std::uint32_t length = getU32(head + 10, ByteOrder::bigEndian);
    const std::uint32_t oldOffset = getU32(head + 16, ByteOrder::bigEndian);
    const std::uint64_t noteStart = view_.base() + at + kHead;
    if (!orderOf(head + 14, order) || length < 6 || length - 6 > count - kHead || oldOffset > noteStart)
        throw new CExifException("Parse error - maker note kept by the DNG cannot be read");
    const TiffView outer = view_;
    view_ = view_.subView(noteStart - oldOffset, order);
    image_.makerNoteOrder = order;
    const std::uint32_t declared = length - 6;
    const bool note = readMakerNote(oldOffset, declared);
    view_ = outer;
    if (!note) return;
    // It hangs from a MakerNote entry of the Exif sub-directory, as in any other file.
    auto* pointer = new CExifEntry(&image_.subIfd, tag::kMakerNote, 7, declared, exif::kInlineValueSize);
    pointer->isPointer = true;
    image_.subIfd.insertInTagOrder(pointer);
}

void CExifParser::moveExposureTags() {
    bool moved = false;
    for (CExifEntry* entry = image_.ifd0.entries.first(); entry != nullptr;) {
        CExifEntry* next = image_.ifd0.entries.next(entry);
        if (tag::isExposureTag(entry->tag) && image_.subIfd.findEntry(entry->tag) == nullptr) {
            image_.ifd0.entries.unlink(entry);
            entry->directory = &image_.subIfd;
            image_.subIfd.insertInTagOrder(entry);
            moved = true;
        }
        entry = next;
    }
    // A raw file without an Exif sub-directory now has one: IFD0 points to it.
    if (moved && image_.ifd0.findEntry(tag::kExifIfdPointer) == nullptr) {
        auto* pointer = new CExifEntry(&image_.ifd0, tag::kExifIfdPointer, 4, 1, exif::kInlineValueSize);
        pointer->isPointer = true;
        image_.ifd0.insertInTagOrder(pointer);
    }
}

bool CExifParser::orderOfNote(const MakerNoteKind& kind, std::uint64_t noteStart, ByteOrder& order) const {
    if (kind.order == MakerNoteKind::Order::little) order = ByteOrder::littleEndian;
    if (kind.order == MakerNoteKind::Order::big) order = ByteOrder::bigEndian;
    if (kind.order != MakerNoteKind::Order::bytesAt) return true;
    std::uint8_t mark[2] = {};
    bytes_.copy(noteStart + kind.orderAt, mark, sizeof mark);
    return orderOf(mark, order);
}

void CExifParser::parseMakerNote(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) {
    image_.makerNoteKind = &kind;
    if (kind.carry == MakerNoteKind::Carry::relaid) {
        if (declared < kind.directoryAt) throw new CExifException("Parse error - maker note shorter than its header");
        image_.makerNoteHeader.resize(kind.directoryAt);
        view_.readBytes(image_.makerNoteHeader.data(), kind.directoryAt);
        // Its directory is laid out anew in the file's byte order: a note that names the other one
        // (rather than two spaces, or nothing) cannot be.
        ByteOrder order = view_.order();
        if (orderOfNote(kind, view_.base() + start, order) && order != view_.order())
            throw new CExifException("Maker note is in the other byte order than its file");
        parseDirectory(image_.makerNote);
        for (const CExifEntry* entry = image_.makerNote.entries.first(); entry != nullptr;
             entry = image_.makerNote.entries.next(entry)) {
            if (kind.holdsSubDirectory(entry->tag))
                throw new CExifException("Maker note holds a directory of its own that cannot be carried");
        }
        capturePreview(kind);
        return;
    }

    // Carried as one block: from its start to the last byte its values reach.
    const std::uint64_t noteStart = view_.base() + start;
    std::uint64_t end = noteStart + declared;
    if (kind.directory != MakerNoteKind::Directory::none) {
        std::uint8_t bytes[4] = {};
        ByteOrder order = view_.order();
        if (!orderOfNote(kind, noteStart, order)) throw new CExifException("Unknown format type");
        TiffView inner = view_.subView(noteStart + kind.baseAt, order);
        std::uint64_t directory = kind.directoryAt - kind.baseAt;  // relative to the inner base
        if (kind.directory == MakerNoteKind::Directory::tiffHeaderAt) {
            inner.seekSource(4);
            directory = inner.readU32();
        } else if (kind.directory == MakerNoteKind::Directory::offsetAt) {
            bytes_.copy(noteStart + kind.directoryAt, bytes, 4);
            directory = getU32(bytes, ByteOrder::littleEndian);
        }
        const std::uint64_t reach = reachOf(kind, inner, directory, noteStart, 0);
        // A value a few bytes past the declared count (cameras round) is taken in; more is refused.
        if (reach > end && reach - end > exif::kMakerNoteSlack)
            throw new CExifException("Maker note refers to data outside itself");
        end = std::max(end, reach);
    }
    if (end > image_.sectionEnd && !image_.isRaw) throw new CExifException("Maker note refers to data outside itself");
    hold(end - noteStart + exif::kHeldBytesPerEntry);
    auto* block = new CExifEntry(&image_.makerNote, tag::kMakerNote, 7, static_cast<std::uint32_t>(end - noteStart),
                                 static_cast<std::uint32_t>(end - noteStart));
    block->storedOffset = static_cast<std::uint32_t>(start);
    image_.makerNote.entries.append(block);
    view_.seekSource(start);
    view_.readBytes(block->data.data(), block->size);
}

std::uint64_t CExifParser::reachOf(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint64_t noteStart,
                                   int depth) {
    if (depth > 4) throw new CExifException("Parse error - directory chain too long");
    // Each directory is walked once however many entries lead to it, so the walk stays linear in
    // the note's size; a note of more directories or entries than any camera writes is refused.
    const auto known = reaches_.find(view.base() + at);
    if (known != reaches_.end()) return known->second;
    view.seekSource(at);
    const std::uint16_t count = view.readU16();
    image_.makerNoteDirectoriesWalked++;
    entriesWalked_ += count;
    if (image_.makerNoteDirectoriesWalked > exif::kMaxNoteDirectories || entriesWalked_ > exif::kMaxNoteEntries)
        throw new CExifException("Parse error - maker note holds more directories than a camera writes");
    std::uint64_t reach = view.sourceFilePosition() + std::uint64_t(exif::kEntrySize) * count + 4;
    std::uint32_t previewStart = 0;
    std::uint32_t previewLength = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        view.seekSource(at + 2 + std::uint64_t(exif::kEntrySize) * i);
        const std::uint16_t entryTag = view.readU16();
        const std::uint16_t type = view.readU16();
        const std::uint32_t valueCount = view.readU32();
        const std::uint32_t value = view.readU32();
        if (type == 0 || type > exif::kIfdFieldType) throw new CExifException("Unknown format type");
        const std::uint64_t size = std::uint64_t(exif::typeUnitSize(type)) * valueCount;
        if (size > exif::kInlineValueSize && size > 0) {
            if (view.base() + value < noteStart) throw new CExifException("Maker note refers to data outside itself");
            reach = std::max(reach, view.base() + value + size);
        }
        // A directory inside the note (type IFD, or a tag the kind names): what it refers to counts too.
        const bool directory = type == exif::kIfdFieldType || (type == 4 && kind.holdsSubDirectory(entryTag));
        if (directory && valueCount == 1 && value != 0)
            reach = std::max(reach, reachOf(kind, view, value, noteStart, depth + 1));
        if (kind.previewStart != 0 && entryTag == kind.previewStart) previewStart = value;
        if (kind.previewStart != 0 && entryTag == kind.previewLength) previewLength = value;
    }
    if (previewLength != 0) {
        if (view.base() + previewStart < noteStart) throw new CExifException("Maker note refers to data outside itself");
        reach = std::max(reach, view.base() + previewStart + previewLength);
    }
    reaches_[view.base() + at] = reach;
    return reach;
}

void CExifParser::capturePreview(const MakerNoteKind& kind) {
    if (kind.previewStart == 0) return;
    CExifEntry* start = image_.makerNote.findEntry(kind.previewStart);
    CExifEntry* length = image_.makerNote.findEntry(kind.previewLength);
    if (start == nullptr || length == nullptr || start->valueAsU32() == 0 || length->valueAsU32() == 0) return;
    // A raw file's preview stays in the raw file: a JPEG gains no entries that lead to it.
    if (image_.isRaw && image_.extended && !image_.embedded) {
        for (CExifEntry* entry : {start, length}) {
            image_.makerNote.entries.unlink(entry);
            delete entry;
        }
        return;
    }
    const std::uint64_t at = start->valueAsU32();
    const std::uint64_t bytes = length->valueAsU32();
    // Where another entry's value is the preview (Casio's 0x2000), the start entry follows that value.
    for (CExifEntry* entry = image_.makerNote.entries.first(); entry != nullptr;
         entry = image_.makerNote.entries.next(entry)) {
        if (entry != start && entry->size > exif::kInlineValueSize && entry->storedOffset == at && entry->size == bytes) {
            image_.previewHolder = entry->tag;
            return;
        }
    }
    // Carried only from inside the Exif segment; anywhere else it cannot be kept.
    if (start->size != exif::kInlineValueSize || view_.base() + at > image_.sectionEnd ||
        bytes > image_.sectionEnd - view_.base() - at)
        throw new CExifException("Maker note refers to data outside itself");
    carry(*start, at, bytes);
}

void CExifParser::carry(CExifEntry& entry, std::uint64_t at, std::uint64_t bytes) {
    view_.seekSource(at);
    hold(bytes);
    entry.size = static_cast<std::uint32_t>(bytes);
    entry.carried = true;
    entry.data.assign(static_cast<std::size_t>(bytes), 0);
    view_.readBytes(entry.data.data(), bytes);
}

void CExifParser::hold(std::uint64_t bytes) {
    heldBytes_ += bytes;
    if (heldBytes_ > exif::kMaxHeldBytes)
        throw new CExifException("Parse error - more Exif data than one image may hold");
}

void CExifParser::parseHeader() {
    // Header recognition: bytes missing at the end of a short file count as zero.
    std::uint8_t mark[2];
    bytes_.copy(0, mark, sizeof mark);
    std::uint64_t ifd0Position = exif::kRawIfd0Position;
    if (allFormats_ && locateRaw(ifd0Position)) {
        if (!image_.hasExif) return;
    } else if (getU16(mark, ByteOrder::littleEndian) == exif::kLittleEndianMark) {
        image_.isRaw = true;
        image_.sectionEnd = exif::kRawSectionEnd;
    } else {
        if (getU16(mark, ByteOrder::littleEndian) != exif::kStartOfImage)
            throw new CExifException("File not support (header not understood)");
        bytes_.copy(0, image_.header, sizeof image_.header);
        // The Exif segment must be the first segment, with little-endian TIFF data.
        const JpegSegments first = scanSegments(bytes_, 1);
        if (!first.segments.empty() && first.segments.front().offset == exif::kFirstSegment &&
            first.segments.front().marker == kApp1Marker && image_.header[12] == exif::kIntelByte &&
            image_.header[13] == exif::kIntelByte) {
            const JpegSegment& segment = first.segments.front();
            image_.segmentStart = segment.offset;
            image_.sectionEnd = static_cast<std::uint32_t>(segment.end());
            image_.base = static_cast<std::uint32_t>(segment.offset + exif::kTiffHeaderInSegment);
            // IFD0 lies where the TIFF header says; most cameras store 8, right behind the header.
            ifd0Position = getU32(image_.header + 16, ByteOrder::littleEndian);
        } else if (allFormats_) {
            ifd0Position = locateExif();
            if (!image_.hasExif) {
                printVerbose(verbose::kParse, "%s parse:\n\n", image_.path.c_str());
                return;
            }
        } else {
            throw new CExifException("Jpg header type not supported");
        }
    }
    image_.makerNoteOrder = image_.byteOrder;
    view_ = TiffView(bytes_, image_.base, image_.sectionEnd, image_.byteOrder);
    view_.seekSource(ifd0Position);

    printVerbose(verbose::kParse, "%s parse:\n", image_.path.c_str());
    if (allFormats_)
        printVerbose(verbose::kParse, "  Byte order: %s\n",
                     image_.byteOrder == ByteOrder::littleEndian ? "II (little-endian)" : "MM (big-endian)");
    parseDirectory(image_.ifd0);

    for (const TopDirectory& top : kTopDirectories) {
        if (top.holder != nullptr) followPointer(image_.*top.directory, top.pointerTag, image_.*top.holder);
    }
    if (image_.isRaw && image_.extended) {
        const auto [count, at] = ifd0Field(ifd0Position, tag::kDngPrivateData);
        if (count != 0 && image_.makerNote.entries.empty()) parseDngMakerNote(count, at);
        moveExposureTags();
    }

    captureThumbnail();
    printVerbose(verbose::kParse, "\n");
}

// Follows a pointer entry of `from` into the directory `into`. Only an entry with at least four
// data bytes is a pointer (but for the Exif sub-directory's); a shorter one (a count of 0, say)
// stays an ordinary entry. The maker note is the value of its entry: its directory starts where
// that value lies, and the entry stands for it with four bytes.
void CExifParser::followPointer(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from) {
    CExifEntry* pointer = from.findEntry(pointerTag);
    if (pointer == nullptr) return;
    if (&into == &image_.makerNote) {
        const std::uint32_t declared = pointer->count;
        pointer->isPointer = true;
        pointer->size = exif::kInlineValueSize;
        if (pointer->data.size() < exif::kInlineValueSize) pointer->data.resize(exif::kInlineValueSize);
        if (readMakerNote(pointer->storedOffset, declared)) return;
        // Raw data rather than a note: it never leaves its file.
        from.entries.unlink(pointer);
        delete pointer;
        return;
    }
    if (&into != &image_.subIfd && pointer->size < exif::kInlineValueSize) return;
    pointer->isPointer = true;
    view_.seekSource(pointer->valueAsU32());
    parseDirectory(into);
}

bool CExifParser::readMakerNote(std::uint32_t start, std::uint32_t declared) {
    makerNoteStart_ = start;
    view_.seekSource(makerNoteStart_);
    if (allFormats_) {
        // Windows records a non-zero offset schema where it moved a note: its offsets no longer fit.
        const CExifEntry* schema = image_.subIfd.findEntry(tag::kOffsetSchema);
        if (schema != nullptr && schema->valueAsU32() != 0)
            throw new CExifException("Maker note was moved by another program; its offsets do not fit where it lies");
        std::uint8_t head[16] = {};
        bytes_.copy(view_.sourceFilePosition(), head, std::min<std::uint64_t>(sizeof head, declared));
        const CExifEntry* make = image_.ifd0.findEntry(tag::kMake);
        const MakerNoteKind* kind = recogniseMakerNote(
            head, std::min<std::size_t>(sizeof head, declared),
            make != nullptr ? reinterpret_cast<const char*>(make->data.data()) : nullptr, make != nullptr ? make->size : 0);
        using Carry = MakerNoteKind::Carry;
        // A plain directory is read as the default reading reads it; only a raw file keeps its image
        // data where a note belongs: in a JPEG such bytes are a note.
        if (kind != nullptr && (kind->carry == Carry::plain ||
                                (kind->carry == Carry::never && (!image_.isRaw || image_.embedded))))
            kind = nullptr;
        printVerbose(verbose::kParse, "  MAK0 kind: %s\n", kind != nullptr ? kind->name : "plain directory");
        if (kind != nullptr && kind->carry == Carry::refused)
            throw new CExifException("Maker note of a kind whose offsets depend on the camera model (%s)", kind->name);
        if (kind != nullptr && kind->carry == Carry::never) return false;
        if (kind != nullptr) {
            parseMakerNote(*kind, makerNoteStart_, declared);
            return true;
        }
    }
    parseDirectory(image_.makerNote);
    return true;
}

// The thumbnail of IFD1: the 513 entry's data becomes the thumbnail bytes themselves, so that
// writing it as an ordinary out-of-line entry moves the thumbnail along.
void CExifParser::captureThumbnail() {
    if (!image_.ifd0.next) return;
    CExifEntry* length = image_.ifd0.next->findEntry(tag::kThumbnailLength);
    CExifEntry* offset = image_.ifd0.next->findEntry(tag::kThumbnailOffset);
    if (length == nullptr || offset == nullptr) return;
    const std::uint64_t start = offset->valueAsU32();
    const std::uint64_t bytes = length->valueAsU32();
    // For a JPEG image it must lie inside the APP1 segment; for a raw image inside the file.
    const std::uint64_t limit = image_.isRaw ? bytes_.length() : image_.sectionEnd;
    if (image_.base + start > limit || bytes > limit - image_.base - start)
        throw new CExifException("Parse error - thumbnail lies outside the Exif data");
    carry(*offset, start, bytes);
}

void CExifParser::parseDirectory(CExifDirectory& directory, int chainLength) {
    // A directory: count N (2), N entries of 12 bytes, next-directory offset (4).
    // Known by where it lies in the file: a maker note read through a view of its own base (a DNG's
    // kept note) may name another directory's offset without being that directory.
    const std::uint64_t at = view_.sourcePosition();
    if (!directoriesRead_.insert(view_.sourceFilePosition()).second)
        throw new CExifException("Parse error - directory at offset 0x%04llx is read twice",
                                 static_cast<unsigned long long>(at));
    const std::uint16_t entryCount = view_.readU16();
    const std::uint64_t firstEntry = view_.sourcePosition();
    printVerbose(verbose::kParse, "  %s%d %d entries starting at offset 0x%04x\n", directory.prefix.c_str(),
                 directory.index, entryCount, static_cast<unsigned>(view_.sourceFilePosition() - 2));

    for (std::uint32_t i = 0; i < entryCount; ++i) {
        // An entry: tag (2), type (2), count (4), value field (4).
        view_.seekSource(firstEntry + std::uint64_t(exif::kEntrySize) * i);
        const auto entryAt = static_cast<unsigned>(view_.sourceFilePosition());
        const std::uint16_t entryTag = view_.readU16();
        const std::uint16_t type = view_.readU16();
        const std::uint32_t count = view_.readU32();
        // A raw file's IFD0 gives a JPEG only what describes the photo; its image layout stays unread.
        if (image_.isRaw && image_.extended && &directory == &image_.ifd0 && !tag::reachesJpegFromRaw(entryTag))
            continue;
        if (type > exif::kMaxFieldType) throw new CExifException("Unknown format type");
        std::uint64_t unit = exif::typeUnitSize(type);
        if (tag::isWindowsXpTag(entryTag)) unit = 2;
        const std::uint64_t size = unit * count;  // 64-bit: cannot wrap
        if (size > exif::kMaxEntrySize) throw new CExifException("Parse error - size too big");
        hold(size + exif::kHeldBytesPerEntry);

        auto* entry = new CExifEntry(&directory, entryTag, type, count, static_cast<std::uint32_t>(size));
        directory.entries.append(entry);

        char dataText[16] = "------";
        if (size > exif::kInlineValueSize) {
            entry->storedOffset = view_.readU32();
            // Offsets that lead in front of the maker note count from somewhere else (its own start,
            // as some phones write): read from the TIFF header they would give other bytes.
            if (&directory == &image_.makerNote && entry->storedOffset < makerNoteStart_)
                throw new CExifException("Parse error - maker note offsets do not count from the TIFF header");
            view_.seekSource(entry->storedOffset);
            std::snprintf(dataText, sizeof dataText, "0x%04x", static_cast<unsigned>(view_.sourceFilePosition()));
        }
        view_.readBytes(entry->data.data(), size);
        printVerbose(verbose::kParse, "    Dir Entry 0x%04x, Tag %s%d:0x%04x, Data %s, Size 0x%04x\n", entryAt,
                     directory.prefix.c_str(), directory.index, entryTag, dataText, static_cast<unsigned>(size));
    }

    // Chains: never in a file named ".cr2" (in any case), never behind a maker-note, GPS or
    // interoperability directory.
    const bool chainless = &directory == &image_.makerNote || &directory == &image_.gpsIfd ||
                           &directory == &image_.interopIfd || (image_.isRaw && image_.extended);
    if (equalIgnoringAsciiCase(image_.extension, ".cr2") || chainless) return;
    view_.seekSource(firstEntry + std::uint64_t(exif::kEntrySize) * entryCount);
    const std::uint32_t nextOffset = view_.readU32();
    if (nextOffset == 0) return;
    if (chainLength + 1 > exif::kMaxChainLength)
        throw new CExifException("Parse error - directory chain too long");
    directory.next = std::make_unique<CExifDirectory>(&directory);
    view_.seekSource(nextOffset);
    parseDirectory(*directory.next, chainLength + 1);
}

}  // namespace

void CExifImage::load(const std::string& imagePath, bool allFormats) {
    path = imagePath;
    const auto dot = path.find_last_of('.');
    if (dot != std::string::npos) extension = path.substr(dot);
    try {
        try {
            source = platform::File::openForReading(path);
            sourceOpen = source.isOpen();
            if (!sourceOpen) throw new CExifException("Failed to open");
            try {
                sourceStatus = source.status();
            } catch (const platform::IoError&) {
                throw new CExifException("Failed to open");
            }
            // One read of all that a load can reach: every seek stays at or below sectionEnd, which
            // is at most 0xFFFF + 4. Reads that run on past it go to the file.
            const SourceBytes bytes(source, sourceStatus.size, exif::kMaxSectionEnd);
            CExifParser(*this, bytes, allFormats).parseHeader();
        } catch (const platform::IoError& failure) {
            throw new CExifException("%s", failure.what());  // a failing read of the disk
        }
    } catch (CExifException* failure) {
        failure->fileName = path;
        throw;
    }
}
