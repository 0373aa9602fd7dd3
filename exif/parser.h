// The reading of one image, by question:
//   exif/containers.cpp, exif/iso_media.cpp   where the TIFF data lies (locators of each kind of file)
//   exif/load.cpp                             the order of a whole load: IFD0, then each top directory
//   exif/parser.cpp                           how a directory and an entry are read, and what a source
//                                             leaves behind
//   exif/maker_note_reader.cpp,               how a maker note is read: its kind, where its values lie,
//   exif/maker_note_blocks.cpp                a relaid or plain directory, a block and its reach, a
//                                             DNG's kept note
// Only the exif/ sources include this header.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "exif/containers.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "exif/report.h"
#include "exif/tiff_view.h"

namespace tagloom {

/// One 12-byte directory entry as stored: tag (2), type (2), count (4), value field (4).
struct EntryField {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;
    bool valueInFile = false;  // false: the file ends inside the value field (its missing bytes read as zero)

    /// Refuses an entry whose value field the file does not hold.
    void requireValue() const;
};

/// Reads the entry at `at` (relative to the view's base); refuses one whose value field the file
/// does not hold when `valueNeeded`.
EntryField readEntryField(TiffView view, std::uint64_t at, bool valueNeeded);

/// Puts a view back as it was when the scope ends, however the reading in between ends.
class ViewScope {
public:
    explicit ViewScope(TiffView& view) : view_(view), saved_(view) {}
    ViewScope(const ViewScope&) = delete;
    ViewScope& operator=(const ViewScope&) = delete;
    ~ViewScope() { view_ = saved_; }

private:
    TiffView& view_;
    TiffView saved_;
};

/// One load of one image: the view it reads through, the directories it has read (a directory read
/// twice is a loop), and what the image holds in memory so far.
class CExifParser {
public:
    CExifParser(CExifImage& image, const SourceBytes& bytes, const Reading& reading, const Reporter& report)
        : image_(image), bytes_(&bytes), allFormats_(reading.allFormats),
          leavesBehind_(reading.allFormats && reading.source), reading_(reading), report_(report),
          view_(bytes, 0, 0, ByteOrder::littleEndian) {}

    /// Locates the TIFF data by the kind of file, then reads every directory.
    void readImage();

private:
    friend class MakerNoteReader;

    // The order of a load (exif/load.cpp).
    /// Takes what the locator found into the image.
    void take(Located located);
    /// Follows the pointer entry of a top directory: a source leaves what it cannot read behind.
    void followTop(const TopDirectory& top);
    void followPointer(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from);
    /// The same for a source: a directory that cannot be read stays behind whole, said in one line,
    /// with the entry that leads to it.
    void followPointerOrLeaveBehind(CExifDirectory& into, std::uint16_t pointerTag, CExifDirectory& from);
    /// A CR3's Exif sub-directory, maker note and GPS data, each from its own box (exif/iso_media.cpp).
    void readCanonBoxes();
    /// Where IFD0 holds `wanted`: its count and value field. None: 0, 0.
    EntryField ifd0Field(std::uint16_t wanted);
    void captureThumbnail();
    /// Moves the exposure tags a raw file keeps in IFD0 to the Exif sub-directory that lacks them.
    void moveExposureTags();
    /// Gives IFD0 an Exif sub-directory pointer where it has none.
    void pointToExifDirectory();

    // How a directory is read (exif/parser.cpp).
    void parseDirectory(CExifDirectory& directory, int chainLength = 0);
    /// Reads the entry at `fieldAt` into the directory; throws, leaving the directory as it was,
    /// when it cannot be read.
    void readEntry(CExifDirectory& directory, std::uint64_t fieldAt);
    /// A part of a source that stays behind: one line now, and a record in the image.
    void leaveBehind(CExifImage::LeftBehind part);
    /// An entry that stays behind: said, and taken out of its directory.
    void leaveBehindEntry(CExifEntry& entry, const std::string& reason);
    /// True when a refusal in this directory is of a file or part that only --all-formats reads, whose
    /// line names where the fault lies.
    bool saysWhere(const CExifDirectory& directory) const;
    /// Adds where an entry's fault lies to its refusal: "(SUB0:0x9286, type 77)" ...
    void sayWhereEntry(CExifException& failure, const CExifDirectory& directory, std::uint64_t fieldAt) const;
    /// Adds where a directory that cannot be read lies: "(GPS0 at file offset 0x2a40)".
    void sayWhereDirectory(CExifException& failure, const CExifDirectory& directory, const CExifDirectory& holder,
                           std::uint16_t pointerTag) const;
    /// What a refusal says of a part, as a left-behind line says it.
    std::string inPlainWords(const CExifException& failure) const;
    /// Charges bytes against what one image may hold in memory.
    void hold(std::uint64_t bytes);
    /// Makes the `bytes` at position `at` the entry's value, so that writing it as an ordinary
    /// out-of-line value moves the data along and writes its new position.
    void carry(CExifEntry& entry, std::uint64_t at, std::uint64_t bytes);

    CExifImage& image_;
    const SourceBytes* bytes_;  // the file's, or an item of it read into memory (located_.item)
    bool allFormats_;
    bool leavesBehind_;  // a source read by --all-formats: what it cannot read or carry stays behind
    Reading reading_;
    const Reporter& report_;  // the parse trace
    TiffView view_;
    Located located_;
    std::set<std::uint64_t> directoriesRead_;  // absolute positions
    std::uint64_t heldBytes_ = 0;
    bool followsChains_ = false;  // reads the directories chained behind IFD0 and the Exif sub-directory
    /// The maker note being read: where it starts (relative to the view's base; offsets in front of
    /// it count from elsewhere), and the bytes a relaid note declares behind its header.
    std::uint64_t noteStart_ = 0;
    std::uint64_t noteRoom_ = 0;
};

/// How an image's maker note is read: by its kind under --all-formats (a relaid directory behind its
/// header, a block whose reach is walked, no directory, a raw file's data), else as a plain
/// directory; where its values lie against its offsets; the preview a relaid note carries; a DNG's
/// note kept from its camera file. It reads through its parser's view.
class MakerNoteReader {
public:
    explicit MakerNoteReader(CExifParser& parser) : parser_(parser), image_(parser.image_), view_(parser.view_) {}

    /// Reads the maker note at `start` (relative to the view) whose value declares `declared` bytes;
    /// false when it is a raw file's image data rather than a note.
    bool read(std::uint32_t start, std::uint32_t declared);
    /// A DNG's original maker note, kept in its private data (`count` bytes at `at`) with its old offset.
    void readKeptByDng(std::uint32_t count, std::uint32_t at);

private:
    // Its kind and where its values lie (exif/maker_note_reader.cpp).
    /// True when a directory at `directoryAt` in the note at `start` (its count read in `order`)
    /// fits inside the note's declared bytes.
    bool directoryFits(std::uint64_t start, std::uint32_t directoryAt, std::uint32_t declared, ByteOrder order) const;
    /// Where the out-of-line values of the directory at `directory` lie, as stored: each one, the
    /// lowest offset and the end of the last value. A directory larger than `declared` holds no entries.
    struct ValueSpan {
        static constexpr std::uint64_t kNone = ~std::uint64_t(0);
        struct Value {
            std::uint64_t offset;
            std::uint64_t size;
        };
        std::uint32_t entries = 0;
        std::vector<Value> values;
        std::uint64_t lowest = kNone;
        std::uint64_t end = 0;
    };
    ValueSpan valueSpan(std::uint64_t directory, std::uint32_t declared) const;
    /// True when a note of this kind has values in front of its directory's end or behind its end.
    bool valuesLieOutside(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared) const;
    /// A note's footer: whether it has one, and where it says the camera wrote the note.
    struct Footer {
        bool present = false;
        std::uint32_t writtenAt = 0;
    };
    Footer readFooter(std::uint32_t start, std::uint32_t declared) const;
    /// Where the values of a note read entry by entry lie against its offsets: as stored, at one
    /// shift (another program moved the note without them), or neither.
    struct Placement {
        enum class Fit { asStored, shifted, neither } fit = Fit::asStored;
        std::int64_t shift = 0;  // added to every stored offset gives where its value lies
    };
    Placement placementOf(std::uint64_t start, std::uint32_t directoryAt, std::uint32_t declared,
                          const Footer& footer) const;
    /// Reads a relaid note, its header then its directory, from the view's cursor; `noteStart` is
    /// where it lies in the file.
    void readRelaid(const MakerNoteKind& kind, std::uint64_t noteStart, std::uint32_t declared);
    /// The byte order of a note of this kind that begins at `noteStart` (absolute), where the kind
    /// fixes it or the note names it; `order` holds the outer one on entry. False when the note's
    /// bytes name none.
    bool orderOfNote(const MakerNoteKind& kind, std::uint64_t noteStart, ByteOrder& order) const;

    // Blocks, and directories laid out anew (exif/maker_note_blocks.cpp).
    /// The maker note that begins at `start`, carried as a block of its kind.
    void readBlock(const MakerNoteKind& kind, std::uint64_t start, std::uint32_t declared);
    /// Counts a directory of `entries` entries walked in the note; refuses a note of more directories
    /// or entries than a camera writes.
    void countWalk(std::uint32_t entries);
    /// The end of what a block note's directory at `at` (in `view`) refers to, absolute; refuses a
    /// reference in front of `noteStart`. `directoryTag` is the tag that led to the directory (0: the
    /// note's own).
    std::uint64_t reachOf(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint64_t noteStart,
                          std::uint16_t directoryTag, int depth);
    /// A directory of a maker note laid out anew (see CExifEntry::holdsDirectory).
    struct LaidOut {
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint32_t> relocations;  // where offsets lie in `bytes`
    };
    /// Lays out the directory at `at` in `view` (reached through `directoryTag`; 0: the note's own)
    /// behind what `out` holds: its entries, their values, the directories inside it and its
    /// preview, each offset counting from position `innerStart` of `out`. `withoutPreview` leaves
    /// the preview's entries out (and the entry leading to a directory that is the preview's own).
    void layOut(const MakerNoteKind& kind, TiffView view, std::uint64_t at, std::uint16_t directoryTag,
                std::uint32_t innerStart, bool withoutPreview, LaidOut& out, int depth);
    /// Lays out each directory inside the note's directory as one value; one that cannot be laid
    /// out stays behind (a source) or refuses the note.
    void layOutSubDirectories(const MakerNoteKind& kind);
    /// A self-contained note whose preview lies where the note cannot reach, laid out anew against
    /// its own header without the preview; false when it is not the preview that lies there.
    bool relayWithoutPreview(const MakerNoteKind& kind, TiffView inner, std::uint64_t directory, std::uint64_t noteStart,
                             std::uint64_t allowedEnd);
    /// Carries the data a relaid note's preview entries lead to with the start entry.
    void capturePreview(const MakerNoteKind& kind);

    CExifParser& parser_;
    CExifImage& image_;
    TiffView& view_;  // the parser's
    std::map<std::uint64_t, std::uint64_t> reaches_;  // a block note's directories: absolute position, reach
    std::uint64_t entriesWalked_ = 0;
    std::uint64_t previewReach_ = 0;  // the end of a block note's preview, absolute
};

}  // namespace tagloom
