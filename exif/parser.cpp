// How a directory and an entry are read, through a bounded TiffView, and what a source leaves behind
// of what it cannot read.
#include <algorithm>
#include <cstring>
#include <utility>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/parser.h"
#include "exif/report.h"

namespace tagloom {

EntryField readEntryField(TiffView view, std::uint64_t at, bool valueNeeded) {
    view.seekSource(at);
    EntryField field;
    field.tag = view.readU16();
    field.type = view.readU16();
    field.count = view.readU32();
    std::uint8_t value[4];
    field.valueInFile = view.readAvailable(value, sizeof value) == sizeof value;
    field.value = getU32(value, view.order());
    if (valueNeeded) field.requireValue();
    return field;
}

void EntryField::requireValue() const {
    if (!valueInFile) throw CExifException(Fault::dataPastEnd);
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
        throw CExifException(Fault::tooMuchHeld);
}

void CExifParser::leaveBehindEntry(CExifEntry& entry, const std::string& reason) {
    leaveBehind({CExifImage::LeftBehind::What::entry, entry.directory, entry.tag, entryPart(*entry.directory, entry.tag),
                 reason});
    entry.directory->entries.unlink(&entry);
    delete &entry;
}

bool CExifParser::saysWhere(const CExifDirectory& directory) const {
    return allFormats_ && (image_.extended() || (&directory == &image_.makerNote && image_.makerNoteKind != nullptr));
}

void CExifParser::sayWhereEntry(CExifException& failure, const CExifDirectory& directory, std::uint64_t fieldAt) const {
    if (failure.located() || !saysWhere(directory)) return;
    std::uint8_t raw[12] = {};
    bytes_->copy(view_.base() + fieldAt, raw, sizeof raw);
    const std::uint16_t entryTag = getU16(raw, view_.order());
    const std::uint16_t type = getU16(raw + 2, view_.order());
    const std::uint64_t count = getU32(raw + 4, view_.order());
    char where[160];
    const int n = std::snprintf(where, sizeof where, " (%s:0x%04x", directory.name().c_str(), entryTag);
    const std::size_t at = n > 0 ? static_cast<std::size_t>(n) : 0;
    const std::uint64_t size = std::uint64_t(tag::isWindowsXpTag(entryTag) ? 2 : exif::typeUnitSize(type)) * count;
    if (failure.fault == Fault::unknownFormatType) {
        std::snprintf(where + at, sizeof where - at, ", type %u)", static_cast<unsigned>(type));
    } else if (failure.fault == Fault::sizeTooBig) {
        std::snprintf(where + at, sizeof where - at, ", %llu bytes)", static_cast<unsigned long long>(size));
    } else if (size > exif::kInlineValueSize) {
        std::snprintf(where + at, sizeof where - at, ", %llu bytes at file offset 0x%llx)",
                      static_cast<unsigned long long>(size),
                      static_cast<unsigned long long>(view_.base() + getU32(raw + 8, view_.order())));
    } else {
        std::snprintf(where + at, sizeof where - at, ", entry at file offset 0x%llx)",
                      static_cast<unsigned long long>(view_.base() + fieldAt));
    }
    failure.where = where;
}

void CExifParser::sayWhereDirectory(CExifException& failure, const CExifDirectory& directory,
                                    const CExifDirectory& holder, std::uint16_t pointerTag) const {
    if (failure.located() || !saysWhere(directory)) return;
    const CExifEntry* pointer = holder.findEntry(pointerTag);
    const std::uint64_t at = pointer == nullptr ? 0 : directory.role->isPointerValue ? pointer->storedOffset
                                                                                        : pointer->valueAsU32();
    char where[96];
    std::snprintf(where, sizeof where, " (%s at file offset 0x%llx)", directory.name().c_str(),
                  static_cast<unsigned long long>(view_.base() + at));
    failure.where = where;
}

void CExifParser::leaveBehind(CExifImage::LeftBehind part) {
    report_.line("Tagloom: '%s' left behind: %s - %s\n", image_.path.c_str(), part.part.c_str(), part.reason.c_str());
    image_.leftBehind.push_back(std::move(part));
}

std::string CExifParser::inPlainWords(const CExifException& failure) const {
    // The refusal's own text, said plainly where Tagloom has plainer words; where the fault lies (a
    // note's entry, say) follows as the refusal says it.
    switch (failure.fault) {
        case Fault::unknownFormatType: return "its field type is none that Tagloom reads" + failure.where;
        case Fault::sizeTooBig: return "its value is larger than 64 KiB" + failure.where;
        case Fault::seekPastSection:
            return (image_.isRaw() ? "it lies outside the file" : "it lies outside the Exif segment") + failure.where;
        case Fault::dataPastEnd: return "it lies outside the file" + failure.where;
        default: break;
    }
    std::string plain = failure.message();
    if (!plain.empty() && plain[0] >= 'A' && plain[0] <= 'Z') plain[0] = static_cast<char>(plain[0] - 'A' + 'a');
    return plain;
}

void CExifParser::readEntry(CExifDirectory& directory, std::uint64_t fieldAt) {
    const EntryField field = readEntryField(view_, fieldAt, false);
    const auto entryAt = static_cast<unsigned>(view_.base() + fieldAt);
    const std::uint16_t entryTag = field.tag;
    const std::uint16_t type = field.type;
    const std::uint32_t count = field.count;
    // A raw file's IFD0 gives a JPEG only what describes the photo; its image layout stays unread. A
    // TIFF export that is rewritten keeps its own image's entries where they lie (and any that leads
    // to a directory): their value fields as stored, their values unread. The rest is read in full.
    const bool rewrittenTiff = image_.traits().ownImageInPlace && !reading_.source;
    if (image_.ifd0ByAllowList() && &directory == &image_.ifd0 &&
        (rewrittenTiff ? tag::isOwnImageTag(entryTag) || type == fieldType::kIfd : !tag::reachesJpegFromRaw(entryTag))) {
        if (!rewrittenTiff) return;
        field.requireValue();
        auto kept = std::make_unique<CExifEntry>(&directory, entryTag, type, count, exif::kInlineValueSize);
        kept->inPlace = true;
        view_.seekSource(fieldAt + 8);
        view_.readBytes(kept->data.data(), exif::kInlineValueSize);
        directory.entries.append(kept.release());
        return;
    }
    if (type > exif::kMaxFieldType) throw CExifException(Fault::unknownFormatType);
    std::uint64_t unit = exif::typeUnitSize(type);
    if (tag::isWindowsXpTag(entryTag)) unit = 2;
    const std::uint64_t size = unit * count;  // 64-bit: cannot wrap
    if (size > exif::kMaxEntrySize) throw CExifException(Fault::sizeTooBig);
    hold(size + exif::kHeldBytesPerEntry);

    auto entry = std::make_unique<CExifEntry>(&directory, entryTag, type, count, static_cast<std::uint32_t>(size));
    char dataText[16] = "------";
    if (size <= exif::kInlineValueSize) view_.seekSource(fieldAt + 8);  // the value field holds the data
    if (size > exif::kInlineValueSize) {
        field.requireValue();
        entry->storedOffset = field.value;
        // Offsets that lead in front of the maker note count from somewhere else (its own start,
        // as some phones write): read from the TIFF header they would give other bytes.
        if (&directory == &image_.makerNote && entry->storedOffset < noteStart_)
            throw CExifException(Fault::noteOffsetsNotFromHeader);
        view_.seekSource(entry->storedOffset);
        std::snprintf(dataText, sizeof dataText, "0x%04x", static_cast<unsigned>(view_.sourceFilePosition()));
    }
    view_.readBytes(entry->data.data(), size);
    directory.entries.append(entry.release());
    report_.trace(verbose::kParse, "    Dir Entry 0x%04x, Tag %s%d:0x%04x, Data %s, Size 0x%04x\n", entryAt,
                  directory.prefix.c_str(), directory.index, entryTag, dataText, static_cast<unsigned>(size));
}

void CExifParser::parseDirectory(CExifDirectory& directory, int chainLength) {
    // A directory: count N (2), N entries of 12 bytes, next-directory offset (4).
    // Known by where it lies in the file: a maker note read through a view of its own base (a DNG's
    // kept note) may name another directory's offset without being that directory.
    const std::uint64_t at = view_.sourcePosition();
    if (!directoriesRead_.insert(view_.sourceFilePosition()).second)
        throw CExifException(Fault::directoryReadTwice, {hex4(at)});
    const std::uint16_t entryCount = view_.readU16();
    const std::uint64_t firstEntry = view_.sourcePosition();
    report_.trace(verbose::kParse, "  %s%d %d entries starting at offset 0x%04x\n", directory.prefix.c_str(),
                 directory.index, entryCount, static_cast<unsigned>(view_.sourceFilePosition() - 2));

    // A source's directory whose entry table runs past the Exif segment keeps its whole entries.
    std::uint32_t readable = entryCount;
    if (leavesBehind_ && &directory != &image_.makerNote) {  // a note with any such fault stays behind whole
        const std::uint64_t room = view_.limit() > view_.base() + firstEntry ? view_.limit() - view_.base() - firstEntry : 0;
        readable = static_cast<std::uint32_t>(std::min<std::uint64_t>(entryCount, room / exif::kEntrySize));
        if (readable < entryCount)
            leaveBehind({CExifImage::LeftBehind::What::entriesPastSegment, &directory, 0,
                         directory.name() + " entries " + std::to_string(readable + 1) + "-" + std::to_string(entryCount),
                         "they lie outside the Exif segment"});
    }
    // A source leaves an entry it cannot read behind; a maker note's entries only where the note is
    // laid out entry by entry and its directory fits inside the note, else the note goes whole.
    const bool entryByEntry = leavesBehind_ && (&directory != &image_.makerNote ||
                                                (image_.makerNoteKind != nullptr &&
                                                 image_.makerNoteKind->carry == MakerNoteKind::Carry::relaid &&
                                                 2 + std::uint64_t(exif::kEntrySize) * entryCount <= noteRoom_));
    int faults = 0;
    for (std::uint32_t i = 0; i < readable; ++i) {
        const std::uint64_t fieldAt = firstEntry + std::uint64_t(exif::kEntrySize) * i;
        if (!entryByEntry) {
            try {
                readEntry(directory, fieldAt);
            } catch (CExifException& failure) {
                sayWhereEntry(failure, directory, fieldAt);
                throw;
            }
            continue;
        }
        try {
            readEntry(directory, fieldAt);
        } catch (const CExifException& failure) {
            if (++faults > exif::kMostFaultsLeftBehind)
                throw CExifException(Fault::tooManyUnreadableEntries, {std::to_string(exif::kMostFaultsLeftBehind)});
            std::uint8_t tagBytes[2] = {};
            bytes_->copy(view_.base() + fieldAt, tagBytes, sizeof tagBytes);
            const std::uint16_t entryTag = getU16(tagBytes, view_.order());
            leaveBehind({CExifImage::LeftBehind::What::entry, &directory, entryTag, entryPart(directory, entryTag),
                         inPlainWords(failure)});
        }
    }

    // Chains: only behind the directories whose row says so (IFD0, the Exif sub-directory), where the
    // load follows them at all.
    if (!directory.role->chains || (!followsChains_ && &directory != &image_.ifd0)) return;
    if (!followsChains_ && !image_.traits().ownImageInPlace) return;
    view_.seekSource(firstEntry + std::uint64_t(exif::kEntrySize) * entryCount);
    const std::uint32_t nextOffset = view_.readU32();
    // A TIFF export's further pages stay where they are: its new IFD0 leads to them as the old one did.
    if (!followsChains_) {
        image_.ifd0NextInPlace = nextOffset;
        return;
    }
    if (nextOffset == 0) return;
    if (chainLength + 1 > exif::kMaxChainLength)
        throw CExifException(Fault::chainTooLong);
    directory.next = std::make_unique<CExifDirectory>(&directory);
    view_.seekSource(nextOffset);
    parseDirectory(*directory.next, chainLength + 1);
}

}  // namespace tagloom
