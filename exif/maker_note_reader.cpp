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
                                (kind->carry == Carry::never && image_.layout != Layout::tiffRaw && image_.layout != Layout::defaultRaw)))
            kind = nullptr;
        report_.trace(verbose::kParse, "  MAK0 kind: %s\n", kind != nullptr ? kind->name : "plain directory");
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

void CExifParser::parseMakerNote(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) {
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
        const std::uint64_t reach = reachOf(kind, inner, directory, noteStart, 0);
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
        throw new CExifException("Parse error - maker note holds more directories or entries than a camera writes");
    std::uint64_t reach = view.sourceFilePosition() + std::uint64_t(exif::kEntrySize) * count + 4;
    std::uint32_t previewStart = 0;
    std::uint32_t previewLength = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const EntryField field = readEntryField(view, at + 2 + std::uint64_t(exif::kEntrySize) * i, true);
        const std::uint16_t entryTag = field.tag;
        const std::uint16_t type = field.type;
        const std::uint32_t valueCount = field.count;
        const std::uint32_t value = field.value;
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
