#include "merge/merge.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <iterator>
#include <map>
#include <memory>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/report.h"
#include "exif/value_order.h"

namespace tagloom {

namespace {

/// Every byte of the value is zero: a position that leads nowhere.
bool isZero(const CExifEntry& entry) {
    return std::all_of(entry.data.begin(), entry.data.begin() + entry.size, [](std::uint8_t byte) { return byte == 0; });
}

/// Keeps the destination's value as it was before the merge first replaces it.
void keepPrevious(CExifEntry& entry) {
    if (entry.previous) return;
    entry.previous = std::make_unique<CExifEntry::Previous>(
        CExifEntry::Previous{entry.type, entry.count, {entry.data.begin(), entry.data.begin() + entry.size}});
}

void copyValue(CExifEntry& to, const CExifEntry& from) {
    to.data.assign(from.data.begin(), from.data.begin() + from.size);
    to.type = from.type;
    to.count = from.count;
    to.storedOffset = from.storedOffset;
    to.size = from.size;
    to.carried = from.carried;
    to.holdsDirectory = from.holdsDirectory;
    to.relocations = from.relocations;
}

/// A destination directory's entries by tag, in list order, so that the k-th entry of a tag is found
/// and a new entry is placed without walking the list: a directory may hold thousands of one tag.
class TagIndex {
public:
    explicit TagIndex(CExifDirectory& directory) : directory_(directory) {
        for (CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
            sorted_ = sorted_ && (byTag_.empty() || byTag_.rbegin()->first <= entry->tag);
            byTag_[entry->tag].push_back(entry);
        }
    }

    /// The k-th entry (from 0) with this tag, removed entries included; none when there are fewer.
    CExifEntry* nth(std::uint16_t tag, int k) const {
        const auto found = byTag_.find(tag);
        if (found == byTag_.end() || k >= static_cast<int>(found->second.size())) return nullptr;
        return found->second[static_cast<std::size_t>(k)];
    }

    /// Links a new entry in at the end, or where CExifDirectory::insertInTagOrder puts it: before
    /// the first entry of a greater tag. It becomes the last entry of its tag.
    void link(CExifEntry* entry, bool atEnd) {
        if (atEnd) {
            sorted_ = sorted_ && (byTag_.empty() || byTag_.rbegin()->first <= entry->tag);
            directory_.entries.append(entry);
        } else if (!sorted_) {
            directory_.insertInTagOrder(entry);  // a camera's unordered directory: walked
        } else {
            const auto greater = byTag_.upper_bound(entry->tag);
            if (greater == byTag_.end()) {
                directory_.entries.append(entry);
            } else {
                directory_.entries.insertBefore(greater->second.front(), entry);
            }
        }
        byTag_[entry->tag].push_back(entry);
    }

private:
    CExifDirectory& directory_;
    std::map<std::uint16_t, std::vector<CExifEntry*>> byTag_;
    bool sorted_ = true;  // tags never fall along the list
};

/// A GPS or interoperability pointer of fewer than four bytes leads nowhere: the source's followed
/// pointer replaces it, so that the merged directory is written and referenced.
bool leadsNowhere(const CExifEntry& d, const CExifEntry& s) {
    return (d.tag == tag::kGpsIfdPointer || d.tag == tag::kInteropIfdPointer) && !d.isPointer && s.isPointer &&
           d.size < exif::kInlineValueSize;
}

/// The source entry's value in the destination's byte order: the entry itself where the two agree,
/// else `turned`, a copy turned into the other order. Refuses a value that cannot be turned.
const CExifEntry& inDestinationOrder(const CExifEntry& s, CExifDirectory& destination,
                                     std::unique_ptr<CExifEntry>& turned) {
    const CExifImage* from = s.directory->owner;
    const ByteOrder order = from->orderOf(*s.directory);
    if (order == destination.owner->orderOf(destination)) return s;
    turned = std::make_unique<CExifEntry>(&destination, s.tag, s.type, s.count, s.size);
    copyValue(*turned, s);
    turned->isPointer = s.isPointer;
    const TurnResult result = turnByteOrder(s.tag, s.type, turned->data.data(), s.size, order, s.directory == &from->gpsIfd);
    if (result == TurnResult::turned) return *turned;
    CExifException failure = result == TurnResult::unknownType ? CExifException(Fault::unknownFormatType)
                                                               : CExifException(Fault::valueCannotTurn, {hex4(s.tag)});
    failure.fileName = from->path;
    throw failure;
}

}  // namespace

void mergeEntries(CExifDirectory& destination, const CExifDirectory& source, const MergeOptions& options,
                  const MergeRules& rules) {
    // The k-th source entry of a tag meets the k-th destination entry of that tag.
    TagIndex index(destination);
    std::map<std::uint16_t, int> seen;
    for (const CExifEntry* stored = source.entries.first(); stored != nullptr; stored = source.entries.next(stored)) {
        if (rules.leavesAlone(stored->tag)) continue;
        const int k = seen[stored->tag]++;
        if (rules.neverArrive.count(stored->tag) != 0) continue;
        // A directory laid out anew travels as any value.
        const bool position = rules.positions.count(stored->tag) != 0 && !stored->holdsDirectory;
        if (position && !isZero(*stored)) continue;
        std::unique_ptr<CExifEntry> turned;
        const CExifEntry* s = &inDestinationOrder(*stored, destination, turned);
        CExifEntry* d = index.nth(s->tag, k);
        if (position && d != nullptr && !d->removed && !d->holdsDirectory && !isZero(*d)) continue;
        if (d == nullptr) {
            d = new CExifEntry(&destination, s->tag, s->type, s->count, s->size);
            index.link(d, rules.inSourceOrder);
            copyValue(*d, *s);
            d->change = CExifEntry::Change::added;
        } else if (!d->removed && leadsNowhere(*d, *s)) {
            keepPrevious(*d);
            copyValue(*d, *s);
            d->change = CExifEntry::Change::changed;
        } else if (options.copyMismatched && !s->isPointer && !d->isPointer && !d->removed &&
                   rules.neverReplaced.count(s->tag) == 0 && !d->sameValue(*s)) {
            keepPrevious(*d);
            copyValue(*d, *s);
            d->change = CExifEntry::Change::changed;
        }
        if (d->change != CExifEntry::Change::none) destination.owner->diffCount++;
    }

    if (!options.overwrite || rules.keepsWhatSourceLacks) return;
    // The destination's k-th entry of a tag goes when the source holds fewer than k of that tag.
    std::map<std::uint16_t, int> kept;
    for (CExifEntry* d = destination.entries.first(); d != nullptr; d = destination.entries.next(d)) {
        if (rules.leavesAlone(d->tag)) continue;
        const int k = kept[d->tag]++;
        if (rules.positions.count(d->tag) != 0 && !d->holdsDirectory && !isZero(*d)) continue;
        if (!d->removed && seen[d->tag] <= k) {
            d->removed = true;
            destination.owner->diffCount++;
        }
    }
}

void markAllRemoved(CExifDirectory& directory) {
    for (CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (entry->removed) continue;
        entry->removed = true;
        directory.owner->diffCount++;
    }
}

void listDiffs(const CExifDirectory& directory, const Reporter& reporter) {
    int line = 0;
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        const char* word = changeWord(*entry);
        if (*word == '\0') continue;
        ++line;
        reporter.trace(verbose::kDiffs, "    %02d %s%d:0x%04x %-8s - %u bytes\n", line, directory.prefix.c_str(),
                     directory.index, entry->tag, word, entry->size);
    }
}
namespace {

/// Sets a SHORT or LONG entry of the directory to `value`, counting the change; adds it where missing.
void setNumber(CExifImage& image, CExifDirectory& directory, std::uint16_t tag, std::uint32_t value) {
    const ByteOrder order = image.orderOf(directory);
    CExifEntry* entry = directory.findEntry(tag);
    if (entry != nullptr && !entry->removed && image.numberIn(directory, tag) == value) return;
    const bool fitsShort = value <= 0xFFFF;
    if (entry == nullptr || entry->removed) {
        entry = new CExifEntry(&directory, tag, fitsShort ? fieldType::kShort : fieldType::kLong, 1, fitsShort ? 2 : 4);
        directory.insertInTagOrder(entry);
        entry->change = CExifEntry::Change::added;
    } else {
        keepPrevious(*entry);
        if (entry->type != fieldType::kShort && entry->type != fieldType::kLong) entry->type = fitsShort ? fieldType::kShort : fieldType::kLong;
        if (entry->type == fieldType::kShort && !fitsShort) entry->type = fieldType::kLong;
        entry->count = 1;
        entry->size = entry->type == fieldType::kShort ? 2 : 4;
        entry->data.assign(entry->size, 0);
        entry->change = CExifEntry::Change::changed;
    }
    if (entry->type == fieldType::kShort) putU16(entry->data.data(), static_cast<std::uint16_t>(value), order);
    else putU32(entry->data.data(), value, order);
    image.diffCount++;
}

bool holdsLiveEntry(const CExifDirectory& directory) {
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (!entry->removed) return true;
    }
    return false;
}

/// A directory arrives exactly when its pointer does: a pointer that arrived with nothing behind it
/// goes again, and a directory whose values arrive without their pointer gets one. Holders come
/// last, so that a pointer made in a directory makes that directory arrive too.
void settlePointers(CExifImage& destination, const MergePlan& plan) {
    for (std::size_t i = top::kCount; i-- > 1;) {
        const TopDirectory& top = kTopDirectories[i];
        const std::size_t held = top.holderIndex;
        CExifDirectory& holder = destination.*top.holder;
        CExifEntry* pointer = holder.findEntry(top.pointerTag);
        const bool holds = holdsLiveEntry(destination.*top.directory);
        if (!holds && pointer != nullptr && !pointer->removed && pointer->change == CExifEntry::Change::added) {
            holder.entries.unlink(pointer);
            delete pointer;
            destination.diffCount--;
        } else if (holds && pointer == nullptr && !plan.stays[i] && !plan.rules[held].leavesAlone(top.pointerTag)) {
            pointer = top.isPointerValue
                          ? new CExifEntry(&holder, top.pointerTag, fieldType::kUndefined, 0, exif::kInlineValueSize)
                          : new CExifEntry(&holder, top.pointerTag, fieldType::kLong, 1, exif::kInlineValueSize);
            pointer->isPointer = true;
            pointer->change = CExifEntry::Change::added;
            holder.insertInTagOrder(pointer);
            destination.diffCount++;
        }
    }
}
}  // namespace

void mergeFrom(CExifImage& destination, const CExifImage& source, const MergeOptions& options,
               const Reporter& reporter) {
    const MergePlan plan = planMerge(destination, source, options);
    if (plan.takesSourceOrder) destination.setByteOrder(source.makerNoteOrder);
    if (options.dropThumbnail && destination.ifd0.next) markAllRemoved(*destination.ifd0.next);
    if (plan.takesNoteKind) {
        destination.makerNoteKind = source.makerNoteKind;
        destination.makerNoteHeader = source.makerNoteHeader;
        destination.previewHolder = source.previewHolder;
    }
    for (std::size_t i = 0; i < sizeof kTopDirectories / sizeof kTopDirectories[0]; ++i) {
        const TopDirectory& top = kTopDirectories[i];
        if ((top.isPointerValue && !plan.noteMerges) || plan.stays[i]) continue;
        mergeEntries(destination.*top.directory, source.*top.directory, options, plan.rules[i]);
    }
    if (plan.noteStaysBehind != nullptr) {
        const CExifImage::LeftBehind left{CExifImage::LeftBehind::What::directory, &source.makerNote, 0, "MAK0",
                                          plan.noteStaysBehind};
        reporter.line("Tagloom: '%s' left behind: %s - %s\n", source.path.c_str(), left.part.c_str(), left.reason.c_str());
        destination.leftBehindByMerge.push_back(left);
    }
    if (plan.orientationStays) {
        const std::uint32_t kept = destination.numberIn(destination.ifd0, tag::kOrientation);
        if (kept == 0) setNumber(destination, destination.ifd0, tag::kOrientation, 1);
        const std::string note = "Orientation stays " + std::to_string(kept == 0 ? 1 : kept) +
                                 " - its pixels are already upright (by its frame's aspect)";
        destination.mergeNotes.push_back(note);
        reporter.line("Tagloom: '%s' %s\n", destination.path.c_str(), note.c_str());
    }
    if (plan.orientationByPixels) {
        // The value the pixels call for arrives where there is none, and replaces another under -u;
        // without -u another stays, said to look wrong. Where it is the camera's own, it goes unsaid.
        const std::uint32_t kept = destination.numberIn(destination.ifd0, tag::kOrientation);
        const std::uint32_t wanted = destination.orientationByPixels;
        const std::uint32_t camera = source.numberIn(source.ifd0, tag::kOrientation);
        std::string note;
        if (kept == 0 || (kept != wanted && options.copyMismatched != 0)) {
            setNumber(destination, destination.ifd0, tag::kOrientation, wanted);
            if (wanted != camera || kept != 0)
                note = "Orientation " + std::to_string(wanted) +
                       (wanted == 1 ? " - its pixels are already upright" : " - its pixels are turned from the camera's");
        } else if (kept != wanted) {
            note = "Orientation " + std::to_string(kept) + " looks wrong - its pixels call for " + std::to_string(wanted);
        }
        if (!note.empty()) {
            note += " (matched against the camera's thumbnail)";
            destination.mergeNotes.push_back(note);
            reporter.line("Tagloom: '%s' %s\n", destination.path.c_str(), note.c_str());
        }
    }
    // Its size is the frame's, wherever it has an Exif sub-directory (a TIFF's lies in its IFD0).
    const CExifEntry* exifPointer = destination.ifd0.findEntry(tag::kExifIfdPointer);
    const bool hasExifDirectory = (exifPointer != nullptr && !exifPointer->removed) || holdsLiveEntry(destination.subIfd);
    if (plan.describesOwnPixels && !destination.traits().ownImageInPlace && destination.frameWidth != 0 && hasExifDirectory) {
        if (options.chooses(top::kExif, tag::kPixelXDimension))
            setNumber(destination, destination.subIfd, tag::kPixelXDimension, destination.frameWidth);
        if (options.chooses(top::kExif, tag::kPixelYDimension))
            setNumber(destination, destination.subIfd, tag::kPixelYDimension, destination.frameHeight);
    }
    // Where a JPEG source's IFD0 gives a pixel size, the export's own arrives in its place.
    if (plan.describesOwnPixels && !destination.traits().ownImageInPlace && destination.frameWidth != 0 &&
        !source.isRaw() && !source.ifd0ByAllowList()) {
        const std::pair<std::uint16_t, std::uint32_t> sides[] = {{tag::kImageWidth, destination.frameWidth},
                                                                 {tag::kImageLength, destination.frameHeight}};
        for (const auto& [side, size] : sides) {
            const CExifEntry* given = source.ifd0.findEntry(side);
            if (given != nullptr && !given->removed && options.chooses(top::kIfd0, side))
                setNumber(destination, destination.ifd0, side, size);
        }
    }
    settlePointers(destination, plan);
    if (destination.diffCount == 0) return;

    // A rewritten destination never keeps a Software entry: the tool that wrote it is not the camera
    // (unless --only or --except keeps it out of the merge).
    CExifEntry* software = destination.ifd0.findEntry(tag::kSoftware);
    if (software != nullptr && !software->removed && options.chooses(top::kIfd0, tag::kSoftware)) {
        software->removed = true;
        destination.diffCount++;
    }

    reporter.trace(verbose::kDiffs, "%s diffs:\n", destination.path.c_str());
    for (const TopDirectory& top : kTopDirectories) listDiffs(destination.*top.directory, reporter);
    reporter.trace(verbose::kDiffs, "\n");
}

}  // namespace tagloom
