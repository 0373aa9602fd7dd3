// How a maker note is read: by its kind under --all-formats (a relaid directory behind its header, a
// block whose reach is walked, no directory, a raw file's data), else as a plain directory; the
// preview a relaid note carries; a DNG's note kept from its camera file.
#include <algorithm>
#include <cstring>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/parser.h"
#include "exif/report.h"

namespace tagloom {

namespace {

constexpr const char* kMovedNote = "Maker note was moved by another program; its offsets do not fit where it lies";

}  // namespace

bool CExifParser::readMakerNote(std::uint32_t start, std::uint32_t declared) {
    makerNoteStart_ = start;
    view_.seekSource(makerNoteStart_);
    const CExifEntry* makeEntry = image_.ifd0.findEntry(tag::kMake);
    const char* make = makeEntry != nullptr ? reinterpret_cast<const char*>(makeEntry->data.data()) : nullptr;
    const std::size_t makeSize = makeEntry != nullptr ? makeEntry->size : 0;
    const MakerNoteKind* kind = nullptr;
    using Carry = MakerNoteKind::Carry;
    if (allFormats_) {
        std::uint8_t head[16] = {};
        bytes_.copy(view_.sourceFilePosition(), head, std::min<std::uint64_t>(sizeof head, declared));
        kind = recogniseMakerNote(head, std::min<std::size_t>(sizeof head, declared), make, makeSize);
        // A plain directory is read as the default reading reads it; only a raw file keeps its image
        // data where a note belongs: in a JPEG such bytes are a note.
        if (kind != nullptr && (kind->carry == Carry::plain ||
                                (kind->carry == Carry::never && image_.layout != Layout::tiffRaw && image_.layout != Layout::defaultRaw)))
            kind = nullptr;
        // A note known by no signature is a directory only where one fits inside it; a source
        // carries any other whole (a destination's may hold positions: it is read as it is).
        const bool byMake = kind == nullptr || (kind->make != nullptr && kind->directory == MakerNoteKind::Directory::at);
        if (byMake && salvage_ && !directoryFits(start, kind != nullptr ? kind->directoryAt : 0, declared))
            kind = &noteWithoutDirectory();
        report_.trace(verbose::kParse, "  MAK0 kind: %s\n", kind != nullptr ? kind->name : "plain directory");
        if (kind != nullptr && kind->carry == Carry::refused)
            throw new CExifException("Maker note of a kind whose offsets depend on the camera model (%s)", kind->name);
        if (kind != nullptr && kind->carry == Carry::never) return false;
    }
    const MakerNoteKind* camera = makerNoteKindOfMake(make, makeSize, allFormats_);
    const Footer footer = kind == nullptr && camera != nullptr && camera->footer ? readFooter(start, declared) : Footer{};
    // Windows records a non-zero offset schema where it moved a note: offsets from the outer TIFF
    // header no longer fit. A footer says more; a note with offsets of its own moved intact.
    if (allFormats_ && !footer.present && (kind == nullptr || kind->outerBase())) {
        const CExifEntry* schema = image_.subIfd.findEntry(tag::kOffsetSchema);
        if (schema != nullptr && schema->valueAsU32() != 0) throw new CExifException(kMovedNote);
    }
    if (kind != nullptr) {
        parseMakerNote(*kind, makerNoteStart_, declared);
        return true;
    }
    if (!footer.moved) {
        parseDirectory(image_.makerNote);
        return true;
    }
    // Moved without its offsets: read against the base they count from, and laid out anew.
    if (!allFormats_) throw new CExifException(kMovedNote);
    report_.trace(verbose::kParse, "  MAK0 read where its footer says it was written: offset 0x%04x\n", footer.writtenAt);
    const TiffView outer = view_;
    view_ = view_.subView(view_.base() + start - footer.writtenAt, view_.order());
    makerNoteStart_ = footer.writtenAt;
    view_.seekSource(makerNoteStart_);
    parseDirectory(image_.makerNote);
    view_ = outer;
    return true;
}

bool CExifParser::directoryFits(std::uint64_t start, std::uint32_t directoryAt, std::uint32_t declared) const {
    std::uint8_t count[2] = {};
    if (declared < directoryAt + 2u) return false;
    bytes_.copy(view_.base() + start + directoryAt, count, sizeof count);
    return directoryAt + 2 + std::uint64_t(exif::kEntrySize) * getU16(count, view_.order()) <= declared;
}

CExifParser::ValueSpan CExifParser::valueSpan(std::uint64_t directory, std::uint32_t declared) const {
    ValueSpan span;
    std::uint8_t count[2] = {};
    bytes_.copy(view_.base() + directory, count, sizeof count);
    span.entries = getU16(count, view_.order());
    if (2 + std::uint64_t(exif::kEntrySize) * span.entries > declared) {
        span.entries = 0;
        return span;
    }
    TiffView view = view_;
    for (std::uint32_t i = 0; i < span.entries; ++i) {
        const EntryField field = readEntryField(view, directory + 2 + std::uint64_t(exif::kEntrySize) * i, false);
        const std::uint64_t size = std::uint64_t(exif::typeUnitSize(field.type)) * field.count;
        if (size <= exif::kInlineValueSize) continue;
        span.lowest = std::min<std::uint64_t>(span.lowest, field.value);
        span.end = std::max<std::uint64_t>(span.end, field.value + size);
    }
    return span;
}

CExifParser::Footer CExifParser::readFooter(std::uint32_t start, std::uint32_t declared) const {
    Footer footer;
    std::uint8_t bytes[8] = {};
    ByteOrder order = view_.order();
    if (declared < sizeof bytes + 2 || bytes_.copy(view_.base() + start + declared - 8, bytes, sizeof bytes) != 8 ||
        !orderOf(bytes, order) || getU16(bytes + 2, order) != 42)
        return footer;
    // A footer counts only in the note's own order; a note in the other order cannot be laid out.
    if (order != view_.order()) {
        if (allFormats_) throw new CExifException("Maker note is in the other byte order than its file");
        return footer;
    }
    footer.present = true;
    const std::uint32_t written = getU32(bytes + 4, order);
    if (written == start || written > view_.base() + start) return footer;  // the second: no base to read from
    // Moved without its offsets only when its first value lies behind its directory as the camera
    // wrote it, and not where it lies now (editors that fix the offsets leave the footer stale).
    const ValueSpan span = valueSpan(start, declared);
    if (span.lowest == ValueSpan::kNone) return footer;
    const auto behindDirectory = [&](std::uint64_t directory) {
        const std::uint64_t end = directory + 2 + std::uint64_t(exif::kEntrySize) * span.entries;
        return span.lowest == end || span.lowest == end + 4;
    };
    footer.moved = !behindDirectory(start) && behindDirectory(written);
    footer.writtenAt = written;
    return footer;
}

void CExifParser::parseMakerNote(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) {
    if (kind.wholeWhenValuesLieOutside && declared >= kind.directoryAt) {
        // Values in front of the directory's end or behind the note are found by readers where they
        // lie behind the directory: a re-lay from the stored offsets would copy other bytes.
        const ValueSpan span = valueSpan(start + kind.directoryAt, declared - kind.directoryAt);
        const std::uint64_t directoryEnd = start + kind.directoryAt + 2 + std::uint64_t(exif::kEntrySize) * span.entries;
        if (span.lowest != ValueSpan::kNone && (span.lowest < directoryEnd || span.end > start + declared)) {
            report_.trace(verbose::kParse, "  MAK0 values lie outside it: carried whole\n");
            parseMakerNote(noteWithoutDirectory(), start, declared);
            return;
        }
    }
    image_.makerNoteKind = &kind;
    if (kind.carry == MakerNoteKind::Carry::relaid) {
        if (declared < kind.directoryAt) throw new CExifException("Parse error - maker note shorter than its header");
        makerNoteRoom_ = declared - kind.directoryAt;
        image_.makerNoteHeader.resize(kind.directoryAt);
        view_.readBytes(image_.makerNoteHeader.data(), kind.directoryAt);
        // Its directory is laid out anew in the file's byte order: a note that names the other one
        // (rather than two spaces, or nothing) cannot be.
        ByteOrder order = view_.order();
        if (orderOfNote(kind, view_.base() + start, order) && order != view_.order())
            throw new CExifException("Maker note is in the other byte order than its file");
        parseDirectory(image_.makerNote);
        for (CExifEntry* entry = image_.makerNote.entries.first(); entry != nullptr;) {
            CExifEntry* next = image_.makerNote.entries.next(entry);
            if (kind.holdsSubDirectory(entry->tag)) {
                if (!salvage_) throw new CExifException("Maker note holds a directory of its own that cannot be carried");
                leaveBehindEntry(*entry, "it is a directory of its own, which cannot be laid out anew");
            }
            entry = next;
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
        const std::uint64_t reach = reachOf(kind, inner, directory, noteStart, 0, 0);
        // A value a few bytes past the declared count (cameras round) is taken in; more is refused,
        // but where the note's kind may keep values and its preview behind it in a JPEG's Exif
        // segment: its offsets count from the note, so the note carried up to there stays whole.
        const bool stretches = kind.reachesPastEnd && !image_.isRaw() && reach <= image_.sectionEnd;
        if (reach > end && reach - end > exif::kMakerNoteSlack && !stretches)
            throw new CExifException("Maker note refers to data outside itself");
        end = std::max(end, reach);
    }
    if (end > image_.sectionEnd && !image_.isRaw()) throw new CExifException("Maker note refers to data outside itself");
    hold(end - noteStart + exif::kHeldBytesPerEntry);
    auto* block = new CExifEntry(&image_.makerNote, tag::kMakerNote, 7, static_cast<std::uint32_t>(end - noteStart),
                                 static_cast<std::uint32_t>(end - noteStart));
    block->storedOffset = static_cast<std::uint32_t>(start);
    image_.makerNote.entries.append(block);
    view_.seekSource(start);
    view_.readBytes(block->data.data(), block->size);
}

bool CExifParser::orderOfNote(const MakerNoteKind& kind, std::uint64_t noteStart, ByteOrder& order) const {
    if (kind.order == MakerNoteKind::Order::little) order = ByteOrder::littleEndian;
    if (kind.order == MakerNoteKind::Order::big) order = ByteOrder::bigEndian;
    if (kind.order != MakerNoteKind::Order::bytesAt) return true;
    std::uint8_t mark[2] = {};
    bytes_.copy(noteStart + kind.orderAt, mark, sizeof mark);
    return orderOf(mark, order);
}

std::uint64_t CExifParser::reachOf(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint64_t noteStart,
                                   std::uint16_t directoryTag, int depth) {
    if (depth > 4) throw new CExifException("Parse error - directory chain too long");
    // Each directory is walked once however many entries lead to it, so the walk stays linear in
    // the note's size; a note of more directories or entries than any camera writes is refused.
    const auto known = reaches_.find(view.base() + at);
    if (known != reaches_.end()) return known->second;
    view.seekSource(at);
    const std::uint16_t count = view.readU16();
    // Two zero bytes may stand between the count and the first entry.
    std::uint64_t first = at + 2;
    if (kind.paddedCount && count != 0 && view.readU16() == 0) first += 2;
    image_.makerNoteDirectoriesWalked++;
    entriesWalked_ += count;
    if (image_.makerNoteDirectoriesWalked > exif::kMaxNoteDirectories || entriesWalked_ > exif::kMaxNoteEntries)
        throw new CExifException("Parse error - maker note holds more directories or entries than a camera writes");
    std::uint64_t reach = view.base() + first + std::uint64_t(exif::kEntrySize) * count + 4;
    std::uint32_t previewStart = 0;
    std::uint32_t previewLength = 0;
    const bool holdsPreview = kind.previewStart != 0 && directoryTag == kind.previewDirectory;
    for (std::uint32_t i = 0; i < count; ++i) {
        const EntryField field = readEntryField(view, first + std::uint64_t(exif::kEntrySize) * i, true);
        const std::uint16_t entryTag = field.tag;
        const std::uint16_t type = field.type;
        const std::uint32_t valueCount = field.count;
        const std::uint32_t value = field.value;
        if (type == 0 || type > exif::kIfdFieldType) throw new CExifException("Unknown format type");
        // Where the count is padded, the IFD type holds a two-byte value, never a directory.
        const bool ifdType = type == exif::kIfdFieldType && !kind.paddedCount;
        const std::uint64_t unit = type == exif::kIfdFieldType && kind.paddedCount ? 2 : exif::typeUnitSize(type);
        const std::uint64_t size = unit * valueCount;
        if (size > exif::kInlineValueSize && size > 0) {
            if (view.base() + value < noteStart) throw new CExifException("Maker note refers to data outside itself");
            reach = std::max(reach, view.base() + value + size);
        }
        // A directory inside the note (type IFD, or a tag the kind names): what it refers to counts too.
        const bool directory = ifdType || (type == 4 && kind.holdsSubDirectory(entryTag));
        if (directory && valueCount == 1 && value != 0)
            reach = std::max(reach, reachOf(kind, view, value, noteStart, entryTag, depth + 1));
        if (holdsPreview && entryTag == kind.previewStart) previewStart = value;
        if (holdsPreview && entryTag == kind.previewLength) previewLength = value;
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
    if (image_.layout == Layout::tiffRaw) {
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
        bytes > image_.sectionEnd - view_.base() - at) {
        if (!salvage_) throw new CExifException("Maker note refers to data outside itself");
        leaveBehindEntry(*length, "it is the length of a preview that lies outside the Exif segment");
        leaveBehindEntry(*start, "its preview lies outside the Exif segment");
        return;
    }
    carry(*start, at, bytes);
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

}  // namespace tagloom
