// The order of a whole load: the TIFF data located (exif/containers.cpp), IFD0, then each top
// directory from its pointer, the maker note by its own reader (exif/maker_note_reader.cpp), a raw
// file's exposure tags and kept note, the thumbnail.
#include <algorithm>
#include <cstring>
#include <utility>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/parser.h"
#include "exif/report.h"
#include "exif/text.h"

namespace tagloom {

EntryField CExifParser::ifd0Field(std::uint16_t wanted) {
    const std::uint64_t ifd0 = located_.ifd0;
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
    auto* pointer = new CExifEntry(&image_.ifd0, tag::kExifIfdPointer, fieldType::kLong, 1, exif::kInlineValueSize);
    pointer->isPointer = true;
    image_.ifd0.insertInTagOrder(pointer);
}

void CExifParser::take(Located located) {
    image_.layout = located.layout;
    image_.base = static_cast<std::uint32_t>(located.base);
    image_.sectionEnd = static_cast<std::uint32_t>(located.sectionEnd);
    image_.byteOrder = located.order;
    image_.headerStart = located.headerStart;
    image_.segmentStart = located.segmentStart;
    std::copy(std::begin(located.header), std::end(located.header), image_.header);
    if (located.item) {
        hold(located.item->length());
        bytes_ = located.item.get();
    }
    // Chained directories never reach a destination from a source that leaves parts behind, nor from
    // a raw file of another kind; and never in a file named ".cr2" (in any case).
    followsChains_ = !leavesBehind_ && !image_.isOtherRaw() && !image_.traits().ownImageInPlace &&
                     !equalIgnoringAsciiCase(image_.extension, ".cr2");
    located_ = std::move(located);
}

void CExifParser::readImage() {
    take(locate(*bytes_, reading_));
    const LayoutTraits& kind = image_.traits();
    // A JPEG's or an export's own pixel size, which an edited export's Exif data describes (--all-formats).
    if (allFormats_ && (kind.jpeg || kind.export_)) {
        image_.frameWidth = located_.frame.width;
        image_.frameHeight = located_.frame.height;
    }
    if (!kind.holdsExif) {
        if (kind.jpeg) report_.trace(verbose::kParse, "%s parse:\n\n", image_.path.c_str());
        return;
    }
    image_.makerNoteOrder = image_.byteOrder;
    view_ = TiffView(*bytes_, image_.base, image_.sectionEnd, image_.byteOrder);
    view_.seekSource(located_.ifd0);

    report_.trace(verbose::kParse, "%s parse:\n", image_.path.c_str());
    if (allFormats_)
        report_.trace(verbose::kParse, "  Byte order: %s\n",
                     image_.byteOrder == ByteOrder::littleEndian ? "II (little-endian)" : "MM (big-endian)");
    parseDirectory(image_.ifd0);

    if (kind.directoriesInBoxes) {
        readCanonBoxes();
    } else {
        for (const TopDirectory& top : kTopDirectories) {
            if (top.holder != nullptr) followTop(top);
        }
    }
    if (image_.isOtherRaw()) {
        const EntryField kept = ifd0Field(tag::kDngPrivateData);
        if (kept.count != 0 && image_.makerNote.entries.empty()) MakerNoteReader(*this).readKeptByDng(kept.count, kept.value);
        moveExposureTags();
    }

    if (!leavesBehind_) captureThumbnail();  // a source's thumbnail never reaches its destination
    report_.trace(verbose::kParse, "\n");
}

void CExifParser::followTop(const TopDirectory& top) {
    if (leavesBehind_) {
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
        if (MakerNoteReader(*this).read(pointer->storedOffset, declared)) return;
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
            CExifParser(*this, bytes, Reading{allFormats, role == Role::source, extension}, reporter).readImage();
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
        CExifParser(*this, bytes, Reading{allFormats, role == Role::source, extension}, reporter).readImage();
    } catch (CExifException& failure) {
        failure.fileName = path;
        throw;
    }
}

}  // namespace tagloom
