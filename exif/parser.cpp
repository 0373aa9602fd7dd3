// The bounded reader and the directory parser.
#include <algorithm>
#include <cstring>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/image.h"
#include "exif/trace.h"
#include "exif/text.h"

// ---------------------------------------------------------------------------------------------
// Bounded reader. Every read of an image goes through these: positions are relative to base,
// and no seek may pass sectionEnd. The first 64 KiB + 4 of the file (all that any seek can
// reach) are read once into sourceWindow_; reads beyond it go to the file.

std::uint64_t CExifImage::sourcePosition() const { return sourceCursor_ - base; }

std::uint64_t CExifImage::sourceFilePosition() const { return sourceCursor_; }

void CExifImage::seekSource(std::uint64_t position) {
    // Compared without computing a wrapping base + position.
    if (position > sectionEnd || base > sectionEnd - position)
        throw new CExifException("Attempted to seek past end of section");
    sourceCursor_ = base + position;
}

std::uint64_t CExifImage::readAvailable(std::uint8_t* buffer, std::uint64_t n) {
    if (n == 0) return 0;  // an empty entry's buffer may be null
    std::uint64_t got = 0;
    if (sourceCursor_ < sourceWindow_.size()) {
        got = std::min<std::uint64_t>(n, sourceWindow_.size() - sourceCursor_);
        std::memcpy(buffer, sourceWindow_.data() + sourceCursor_, got);
    }
    if (got < n && sourceCursor_ + got < sourceLength_) {
        got += source.readAt(sourceCursor_ + got, buffer + got, n - got);
    }
    std::memset(buffer + got, 0, n - got);
    sourceCursor_ += got;
    return got;
}

void CExifImage::readBytes(std::uint8_t* buffer, std::uint64_t n) {
    if (readAvailable(buffer, n) != n)
        throw new CExifException("Parse error - data runs past the end of the file");
}

std::uint16_t CExifImage::readU16() {
    std::uint8_t bytes[2];
    readBytes(bytes, sizeof bytes);
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t CExifImage::readU32() {
    std::uint8_t bytes[4];
    readBytes(bytes, sizeof bytes);
    return std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) | (std::uint32_t(bytes[2]) << 16) |
           (std::uint32_t(bytes[3]) << 24);
}

void CExifImage::hold(std::uint64_t bytes) {
    heldBytes_ += bytes;
    if (heldBytes_ > exif::kMaxHeldBytes)
        throw new CExifException("Parse error - more Exif data than one image may hold");
}

// ---------------------------------------------------------------------------------------------
// Parser.

void CExifImage::load(const std::string& imagePath) {
    path = imagePath;
    const auto dot = path.find_last_of('.');
    if (dot != std::string::npos) extension = path.substr(dot);
    try {
        try {
            parseHeader();
        } catch (const platform::IoError& failure) {
            throw new CExifException("%s", failure.what());  // a failing read of the disk
        }
    } catch (CExifException* failure) {
        failure->fileName = path;
        throw;
    }
}

void CExifImage::parseHeader() {
    source = platform::File::openForReading(path);
    sourceOpen = source.isOpen();
    if (!sourceOpen) throw new CExifException("Failed to open");
    try {
        sourceStatus = source.status();
    } catch (const platform::IoError&) {
        throw new CExifException("Failed to open");
    }
    sourceLength_ = sourceStatus.size;

    // One read of all that a load can reach: every seek stays at or below sectionEnd, which is at
    // most 0xFFFF + 4. Reads that run on past it go to the file.
    sourceWindow_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(sourceLength_, exif::kMaxSectionEnd)));
    sourceWindow_.resize(source.readAt(0, sourceWindow_.data(), sourceWindow_.size()));

    // Header recognition: bytes missing at the end of a short file count as zero.
    std::uint8_t mark[2];
    readAvailable(mark, sizeof mark);
    const auto firstTwo = static_cast<std::uint16_t>(mark[0] | (mark[1] << 8));
    std::uint64_t ifd0Position = exif::kRawIfd0Position;
    if (firstTwo == exif::kLittleEndianMark) {
        isRaw = true;
        sectionEnd = exif::kRawSectionEnd;
    } else {
        if (firstTwo != exif::kStartOfImage) throw new CExifException("File not support (header not understood)");
        seekSource(0);
        readAvailable(header, sizeof header);
        if (header[0] != exif::kMarkerPrefix || header[1] != exif::kStartOfImageMarker ||
            header[2] != exif::kMarkerPrefix || header[3] != exif::kApp1Marker || header[12] != exif::kIntelByte ||
            header[13] != exif::kIntelByte)
            throw new CExifException("Jpg header type not supported");
        std::uint16_t app1Length = static_cast<std::uint16_t>(header[4] | (header[5] << 8));
        swapBytes16(app1Length);
        sectionEnd = std::uint32_t(app1Length) + 4;
        base = exif::kJpegBase;
        // IFD0 lies where the TIFF header says; most cameras store 8, right behind the header.
        ifd0Position = std::uint32_t(header[16]) | (std::uint32_t(header[17]) << 8) |
                       (std::uint32_t(header[18]) << 16) | (std::uint32_t(header[19]) << 24);
    }
    seekSource(ifd0Position);

    printVerbose(verbose::kParse, "%s parse:\n", path.c_str());
    parseDirectory(ifd0);

    followPointer(subIfd, tag::kExifIfdPointer, ifd0);

    if (CExifEntry* makerNoteEntry = subIfd.findEntry(tag::kMakerNote)) {
        makerNoteEntry->isPointer = true;
        makerNoteEntry->size = exif::kInlineValueSize;
        if (makerNoteEntry->data.size() < exif::kInlineValueSize) makerNoteEntry->data.resize(exif::kInlineValueSize);
        makerNoteStart_ = makerNoteEntry->storedOffset;
        seekSource(makerNoteStart_);
        parseDirectory(makerNote);
    }

    followPointer(gpsIfd, tag::kGpsIfdPointer, ifd0);
    followPointer(interopIfd, tag::kInteropIfdPointer, subIfd);

    captureThumbnail();
    printVerbose(verbose::kParse, "\n");
}

// Follows a pointer entry of `from` into the directory `into`. Only an entry with at least four
// data bytes is a pointer; a shorter one (a count of 0, say) stays an ordinary entry.
void CExifImage::followPointer(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from) {
    CExifEntry* pointer = from.findEntry(pointerTag);
    if (pointer == nullptr) return;
    if (pointerTag != tag::kExifIfdPointer && pointer->size < exif::kInlineValueSize) return;
    pointer->isPointer = true;
    seekSource(pointer->valueAsU32());
    parseDirectory(into);
}

// The thumbnail of IFD1: the 513 entry's data becomes the thumbnail bytes themselves, so that
// writing it as an ordinary out-of-line entry moves the thumbnail along.
void CExifImage::captureThumbnail() {
    if (!ifd0.next) return;
    CExifEntry* length = ifd0.next->findEntry(tag::kThumbnailLength);
    CExifEntry* offset = ifd0.next->findEntry(tag::kThumbnailOffset);
    if (length == nullptr || offset == nullptr) return;
    const std::uint64_t start = offset->valueAsU32();
    const std::uint64_t bytes = length->valueAsU32();
    // For a JPEG image it must lie inside the APP1 segment; for a raw image inside the file.
    const std::uint64_t limit = isRaw ? sourceLength_ : sectionEnd;
    if (base + start > limit || bytes > limit - base - start)
        throw new CExifException("Parse error - thumbnail lies outside the Exif data");
    seekSource(start);
    hold(bytes);
    offset->size = static_cast<std::uint32_t>(bytes);
    offset->data.assign(static_cast<std::size_t>(bytes), 0);
    readBytes(offset->data.data(), bytes);
}

void CExifImage::parseDirectory(CExifDirectory& directory, int chainLength) {
    // A directory: count N (2), N entries of 12 bytes, next-directory offset (4).
    const std::uint64_t at = sourcePosition();
    if (!directoriesRead_.insert(at).second)
        throw new CExifException("Parse error - directory at offset 0x%04llx is read twice",
                                 static_cast<unsigned long long>(at));
    const std::uint16_t entryCount = readU16();
    const std::uint64_t firstEntry = sourcePosition();
    printVerbose(verbose::kParse, "  %s%d %d entries starting at offset 0x%04x\n", directory.prefix.c_str(),
                 directory.index, entryCount, static_cast<unsigned>(sourceFilePosition() - 2));

    for (std::uint32_t i = 0; i < entryCount; ++i) {
        // An entry: tag (2), type (2), count (4), value field (4).
        seekSource(firstEntry + std::uint64_t(exif::kEntrySize) * i);
        const auto entryAt = static_cast<unsigned>(sourceFilePosition());
        const std::uint16_t entryTag = readU16();
        const std::uint16_t type = readU16();
        const std::uint32_t count = readU32();
        if (type > exif::kMaxFieldType) throw new CExifException("Unknown format type");
        std::uint64_t unit = exif::typeUnitSize(type);
        if (entryTag >= tag::kFirstWindowsXpTag && entryTag <= tag::kLastWindowsXpTag) unit = 2;
        const std::uint64_t size = unit * count;  // 64-bit: cannot wrap
        if (size > exif::kMaxEntrySize) throw new CExifException("Parse error - size too big");
        hold(size + exif::kHeldBytesPerEntry);

        auto* entry = new CExifEntry(&directory, entryTag, type, count, static_cast<std::uint32_t>(size));
        directory.entries.append(entry);

        char dataText[16] = "------";
        if (size > exif::kInlineValueSize) {
            entry->storedOffset = readU32();
            // Offsets that lead in front of the maker note count from somewhere else (its own start,
            // as some phones write): read from the TIFF header they would give other bytes.
            if (&directory == &makerNote && entry->storedOffset < makerNoteStart_)
                throw new CExifException("Parse error - maker note offsets do not count from the TIFF header");
            seekSource(entry->storedOffset);
            std::snprintf(dataText, sizeof dataText, "0x%04x", static_cast<unsigned>(sourceFilePosition()));
        }
        readBytes(entry->data.data(), size);
        printVerbose(verbose::kParse, "    Dir Entry 0x%04x, Tag %s%d:0x%04x, Data %s, Size 0x%04x\n", entryAt,
                     directory.prefix.c_str(), directory.index, entryTag, dataText, static_cast<unsigned>(size));
    }

    // Chains: never in a file named ".cr2" (in any case), never behind a maker-note, GPS or
    // interoperability directory.
    const bool chainless = &directory == &makerNote || &directory == &gpsIfd || &directory == &interopIfd;
    if (equalIgnoringAsciiCase(extension, ".cr2") || chainless) return;
    seekSource(firstEntry + std::uint64_t(exif::kEntrySize) * entryCount);
    const std::uint32_t nextOffset = readU32();
    if (nextOffset == 0) return;
    if (chainLength + 1 > exif::kMaxChainLength)
        throw new CExifException("Parse error - directory chain too long");
    directory.next = std::make_unique<CExifDirectory>(&directory);
    seekSource(nextOffset);
    parseDirectory(*directory.next, chainLength + 1);
}
