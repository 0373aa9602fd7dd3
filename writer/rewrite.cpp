#include "writer/rewrite.h"

#include <string>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"
#include "writer/assembler.h"
#include "writer/encoder.h"
#include "writer/read_back.h"

namespace tagloom {

namespace {

/// Refuses what needs nothing written to be refused.
void ensureRewritable(const CExifImage& image) {
    if (image.isRaw()) throw CExifException(Fault::rawNotRewritten);
    if (!image.fileOpen) throw CExifException(Fault::readFromMemory);
    const CExifEntry* subPointer = image.ifd0.findEntry(tag::kExifIfdPointer);
    if (subPointer != nullptr && !subPointer->removed && subPointer->data.size() < exif::kInlineValueSize)
        throw CExifException(Fault::subPointerTooShort);
    if (image.fileStatus.size < image.sectionEnd) throw CExifException(Fault::endsInsideSegment);
    // A position that leads behind the Exif segment moves with the data there; any other cannot be kept.
    for (const CExifEntry* entry : image.positionEntries()) {
        const MakerNoteKind* camera = image.cameraKind();
        const std::uint64_t at = entry->valueAsU32();
        const bool behind = image.traits().jpeg && camera->position.fromFileStart && entry->size == exif::kInlineValueSize &&
                            at >= image.sectionEnd && at < image.fileStatus.size;
        if (!behind) throw CExifException(Fault::positionLost, {hex4(entry->tag)});
    }
    // A link would be replaced by a plain file and its target left as it was.
    if (platform::isSymbolicLink(image.path)) throw CExifException(Fault::symbolicLink, {image.path});
}

}  // namespace

ReplaceOutcome rewrite(CExifImage& image, const Rewriting& run) {
    ensureRewritable(image);
    const Assembler* assembler = assemblerFor(image);
    if (assembler == nullptr) throw CExifException(Fault::onlyJpegRewritten);
    const Replacement file{image.path, image.file, image.fileStatus, run.options.keepBackup != 0, run.options.keepTime,
                           run.buffer, run.files};
    try {
        // A file that the default reading reads needs an Exif sub-directory: its header as read stays in
        // the temporary file for inspection.
        const CExifEntry* subPointer = image.ifd0.findEntry(tag::kExifIfdPointer);
        if (!image.extended() && (subPointer == nullptr || subPointer->removed)) {
            const std::uint8_t* header = image.header;
            leaveTemporary(file, {platform::Piece::ofBytes({header, header + (image.base + 8 - image.headerStart)})});
            throw CExifException(Fault::needsSubIfd);
        }
        const EncodedTiff tiff = encodeTiff(image, assembler->place(image), run.report);
        Assembly assembly = assembler->assemble(image, tiff, run.report);
        if (assembly.refusal) {
            leaveTemporary(file, assembly.content);
            throw *assembly.refusal;
        }
        if (run.afterEncoding) {
            for (platform::Piece& piece : assembly.content) {
                if (piece.from == nullptr) run.afterEncoding(piece.bytes);
            }
        }
        ensureReadsBack(image, assembly.content, tiff.patched, run.options.allFormats);
        const ReplaceOutcome outcome = replaceFile(file, assembly.content);
        image.closeFiles();  // the destination stayed open, and so locked, until now
        return outcome;
    } catch (CExifException& failure) {
        image.closeFiles();
        // The default reading's line names no temporary file.
        if (failure.fault == Fault::failedToOpenTmpNamed && !run.options.allFormats) failure = CExifException(Fault::failedToOpenTmp);
        throw;
    }
}

}  // namespace tagloom
