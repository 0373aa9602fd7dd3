#include "writer/encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"

namespace tagloom {

namespace {

constexpr std::size_t kTops = top::kCount;

/// The entry of `holder` that points to a top directory, when it will be written and can hold an offset.
const CExifEntry* livePointer(const CExifDirectory& holder, std::uint16_t pointerTag) {
    const CExifEntry* entry = holder.findEntry(pointerTag);
    if (entry == nullptr || entry->removed || entry->size < exif::kInlineValueSize) return nullptr;
    return entry;
}

/// Where a directory goes: `start` is where its entry leads (a relaid note's header), `table` where its
/// count lies, `end` the end of its data area (its chained directory starts there).
struct DirectoryPlace {
    std::int32_t writeCount = 0;
    std::uint32_t start = 0;
    std::uint32_t table = 0;
    std::uint32_t end = 0;
};

/// Where an entry goes, and what is written in it once everything is placed: a pointer's position, the
/// maker note's span, a preview's or a position's new value.
struct EntryPlace {
    std::uint32_t entryPos = 0;
    std::uint32_t dataPos = 0;  // where its value goes, when out of line
    bool outOfLine = false;
    bool settled = false;        // written with the fields below instead of its own
    std::uint32_t size = 0;
    std::uint32_t count = 0;
    std::optional<std::uint32_t> value;         // its first four value bytes
    std::optional<std::uint32_t> fixedDataPos;  // its value lies here already (the maker note): no data
    const char* label = nullptr;
};

class Encoder {
public:
    Encoder(const CExifImage& image, const TiffPlacement& where, const Reporter& report)
        : image_(image), where_(where), report_(report), order_(image.byteOrder) {}

    EncodedTiff encode() {
        // Where everything goes.
        origin_ = where_.writesHeader ? 0 : where_.firstDirectory;
        std::uint32_t at = where_.firstDirectory;
        for (std::size_t i = 0; i < kTops; ++i) {
            if (!isWritten(image_, i)) continue;
            const TopDirectory& top = kTopDirectories[i];
            at = top.isPointerValue && image_.makerNoteKind != nullptr ? placeMakerNote(at)
                                                                       : placeDirectory(image_.*top.directory, at);
        }
        EncodedTiff encoded;
        encoded.segmentEnd = where_.base + at + where_.trailer;
        settle(encoded);

        // Every byte once.
        bytes_.assign(at - origin_, 0);
        if (where_.writesHeader) {
            std::memcpy(bytes_.data(), image_.header + (image_.base - image_.headerStart), 4);
            putU32(bytes_.data() + 4, where_.firstDirectory, order_);
        }
        for (std::size_t i = 0; i < kTops; ++i) {
            if (!isWritten(image_, i)) continue;
            const TopDirectory& top = kTopDirectories[i];
            if (top.isPointerValue && image_.makerNoteKind != nullptr) {
                writeMakerNote();
            } else {
                writeDirectory(image_.*top.directory);
            }
        }
        report_.trace(verbose::kRewrite, "  IFD-EOF: 0x%04x.   Re-write:\n", static_cast<unsigned>(encoded.segmentEnd));
        for (const CExifEntry* entry : settledInOrder_) traceEntry(*entry, true);
        encoded.bytes = std::move(bytes_);
        return encoded;
    }

private:
    std::uint32_t placeDirectory(const CExifDirectory& directory, std::uint32_t at) {
        DirectoryPlace& place = directories_[&directory];
        place.start = place.table = at;
        for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
            if (!entry->removed) place.writeCount++;
        }
        std::uint32_t entryPos = at + 2;
        std::uint32_t data = at + 2 + exif::kEntrySize * static_cast<std::uint32_t>(place.writeCount) + 4;
        std::vector<const CExifEntry*> last;
        for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
            if (entry->removed) continue;
            entries_[entry].entryPos = entryPos;
            entryPos += exif::kEntrySize;
            if (goesLast(*entry)) {
                last.push_back(entry);
            } else {
                data += placeValue(*entry, data);
            }
        }
        for (const CExifEntry* entry : last) data += placeValue(*entry, data);
        place.end = data;
        return directory.next ? placeDirectory(*directory.next, data) : data;
    }

    /// Places an entry's value in the data area at `data` when it goes out of line; gives the room it takes.
    std::uint32_t placeValue(const CExifEntry& entry, std::uint32_t data) {
        EntryPlace& place = entries_[&entry];
        place.outOfLine = !entry.inPlace && (entry.size > exif::kInlineValueSize || (entry.carried && entry.size > 0));
        if (!place.outOfLine) return 0;
        place.dataPos = data;
        return (entry.size + 1) & ~1u;
    }

    /// A relaid note's carried preview goes behind its other values, where cameras put it: readers
    /// check where a note's values begin.
    bool goesLast(const CExifEntry& entry) const {
        const MakerNoteKind* kind = image_.makerNoteKind;
        return entry.directory == &image_.makerNote && kind != nullptr && kind->carry == MakerNoteKind::Carry::relaid &&
               entry.tag == kind->previewStart && entry.carried;
    }

    /// A note of a recognised kind starts at `at`: a relaid one with its header, a block as its bytes.
    std::uint32_t placeMakerNote(std::uint32_t at) {
        if (image_.makerNoteKind->carry == MakerNoteKind::Carry::relaid) {
            const std::uint32_t end = placeDirectory(image_.makerNote, at + static_cast<std::uint32_t>(image_.makerNoteHeader.size()));
            directories_[&image_.makerNote].start = at;
            return end;
        }
        const std::uint32_t size = blockSize();
        DirectoryPlace& place = directories_[&image_.makerNote];
        place.start = place.table = at;
        place.end = at + size;
        return at + size + size % 2;  // the next directory starts even
    }

    std::uint32_t blockSize() const {
        const CExifEntry* block = image_.makerNote.findEntry(tag::kMakerNote);
        return block != nullptr && !block->removed ? block->size : 0;
    }

    /// Positions, now that everything has its place: each pointer leads to its directory, the maker
    /// note's entry spans the note, a preview that is another entry's value lies where that value
    /// does, and positions behind the segment move with the data there.
    void settle(EncodedTiff& encoded) {
        for (std::size_t i = 0; i < kTops; ++i) {
            const TopDirectory& top = kTopDirectories[i];
            if (top.holder == nullptr || !isWritten(image_, i)) continue;
            const CExifEntry* pointer = (image_.*top.holder).findEntry(top.pointerTag);
            if (pointer == nullptr || pointer->removed) continue;
            const DirectoryPlace& directory = directories_[&(image_.*top.directory)];
            EntryPlace& place = settling(*pointer, top.patchLabel);
            if (top.isPointerValue) {
                place.size = directory.end - directory.start;
                place.count = place.size & 0xFFFF;  // kept as it has always been written: 16 bits of the size
                place.fixedDataPos = directory.start;
            } else {
                place.value = directory.start;
            }
        }
        const bool noteWritten = isWritten(image_, top::kMakerNote);
        if (image_.previewHolder != 0 && noteWritten) {
            const CExifEntry* start = image_.makerNote.findEntry(image_.makerNoteKind->previewStart);
            const CExifEntry* holder = image_.makerNote.findEntry(image_.previewHolder);
            if (start != nullptr && !start->removed) {
                if (holder == nullptr || holder->removed || holder->size <= exif::kInlineValueSize)
                    throw CExifException(Fault::positionLost, {hex4(start->tag)});
                settling(*start, "Moved").value = entries_[holder].dataPos;
                encoded.patched[start] = entries_[holder].dataPos;
            }
        }
        for (const CExifEntry* entry : image_.positionEntries()) {
            if (!noteWritten) break;
            const std::uint64_t moved = entry->valueAsU32() - std::uint64_t(where_.oldRestStart) + encoded.segmentEnd;
            if (moved > 0xFFFFFFFFu) throw CExifException(Fault::positionCannotMove, {hex4(entry->tag)});
            settling(*entry, "Moved").value = static_cast<std::uint32_t>(moved);
            encoded.patched[entry] = static_cast<std::uint32_t>(moved);
        }
    }

    EntryPlace& settling(const CExifEntry& entry, const char* label) {
        EntryPlace& place = entries_[&entry];
        place.settled = true;
        place.size = entry.size;
        place.count = entry.count;
        place.label = label;
        settledInOrder_.push_back(&entry);
        return place;
    }

    void writeDirectory(const CExifDirectory& directory) {
        const DirectoryPlace& place = directories_[&directory];
        report_.trace(verbose::kRewrite, "  %s%d %d entries start at 0x%04x\n", directory.prefix.c_str(), directory.index,
                      place.writeCount, static_cast<unsigned>(where_.base + place.table));
        putU16(bytesAt(place.table), static_cast<std::uint16_t>(place.writeCount), order_);
        std::vector<const CExifEntry*> last;
        for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
            if (entry->removed) {
                report_.trace(verbose::kRewrite, "    Dir Entry         Tag %s%d:0x%04x, Data         Size 0x%04x  remove\n",
                              directory.prefix.c_str(), directory.index, entry->tag, entry->size);
            } else if (goesLast(*entry)) {
                last.push_back(entry);
            } else {
                writeEntry(*entry);
            }
        }
        for (const CExifEntry* entry : last) writeEntry(*entry);
        const std::uint32_t link = place.table + 2 + exif::kEntrySize * static_cast<std::uint32_t>(place.writeCount);
        const std::uint32_t next = directory.next                                         ? directories_[directory.next.get()].start
                                   : &directory == &image_.ifd0 && image_.traits().ownImageInPlace ? image_.ifd0NextInPlace
                                                                                                   : 0;
        putU32(bytesAt(link), next, order_);
        if (directory.next) writeDirectory(*directory.next);
    }

    void writeEntry(const CExifEntry& entry) {
        const EntryPlace& place = entries_[&entry];
        const std::uint32_t size = place.settled ? place.size : entry.size;
        std::uint8_t* field = bytesAt(place.entryPos);
        putU16(field, entry.tag, order_);
        putU16(field + 2, entry.type, order_);
        putU32(field + 4, place.settled ? place.count : entry.count, order_);
        traceEntry(entry, false);
        if (place.fixedDataPos) {
            putU32(field + 8, *place.fixedDataPos, order_);
            return;
        }
        std::uint8_t* value = field + 8;
        if (place.outOfLine) {
            putU32(field + 8, place.dataPos, order_);
            value = bytesAt(place.dataPos);
        }
        std::copy_n(entry.data.begin(), size, value);
        if (place.value) putU32(value, *place.value, order_);
        // A directory laid out as one value: its offsets count from where the value goes.
        for (const std::uint32_t at : entry.relocations)
            putU32(value + at, getU32(value + at, order_) + place.dataPos, order_);
    }

    /// An entry's trace line: as first placed, or (`settled`) as written once everything was placed.
    void traceEntry(const CExifEntry& entry, bool settled) const {
        const EntryPlace& place = entries_.at(&entry);
        const std::uint32_t size = settled ? place.size : entry.size;
        const bool outOfLine = settled && place.fixedDataPos ? size > exif::kInlineValueSize : place.outOfLine;
        const std::uint32_t dataPos = settled && place.fixedDataPos ? *place.fixedDataPos : place.dataPos;
        char dataText[16] = "------";
        if (outOfLine) std::snprintf(dataText, sizeof dataText, "0x%04x", static_cast<unsigned>(dataPos + where_.base));
        report_.trace(verbose::kRewrite, "    Dir Entry 0x%04x, Tag %s%d:0x%04x, Data %s, Size 0x%04x  %s\n",
                      static_cast<unsigned>(place.entryPos + where_.base), entry.directory->prefix.c_str(),
                      entry.directory->index, entry.tag, dataText, size,
                      settled ? place.label : changeWord(entry));
    }

    void writeMakerNote() {
        const DirectoryPlace& place = directories_[&image_.makerNote];
        if (image_.makerNoteKind->carry == MakerNoteKind::Carry::relaid) {
            std::copy(image_.makerNoteHeader.begin(), image_.makerNoteHeader.end(), bytesAt(place.start));
            writeDirectory(image_.makerNote);
            return;
        }
        const std::uint32_t size = blockSize();
        report_.trace(verbose::kRewrite, "  MAK0 block of 0x%04x bytes at 0x%04x\n", size,
                      static_cast<unsigned>(where_.base + place.start));
        if (size > 0) std::memcpy(bytesAt(place.start), image_.makerNote.findEntry(tag::kMakerNote)->data.data(), size);
    }

    const CExifImage& image_;
    TiffPlacement where_;
    const Reporter& report_;
    ByteOrder order_;
    std::unordered_map<const CExifDirectory*, DirectoryPlace> directories_;
    std::unordered_map<const CExifEntry*, EntryPlace> entries_;
    std::vector<const CExifEntry*> settledInOrder_;  // as the trace names them after the directories
    /// Where a position (relative to base) lies in the bytes written.
    std::uint8_t* bytesAt(std::uint32_t position) { return bytes_.data() + (position - origin_); }

    std::uint32_t origin_ = 0;  // the position of the first byte written
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

bool isWritten(const CExifImage& image, std::size_t index) {
    // The Exif sub-directory and the maker note always (a maker note without its entry stays
    // unreferenced); GPS and interoperability data only behind a pointer that can lead to them. A
    // file that only --all-formats reads may have no Exif sub-directory, and then nothing that hangs
    // from it.
    const TopDirectory& top = kTopDirectories[index];
    if (top.holder == nullptr) return true;
    const bool subWritten = !image.extended() || livePointer(image.ifd0, tag::kExifIfdPointer) != nullptr;
    if (top.directory == &CExifImage::subIfd || top.directory == &CExifImage::makerNote) return subWritten;
    return (top.holder != &CExifImage::subIfd || subWritten) && livePointer(image.*top.holder, top.pointerTag) != nullptr;
}

EncodedTiff encodeTiff(const CExifImage& image, const TiffPlacement& where, const Reporter& report) {
    return Encoder(image, where, report).encode();
}

}  // namespace tagloom
