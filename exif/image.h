// The in-memory model of one image's Exif data: the image, its directories and their entries.
// Values are never decoded: an entry holds its bytes exactly as the file stores them (little-endian).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "exif/entry_list.h"
#include "platform/platform.h"

class CExifDirectory;
class CExifImage;

/// One directory entry: a tag and its value bytes.
class CExifEntry {
public:
    /// Makes an unlinked entry whose `data` holds `size` zero bytes; the caller links it into a list.
    CExifEntry(CExifDirectory* directory, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
               std::uint32_t size);
    CExifEntry(const CExifEntry&) = delete;
    CExifEntry& operator=(const CExifEntry&) = delete;

    /// The first four bytes of `data`, little-endian; bytes the buffer lacks count as zero.
    std::uint32_t valueAsU32() const;

    CExifDirectory* directory;
    CListLink<CExifEntry> link{this};
    std::string action;           // "", "add", "change", "remove", or a rewrite label such as "SubPtr"
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;          // the full stored count, written back as stored
    std::uint32_t storedOffset = 0;  // where out-of-line data lay in the file, relative to base
    std::uint32_t size;           // data size in bytes
    std::vector<std::uint8_t> data;  // at least `size` bytes
    std::uint32_t fixedDataPos = 0;  // non-zero: the data already lies here in the output
    bool removed = false;         // left out when the directory is written
    bool isPointer = false;       // a directory pointer that the parser followed; never replaced
    std::uint64_t entryPos = 0;   // where the entry was written
    std::uint64_t dataPos = 0;    // where its data was written
};

using CEntryList = CList<CExifEntry, &CExifEntry::link>;

/// One image file directory, owning its entries and the directories chained behind it.
class CExifDirectory {
public:
    /// A top directory; the image sets owner and prefix right after.
    CExifDirectory() = default;
    /// The directory chained after `predecessor`: same owner and prefix, index + 1. Not linked yet.
    explicit CExifDirectory(const CExifDirectory* predecessor);
    CExifDirectory(const CExifDirectory&) = delete;
    CExifDirectory& operator=(const CExifDirectory&) = delete;
    ~CExifDirectory();

    /// The first entry with this tag, removed entries included; none when there is no such entry.
    CExifEntry* findEntry(std::uint16_t tag);
    const CExifEntry* findEntry(std::uint16_t tag) const;

    /// "IFD0", "SUB1" ...: the name printed in every trace and report line.
    std::string name() const { return prefix + std::to_string(index); }

    CExifImage* owner = nullptr;
    std::string prefix;
    std::int32_t index = 0;
    CEntryList entries;
    std::unique_ptr<CExifDirectory> next;
    std::int32_t writeCount = 0;
    std::uint64_t startPos = 0;
    std::uint64_t endPos = 0;
};

/// Everything Tagloom knows about one image file. Loaded once, merged into (destination), rewritten.
class CExifImage {
public:
    CExifImage();
    CExifImage(const CExifImage&) = delete;
    CExifImage& operator=(const CExifImage&) = delete;
    ~CExifImage();

    /// Reads the file's Exif data into the three directories (and GPS and interoperability).
    /// Throws CExifException* naming `path` when the file is refused.
    void load(const std::string& imagePath);
    void closeFiles();
    /// True when IFD0's Make begins with `prefix`.
    bool madeBy(const char* prefix) const;

    // The bounded reader: positions are relative to base; no seek may pass sectionEnd.
    std::uint64_t sourcePosition() const;
    std::uint64_t sourceFilePosition() const;
    void seekSource(std::uint64_t position);
    /// Reads exactly n bytes or refuses the file.
    void readBytes(std::uint8_t* buffer, std::uint64_t n);
    std::uint16_t readU16();
    std::uint32_t readU32();

    std::string path;
    std::string extension;
    CExifDirectory ifd0;
    CExifDirectory subIfd;
    CExifDirectory makerNote;
    CExifDirectory gpsIfd;
    CExifDirectory interopIfd;
    std::int32_t diffCount = 0;
    platform::File source;
    bool sourceOpen = false;
    platform::FileStatus sourceStatus;  // the source file as it was when loaded
    std::uint8_t header[20] = {};
    std::uint32_t base = 0;
    std::uint32_t sectionEnd = 0;
    bool isRaw = false;
    platform::File target;
    bool targetOpen = false;
    std::vector<std::uint8_t> targetBlock;  // the new header and Exif block, built before it is written
    std::uint64_t targetCursor = 0;         // absolute position in targetBlock
    std::uint64_t exifEnd = 0;

private:
    void parseHeader();
    void parseDirectory(CExifDirectory& directory, int chainLength = 0);
    void followPointer(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from);
    void captureThumbnail();
    /// Reads up to n bytes, counting bytes past the end of the file as zero; gives how many were real.
    std::uint64_t readAvailable(std::uint8_t* buffer, std::uint64_t n);
    /// Charges bytes against what one image may hold in memory.
    void hold(std::uint64_t bytes);

    std::uint64_t sourceCursor_ = 0;          // absolute position in the source file
    std::vector<std::uint8_t> sourceWindow_;  // the file from offset 0, read once
    std::uint64_t sourceLength_ = 0;
    std::uint64_t heldBytes_ = 0;
    std::set<std::uint64_t> directoriesRead_;
    std::uint64_t makerNoteStart_ = 0;
};

/// Exchanges the two bytes of a 16-bit value.
inline void swapBytes16(std::uint16_t& value) { value = static_cast<std::uint16_t>((value >> 8) | (value << 8)); }
