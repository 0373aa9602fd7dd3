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
    const std::uint64_t noteStart = view_.sourceFilePosition();
    const CExifEntry* makeEntry = image_.ifd0.findEntry(tag::kMake);
    const char* make = makeEntry != nullptr ? reinterpret_cast<const char*>(makeEntry->data.data()) : nullptr;
    const std::size_t makeSize = makeEntry != nullptr ? makeEntry->size : 0;
    const MakerNoteKind* kind = nullptr;
    using Carry = MakerNoteKind::Carry;
    if (allFormats_) {
        std::uint8_t head[16] = {};
        bytes_->copy(noteStart, head, std::min<std::uint64_t>(sizeof head, declared));
        kind = recogniseMakerNote(head, std::min<std::size_t>(sizeof head, declared), make, makeSize);
        // A plain directory is read as the default reading reads it; only a raw file keeps its image
        // data where a note belongs: in a JPEG such bytes are a note.
        if (kind != nullptr && (kind->carry == Carry::plain ||
                                (kind->carry == Carry::never && image_.layout != Layout::tiffRaw && image_.layout != Layout::defaultRaw)))
            kind = nullptr;
        // A note known by no signature is a directory only where one fits inside it; any other is
        // carried whole, and read back as the same block: its kind depends on its bytes, its Make and
        // its file's byte order, never on whether it is a source.
        const bool byMake = kind == nullptr || (kind->make != nullptr && kind->directory == MakerNoteKind::Directory::at);
        if (byMake && !directoryFits(start, kind != nullptr ? kind->directoryAt : 0, declared, view_.order()))
            kind = &noteWithoutDirectory();
        report_.trace(verbose::kParse, "  MAK0 kind: %s\n", kind != nullptr ? kind->name : "plain directory");
        if (kind != nullptr && kind->carry == Carry::refused)
            throw CExifException(Fault::noteUnsettled, {kind->name});
        if (kind != nullptr && kind->carry == Carry::never) return false;
    }
    const MakerNoteKind* camera = makerNoteKindOfMake(make, makeSize, allFormats_);
    const Footer footer = kind == nullptr && camera != nullptr && camera->footer ? readFooter(start, declared) : Footer{};
    // Windows records a non-zero offset schema where it moved a note: offsets from the outer TIFF
    // header no longer fit. A footer says more; a note with offsets of its own moved intact.
    if (allFormats_ && !footer.present && (kind == nullptr || kind->outerBase())) {
        const CExifEntry* schema = image_.subIfd.findEntry(tag::kOffsetSchema);
        if (schema != nullptr && schema->valueAsU32() != 0) throw CExifException(Fault::noteMoved);
    }
    if (kind != nullptr && kind->carry != Carry::relaid) {
        parseMakerNote(*kind, makerNoteStart_, declared);
        return true;
    }
    if (kind != nullptr && kind->wholeWhenValuesLieOutside && valuesLieOutside(*kind, start, declared)) {
        // Readers find such values where they lie behind the directory: a re-lay from the stored
        // offsets would copy other bytes.
        report_.trace(verbose::kParse, "  MAK0 values lie outside it: carried whole\n");
        parseMakerNote(noteWithoutDirectory(), makerNoteStart_, declared);
        return true;
    }

    // Read entry by entry: a plain directory, or a relaid one behind its header; where another
    // program moved it without its offsets, through a view whose base moved with it.
    const NotePlacement placement = placementOf(start, kind != nullptr ? kind->directoryAt : 0, declared, footer);
    if (placement.fit == NotePlacement::Fit::neither && allFormats_) throw CExifException(Fault::noteScattered);
    const ViewScope scope(view_);
    if (placement.fit == NotePlacement::Fit::shifted) {
        if (!allFormats_) throw CExifException(Fault::noteMoved);
        report_.trace(verbose::kParse, "  MAK0 moved without its offsets: its values lie %+lld bytes from where they point\n",
                      static_cast<long long>(placement.shift));
        view_ = view_.shifted(placement.shift);
        makerNoteStart_ = static_cast<std::uint32_t>(start - placement.shift);
    }
    view_.seekSource(makerNoteStart_);
    if (kind != nullptr) {
        readRelaid(*kind, noteStart, declared);
    } else {
        parseDirectory(image_.makerNote);
        if (allFormats_ && camera != nullptr) layOutSubDirectories(*camera);
    }
    return true;
}

bool CExifParser::directoryFits(std::uint64_t start, std::uint32_t directoryAt, std::uint32_t declared,
                                ByteOrder order) const {
    std::uint8_t count[2] = {};
    if (declared < directoryAt + 2u) return false;
    bytes_->copy(view_.base() + start + directoryAt, count, sizeof count);
    return directoryAt + 2 + std::uint64_t(exif::kEntrySize) * getU16(count, order) <= declared;
}

CExifParser::ValueSpan CExifParser::valueSpan(std::uint64_t directory, std::uint32_t declared) const {
    ValueSpan span;
    std::uint8_t count[2] = {};
    bytes_->copy(view_.base() + directory, count, sizeof count);
    span.entries = getU16(count, view_.order());
    if (2 + std::uint64_t(exif::kEntrySize) * span.entries > declared) {
        span.entries = 0;
        return span;
    }
    TiffView view = view_;
    for (std::uint32_t i = 0; i < span.entries; ++i) {
        const EntryField field = readEntryField(view, directory + 2 + std::uint64_t(exif::kEntrySize) * i, false);
        const std::uint64_t unit = tag::isWindowsXpTag(field.tag) ? 2 : exif::typeUnitSize(field.type);
        const std::uint64_t size = unit * field.count;
        if (size <= exif::kInlineValueSize || field.type == 0 || field.type > exif::kIfdFieldType ||
            size > exif::kMaxEntrySize)
            continue;  // no value of its own to place, or one that the reading refuses anyway
        span.values.push_back({field.value, size});
        span.lowest = std::min<std::uint64_t>(span.lowest, field.value);
        span.end = std::max<std::uint64_t>(span.end, field.value + size);
    }
    return span;
}

bool CExifParser::valuesLieOutside(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) const {
    if (declared < kind.directoryAt) return false;
    const ValueSpan span = valueSpan(start + kind.directoryAt, declared - kind.directoryAt);
    const std::uint64_t directoryEnd = start + kind.directoryAt + 2 + std::uint64_t(exif::kEntrySize) * span.entries;
    return span.lowest != ValueSpan::kNone && (span.lowest < directoryEnd || span.end > start + declared);
}

// Cameras write a note's out-of-line values right behind its directory: at the end of its entry
// table, or 4 bytes on (behind the next-directory link). A program that moves the note without
// fixing its offsets leaves every offset off by one constant, either way: read as stored, values
// then fall into the note's own entry table or past its end. One shift that puts the lowest value
// right behind the directory and every value inside the note is where they lie; a Canon footer,
// where present, says which of the two places the camera used, and the values decide where it
// says something else. Cameras that leave gaps between values keep them: a note whose values all
// lie inside it, behind its table, is read as it lies.
CExifParser::NotePlacement CExifParser::placementOf(std::uint64_t start, std::uint32_t directoryAt,
                                                    std::uint32_t declared, const Footer& footer) const {
    NotePlacement placement;
    if (declared < directoryAt) return placement;
    const ValueSpan span = valueSpan(start + directoryAt, declared - directoryAt);
    if (span.lowest == ValueSpan::kNone) return placement;
    const std::int64_t tableEnd = static_cast<std::int64_t>(start + directoryAt + 2 + std::uint64_t(exif::kEntrySize) * span.entries);
    const std::int64_t noteEnd = static_cast<std::int64_t>(start + declared + exif::kMakerNoteSlack);
    const auto fitsAt = [&](std::int64_t shift) {
        for (const ValueSpan::Value& value : span.values) {
            const std::int64_t at = static_cast<std::int64_t>(value.offset) + shift;
            if (at < tableEnd || at + static_cast<std::int64_t>(value.size) > noteEnd) return false;
        }
        return true;
    };
    const std::int64_t lowest = static_cast<std::int64_t>(span.lowest);
    // Right behind the directory as stored: where the camera put them (values past the note's end
    // are some cameras' own). Anywhere else inside the note: gaps, unless the footer says it moved.
    if (lowest == tableEnd || lowest == tableEnd + 4) return placement;
    const bool inPlace = fitsAt(0);
    std::vector<std::int64_t> shifts;
    if (footer.present) shifts.push_back(static_cast<std::int64_t>(start) - static_cast<std::int64_t>(footer.writtenAt));
    if (!inPlace) shifts.insert(shifts.end(), {tableEnd + 4 - lowest, tableEnd - lowest});
    for (const std::int64_t shift : shifts) {
        const std::int64_t behind = lowest + shift;
        if (shift == 0 || shift > static_cast<std::int64_t>(start) || (behind != tableEnd && behind != tableEnd + 4) ||
            !fitsAt(shift))
            continue;
        placement.fit = NotePlacement::Fit::shifted;
        placement.shift = shift;
        return placement;
    }
    if (!inPlace && lowest < tableEnd) placement.fit = NotePlacement::Fit::neither;
    return placement;
}

CExifParser::Footer CExifParser::readFooter(std::uint32_t start, std::uint32_t declared) const {
    Footer footer;
    std::uint8_t bytes[8] = {};
    ByteOrder order = view_.order();
    if (declared < sizeof bytes + 2 || bytes_->copy(view_.base() + start + declared - 8, bytes, sizeof bytes) != 8 ||
        !orderOf(bytes, order) || getU16(bytes + 2, order) != 42)
        return footer;
    // A footer counts only in the note's own order; a note in the other order cannot be laid out.
    if (order != view_.order()) {
        if (allFormats_) throw CExifException(Fault::noteOtherOrder);
        return footer;
    }
    footer.present = true;
    footer.writtenAt = getU32(bytes + 4, order);
    return footer;
}

void CExifParser::readRelaid(const MakerNoteKind& kind, std::uint64_t noteStart, std::uint32_t declared) {
    image_.makerNoteKind = &kind;
    if (declared < kind.directoryAt) throw CExifException(Fault::noteShorterThanHeader);
    makerNoteRoom_ = declared - kind.directoryAt;
    image_.makerNoteHeader.resize(kind.directoryAt);
    view_.readBytes(image_.makerNoteHeader.data(), kind.directoryAt);
    // Its directory is laid out anew in the file's byte order: a note that names the other one
    // (rather than two spaces, or nothing) cannot be.
    ByteOrder order = view_.order();
    if (orderOfNote(kind, noteStart, order) && order != view_.order())
        throw CExifException(Fault::noteOtherOrder);
    parseDirectory(image_.makerNote);
    layOutSubDirectories(kind);
    capturePreview(kind);
}

void CExifParser::parseMakerNote(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) {
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
            bytes_->copy(noteStart + kind.directoryAt, bytes, 4);
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
        if (outside && salvage_ && relayWithoutPreview(kind, inner, directory, noteStart, allowed)) return;
        if (outside) throw CExifException(Fault::noteOutside);
        end = std::max(end, reach);
    }
    if (end > image_.sectionEnd && !image_.isRaw()) throw CExifException(Fault::noteOutside);
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
    bytes_->copy(noteStart + kind.orderAt, mark, sizeof mark);
    return orderOf(mark, order);
}

std::uint64_t CExifParser::reachOf(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint64_t noteStart,
                                   std::uint16_t directoryTag, int depth) {
    if (depth > 4) throw CExifException(Fault::chainTooLong);
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
        throw CExifException(Fault::noteTooLarge);
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
        if (type == 0 || type > exif::kIfdFieldType) throw CExifException(Fault::unknownFormatType);
        // Where the count is padded, the IFD type holds a two-byte value, never a directory.
        const bool ifdType = type == exif::kIfdFieldType && !kind.paddedCount;
        const std::uint64_t unit = type == exif::kIfdFieldType && kind.paddedCount ? 2 : exif::typeUnitSize(type);
        const std::uint64_t size = unit * valueCount;
        if (size > exif::kInlineValueSize && size > 0) {
            if (view.base() + value < noteStart) throw CExifException(Fault::noteOutside);
            reach = std::max(reach, view.base() + value + size);
        }
        // A directory inside the note (type IFD, or a tag the kind names): what it refers to counts too.
        const bool directory = ifdType || (type == 4 && kind.holdsSubDirectory(entryTag));
        if (directory && valueCount == 1 && value != 0)
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

void CExifParser::layOut(const MakerNoteKind& kind, const TiffView& view, std::uint64_t at, std::uint16_t directoryTag,
                         std::uint32_t innerStart, bool withoutPreview, LaidOut& out, int depth) {
    if (depth > 4) throw CExifException(Fault::chainTooLong);
    TiffView reader = view;
    reader.seekSource(at);
    const std::uint16_t count = reader.readU16();
    image_.makerNoteDirectoriesWalked++;
    entriesWalked_ += count;
    if (image_.makerNoteDirectoriesWalked > exif::kMaxNoteDirectories || entriesWalked_ > exif::kMaxNoteEntries)
        throw CExifException(Fault::noteTooLarge);
    const MakerNoteKind::PreviewEntries preview = kind.previewEntriesOf(directoryTag);
    const bool previewsOwn = directoryTag == 0 && kind.innerPreview.wholeDirectory;
    std::vector<std::pair<EntryField, std::uint32_t>> kept;  // with the entry's place in the directory
    std::uint32_t previewLength = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        EntryField field = readEntryField(reader, at + 2 + std::uint64_t(exif::kEntrySize) * i, true);
        if (field.type == 0 || field.type > exif::kIfdFieldType) throw CExifException(Fault::unknownFormatType);
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
        hold(bytes);
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
        const bool directory = field.value != 0 &&
                               ((field.type == exif::kIfdFieldType && field.count == 1) ||
                                (kind.holdsSubDirectory(field.tag) && ((field.type == 4 && field.count == 1) || field.type == 7)));
        std::uint32_t placed = 0;
        if (directory) {
            if (out.bytes.size() % 2 != 0) out.bytes.push_back(0);
            placed = static_cast<std::uint32_t>(out.bytes.size());
            layOut(kind, view, field.value, field.tag, innerStart, withoutPreview, out, depth + 1);
            if (field.type == 7) putU32(&out.bytes[entry + 4], static_cast<std::uint32_t>(out.bytes.size() - placed), order);
        } else if (preview.start != 0 && field.tag == preview.start && previewLength != 0) {
            placed = append(field.value, previewLength);
        } else if (size > exif::kInlineValueSize) {
            if (size > exif::kMaxEntrySize) throw CExifException(Fault::sizeTooBig);
            placed = append(field.value, size);
        } else {
            bytes_->copy(view.base() + at + 2 + std::uint64_t(exif::kEntrySize) * kept[i].second + 8, &out.bytes[entry + 8], 4);
            continue;
        }
        putU32(&out.bytes[entry + 8], placed - innerStart, order);
        out.relocations.push_back(static_cast<std::uint32_t>(entry + 8));
    }
}

void CExifParser::layOutSubDirectories(const MakerNoteKind& kind) {
    int faults = 0;
    for (CExifEntry* entry = image_.makerNote.entries.first(); entry != nullptr;) {
        CExifEntry* next = image_.makerNote.entries.next(entry);
        const bool directory = kind.holdsSubDirectory(entry->tag) &&
                               (((entry->type == 4 || entry->type == exif::kIfdFieldType) && entry->count == 1) ||
                                entry->type == 7);
        const std::uint64_t at = entry->size > exif::kInlineValueSize ? entry->storedOffset : entry->valueAsU32();
        if (directory && kind.subDirectoriesStay) {
            if (!salvage_) throw CExifException(Fault::noteSubDirectory);
            leaveBehindEntry(*entry, "it is a directory of its own, which cannot be laid out anew");
        } else if (directory && at != 0) {
            try {
                LaidOut out;
                layOut(kind, view_, at, entry->tag, 0, false, out, 1);
                entry->size = static_cast<std::uint32_t>(out.bytes.size());
                if (entry->type == 7) entry->count = entry->size;
                entry->data = std::move(out.bytes);
                entry->relocations = std::move(out.relocations);
                entry->carried = true;
                entry->holdsDirectory = true;
                report_.trace(verbose::kParse, "  MAK0:0x%04x laid out anew, %u bytes\n", entry->tag, entry->size);
            } catch (const CExifException& failure) {
                if (!salvage_) throw CExifException(Fault::noteSubDirectory);
                if (++faults > exif::kMostFaultsLeftBehind)
                    throw CExifException(Fault::tooManyUnreadableEntries, {std::to_string(exif::kMostFaultsLeftBehind)});
                leaveBehindEntry(*entry, "it is a directory of its own that cannot be laid out anew: " + inPlainWords(failure));
            }
        }
        entry = next;
    }
}

bool CExifParser::relayWithoutPreview(const MakerNoteKind& kind, const TiffView& inner, std::uint64_t directory,
                                      std::uint64_t noteStart, std::uint64_t allowedEnd) {
    if (previewReach_ <= allowedEnd || inner.base() + directory < noteStart) return false;
    // The note's header and its own TIFF header as they are, then its directory laid out anew.
    LaidOut out;
    const std::uint64_t head = inner.base() + directory - noteStart;
    if (head > exif::kMaxEntrySize) return false;
    out.bytes.resize(static_cast<std::size_t>(head));
    bytes_->copy(noteStart, out.bytes.data(), head);
    layOut(kind, inner, directory, 0, static_cast<std::uint32_t>(inner.base() - noteStart), true, out, 0);
    const std::uint16_t part = kind.innerPreview.wholeDirectory ? kind.innerPreview.directoryTag : kind.innerPreview.start;
    if (image_.isRaw()) {
        report_.trace(verbose::kParse, "  MAK0 laid out anew without its preview, which stays in the raw file\n");
    } else {
        leaveBehind({CExifImage::LeftBehind::What::entry, &image_.makerNote, part, entryPart(image_.makerNote, part),
                     "its preview lies outside the Exif segment"});
    }
    auto* block = new CExifEntry(&image_.makerNote, tag::kMakerNote, 7, static_cast<std::uint32_t>(out.bytes.size()), 0);
    block->size = static_cast<std::uint32_t>(out.bytes.size());
    block->data = std::move(out.bytes);
    image_.makerNote.entries.append(block);
    return true;
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
        if (!salvage_) throw CExifException(Fault::noteOutside);
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
    if (count < kHead || bytes_->copy(view_.base() + at, head, kHead) != kHead ||
        std::memcmp(head, "Adobe\0MakN", 10) != 0)
        return;
    ByteOrder order = image_.byteOrder;
    const std::uint32_t length = getU32(head + 10, ByteOrder::bigEndian);
    const std::uint32_t oldOffset = getU32(head + 16, ByteOrder::bigEndian);
    const std::uint64_t noteStart = view_.base() + at + kHead;
    if (!orderOf(head + 14, order) || length < 6 || length - 6 > count - kHead || oldOffset > noteStart)
        throw CExifException(Fault::dngNote);
    image_.makerNoteOrder = order;
    const std::uint32_t declared = length - 6;
    bool note = false;
    {
        const ViewScope scope(view_);
        view_ = view_.subView(noteStart - oldOffset, order);
        note = readMakerNote(oldOffset, declared);
    }
    if (!note) return;
    // It hangs from a MakerNote entry of the Exif sub-directory, as in any other file.
    auto* pointer = new CExifEntry(&image_.subIfd, tag::kMakerNote, 7, declared, exif::kInlineValueSize);
    pointer->isPointer = true;
    image_.subIfd.insertInTagOrder(pointer);
    pointToExifDirectory();
}

}  // namespace tagloom
