// The one failure type of loading and rewriting: a refusal, thrown by value and caught by reference.
// Each refusal has a fault, one per text; the texts live in one table (exif/exception.cpp), so code
// decides by the fault and never by the wording.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tagloom {

/// Why a file or a pair is refused.
enum class Fault : std::uint8_t {
    // Reading a file.
    failedToOpen,
    headerNotUnderstood,
    jpegHeaderNotSupported,
    seekPastSection,
    dataPastEnd,
    unknownFormatType,
    sizeTooBig,
    chainTooLong,
    directoryReadTwice,
    tooMuchHeld,
    tooManyUnreadableEntries,
    thumbnailOutside,
    noExifToCopy,
    noJpegInRaw,
    readFailed,
    // Maker notes.
    noteOffsetsNotFromHeader,
    noteOutside,
    noteMoved,
    noteScattered,
    noteOtherOrder,
    noteUnsettled,
    noteTooLarge,
    noteShorterThanHeader,
    noteSubDirectory,
    dngNote,
    valueCannotTurn,
    // ISO base media files.
    boxTooMany,
    boxInParentTooSmall,
    boxTooSmall,
    boxPastFile,
    boxPastParent,
    boxFieldSize,
    boxPastItsEnd,
    boxTooLarge,
    boxWithoutTiff,
    boxPast4GiB,
    ilocTooLong,
    cr3WithoutCanonBox,
    cr3WithoutIfd0,
    cr3OrdersDiffer,
    exifItemUnreadable,
    exifItemPastFile,
    exifItemScattered,
    heifSequence,
    heifVersion,
    heifItemInMeta,
    heifFieldTooSmall,
    heifNoRoom,
    heifTooManyItems,
    heifOpenExtent,
    // Editors' exports: PNG, WebP, JPEG XL, TIFF.
    chunkPastFile,
    pngWithoutHeader,
    pngWithoutEnd,
    twoExifParts,
    exifChunkUnreadable,
    exifDataUnreadable,
    animated,
    brotliExif,
    jpegReconstruction,
    bigTiff,
    // Rewriting a destination.
    onlyJpegRewritten,
    rawNotRewritten,
    readFromMemory,
    subPointerTooShort,
    endsInsideSegment,
    positionLost,
    positionCannotMove,
    symbolicLink,
    needsSubIfd,
    tooLarge,
    notReadBack,
    failedToOpenTmp,
    failedToOpenTmpNamed,
    busy,
    changedMeanwhile,
    backupInTheWay,
    systemFailure,
    originalKeptAs,
};

/// A refusal: its fault, the words that fill the fault's text, where in the file it lies (added
/// where the reading names places), and the file it concerns (stamped on the way out of a load).
class CExifException {
public:
    explicit CExifException(Fault why, std::initializer_list<std::string> words = {})
        : fault(why), details(words) {}

    /// The line's text: the fault's text with its words filled in, then where it lies.
    std::string message() const;
    bool located() const { return !where.empty(); }

    Fault fault;
    std::vector<std::string> details;  // one for each "%s" of the fault's text, in order
    std::string where;                 // " (SUB0:0x9286, type 77)" ...
    std::string fileName;
};

/// The text of a fault, with "%s" where its words go.
const char* faultText(Fault fault);

/// A number as "0x%04x" shows it.
std::string hex4(std::uint64_t value);

}  // namespace tagloom
