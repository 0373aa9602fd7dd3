#include "writer/rewrite.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/report.h"
#include "exif/tiff_view.h"
#include "writer/layout.h"
#include "writer/read_back.h"

namespace tagloom {

// The rewritten file, by absolute offset:
//   0             the old file's bytes before its Exif segment, as they were
//   segmentStart  the segment's marker, its new length (big-endian), its bytes as read up to the
//                 TIFF header's IFD0 offset, which is now 8: IFD0 lies right behind the header
//   base + 8      the top directories in the order of kTopDirectories: IFD0 and its chain, the Exif
//                 sub-directory, the maker note, GPS, interoperability
//   exifEnd - 2   FF D9
//   exifEnd       the old file from sectionEnd on, unchanged
namespace {

constexpr std::uint32_t kIfd0Position = 8;
constexpr std::uint8_t kEndOfImage[2] = {0xFF, 0xD9};

/// The entry of `holder` that points to a top directory, when it will be written and can hold an offset.
CExifEntry* livePointer(CExifDirectory& holder, std::uint16_t pointerTag) {
    CExifEntry* entry = holder.findEntry(pointerTag);
    if (entry == nullptr || entry->removed || entry->size < exif::kInlineValueSize) return nullptr;
    return entry;
}

/// Whether a top directory is written: the Exif sub-directory and the maker note always (a maker
/// note without its entry stays unreferenced), GPS and interoperability data only behind a pointer
/// that can lead to them. A file that only --all-formats reads may have no Exif sub-directory, and
/// then nothing that hangs from it.
bool isWritten(CExifImage& image, const TopDirectory& top) {
    if (top.holder == nullptr) return true;
    const bool subWritten = !image.extended() || livePointer(image.ifd0, tag::kExifIfdPointer) != nullptr;
    if (top.directory == &CExifImage::subIfd || top.directory == &CExifImage::makerNote) return subWritten;
    return (top.holder != &CExifImage::subIfd || subWritten) && livePointer(image.*top.holder, top.pointerTag) != nullptr;
}

/// A maker note of a recognised kind: a relaid one with its header in front of its directory, an
/// opaque one as the block it was read as. Its span starts where the note starts.
void writeMakerNote(CExifImage& image, CExifTarget& target, const Reporter& report) {
    const std::uint64_t start = target.targetPosition();
    if (image.makerNoteKind->carry == MakerNoteKind::Carry::relaid) {
        // A carried preview goes behind the note's other values, where cameras put it: readers
        // check where a note's values begin.
        const CExifEntry* preview = image.makerNote.findEntry(image.makerNoteKind->previewStart);
        if (preview != nullptr && preview->carried) target.place(*preview).dataLast = true;
        target.writeBytes(image.makerNoteHeader.data(), static_cast<std::uint32_t>(image.makerNoteHeader.size()));
        target.writeDirectory(image.makerNote);
    } else {
        const CExifEntry* block = image.makerNote.findEntry(tag::kMakerNote);
        const std::uint32_t size = block != nullptr && !block->removed ? block->size : 0;
        report.trace(verbose::kRewrite, "  MAK0 block of 0x%04x bytes at 0x%04x\n", size,
                     static_cast<unsigned>(target.targetFilePosition()));
        static const std::uint8_t kPad = 0;
        if (size > 0) target.writeBytes(block->data.data(), size);
        target.place(image.makerNote).endPos = target.targetPosition();
        if (size % 2 != 0) target.writeBytes(&kPad, 1);  // the next directory starts even
    }
    target.place(image.makerNote).startPos = start;
}

/// The maker note's entries whose values are positions in the file, by the destination's camera.
std::vector<std::pair<CExifEntry*, const MakerNoteKind::Position*>> makerNotePositions(CExifImage& image) {
    std::vector<std::pair<CExifEntry*, const MakerNoteKind::Position*>> found;
    const MakerNoteKind* camera = image.cameraKind();
    if (camera == nullptr || camera->position.tag == 0 || image.carriesPreview(camera->position.tag)) return found;
    for (CExifEntry* entry = image.makerNote.entries.first(); entry != nullptr; entry = image.makerNote.entries.next(entry)) {
        if (entry->tag == camera->position.tag && !entry->removed && !entry->holdsDirectory && entry->valueAsU32() != 0)
            found.emplace_back(entry, &camera->position);
    }
    return found;
}

/// A position that leads behind the Exif segment moves with the data there; any other cannot be kept.
void ensurePositionsCanBeKept(CExifImage& image) {
    for (const auto& [entry, position] : makerNotePositions(image)) {
        const std::uint64_t at = entry->valueAsU32();
        const bool behind = position->fromFileStart && entry->size == exif::kInlineValueSize && at >= image.sectionEnd &&
                            at < image.fileStatus.size;
        if (!behind)
            throw new CExifException("not done - maker note tag 0x%04x leads to data that a rewrite would lose",
                                     entry->tag);
    }
}

/// Refuses the pair when another program has rewritten the destination since it was loaded.
void ensureUnchanged(const CExifImage& image) {
    if (!platform::statusOf(image.path).sameContentAs(image.fileStatus))
        throw new CExifException("not done - file changed while it was being rewritten");
}

/// The temporary file of one rewrite: removed when the rewrite ends, unless kept (the refusals of
/// the format leave what they wrote) or renamed into place.
class TemporaryFile {
public:
    TemporaryFile(std::string path, platform::FileSystem& files) : path_(std::move(path)), files_(files) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        int ignored = 0;
        if (armed_) files_.removeFile(path_, ignored);
    }
    const std::string& path() const { return path_; }
    void keep() { armed_ = false; }

private:
    std::string path_;
    platform::FileSystem& files_;
    bool armed_ = true;
};

/// The new Exif segment and what lies with it up to the image data (FF D9), as bytes from
/// headerStart; laid out in memory, nothing written. A refusal with `refusal` set leaves these bytes
/// in the temporary file for inspection; other refusals throw.
struct EncodedSegment {
    std::vector<std::uint8_t> block;
    std::uint64_t exifEnd = 0;  // where the old file's rest follows in the new file
    const char* refusal = nullptr;
    PatchedValues patched;      // positions the encoder wrote anew
};

EncodedSegment encodeSegment(CExifImage& image, const Reporter& report) {
    CExifTarget target(image.base, image.byteOrder, image.headerStart, report);
    // The header as read (or made for a new segment), through the TIFF header's IFD0 offset.
    target.writeBytes(image.header, static_cast<std::uint32_t>(image.base + kIfd0Position - image.headerStart));
    const auto refused = [&](const char* why) {
        EncodedSegment partial;
        partial.block = std::move(target.targetBlock);
        partial.refusal = why;
        return partial;
    };

    CExifEntry* subPointer = image.ifd0.findEntry(tag::kExifIfdPointer);
    if (!image.extended() && (subPointer == nullptr || subPointer->removed))
        return refused("not done - target needs new sub ifd in ifd0");

    for (const TopDirectory& top : kTopDirectories) {
        target.countWritable(image.*top.directory);
        if (!isWritten(image, top)) continue;
        if (top.isPointerValue && image.makerNoteKind != nullptr) {
            writeMakerNote(image, target, report);
        } else {
            target.writeDirectory(image.*top.directory);
        }
    }
    target.writeBytes(kEndOfImage, sizeof kEndOfImage);
    target.exifEnd = target.targetFilePosition();
    report.trace(verbose::kRewrite, "  IFD-EOF: 0x%04x.   Re-write:\n", static_cast<unsigned>(target.exifEnd));

    // Pointer entries now point where their directories were written.
    for (const TopDirectory& top : kTopDirectories) {
        if (top.holder == nullptr || !isWritten(image, top)) continue;
        CExifEntry* pointer = (image.*top.holder).findEntry(top.pointerTag);
        if (pointer == nullptr || pointer->removed) continue;
        const DirectoryPlace& directory = target.place(image.*top.directory);
        EntryPlace& where = target.place(*pointer);
        if (top.isPointerValue) {
            // The maker note is its entry's value: the whole directory with its data, where it now lies.
            where.size = static_cast<std::uint32_t>(directory.endPos - directory.startPos);
            where.fixedDataPos = static_cast<std::uint32_t>(directory.startPos);
            where.count = *where.size & 0xFFFF;  // kept as it has always been written: 16 bits of the size
        } else {
            where.value = static_cast<std::uint32_t>(directory.startPos);
        }
        where.label = top.patchLabel;
        target.rewriteEntry(*pointer);
    }
    PatchedValues patched;
    // A preview that is another entry's value lies where that value now lies.
    if (image.previewHolder != 0) {
        CExifEntry* start = image.makerNote.findEntry(image.makerNoteKind->previewStart);
        const CExifEntry* holder = image.makerNote.findEntry(image.previewHolder);
        if (start != nullptr && !start->removed) {
            if (holder == nullptr || holder->removed || holder->size <= exif::kInlineValueSize)
                throw new CExifException("not done - maker note tag 0x%04x leads to data that a rewrite would lose",
                                         start->tag);
            target.place(*start).label = "Moved";
            target.place(*start).value = static_cast<std::uint32_t>(target.place(*holder).dataPos);
            patched[start] = *target.place(*start).value;
            target.rewriteEntry(*start);
        }
    }
    // Positions behind the segment: the data there moved with the segment's new end.
    for (const auto& [entry, position] : makerNotePositions(image)) {
        const std::uint64_t moved = entry->valueAsU32() - std::uint64_t(image.sectionEnd) + target.exifEnd;
        if (moved > 0xFFFFFFFFu) throw new CExifException("not done - maker note tag 0x%04x cannot be moved", entry->tag);
        target.place(*entry).label = "Moved";
        target.place(*entry).value = static_cast<std::uint32_t>(moved);
        patched[entry] = static_cast<std::uint32_t>(moved);
        target.rewriteEntry(*entry);
    }

    // The segment's length field holds at most 0xFFFF; the first segment of a file ends by 0xFFF0.
    const std::uint64_t segmentLength = target.exifEnd - image.segmentStart - 2;
    if (image.extended() ? segmentLength > 0xFFFF : target.exifEnd > exif::kMaxExifEnd)
        return refused("Exif data too large");

    // The segment's new length, and IFD0 where it now is.
    putU16(target.at(image.segmentStart + 2), static_cast<std::uint16_t>(segmentLength), ByteOrder::bigEndian);
    putU32(target.at(image.base + 4), kIfd0Position, image.byteOrder);
    EncodedSegment encoded;
    encoded.block = std::move(target.targetBlock);
    encoded.exifEnd = target.exifEnd;
    encoded.patched = std::move(patched);
    return encoded;
}

/// Refuses the rewrite unless its new bytes, read as the next run will read them (the same reading,
/// as a destination), hold every directory and entry that the merge planned and nothing else.
void readBack(const CExifImage& image, const EncodedSegment& encoded, bool allFormats) {
    const SourceBytes bytes(image.file, image.fileStatus.size, image.headerStart, image.sectionEnd, encoded.block);
    CExifImage again;
    std::string part;
    try {
        again.loadFromBytes(image.path, bytes, allFormats);
        part = partNotReadBack(image, again, encoded.patched);
    } catch (CExifException* raw) {
        const std::unique_ptr<CExifException> failure(raw);
        part = failure->message;
    }
    if (part.empty()) return;
    auto* failure = new CExifException("not done - the new Exif data does not read back as planned (%s)", part.c_str());
    failure->fileName = image.path;
    throw failure;
}

/// Builds the new file under the temporary name: what lay before the segment, the new segment, the
/// old file's rest; then the old file's owner, mode, access list (and time, under --keep-time), and
/// its data on disk. Refusals throw CExifException*, system failures IoError.
void assembleNewFile(CExifImage& image, platform::File& newFile, TemporaryFile& temporary, const Rewriting& run) {
    const CopyBuffer& buffer = run.buffer;
    EncodedSegment encoded = encodeSegment(image, run.report);
    if (encoded.refusal != nullptr) {
        newFile.writeAt(image.headerStart, encoded.block.data(), encoded.block.size());
        temporary.keep();
        throw new CExifException("%s", encoded.refusal);
    }
    if (run.afterEncoding) run.afterEncoding(encoded.block);
    readBack(image, encoded, run.options.allFormats);
    newFile.writeAt(image.headerStart, encoded.block.data(), encoded.block.size());
    run.files.step();

    const std::uint64_t remainder = image.fileStatus.size - image.sectionEnd;
    run.report.trace(verbose::kRewrite, "  Append 0x%x bytes from offset 0x%x of original jpg\n",
                 static_cast<unsigned>(remainder), image.sectionEnd);
    ensureUnchanged(image);
    newFile.copyFrom(image.file, 0, 0, image.headerStart, buffer.bytes, buffer.size);  // what lies before, as it was
    newFile.copyFrom(image.file, image.sectionEnd, encoded.exifEnd, remainder, buffer.bytes, buffer.size);
    run.files.step();

    // Durable before it takes the destination's name; owned and readable like the old one.
    newFile.setOwnerIfAllowed(image.fileStatus.owner, image.fileStatus.group);
    newFile.setPermissions(image.fileStatus.permissions);
    newFile.copyAccessFrom(image.file);
    if (run.options.keepTime) newFile.setModifiedTime(image.fileStatus.modifiedSeconds, image.fileStatus.modifiedNanoseconds);
    run.files.sync(newFile);
    run.files.step();
    newFile.close();
}

/// Keeps the old file as "<path>.old" and puts the new file under the destination's name. The backup
/// exists before the swap and never replaces anything.
void swapKeepingBackup(const std::string& path, const std::string& temporary, platform::FileSystem& files) {
    const std::string backup = path + ".old";
    int error = 0;
    if (files.linkNoReplace(path, backup, error)) {
        files.step();
        try {
            files.renameReplace(temporary, path);
        } catch (const platform::IoError& failure) {
            files.removeFile(backup, error);  // our second name of the untouched destination
            throw new CExifException("not done - %s", failure.what());
        }
        return;
    }
    if (platform::isNameTaken(error))
        throw new CExifException("not done - backup file '%s' is in the way - move it away to go on", backup.c_str());
    if (!platform::isLinkUnsupported(error))
        throw new CExifException("not done - link(%s): %s", backup.c_str(), platform::errorText(error).c_str());

    // No hard links here (FAT, exFAT): the destination becomes the backup, then the new file the
    // destination. A cut in between leaves the photo as the backup, which the next run puts back.
    if (!files.renameNoReplace(path, backup, error)) {
        if (platform::isNameTaken(error))
            throw new CExifException("not done - backup file '%s' is in the way - move it away to go on",
                                     backup.c_str());
        throw new CExifException("not done - rename(%s): %s", path.c_str(), platform::errorText(error).c_str());
    }
    files.step();
    if (!files.renameNoReplace(temporary, path, error)) {
        const std::string reason = platform::errorText(error);
        if (!files.renameNoReplace(backup, path, error))
            throw new CExifException("not done - the original is kept as '%s' (%s)", backup.c_str(), reason.c_str());
        throw new CExifException("not done - rename(%s): %s", temporary.c_str(), reason.c_str());
    }
}

/// Puts the new file under the destination's name. At every instant that name holds the complete
/// old file or the complete new one (or, without hard links under -s, the old one is the backup);
/// nothing this run did not create is replaced or deleted.
RewriteOutcome swapIn(CExifImage& image, TemporaryFile& temporaryFile, bool keepBackup, platform::FileSystem& files) {
    if (keepBackup) {
        swapKeepingBackup(image.path, temporaryFile.path(), files);
    } else {
        files.renameReplace(temporaryFile.path(), image.path);
    }
    temporaryFile.keep();  // it is the destination now
    files.step();
    RewriteOutcome outcome;
    outcome.updated = true;

    // The new file's data is on disk already; the flush of the folder makes the swap durable.
    try {
        files.syncParentDirectory(image.path);
    } catch (const platform::IoError& failure) {
        outcome.warning = std::string("updated, but the folder could not be flushed to disk (") + failure.what() + ")";
    }
    files.step();
    return outcome;
}

/// Makes this run the only one that rewrites the destination until its swap is done, and makes sure
/// that the name still leads to the file that was loaded, unchanged. Under the lock, what an
/// interrupted run left goes: its ".tmp", and a ".old" that is a second name of the destination.
void claimDestination(CExifImage& image, platform::FileSystem& files) {
    if (!image.file.tryLock()) {
        auto* failure = new CExifException("not done - another run is rewriting it");
        failure->fileName = image.path;
        throw failure;
    }
    ensureUnchanged(image);
    int ignored = 0;
    files.removeFile(image.path + ".tmp", ignored);
    const platform::FileStatus backup = platform::statusOf(image.path + ".old");
    if (backup.exists && backup.device == image.fileStatus.device && backup.inode == image.fileStatus.inode)
        files.removeFile(image.path + ".old", ignored);
}

}  // namespace

bool printResultLine(const Reporter& report, const CExifImage& image) {
    if (image.diffCount == 0) {
        report.line("%s - no diffs\n", image.path.c_str());
        return false;
    }
    report.line("%s - %d diffs\n", image.path.c_str(), image.diffCount);
    return true;
}

RewriteOutcome rewrite(CExifImage& image, const Rewriting& run) {
    if (!printResultLine(run.report, image)) return {};
    if (run.afterResultLine) run.afterResultLine(image);

    // Refusals that need nothing written.
    if (image.isRaw()) throw new CExifException("not done - a raw image cannot be rewritten");
    if (!image.fileOpen) throw new CExifException("not done - the image was read from memory, not from its file");
    const CExifEntry* subPointer = image.ifd0.findEntry(tag::kExifIfdPointer);
    if (subPointer != nullptr && !subPointer->removed && subPointer->data.size() < exif::kInlineValueSize)
        throw new CExifException("not done - Exif sub-directory pointer holds fewer than four bytes");
    if (image.fileStatus.size < image.sectionEnd)
        throw new CExifException("not done - file ends inside its Exif segment");
    ensurePositionsCanBeKept(image);
    // A link would be replaced by a plain file and its target left as it was.
    if (platform::isSymbolicLink(image.path))
        throw new CExifException("not done - '%s' is a symbolic link; name the file it points to",
                                 image.path.c_str());

    try {
        claimDestination(image, run.files);
        TemporaryFile temporary(image.path + ".tmp", run.files);
        int error = 0;
        platform::File newFile = platform::File::createNew(temporary.path(), &error);
        run.files.step();
        if (!newFile.isOpen()) {
            temporary.keep();  // whatever holds that name is not ours
            if (!run.options.allFormats) throw new CExifException("Failed to open tmp file");
            throw new CExifException("Failed to open tmp file '%s': %s", temporary.path().c_str(),
                                     platform::errorText(error).c_str());
        }
        assembleNewFile(image, newFile, temporary, run);
        ensureUnchanged(image);
        const RewriteOutcome outcome = swapIn(image, temporary, run.options.keepBackup != 0, run.files);
        image.closeFiles();  // the destination stayed open, and so locked, until now
        return outcome;
    } catch (const platform::IoError& failure) {
        image.closeFiles();
        throw new CExifException("not done - %s", failure.what());
    }
}

}  // namespace tagloom
