// Maker notes carried as blocks (their reach walked, every directory once), the directories inside
// notes laid out anew as one value, and the preview a relaid note carries.
#include <algorithm>
#include <cstring>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/parser.h"
#include "exif/report.h"

namespace tagloom {

void MakerNoteReader::readBlock(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) {
    image_.makerNoteKind = &kind;
    // Carried as one block: from its start to the last byte its values reach.
    const std::uint64_t noteStart = view_.base() + start;
    std::uint64_t end = noteStart + declared;
    if (kind.directory != MakerNoteKind::Directory::none) {
        std::uint8_t bytes[4] = {};
        ByteOrder order = view_.order();
        if (!orderOfNote(kind, noteStart, order)) throw CExifException(Fault::unknownFormatType);
        TiffView inner = view_.subView(noteStart + kind.baseAt, order);
        std::uint64_t directory = kind.directoryAt - kind.baseAt;  // relative to the inner base
        if (kind.directory == MakerNoteKind::Directory::tiffHeaderAt) {
            inner.seekSource(4);
            directory = inner.readU32();
        } else if (kind.directory == MakerNoteKind::Directory::offsetAt) {
            parser_.bytes_->copy(noteStart + kind.directoryAt, bytes, 4);
            directory = getU32(bytes, ByteOrder::littleEndian);
        }
        const std::uint64_t reach = reachOf(kind, inner, directory, noteStart, 0, 0);
        // A value a few bytes past the declared count (cameras round) is taken in; more is refused,
        // but where the note's kind may keep values and its preview behind it in a JPEG's Exif
        // segment: its offsets count from the note, so the note carried up to there stays whole.
        const bool stretches = kind.reachesPastEnd && !image_.isRaw() && reach <= image_.sectionEnd;
        const bool outside = (reach > end && reach - end > exif::kMakerNoteSlack && !stretches) ||
                             (reach > image_.sectionEnd && !image_.isRaw());
        const std::uint64_t allowed = image_.isRaw() ? end + exif::kMakerNoteSlack : std::min<std::uint64_t>(end, image_.sectionEnd);
        if (outside && parser_.leavesBehind_ && relayWithoutPreview(kind, inner, directory, noteStart, allowed)) return;
        if (outside) throw CExifException(Fault::noteOutside);
        end = std::max(end, reach);
    }
    if (end > image_.sectionEnd && !image_.isRaw()) throw CExifException(Fault::noteOutside);
    parser_.hold(end - noteStart + exif::kHeldBytesPerEntry);
    auto* block = new CExifEntry(&image_.makerNote, tag::kMakerNote, fieldType::kUndefined, static_cast<std::uint32_t>(end - noteStart),
                                 static_cast<std::uint32_t>(end - noteStart));
    block->storedOffset = static_cast<std::uint32_t>(start);
    image_.makerNote.entries.append(block);
    view_.seekSource(start);
    view_.readBytes(block->data.data(), block->size);
}

void MakerNoteReader::countWalk(std::uint32_t entries) {
    // Each directory is walked once however many entries lead to it, so that a walk stays linear in
    // the note's size; a note of more directories or entries than any camera writes is refused.
    image_.makerNoteDirectoriesWalked++;
    entriesWalked_ += entries;
    if (image_.makerNoteDirectoriesWalked > exif::kMaxNoteDirectories || entriesWalked_ > exif::kMaxNoteEntries)
        throw CExifException(Fault::noteTooLarge);
}

std::uint64_t MakerNoteReader::reachOf(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint64_t noteStart,
                                   std::uint16_t directoryTag, int depth) {
    if (depth > 4) throw CExifException(Fault::chainTooLong);
    const auto known = reaches_.find(view.base() + at);
    if (known != reaches_.end()) return known->second;
    view.seekSource(at);
    const std::uint16_t count = view.readU16();
    // Two zero bytes may stand between the count and the first entry.
    std::uint64_t first = at + 2;
    if (kind.paddedCount && count != 0 && view.readU16() == 0) first += 2;
    countWalk(count);
    std::uint64_t reach = view.base() + first + std::uint64_t(exif::kEntrySize) * count + 4;
    std::uint32_t previewStart = 0;
    std::uint32_t previewLength = 0;
    const MakerNoteKind::PreviewEntries preview = kind.previewEntriesOf(directoryTag);
    for (std::uint32_t i = 0; i < count; ++i) {
        const EntryField field = readEntryField(view, first + std::uint64_t(exif::kEntrySize) * i, true);
        const std::uint16_t entryTag = field.tag;
        const std::uint16_t type = field.type;
        const std::uint32_t valueCount = field.count;
        const std::uint32_t value = field.value;
        if (type == 0 || type > fieldType::kIfd) throw CExifException(Fault::unknownFormatType);
        // Where the count is padded, the IFD type holds a two-byte value.
        const std::uint64_t unit = type == fieldType::kIfd && kind.paddedCount ? 2 : exif::typeUnitSize(type);
        const std::uint64_t size = unit * valueCount;
        if (size > exif::kInlineValueSize && size > 0) {
            if (view.base() + value < noteStart) throw CExifException(Fault::noteOutside);
            reach = std::max(reach, view.base() + value + size);
        }
        // A directory inside the note: what it refers to counts too.
        if (kind.leadsToDirectory(entryTag, type, valueCount) && value != 0)
            reach = std::max(reach, reachOf(kind, view, value, noteStart, entryTag, depth + 1));
        if (preview.start != 0 && entryTag == preview.start) previewStart = value;
        if (preview.start != 0 && entryTag == preview.length) previewLength = value;
    }
    if (previewLength != 0) {
        if (view.base() + previewStart < noteStart) throw CExifException(Fault::noteOutside);
        reach = std::max(reach, view.base() + previewStart + previewLength);
        previewReach_ = std::max(previewReach_, view.base() + previewStart + previewLength);
    }
    reaches_[view.base() + at] = reach;
    return reach;
}

void MakerNoteReader::layOut(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint16_t directoryTag,
                             std::uint32_t innerStart, bool withoutPreview, LaidOut& out, int depth) {
    if (depth > 4) throw CExifException(Fault::chainTooLong);
    TiffView reader = view;
    reader.seekSource(at);
    const std::uint16_t count = reader.readU16();
    countWalk(count);
    const MakerNoteKind::PreviewEntries preview = kind.previewEntriesOf(directoryTag);
    const bool previewsOwn = directoryTag == 0 && kind.innerPreview.wholeDirectory;
    std::vector<std::pair<EntryField, std::uint32_t>> kept;  // with the entry's place in the directory
    std::uint32_t previewLength = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        EntryField field = readEntryField(reader, at + 2 + std::uint64_t(exif::kEntrySize) * i, true);
        if (field.type == 0 || field.type > fieldType::kIfd) throw CExifException(Fault::unknownFormatType);
        if (preview.start != 0 && field.tag == preview.length) previewLength = field.value;
        const bool previewPart = preview.start != 0 && (field.tag == preview.start || field.tag == preview.length);
        if (withoutPreview && (previewPart || (previewsOwn && field.tag == kind.innerPreview.directoryTag))) continue;
        kept.emplace_back(field, i);
    }

    const auto append = [&](std::uint64_t from, std::uint64_t bytes) {
        if (out.bytes.size() % 2 != 0) out.bytes.push_back(0);
        // Only from where the view may read: inside the Exif segment, or a raw file.
        if (bytes > view.limit() || view.base() + from > view.limit() - bytes)
            throw CExifException(Fault::noteOutside);
        parser_.hold(bytes);
        const std::size_t placed = out.bytes.size();
        out.bytes.resize(placed + static_cast<std::size_t>(bytes));
        TiffView data = view;
        data.seekSource(from);
        data.readBytes(out.bytes.data() + placed, bytes);
        return static_cast<std::uint32_t>(placed);
    };
    const ByteOrder order = view.order();
    const std::size_t table = out.bytes.size();
    out.bytes.resize(table + 2 + exif::kEntrySize * kept.size() + 4, 0);
    putU16(&out.bytes[table], static_cast<std::uint16_t>(kept.size()), order);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const EntryField& field = kept[i].first;
        const std::size_t entry = table + 2 + exif::kEntrySize * i;
        putU16(&out.bytes[entry], field.tag, order);
        putU16(&out.bytes[entry + 2], field.type, order);
        putU32(&out.bytes[entry + 4], field.count, order);
        const std::uint64_t size = std::uint64_t(exif::typeUnitSize(field.type)) * field.count;
        const bool directory = field.value != 0 && kind.leadsToDirectory(field.tag, field.type, field.count);
        std::uint32_t placed = 0;
        if (directory) {
            if (out.bytes.size() % 2 != 0) out.bytes.push_back(0);
            placed = static_cast<std::uint32_t>(out.bytes.size());
            layOut(kind, view, field.value, field.tag, innerStart, withoutPreview, out, depth + 1);
            if (field.type == fieldType::kUndefined)
                putU32(&out.bytes[entry + 4], static_cast<std::uint32_t>(out.bytes.size() - placed), order);
        } else if (preview.start != 0 && field.tag == preview.start && previewLength != 0) {
            placed = append(field.value, previewLength);
        } else if (size > exif::kInlineValueSize) {
            if (size > exif::kMaxEntrySize) throw CExifException(Fault::sizeTooBig);
            placed = append(field.value, size);
        } else {
            parser_.bytes_->copy(view.base() + at + 2 + std::uint64_t(exif::kEntrySize) * kept[i].second + 8, &out.bytes[entry + 8], 4);
            continue;
        }
        putU32(&out.bytes[entry + 8], placed - innerStart, order);
        out.relocations.push_back(static_cast<std::uint32_t>(entry + 8));
    }
}

void MakerNoteReader::layOutSubDirectories(const MakerNoteKind& kind) {
    int faults = 0;
    for (CExifEntry* entry = image_.makerNote.entries.first(); entry != nullptr;) {
        CExifEntry* next = image_.makerNote.entries.next(entry);
        const bool directory = kind.leadsToDirectory(entry->tag, entry->type, entry->count);
        const std::uint64_t at = entry->size > exif::kInlineValueSize ? entry->storedOffset : entry->valueAsU32();
        if (directory && kind.subDirectoriesStay) {
            if (!parser_.leavesBehind_) throw CExifException(Fault::noteSubDirectory);
            parser_.leaveBehindEntry(*entry, "it is a directory of its own, which cannot be laid out anew");
        } else if (directory && at != 0) {
            try {
                LaidOut out;
                layOut(kind, view_, at, entry->tag, 0, false, out, 1);
                entry->size = static_cast<std::uint32_t>(out.bytes.size());
                if (entry->type == fieldType::kUndefined) entry->count = entry->size;
                entry->data = std::move(out.bytes);
                entry->relocations = std::move(out.relocations);
                entry->carried = true;
                entry->holdsDirectory = true;
                parser_.report_.trace(verbose::kParse, "  MAK0:0x%04x laid out anew, %u bytes\n", entry->tag, entry->size);
            } catch (const CExifException& failure) {
                if (!parser_.leavesBehind_) throw CExifException(Fault::noteSubDirectory);
                if (++faults > exif::kMostFaultsLeftBehind)
                    throw CExifException(Fault::tooManyUnreadableEntries, {std::to_string(exif::kMostFaultsLeftBehind)});
                parser_.leaveBehindEntry(*entry, "it is a directory of its own that cannot be laid out anew: " + parser_.inPlainWords(failure));
            }
        }
        entry = next;
    }
}

bool MakerNoteReader::relayWithoutPreview(const MakerNoteKind& kind, TiffView inner, std::uint64_t directory,
                                      std::uint64_t noteStart, std::uint64_t allowedEnd) {
    if (previewReach_ <= allowedEnd || inner.base() + directory < noteStart) return false;
    // The note's header and its own TIFF header as they are, then its directory laid out anew.
    LaidOut out;
    const std::uint64_t head = inner.base() + directory - noteStart;
    if (head > exif::kMaxEntrySize) return false;
    out.bytes.resize(static_cast<std::size_t>(head));
    parser_.bytes_->copy(noteStart, out.bytes.data(), head);
    layOut(kind, inner, directory, 0, static_cast<std::uint32_t>(inner.base() - noteStart), true, out, 0);
    const std::uint16_t part = kind.innerPreview.wholeDirectory ? kind.innerPreview.directoryTag : kind.innerPreview.start;
    if (image_.isRaw()) {
        parser_.report_.trace(verbose::kParse, "  MAK0 laid out anew without its preview, which stays in the raw file\n");
    } else {
        parser_.leaveBehind({CExifImage::LeftBehind::What::entry, &image_.makerNote, part, entryPart(image_.makerNote, part),
                     "its preview lies outside the Exif segment"});
    }
    auto* block = new CExifEntry(&image_.makerNote, tag::kMakerNote, fieldType::kUndefined, static_cast<std::uint32_t>(out.bytes.size()), 0);
    block->size = static_cast<std::uint32_t>(out.bytes.size());
    block->data = std::move(out.bytes);
    image_.makerNote.entries.append(block);
    return true;
}

void MakerNoteReader::capturePreview(const MakerNoteKind& kind) {
    if (kind.previewStart == 0) return;
    CExifEntry* start = image_.makerNote.findEntry(kind.previewStart);
    CExifEntry* length = image_.makerNote.findEntry(kind.previewLength);
    if (start == nullptr || length == nullptr || start->valueAsU32() == 0 || length->valueAsU32() == 0) return;
    // A raw file's preview stays in the raw file: a JPEG gains no entries that lead to it. A TIFF
    // export that is rewritten carries its note's preview like a JPEG does.
    if (image_.traits().previewsStay && (parser_.reading_.source || !image_.traits().ownImageInPlace)) {
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
        if (!parser_.leavesBehind_) throw CExifException(Fault::noteOutside);
        parser_.leaveBehindEntry(*length, "it is the length of a preview that lies outside the Exif segment");
        parser_.leaveBehindEntry(*start, "its preview lies outside the Exif segment");
        return;
    }
    parser_.carry(*start, at, bytes);
}

}  // namespace tagloom
