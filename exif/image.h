// The in-memory model of one image's Exif data: the image, its directories and their entries.
// Values are never decoded: an entry holds its bytes exactly as the file stores them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exif/byte_order.h"
#include "exif/containers.h"
#include "exif/format.h"
#include "exif/entry_list.h"
#include "exif/maker_notes.h"
#include "exif/report.h"
#include "exif/tag_names.h"
#include "platform/platform.h"

namespace tagloom {

class CExifDirectory;
class CExifImage;
class SourceBytes;
struct TopDirectory;

/// One directory entry: a tag and its value bytes.
class CExifEntry {
public:
    /// Makes an unlinked entry whose `data` holds `size` zero bytes; the caller links it into a list.
    CExifEntry(CExifDirectory* directory, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
               std::uint32_t size);
    CExifEntry(const CExifEntry&) = delete;
    CExifEntry& operator=(const CExifEntry&) = delete;

    /// The first four bytes of `data` in the image's byte order; bytes the buffer lacks count as zero.
    std::uint32_t valueAsU32() const;
    /// The same value bytes as `other`'s.
    bool sameValue(const CExifEntry& other) const {
        return size == other.size && std::equal(data.begin(), data.begin() + size, other.data.begin());
    }

    CExifDirectory* directory;
    CListLink<CExifEntry> link{this};
    /// What the merge did to the entry; only the merge sets it. A removed entry is flagged `removed`.
    enum class Change : std::uint8_t { none, added, changed };
    Change change = Change::none;
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;          // the full stored count, written back as stored
    std::uint32_t storedOffset = 0;  // where out-of-line data lay in the file, relative to base
    std::uint32_t size;           // data size in bytes
    std::vector<std::uint8_t> data;  // at least `size` bytes
    bool removed = false;         // left out when the directory is written
    bool isPointer = false;       // a directory pointer that the parser followed; never replaced
    bool carried = false;         // `data` is what the value pointed to (a thumbnail, a preview): written
                                  // out of line however short, so that the value stays a position
    /// A directory inside a maker note, laid out anew as this one value: `data` holds its entries,
    /// their values and what it leads to, its offsets counting from the value's first byte; they
    /// lie at `relocations`, and the writer adds where the value goes.
    bool holdsDirectory = false;
    std::vector<std::uint32_t> relocations;
    /// An entry of a TIFF export's own image: its value stays where it lies in the file, and `data`
    /// holds its value field as stored, written back as it is.
    bool inPlace = false;
    /// The value a merge replaced, as it was: what a report of the change shows.
    struct Previous {
        std::uint16_t type;
        std::uint32_t count;
        std::vector<std::uint8_t> data;  // `size` bytes
    };
    std::unique_ptr<Previous> previous;
};

using CEntryList = CList<CExifEntry, &CExifEntry::link>;

/// The word the listing gives what the merge did to an entry: "add", "change", "remove"; "" for none.
const char* changeWord(const CExifEntry& entry);
/// An entry as the listing names it: "SUB0:0x9286".
std::string entryPart(const CExifDirectory& directory, std::uint16_t tag);

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
    /// Links an entry of this directory in before the first entry with a strictly greater tag, else at the end.
    void insertInTagOrder(CExifEntry* entry);

    /// "IFD0", "SUB1" ...: the name printed in every trace and report line.
    std::string name() const { return prefix + std::to_string(index); }

    CExifImage* owner = nullptr;
    std::string prefix;
    std::int32_t index = 0;
    const TopDirectory* role = nullptr;  // the top directory it is, or is chained behind
    CEntryList entries;
    std::unique_ptr<CExifDirectory> next;
};

/// Everything Tagloom knows about one image file. Loaded once, merged into (destination), rewritten.
class CExifImage {
public:
    CExifImage();
    CExifImage(const CExifImage&) = delete;
    CExifImage& operator=(const CExifImage&) = delete;
    ~CExifImage();

    /// Reads the file's Exif data into the three directories (and GPS and interoperability).
    /// With `allFormats`, a JPEG whose Exif segment is not its first segment, or that has none, is
    /// read too. Throws CExifException* naming `path` when the file is refused.
    /// What an image is to its pair. A source read by --all-formats leaves a part it cannot read or
    /// carry behind, with a line to `reporter`, and reads nothing that never reaches a destination
    /// (its thumbnail, chained directories); a destination keeps every part intact or is refused.
    enum class Role { destination, source };
    /// Its parse trace goes to `reporter`.
    void load(const std::string& imagePath, bool allFormats = false, const Reporter& reporter = Reporter::quiet(),
              Role role = Role::destination);
    /// The same from `size` bytes in memory, known by `name`; such an image is a source only (it has
    /// no file to rewrite).
    void loadFromMemory(const std::string& name, const std::uint8_t* data, std::size_t size, bool allFormats = false,
                        const Reporter& reporter = Reporter::quiet(), Role role = Role::destination);
    /// The same from the bytes a file will hold (a rewrite's, read back before it replaces the file).
    void loadFromBytes(const std::string& name, const SourceBytes& bytes, bool allFormats = false,
                       const Reporter& reporter = Reporter::quiet(), Role role = Role::destination);
    void closeFiles();
    /// What its layout means (exif/containers.h).
    const LayoutTraits& traits() const { return traitsOf(layout); }
    /// A raw file: a source only, never rewritten.
    bool isRaw() const { return traits().raw; }
    /// Read as only --all-formats reads it.
    bool extended() const { return traits().extended; }
    /// A raw file of a kind only --all-formats reads: its IFD0 describes its own image too.
    bool isOtherRaw() const { return isRaw() && extended(); }
    /// Its IFD0 describes the file's own image (a raw file's, a HEIF's coding): only the tags that
    /// describe the photo are read and take part.
    bool ifd0ByAllowList() const { return traits().ifd0ByAllowList; }
    /// False for a JPEG without an Exif segment (and a raw file whose JPEG has none).
    bool hasExif() const { return traits().holdsExif; }
    /// The byte order of an image that holds no Exif data yet, with the TIFF header that names it.
    void setByteOrder(ByteOrder order);
    /// The byte order of a directory's values.
    ByteOrder orderOf(const CExifDirectory& directory) const {
        return &directory == &makerNote ? makerNoteOrder : byteOrder;
    }
    /// True when the maker note's kind carries a preview whose start entry has this tag: the
    /// position is written anew with the preview, not kept.
    bool carriesPreview(std::uint16_t tag) const {
        return makerNoteKind != nullptr && makerNoteKind->previewStart == tag;
    }
    /// The first value of the directory's SHORT or LONG entry of this tag (not removed); 0 for none or
    /// another type.
    std::uint32_t numberIn(const CExifDirectory& directory, std::uint16_t tag) const;
    /// The maker-note row of the camera that IFD0's Make names, whatever kind its note is; none.
    const MakerNoteKind* cameraKind() const;
    /// The maker-note tag whose value is a position in this file, by its camera's row; none: 0.
    std::uint16_t makerNotePositionTag() const {
        const MakerNoteKind* camera = cameraKind();
        return camera != nullptr ? camera->position.tag : 0;
    }
    /// The maker note's entries (not removed) whose values are positions in this file that lead
    /// somewhere, by the camera's row; a preview that the note's kind carries is none.
    std::vector<const CExifEntry*> positionEntries() const;

    std::string path;
    std::string extension;
    CExifDirectory ifd0;
    CExifDirectory subIfd;
    CExifDirectory makerNote;
    CExifDirectory gpsIfd;
    CExifDirectory interopIfd;
    std::int32_t diffCount = 0;
    platform::File file;                // the image's own file, open (and, while rewritten, locked) from load on
    bool fileOpen = false;
    platform::FileStatus fileStatus;    // that file as it was when loaded
    std::uint8_t header[20] = {};       // the file from headerStart up to the TIFF header's IFD0 offset
    std::uint64_t headerStart = 0;      // 0: SOI and the Exif segment's start; else segmentStart
    std::uint64_t segmentStart = 0;     // where the Exif segment's marker lies (or where a new one goes)
    Layout layout = Layout::exifFirstJpeg;  // how the Exif data lies in the file
    std::uint32_t base = 0;             // where the TIFF header lies in the file
    std::uint32_t sectionEnd = 0;       // the first byte after the Exif segment
    ByteOrder byteOrder = ByteOrder::littleEndian;
    /// The order of the maker note's directory: the image's, but for a DNG's note kept from its camera file.
    ByteOrder makerNoteOrder = ByteOrder::littleEndian;
    /// The kind of the maker note where --all-formats recognised one: a relaid note keeps its
    /// header bytes in front of its directory; an opaque one is the single entry 0x927c of makerNote,
    /// whose value is the whole note. None: a plain directory.
    const MakerNoteKind* makerNoteKind = nullptr;
    std::vector<std::uint8_t> makerNoteHeader;
    /// The maker-note tag whose value is also the preview that the kind's start entry points to.
    std::uint16_t previewHolder = 0;
    /// The parts a source left behind, in the order found, and why. They take no part in a merge.
    struct LeftBehind {
        enum class What { directory, entry, entriesPastSegment } what;
        const CExifDirectory* directory;  // the top directory it is, or lies in
        std::uint16_t tag;                // an entry's
        std::string part;                 // as its line names it: "SUB0", "GPS0:0x001b", "SUB0 entries 21-300"
        std::string reason;
    };
    std::vector<LeftBehind> leftBehind;
    /// The parts of its source that a merge into this image left behind (a note that would not read
    /// back in this file's byte order).
    std::vector<LeftBehind> leftBehindByMerge;
    /// A JPEG's own pixel size, from its frame header (read by --all-formats); 0 x 0 when not known.
    std::uint32_t frameWidth = 0;
    std::uint32_t frameHeight = 0;
    /// The Orientation that its own pixels call for, compared with its source's thumbnail (1 to 8); 0
    /// where no comparison decided.
    std::uint32_t orientationByPixels = 0;
    /// What a merge decided and says in a line of its own, which is no refusal ("Orientation stays 1 ...").
    std::vector<std::string> mergeNotes;
    /// A TIFF export's further pages: where its IFD0's next-directory offset leads; 0 for none.
    std::uint32_t ifd0NextInPlace = 0;
    /// How many directories of a maker note were walked to find how far it reaches or to lay them out.
    std::uint32_t makerNoteDirectoriesWalked = 0;
};

/// One of the five top directories of an image. They are read, merged, listed and written in the
/// order of kTopDirectories (named by exif/format.h's top::); each but IFD0 hangs from a pointer
/// entry of an earlier one.
struct TopDirectory {
    CExifDirectory CExifImage::*directory;
    CExifDirectory CExifImage::*holder;  // the directory holding its pointer entry; none for IFD0
    std::size_t holderIndex;             // that directory's place in kTopDirectories (IFD0: its own)
    std::uint16_t pointerTag;            // that entry's tag
    const char* prefix;                  // of its name in traces and listings: "SUB" for SUB0
    const char* patchLabel;              // the trace's word for its pointer entry once the writer placed it
    bool chains;          // directories may be chained behind it (IFD1 behind IFD0)
    bool followedAnySize;  // its pointer entry leads to it whatever its size; else only one of 4 bytes or more
    bool isPointerValue;  // it is its pointer entry's value, not where that value points (the maker note)
    const char* optionName;  // what --only and --except call it besides its name ("Exif" for SUB0)
    TagTable names;          // the table that names its tags
    int cr3Box;              // the CR3 metadata box (CMT1 = 0) that holds it; -1: none
};
extern const TopDirectory kTopDirectories[top::kCount];

}  // namespace tagloom
