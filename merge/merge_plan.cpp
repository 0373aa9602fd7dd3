// The merge plan: which rules hold for a pair, decided before anything changes, as a pure function of
// the two images and the options.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>
#include <string>

#include "exif/format.h"
#include "exif/image.h"
#include "merge/merge.h"

namespace tagloom {

namespace {

constexpr std::size_t kTops = top::kCount;

/// True when an export's pixels are the source's turned upright: the source says they must be turned
/// (Orientation 5 to 8) and the export's width and height are the source's height and width, within
/// 1% of the aspect ratio (exports are resized). Sizes that cannot tell (none known, a square image) say no.
bool pixelsTurnedUpright(const CExifImage& destination, const CExifImage& source) {
    const std::uint32_t orientation = source.numberIn(source.ifd0, tag::kOrientation);
    if (orientation < 5 || orientation > 8 || destination.frameWidth == 0 || destination.frameHeight == 0) return false;
    std::uint32_t width = source.frameWidth, height = source.frameHeight;
    if (width == 0 || height == 0) {
        width = source.numberIn(source.subIfd, tag::kPixelXDimension);
        height = source.numberIn(source.subIfd, tag::kPixelYDimension);
    }
    if (width == 0 || height == 0) return false;
    const double own = double(destination.frameWidth) / destination.frameHeight;
    const auto near = [own](double aspect) { return std::fabs(own - aspect) <= 0.01 * aspect; };
    return near(double(height) / width) && !near(double(width) / height);
}

/// True when the source's block note, its count read in `order`, is a directory that fits inside it.
bool fitsDirectory(const CExifImage& source, ByteOrder order) {
    const CExifEntry* block = source.makerNote.findEntry(tag::kMakerNote);
    if (block == nullptr || block->size < 2) return false;
    return 2 + std::uint64_t(exif::kEntrySize) * getU16(block->data.data(), order) <= block->size;
}

/// Both images name a camera, by Make or by Model, and the two differ.
bool differentCameras(const CExifImage& a, const CExifImage& b) {
    for (std::uint16_t wanted : {tag::kMake, tag::kModel}) {
        const CExifEntry* first = a.ifd0.findEntry(wanted);
        const CExifEntry* second = b.ifd0.findEntry(wanted);
        if (first != nullptr && second != nullptr && !first->sameValue(*second)) return true;
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
    // A TIFF export's IFD0 describes its own image too: those entries (and any that leads to a
    // directory) are its own, never merged, and -o removes none of them.
    if (destination.traits().ownImageInPlace) {
        for (const CExifEntry* e = destination.ifd0.entries.first(); e != nullptr; e = destination.ifd0.entries.next(e))
            if (e->inPlace) ifd0Rules.leftAlone.insert(e->tag);
        for (const CExifEntry* e = source.ifd0.entries.first(); e != nullptr; e = source.ifd0.entries.next(e))
            if (tag::isOwnImageTag(e->tag) || e->type == fieldType::kIfd) ifd0Rules.leftAlone.insert(e->tag);
        // What describes a compressed stream (the camera's JPEG) says nothing true of an uncompressed
        // image: a TIFF records its own size in IFD0, and no channel order, bit rate or DCF rule.
        subRules.leftAlone.insert({tag::kComponentsConfiguration, tag::kCompressedBitsPerPixel,
                                   tag::kPixelXDimension, tag::kPixelYDimension});
        plan.rules[top::kInterop].leftAlone.insert(tag::kInteropIndex);
    }
    // A file whose pixels are turned by its container's own properties takes no Orientation.
    if (destination.traits().orientationApart) ifd0Rules.leftAlone.insert(tag::kOrientation);
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
    if (sameCamera && noteTravels && kind == &noteWithoutDirectory() && destinationOrder != source.makerNoteOrder &&
        fitsDirectory(source, destinationOrder))
        plan.noteStaysBehind = "it would read as a directory in the other byte order";
    // An export read by --all-formats that has no note of its own and cannot take the source's order
    // (a TIFF's, or Exif data already there) would silently lack it: the line says so.
    if (sameCamera && !noteTravels && !destinationHasNote && destination.extended() && !source.makerNote.entries.empty())
        plan.noteStaysBehind = "its directory is in the other byte order than this file's";
    plan.noteMerges = sameCamera && noteTravels && plan.noteStaysBehind == nullptr;
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
    // So does one whose pixels show that an editor turned them.
    const std::uint32_t cameraOrientation = source.numberIn(source.ifd0, tag::kOrientation);
    plan.describesOwnPixels = destination.traits().export_ ||
                              (destination.orientationByPixels != 0 && destination.orientationByPixels != cameraOrientation);
    const bool ownSize = destination.frameWidth != 0 &&
                         destination.numberIn(destination.subIfd, tag::kPixelXDimension) == destination.frameWidth &&
                         destination.numberIn(destination.subIfd, tag::kPixelYDimension) == destination.frameHeight;
    if (plan.describesOwnPixels || ownSize) {
        subRules.leftAlone.insert({tag::kPixelXDimension, tag::kPixelYDimension});
        // A JPEG source's IFD0 ImageWidth and ImageLength describe its own pixels too (a TIFF's are its own).
        if (!destination.traits().ownImageInPlace) ifd0Rules.leftAlone.insert({tag::kImageWidth, tag::kImageLength});
    }
    // Where the export's pixels, compared with the camera's thumbnail, decided its Orientation, that
    // holds; else a frame whose sides are the source's swapped says it was turned upright.
    const bool orientationChosen = options.chooses(top::kIfd0, tag::kOrientation);
    plan.orientationByPixels = orientationChosen && destination.orientationByPixels != 0 && !destination.traits().orientationApart;
    plan.orientationStays = orientationChosen && !plan.orientationByPixels && pixelsTurnedUpright(destination, source);
    if (plan.orientationStays || plan.orientationByPixels) ifd0Rules.leftAlone.insert(tag::kOrientation);

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
}  // namespace tagloom
