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

bool sameValue(const CExifEntry& a, const CExifEntry& b) {
    if (a.size != b.size) return false;
    return std::equal(a.data.begin(), a.data.begin() + a.size, b.data.begin());
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
                   rules.neverReplaced.count(s->tag) == 0 && !sameValue(*d, *s)) {
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

constexpr std::uint16_t kPixelXDimension = 0xA002;
constexpr std::uint16_t kPixelYDimension = 0xA003;
constexpr std::size_t kTops = sizeof kTopDirectories / sizeof kTopDirectories[0];

/// The first value of a SHORT or LONG entry; 0 for none or another type.
std::uint32_t numberOf(const CExifImage& image, const CExifDirectory& directory, std::uint16_t tag) {
    const CExifEntry* entry = directory.findEntry(tag);
    if (entry == nullptr || entry->removed) return 0;
    const ByteOrder order = image.orderOf(directory);
    if (entry->type == fieldType::kShort && entry->size >= 2) return getU16(entry->data.data(), order);
    if (entry->type == fieldType::kLong && entry->size >= 4) return getU32(entry->data.data(), order);
    return 0;
}

/// True when an export's pixels are the source's turned upright: the source says they must be turned
/// (Orientation 5 to 8) and the export's width and height are the source's height and width, within
/// 1% of the aspect ratio (exports are resized). Sizes that cannot tell (none known, a square image) say no.
bool pixelsTurnedUpright(const CExifImage& destination, const CExifImage& source) {
    const std::uint32_t orientation = numberOf(source, source.ifd0, tag::kOrientation);
    if (orientation < 5 || orientation > 8 || destination.frameWidth == 0 || destination.frameHeight == 0) return false;
    std::uint32_t width = source.frameWidth, height = source.frameHeight;
    if (width == 0 || height == 0) {
        width = numberOf(source, source.subIfd, kPixelXDimension);
        height = numberOf(source, source.subIfd, kPixelYDimension);
    }
    if (width == 0 || height == 0) return false;
    const double own = double(destination.frameWidth) / destination.frameHeight;
    const auto near = [own](double aspect) { return std::fabs(own - aspect) <= 0.01 * aspect; };
    return near(double(height) / width) && !near(double(width) / height);
}

/// Sets a SHORT or LONG entry of the directory to `value`, counting the change; adds it where missing.
void setNumber(CExifImage& image, CExifDirectory& directory, std::uint16_t tag, std::uint32_t value) {
    const ByteOrder order = image.orderOf(directory);
    CExifEntry* entry = directory.findEntry(tag);
    if (entry != nullptr && !entry->removed && numberOf(image, directory, tag) == value) return;
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

/// True when the source's block note, its count read in `order`, is a directory that fits inside it.
bool fitsDirectory(const CExifImage& source, ByteOrder order) {
    const CExifEntry* block = source.makerNote.findEntry(tag::kMakerNote);
    if (block == nullptr || block->size < 2) return false;
    return 2 + std::uint64_t(exif::kEntrySize) * getU16(block->data.data(), order) <= block->size;
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
    for (std::size_t i = kTops; i-- > 1;) {
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

/// Both images name a camera, by Make or by Model, and the two differ.
bool differentCameras(const CExifImage& a, const CExifImage& b) {
    for (std::uint16_t wanted : {tag::kMake, tag::kModel}) {
        const CExifEntry* first = a.ifd0.findEntry(wanted);
        const CExifEntry* second = b.ifd0.findEntry(wanted);
        if (first != nullptr && second != nullptr && !sameValue(*first, *second)) return true;
    }
    return false;
}

}  // namespace

MergePlan planMerge(const CExifImage& destination, const CExifImage& source, const MergeOptions& options) {
    MergePlan plan;
    // A JPEG without Exif data takes the source's byte order (its maker note's, where a raw file
    // kept that in another), so that the note can come along; one with Exif data keeps its own.
    plan.takesSourceOrder = !destination.hasExif();
    const ByteOrder destinationOrder = plan.takesSourceOrder ? source.makerNoteOrder : destination.byteOrder;

    MergeRules& ifd0Rules = plan.rules[top::kIfd0];
    MergeRules& subRules = plan.rules[top::kExif];
    MergeRules& makerNoteRules = plan.rules[top::kMakerNote];
    // A source's Software entry never arrives: the rule of mergeFrom would remove it at once.
    ifd0Rules.neverArrive.insert(tag::kSoftware);
    // A raw source gives only what describes the photo; its own image's layout stays with it.
    if (source.ifd0ByAllowList()) {
        ifd0Rules.takingPart.emplace(std::begin(tag::kRawIfd0Tags), std::end(tag::kRawIfd0Tags));
        // A HEIF's rotation lies in its own properties, which every converter applies: a JPEG made
        // from it is upright.
        if (source.traits().orientationApart) ifd0Rules.takingPart->erase(tag::kOrientation);
    } else if (source.isRaw()) {
        ifd0Rules.leftAlone.insert(std::begin(tag::kRawImageTags), std::end(tag::kRawImageTags));
    }
    // A maker note belongs to its camera: between two cameras it stays as it is, under its camera's
    // name; and one kind of note is never merged into another. A destination without a note takes
    // the source's kind with its entries.
    const bool destinationHasNote = !destination.makerNote.entries.empty() || destination.makerNoteKind != nullptr;
    const bool sameKind = !destinationHasNote || source.makerNote.entries.empty() ||
                          destination.makerNoteKind == source.makerNoteKind;
    const bool sameCamera = !differentCameras(destination, source) && sameKind;
    // Across byte orders only a note that is the same in either file's order travels: one that names
    // its own order, or holds no directory. One in its file's order stays where it is.
    const MakerNoteKind* kind = source.makerNoteKind;
    const bool noteTravels = destinationOrder == source.makerNoteOrder ||
                             (kind != nullptr && kind->carry == MakerNoteKind::Carry::block &&
                              (kind->order != MakerNoteKind::Order::outer || kind->directory == MakerNoteKind::Directory::none));
    // A note that is a block only because no directory fits it in its file's order may fit one in
    // the other: the destination would read it back as a directory. It stays behind.
    plan.noteStaysBehind = sameCamera && noteTravels && kind == &noteWithoutDirectory() &&
                           destinationOrder != source.makerNoteOrder && fitsDirectory(source, destinationOrder);
    plan.noteMerges = sameCamera && noteTravels && !plan.noteStaysBehind;
    plan.takesNoteKind = plan.noteMerges && !destinationHasNote;
    const MakerNoteKind* noteKind = plan.takesNoteKind ? source.makerNoteKind : destination.makerNoteKind;
    const std::uint16_t previewHolder = plan.takesNoteKind ? source.previewHolder : destination.previewHolder;
    if (!sameCamera) ifd0Rules.leftAlone.insert({tag::kMake, tag::kModel});
    if (!plan.noteMerges) subRules.leftAlone.insert(tag::kMakerNote);
    // Positions in a maker note lead into their own file: the destination keeps its own, but for
    // a zero, which leads nowhere, and the preview that the note's kind carries, written anew with it.
    for (const CExifImage* image : {&destination, &source}) {
        const std::uint16_t position = image->makerNotePositionTag();
        if (position != 0 && (noteKind == nullptr || noteKind->previewStart != position))
            makerNoteRules.positions.insert(position);
    }
    // A preview that is another entry's value: its start entry only says where that value lies.
    if (previewHolder != 0) makerNoteRules.neverReplaced.insert(noteKind->previewStart);

    // An export that only --all-formats reads (its editor rewrote it) describes its own pixels: its
    // size never arrives, and its Orientation stays where its editor turned the pixels upright. Once
    // rewritten, it is read like a camera's JPEG: so wherever its frame is known (--all-formats), a
    // size that is its frame's stays, and so does an Orientation that its pixels no longer need, or a
    // second run would undo the first.
    plan.describesOwnPixels = destination.traits().export_;
    const bool ownSize = destination.frameWidth != 0 &&
                         numberOf(destination, destination.subIfd, kPixelXDimension) == destination.frameWidth &&
                         numberOf(destination, destination.subIfd, kPixelYDimension) == destination.frameHeight;
    if (plan.describesOwnPixels || ownSize) subRules.leftAlone.insert({kPixelXDimension, kPixelYDimension});
    plan.orientationStays = options.chooses(top::kIfd0, tag::kOrientation) && pixelsTurnedUpright(destination, source);
    if (plan.orientationStays) ifd0Rules.leftAlone.insert(tag::kOrientation);

    // A directory that a JPEG read by --all-formats lacks arrives as the source has it: readers decode
    // some maker-note tags by what came before them.
    for (std::size_t i = 0; i < kTops; ++i)
        plan.rules[i].inSourceOrder = destination.extended() && (destination.*kTopDirectories[i].directory).entries.empty();

    // Tags that --only leaves out or --except names take no part. A chosen directory (or tag) brings
    // the entries that lead to it, up to IFD0: the table lists holders first.
    if (options.only) {
        std::set<std::uint16_t> leading[kTops];
        for (std::size_t i = kTops; i-- > 1;) {
            if (!options.only->whole[i] && options.only->tags[i].empty() && leading[i].empty()) continue;
            for (std::size_t h = 0; h < i; ++h) {
                if (kTopDirectories[h].directory == kTopDirectories[i].holder) leading[h].insert(kTopDirectories[i].pointerTag);
            }
        }
        for (std::size_t i = 0; i < kTops; ++i) {
            if (options.only->whole[i]) continue;
            std::set<std::uint16_t> taking = options.only->tags[i];
            taking.insert(leading[i].begin(), leading[i].end());
            MergeRules& rules = plan.rules[i];
            if (rules.takingPart) {  // a raw source's IFD0: both say
                std::set<std::uint16_t> both;
                for (std::uint16_t tag : taking) {
                    if (rules.takingPart->count(tag) != 0) both.insert(tag);
                }
                taking = both;
            }
            rules.takingPart = taking;
        }
    }
    for (std::size_t i = 0; i < kTops; ++i) {
        if (options.except.whole[i]) plan.stays[i] = true;
        plan.rules[i].leftAlone.insert(options.except.tags[i].begin(), options.except.tags[i].end());
        // A pointer left out leaves its directory out.
        for (std::size_t h = 0; h < i; ++h) {
            if (kTopDirectories[h].directory == kTopDirectories[i].holder &&
                options.except.tags[h].count(kTopDirectories[i].pointerTag) != 0)
                plan.stays[i] = true;
        }
    }

    // What the source left behind takes no part: the destination keeps its counterpart, under -o too.
    for (const CExifImage::LeftBehind& left : source.leftBehind) {
        for (std::size_t i = 0; i < kTops; ++i) {
            if (&(source.*kTopDirectories[i].directory) != left.directory) continue;
            if (left.what == CExifImage::LeftBehind::What::entry) plan.rules[i].leftAlone.insert(left.tag);
            if (left.what == CExifImage::LeftBehind::What::entriesPastSegment) plan.rules[i].keepsWhatSourceLacks = true;
            if (left.what == CExifImage::LeftBehind::What::directory) plan.stays[i] = true;
        }
    }
    // A directory stays with all that hangs from it (the table lists holders first), and so does its entry.
    for (std::size_t i = 0; i < kTops; ++i) {
        const TopDirectory& top = kTopDirectories[i];
        for (std::size_t h = 0; h < i; ++h) {
            if (top.holder == kTopDirectories[h].directory && plan.stays[h]) plan.stays[i] = true;
        }
        if (!plan.stays[i] || top.holder == nullptr) continue;
        for (std::size_t h = 0; h < kTops; ++h) {
            if (kTopDirectories[h].directory == top.holder) plan.rules[h].leftAlone.insert(top.pointerTag);
        }
    }
    return plan;
}

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
    if (plan.noteStaysBehind) {
        const CExifImage::LeftBehind left{CExifImage::LeftBehind::What::directory, &source.makerNote, 0, "MAK0",
                                          "it would read as a directory in the other byte order"};
        reporter.line("Tagloom: '%s' left behind: %s - %s\n", source.path.c_str(), left.part.c_str(), left.reason.c_str());
        destination.leftBehindByMerge.push_back(left);
    }
    if (plan.orientationStays) {
        const std::uint32_t kept = numberOf(destination, destination.ifd0, tag::kOrientation);
        if (kept == 0) setNumber(destination, destination.ifd0, tag::kOrientation, 1);
        const std::string note = "Orientation stays " + std::to_string(kept == 0 ? 1 : kept) + " - its pixels are already upright";
        destination.mergeNotes.push_back(note);
        reporter.line("Tagloom: '%s' %s\n", destination.path.c_str(), note.c_str());
    }
    // Its size is the frame's, wherever it has an Exif sub-directory.
    const CExifEntry* exifPointer = destination.ifd0.findEntry(tag::kExifIfdPointer);
    const bool hasExifDirectory = (exifPointer != nullptr && !exifPointer->removed) || holdsLiveEntry(destination.subIfd);
    if (plan.describesOwnPixels && destination.frameWidth != 0 && hasExifDirectory) {
        if (options.chooses(top::kExif, kPixelXDimension))
            setNumber(destination, destination.subIfd, kPixelXDimension, destination.frameWidth);
        if (options.chooses(top::kExif, kPixelYDimension))
            setNumber(destination, destination.subIfd, kPixelYDimension, destination.frameHeight);
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
