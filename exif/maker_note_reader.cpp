// How a maker note is read: its kind (by its bytes and its Make), where its values lie against its
// offsets (as stored, or moved by another program), a relaid or plain directory; a DNG's note kept
// from its camera file. Blocks and directories laid out anew: exif/maker_note_blocks.cpp.
#include <algorithm>
#include <cstring>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/parser.h"
#include "exif/report.h"

namespace tagloom {

bool MakerNoteReader::read(std::uint32_t start, std::uint32_t declared) {
    parser_.noteStart_ = start;
    view_.seekSource(parser_.noteStart_);
    const std::uint64_t noteStart = view_.sourceFilePosition();
    const CExifEntry* makeEntry = image_.ifd0.findEntry(tag::kMake);
    const char* make = makeEntry != nullptr ? reinterpret_cast<const char*>(makeEntry->data.data()) : nullptr;
    const std::size_t makeSize = makeEntry != nullptr ? makeEntry->size : 0;
    const MakerNoteKind* kind = nullptr;
    using Carry = MakerNoteKind::Carry;
    if (parser_.allFormats_) {
        std::uint8_t head[16] = {};
        parser_.bytes_->copy(noteStart, head, std::min<std::uint64_t>(sizeof head, declared));
        kind = recogniseMakerNote(head, std::min<std::size_t>(sizeof head, declared), make, makeSize);
        // A plain directory is read as the default reading reads it; only a raw file keeps its image
        // data where a note belongs: in a JPEG such bytes are a note.
        if (kind != nullptr && (kind->carry == Carry::plain ||
                                (kind->carry == Carry::never && !image_.traits().rawDataAsNote)))
            kind = nullptr;
        // A note known by no signature is a directory only where one fits inside it; any other is
        // carried whole, and read back as the same block: its kind depends on its bytes, its Make and
        // its file's byte order, never on whether it is a source.
        const bool byMake = kind == nullptr || (kind->make != nullptr && kind->directory == MakerNoteKind::Directory::at);
        if (byMake && !directoryFits(start, kind != nullptr ? kind->directoryAt : 0, declared, view_.order()))
            kind = &noteWithoutDirectory();
        parser_.report_.trace(verbose::kParse, "  MAK0 kind: %s\n", kind != nullptr ? kind->name : "plain directory");
        if (kind != nullptr && kind->carry == Carry::refused)
            throw CExifException(Fault::noteUnsettled, {kind->name});
        if (kind != nullptr && kind->carry == Carry::never) return false;
    }
    const MakerNoteKind* camera = makerNoteKindOfMake(make, makeSize, parser_.allFormats_);
    const Footer footer = kind == nullptr && camera != nullptr && camera->footer ? readFooter(start, declared) : Footer{};
    // Windows records a non-zero offset schema where it moved a note: offsets from the outer TIFF
    // header no longer fit. A footer says more; a note with offsets of its own moved intact.
    if (parser_.allFormats_ && !footer.present && (kind == nullptr || kind->outerBase())) {
        const CExifEntry* schema = image_.subIfd.findEntry(tag::kOffsetSchema);
        if (schema != nullptr && schema->valueAsU32() != 0) throw CExifException(Fault::noteMoved);
    }
    if (kind != nullptr && kind->carry != Carry::relaid) {
        readBlock(*kind, parser_.noteStart_, declared);
        return true;
    }
    if (kind != nullptr && kind->wholeWhenValuesLieOutside && valuesLieOutside(*kind, start, declared)) {
        // Readers find such values where they lie behind the directory: a re-lay from the stored
        // offsets would copy other bytes.
        parser_.report_.trace(verbose::kParse, "  MAK0 values lie outside it: carried whole\n");
        readBlock(noteWithoutDirectory(), parser_.noteStart_, declared);
        return true;
    }

    // Read entry by entry: a plain directory, or a relaid one behind its header; where another
    // program moved it without its offsets, through a view whose base moved with it.
    const Placement placement = placementOf(start, kind != nullptr ? kind->directoryAt : 0, declared, footer);
    if (placement.fit == Placement::Fit::neither && parser_.allFormats_) throw CExifException(Fault::noteScattered);
    const ViewScope scope(view_);
    if (placement.fit == Placement::Fit::shifted) {
        if (!parser_.allFormats_) throw CExifException(Fault::noteMoved);
        parser_.report_.trace(verbose::kParse, "  MAK0 moved without its offsets: its values lie %+lld bytes from where they point\n",
                      static_cast<long long>(placement.shift));
        view_ = view_.shifted(placement.shift);
        parser_.noteStart_ = static_cast<std::uint32_t>(start - placement.shift);
    }
    view_.seekSource(parser_.noteStart_);
    if (kind != nullptr) {
        readRelaid(*kind, noteStart, declared);
    } else {
        parser_.parseDirectory(image_.makerNote);
        if (parser_.allFormats_ && camera != nullptr) layOutSubDirectories(*camera);
    }
    return true;
}

bool MakerNoteReader::directoryFits(std::uint64_t start, std::uint32_t directoryAt, std::uint32_t declared,
                                ByteOrder order) const {
    std::uint8_t count[2] = {};
    if (declared < directoryAt + 2u) return false;
    parser_.bytes_->copy(view_.base() + start + directoryAt, count, sizeof count);
    return directoryAt + 2 + std::uint64_t(exif::kEntrySize) * getU16(count, order) <= declared;
}

MakerNoteReader::ValueSpan MakerNoteReader::valueSpan(std::uint64_t directory, std::uint32_t declared) const {
    ValueSpan span;
    std::uint8_t count[2] = {};
    parser_.bytes_->copy(view_.base() + directory, count, sizeof count);
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
        if (size <= exif::kInlineValueSize || field.type == 0 || field.type > fieldType::kIfd ||
            size > exif::kMaxEntrySize)
            continue;  // no value of its own to place, or one that the reading refuses anyway
        span.values.push_back({field.value, size});
        span.lowest = std::min<std::uint64_t>(span.lowest, field.value);
        span.end = std::max<std::uint64_t>(span.end, field.value + size);
    }
    return span;
}

bool MakerNoteReader::valuesLieOutside(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) const {
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
MakerNoteReader::Placement MakerNoteReader::placementOf(std::uint64_t start, std::uint32_t directoryAt,
                                                    std::uint32_t declared, const Footer& footer) const {
    Placement placement;
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
        placement.fit = Placement::Fit::shifted;
        placement.shift = shift;
        return placement;
    }
    if (!inPlace && lowest < tableEnd) placement.fit = Placement::Fit::neither;
    return placement;
}

MakerNoteReader::Footer MakerNoteReader::readFooter(std::uint32_t start, std::uint32_t declared) const {
    Footer footer;
    std::uint8_t bytes[8] = {};
    ByteOrder order = view_.order();
    if (declared < sizeof bytes + 2 || parser_.bytes_->copy(view_.base() + start + declared - 8, bytes, sizeof bytes) != 8 ||
        !orderOf(bytes, order) || getU16(bytes + 2, order) != 42)
        return footer;
    // A footer counts only in the note's own order; a note in the other order cannot be laid out.
    if (order != view_.order()) {
        if (parser_.allFormats_) throw CExifException(Fault::noteOtherOrder);
        return footer;
    }
    footer.present = true;
    footer.writtenAt = getU32(bytes + 4, order);
    return footer;
}

void MakerNoteReader::readRelaid(const MakerNoteKind& kind, std::uint64_t noteStart, std::uint32_t declared) {
    image_.makerNoteKind = &kind;
    if (declared < kind.directoryAt) throw CExifException(Fault::noteShorterThanHeader);
    parser_.noteRoom_ = declared - kind.directoryAt;
    image_.makerNoteHeader.resize(kind.directoryAt);
    view_.readBytes(image_.makerNoteHeader.data(), kind.directoryAt);
    // Its directory is laid out anew in the file's byte order: a note that names the other one
    // (rather than two spaces, or nothing) cannot be.
    ByteOrder order = view_.order();
    if (orderOfNote(kind, noteStart, order) && order != view_.order())
        throw CExifException(Fault::noteOtherOrder);
    parser_.parseDirectory(image_.makerNote);
    layOutSubDirectories(kind);
    capturePreview(kind);
}

bool MakerNoteReader::orderOfNote(const MakerNoteKind& kind, std::uint64_t noteStart, ByteOrder& order) const {
    if (kind.order == MakerNoteKind::Order::little) order = ByteOrder::littleEndian;
    if (kind.order == MakerNoteKind::Order::big) order = ByteOrder::bigEndian;
    if (kind.order != MakerNoteKind::Order::bytesAt) return true;
    std::uint8_t mark[2] = {};
    parser_.bytes_->copy(noteStart + kind.orderAt, mark, sizeof mark);
    return orderOf(mark, order);
}

void MakerNoteReader::readKeptByDng(std::uint32_t count, std::uint32_t at) {
    // "Adobe\0", "MakN", the length (4, big-endian), the note's byte order, its old offset (4,
    // big-endian), then the note: its offsets count from where the note lay before.
    constexpr std::uint32_t kHead = 20;
    std::uint8_t head[kHead] = {};
    if (count < kHead || parser_.bytes_->copy(view_.base() + at, head, kHead) != kHead ||
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
        note = read(oldOffset, declared);
    }
    if (!note) return;
    // It hangs from a MakerNote entry of the Exif sub-directory, as in any other file.
    auto* pointer = new CExifEntry(&image_.subIfd, tag::kMakerNote, fieldType::kUndefined, declared, exif::kInlineValueSize);
    pointer->isPointer = true;
    image_.subIfd.insertInTagOrder(pointer);
    parser_.pointToExifDirectory();
}

}  // namespace tagloom
