#include "exif/exception.h"

#include <cstdio>
#include <utility>

namespace tagloom {

namespace {

// Every text a refusal line can hold, word for word: scripts and users compare these lines, so they
// stay as they have always read. "%s" marks where a refusal's words go.
const std::pair<Fault, const char*> kTexts[] = {
    {Fault::failedToOpen, "Failed to open"},
    {Fault::headerNotUnderstood, "File not support (header not understood)"},
    {Fault::jpegHeaderNotSupported, "Jpg header type not supported"},
    {Fault::seekPastSection, "Attempted to seek past end of section"},
    {Fault::dataPastEnd, "Parse error - data runs past the end of the file"},
    {Fault::unknownFormatType, "Unknown format type"},
    {Fault::sizeTooBig, "Parse error - size too big"},
    {Fault::chainTooLong, "Parse error - directory chain too long"},
    {Fault::directoryReadTwice, "Parse error - directory at offset %s is read twice"},
    {Fault::tooMuchHeld, "Parse error - more Exif data than one image may hold"},
    {Fault::tooManyUnreadableEntries, "Parse error - more than %s entries cannot be read"},
    {Fault::thumbnailOutside, "Parse error - thumbnail lies outside the Exif data"},
    {Fault::noExifToCopy, "no Exif data to copy"},
    {Fault::noJpegInRaw, "Raw file holds no JPEG with Exif data"},
    {Fault::readFailed, "%s"},
    {Fault::noteOffsetsNotFromHeader, "Parse error - maker note offsets do not count from the TIFF header"},
    {Fault::noteOutside, "Maker note refers to data outside itself"},
    {Fault::noteMoved, "Maker note was moved by another program; its offsets do not fit where it lies"},
    {Fault::noteScattered, "Maker note's values do not lie where its entries point"},
    {Fault::noteOtherOrder, "Maker note is in the other byte order than its file"},
    {Fault::noteUnsettled, "Maker note of a kind whose offsets depend on the camera model (%s)"},
    {Fault::noteTooLarge, "Parse error - maker note holds more directories or entries than a camera writes"},
    {Fault::noteShorterThanHeader, "Parse error - maker note shorter than its header"},
    {Fault::noteSubDirectory, "Maker note holds a directory of its own that cannot be carried"},
    {Fault::dngNote, "Parse error - maker note kept by the DNG cannot be read"},
    {Fault::valueCannotTurn, "Value of tag %s cannot be turned into the other byte order"},
    {Fault::boxTooMany, "Parse error - %s holds more boxes than a file has"},
    {Fault::boxInParentTooSmall, "Parse error - a box in %s is smaller than its header"},
    {Fault::boxTooSmall, "Parse error - box %s is smaller than its header"},
    {Fault::boxPastFile, "Parse error - box %s runs past the end of the file"},
    {Fault::boxPastParent, "Parse error - box %s runs past the box %s that holds it"},
    {Fault::boxFieldSize, "Parse error - box %s holds a field of %s bytes"},
    {Fault::boxPastItsEnd, "Parse error - box %s runs past its end"},
    {Fault::boxTooLarge, "Parse error - box %s is larger than a file holds"},
    {Fault::boxWithoutTiff, "Parse error - box %s holds no TIFF data"},
    {Fault::boxPast4GiB, "Parse error - box %s lies past 4 GiB"},
    {Fault::ilocTooLong, "Parse error - box iloc lists more items and extents than a file has"},
    {Fault::cr3WithoutCanonBox, "Parse error - CR3 file without Canon's metadata box"},
    {Fault::cr3WithoutIfd0, "Parse error - CR3 file without an IFD0 box (CMT1)"},
    {Fault::cr3OrdersDiffer, "Parse error - the CR3's metadata boxes are in different byte orders"},
    {Fault::exifItemUnreadable, "Parse error - Exif item cannot be read"},
    {Fault::exifItemPastFile, "Parse error - Exif item runs past the end of the file"},
    {Fault::exifItemScattered, "not done - the Exif item lies in several extents, which a rewrite would not keep together"},
    {Fault::heifSequence, "not done - box moov holds an image sequence, whose offsets a rewrite would move"},
    {Fault::heifVersion, "not done - box %s of version %s is not rewritten"},
    {Fault::heifItemInMeta, "not done - item %s lies inside box meta, which a rewrite would move"},
    {Fault::heifFieldTooSmall, "not done - box iloc's fields of %s bytes cannot hold the new offsets"},
    {Fault::heifNoRoom, "not done - the Exif item in box idat has no room for the new data"},
    {Fault::heifTooManyItems, "not done - box iinf has no room for another item"},
    {Fault::heifOpenExtent, "not done - item %s runs to the end of the file, where new data would join it"},
    {Fault::chunkPastFile, "Parse error - chunk %s runs past the end of the file"},
    {Fault::pngWithoutHeader, "Parse error - PNG file without its IHDR chunk"},
    {Fault::pngWithoutEnd, "Parse error - PNG file without its IEND chunk"},
    {Fault::twoExifParts, "Parse error - file holds two %s"},
    {Fault::exifChunkUnreadable, "Parse error - chunk %s holds Exif data that cannot be read"},
    {Fault::exifDataUnreadable, "Parse error - Exif data too short for its TIFF header"},
    {Fault::animated, "not done - an animated %s is not rewritten"},
    {Fault::brotliExif, "not done - box brob holds the Exif data compressed with Brotli, which is not read"},
    {Fault::jpegReconstruction, "not done - box jbrd keeps the JPEG this file was made from, whose Exif data would no longer match"},
    {Fault::bigTiff, "Parse error - BigTIFF files are not read"},
    {Fault::onlyJpegRewritten, "not done - only JPEG files are rewritten"},
    {Fault::rawNotRewritten, "not done - a raw image cannot be rewritten"},
    {Fault::readFromMemory, "not done - the image was read from memory, not from its file"},
    {Fault::subPointerTooShort, "not done - Exif sub-directory pointer holds fewer than four bytes"},
    {Fault::endsInsideSegment, "not done - file ends inside its Exif segment"},
    {Fault::positionLost, "not done - maker note tag %s leads to data that a rewrite would lose"},
    {Fault::positionCannotMove, "not done - maker note tag %s cannot be moved"},
    {Fault::symbolicLink, "not done - '%s' is a symbolic link; name the file it points to"},
    {Fault::needsSubIfd, "not done - target needs new sub ifd in ifd0"},
    {Fault::tooLarge, "Exif data too large"},
    {Fault::notReadBack, "not done - the new Exif data does not read back as planned (%s)"},
    {Fault::failedToOpenTmp, "Failed to open tmp file"},
    {Fault::failedToOpenTmpNamed, "Failed to open tmp file '%s': %s"},
    {Fault::busy, "not done - another run is rewriting it"},
    {Fault::changedMeanwhile, "not done - file changed while it was being rewritten"},
    {Fault::backupInTheWay, "not done - backup file '%s' is in the way - move it away to go on"},
    {Fault::systemFailure, "not done - %s"},
    {Fault::originalKeptAs, "not done - the original is kept as '%s' (%s)"},
};

}  // namespace

const char* faultText(Fault fault) {
    for (const auto& [known, text] : kTexts) {
        if (known == fault) return text;
    }
    return "";
}

std::string CExifException::message() const {
    std::string line;
    std::size_t next = 0;
    for (const char* at = faultText(fault); *at != '\0'; ++at) {
        if (at[0] == '%' && at[1] == 's') {
            if (next < details.size()) line += details[next++];
            ++at;
            continue;
        }
        line += *at;
    }
    return line + where;
}

std::string hex4(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace tagloom
