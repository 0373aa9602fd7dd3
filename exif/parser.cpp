// How a directory is read, and the order of a whole load: the TIFF data located (exif/containers.cpp),
// IFD0, then each top directory from its pointer, the maker note by its own reader
// (exif/maker_note_reader.cpp), the thumbnail. Every read goes through a bounded TiffView.
#include <algorithm>
#include <cstring>
#include <utility>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/jpeg_segments.h"
#include "exif/parser.h"
#include "exif/report.h"
#include "exif/text.h"

namespace tagloom {

EntryField CExifParser::readEntryField(TiffView& view, std::uint64_t at, bool valueNeeded) {
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

EntryField CExifParser::ifd0Field(std::uint64_t ifd0, std::uint16_t wanted) {
    view_.seekSource(ifd0);
    const std::uint16_t count = view_.readU16();
    for (std::uint32_t i = 0; i < count; ++i) {
        const EntryField field = readEntryField(view_, ifd0 + 2 + std::uint64_t(exif::kEntrySize) * i, true);
        if (field.tag == wanted) return field;
    }
    return {};
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
    if (moved) pointToExifDirectory();
}

void CExifParser::pointToExifDirectory() {
    // A raw file without an Exif sub-directory now has one (its exposure tags, a DNG's kept note):
    // IFD0 points to it, so that it arrives where its values go.
    if (image_.ifd0.findEntry(tag::kExifIfdPointer) != nullptr) return;
    auto* pointer = new CExifEntry(&image_.ifd0, tag::kExifIfdPointer, 4, 1, exif::kInlineValueSize);
    pointer->isPointer = true;
    image_.ifd0.insertInTagOrder(pointer);
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

void CExifParser::parseHeader() {
    const std::uint64_t ifd0Position = locate();
    // A JPEG's own size, which an edited export's Exif data describes (--all-formats).
    const bool jpeg = image_.layout == Layout::exifFirstJpeg || image_.layout == Layout::exifAnywhereJpeg ||
                      image_.layout == Layout::jpegWithoutExif;
    if (allFormats_ && jpeg) {
        if (image_.layout == Layout::exifFirstJpeg) frame_ = frameSizeOf(*bytes_, scanSegments(*bytes_));
        image_.frameWidth = frame_.width;
        image_.frameHeight = frame_.height;
    }
    if (!image_.hasExif()) {
        if (image_.layout == Layout::jpegWithoutExif) report_.trace(verbose::kParse, "%s parse:\n\n", image_.path.c_str());
        return;
    }
    image_.makerNoteOrder = image_.byteOrder;
    view_ = TiffView(*bytes_, image_.base, image_.sectionEnd, image_.byteOrder);
    view_.seekSource(ifd0Position);

    report_.trace(verbose::kParse, "%s parse:\n", image_.path.c_str());
    if (allFormats_)
        report_.trace(verbose::kParse, "  Byte order: %s\n",
                     image_.byteOrder == ByteOrder::littleEndian ? "II (little-endian)" : "MM (big-endian)");
    parseDirectory(image_.ifd0);

    if (image_.layout == Layout::canonBoxesRaw) {
        readCanonBoxes();
    } else {
        for (const TopDirectory& top : kTopDirectories) {
            if (top.holder != nullptr) followTop(top);
        }
    }
    if (image_.isOtherRaw()) {
        const EntryField kept = ifd0Field(ifd0Position, tag::kDngPrivateData);
        if (kept.count != 0 && image_.makerNote.entries.empty()) parseDngMakerNote(kept.count, kept.value);
        moveExposureTags();
    }

    if (!salvage_) captureThumbnail();  // a source's thumbnail never reaches its destination
    report_.trace(verbose::kParse, "\n");
}

void CExifParser::followTop(const TopDirectory& top) {
    if (salvage_) {
        followPointerOrLeaveBehind(image_.*top.directory, top.pointerTag, image_.*top.holder);
        return;
    }
    try {
        followPointer(image_.*top.directory, top.pointerTag, image_.*top.holder);
    } catch (CExifException& failure) {
        sayWhereDirectory(failure, image_.*top.directory, image_.*top.holder, top.pointerTag);
        throw;
    }
}

// Follows a pointer entry of `from` into the directory `into`. Only an entry with at least four
// data bytes is a pointer (but for the Exif sub-directory's); a shorter one (a count of 0, say)
// stays an ordinary entry. The maker note is the value of its entry: its directory starts where
// that value lies, and the entry stands for it with four bytes.
void CExifParser::followPointer(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from) {
    CExifEntry* pointer = from.findEntry(pointerTag);
    if (pointer == nullptr) return;
    if (into.role->isPointerValue) {
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
    if (!into.role->followedAnySize && pointer->size < exif::kInlineValueSize) return;
    pointer->isPointer = true;
    view_.seekSource(pointer->valueAsU32());
    parseDirectory(into);
}

void CExifParser::followPointerOrLeaveBehind(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from) {
    try {
        followPointer(into, pointerTag, from);
    } catch (const CExifException& failure) {
        leaveBehind({CExifImage::LeftBehind::What::directory, &into, 0, into.name(), inPlainWords(failure)});
        // Nothing of it stays, nor the entry that leads to it: the destination keeps its own.
        into.entries.removeAll();
        into.next.reset();
        if (into.role->isPointerValue) {
            image_.makerNoteKind = nullptr;
            image_.makerNoteHeader.clear();
            image_.previewHolder = 0;
            image_.makerNoteOrder = image_.byteOrder;
        }
        if (CExifEntry* pointer = from.findEntry(pointerTag)) {
            from.entries.unlink(pointer);
            delete pointer;
        }
    }
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
    const std::uint64_t limit = image_.isRaw() ? bytes_->length() : image_.sectionEnd;
    if (image_.base + start > limit || bytes > limit - image_.base - start)
        throw CExifException(Fault::thumbnailOutside);
    carry(*offset, start, bytes);
}

void CExifParser::readEntry(CExifDirectory& directory, std::uint64_t fieldAt) {
    const EntryField field = readEntryField(view_, fieldAt, false);
    const auto entryAt = static_cast<unsigned>(view_.base() + fieldAt);
    const std::uint16_t entryTag = field.tag;
    const std::uint16_t type = field.type;
    const std::uint32_t count = field.count;
    // A raw file's IFD0 gives a JPEG only what describes the photo; its image layout stays unread.
    if (image_.ifd0ByAllowList() && &directory == &image_.ifd0 && !tag::reachesJpegFromRaw(entryTag)) return;
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
        if (&directory == &image_.makerNote && entry->storedOffset < makerNoteStart_)
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
    if (salvage_ && &directory != &image_.makerNote) {  // a note with any such fault stays behind whole
        const std::uint64_t room = view_.limit() > view_.base() + firstEntry ? view_.limit() - view_.base() - firstEntry : 0;
        readable = static_cast<std::uint32_t>(std::min<std::uint64_t>(entryCount, room / exif::kEntrySize));
        if (readable < entryCount)
            leaveBehind({CExifImage::LeftBehind::What::entriesPastSegment, &directory, 0,
                         directory.name() + " entries " + std::to_string(readable + 1) + "-" + std::to_string(entryCount),
                         "they lie outside the Exif segment"});
    }
    // A source leaves an entry it cannot read behind; a maker note's entries only where the note is
    // laid out entry by entry and its directory fits inside the note, else the note goes whole.
    const bool entryByEntry = salvage_ && (&directory != &image_.makerNote ||
                                           (image_.makerNoteKind != nullptr &&
                                            image_.makerNoteKind->carry == MakerNoteKind::Carry::relaid &&
                                            2 + std::uint64_t(exif::kEntrySize) * entryCount <= makerNoteRoom_));
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

    // Chains: only behind the directories whose row says so (IFD0, the Exif sub-directory), never in
    // a file named ".cr2" (in any case) nor in a raw file of another kind; and a source that leaves
    // parts behind reads none, as nothing chained reaches its destination.
    const bool chainless = !directory.role->chains || image_.isOtherRaw() || salvage_;
    if (equalIgnoringAsciiCase(image_.extension, ".cr2") || chainless) return;
    view_.seekSource(firstEntry + std::uint64_t(exif::kEntrySize) * entryCount);
    const std::uint32_t nextOffset = view_.readU32();
    if (nextOffset == 0) return;
    if (chainLength + 1 > exif::kMaxChainLength)
        throw CExifException(Fault::chainTooLong);
    directory.next = std::make_unique<CExifDirectory>(&directory);
    view_.seekSource(nextOffset);
    parseDirectory(*directory.next, chainLength + 1);
}

namespace {

/// The extension of a path: its text from its last '.'.
std::string extensionOf(const std::string& path) {
    const auto dot = path.find_last_of('.');
    return dot != std::string::npos ? path.substr(dot) : std::string();
}

}  // namespace

void CExifImage::load(const std::string& imagePath, bool allFormats, const Reporter& reporter, Role role) {
    path = imagePath;
    extension = extensionOf(path);
    try {
        try {
            file = platform::File::openForReading(path);
            fileOpen = file.isOpen();
            if (!fileOpen) throw CExifException(Fault::failedToOpen);
            try {
                fileStatus = file.status();
            } catch (const platform::IoError&) {
                throw CExifException(Fault::failedToOpen);
            }
            // One read of all that a load can reach: every seek stays at or below sectionEnd, which
            // is at most 0xFFFF + 4. Reads that run on past it go to the file.
            const SourceBytes bytes(file, fileStatus.size, exif::kMaxSectionEnd);
            CExifParser(*this, bytes, allFormats, role == Role::source, reporter).parseHeader();
        } catch (const platform::IoError& failure) {
            throw CExifException(Fault::readFailed, {failure.what()});  // a failing read of the disk
        }
    } catch (CExifException& failure) {
        failure.fileName = path;
        throw;
    }
}

void CExifImage::loadFromMemory(const std::string& name, const std::uint8_t* data, std::size_t size, bool allFormats,
                                const Reporter& reporter, Role role) {
    const SourceBytes bytes(data, size);
    loadFromBytes(name, bytes, allFormats, reporter, role);
}

void CExifImage::loadFromBytes(const std::string& name, const SourceBytes& bytes, bool allFormats,
                               const Reporter& reporter, Role role) {
    path = name;
    extension = extensionOf(path);
    fileStatus.size = bytes.length();
    try {
        CExifParser(*this, bytes, allFormats, role == Role::source, reporter).parseHeader();
    } catch (CExifException& failure) {
        failure.fileName = path;
        throw;
    }
}

}  // namespace tagloom
