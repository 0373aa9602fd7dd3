// The kinds of maker note, one row each. A row is recognised by the bytes a note begins with or,
// where a maker writes none, by the camera's Make, and says everything Tagloom knows of that kind:
// where its directory starts, its byte order, what its offsets count from, how it travels, its
// preview, its sub-directories and the values that are positions in its file. --all-formats reads
// notes by their row; the default reading reads every note as a plain directory and asks the rows
// of its camera's Make only for their positions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exif/byte_order.h"
#include "exif/format.h"

namespace tagloom {

struct MakerNoteKind {
    /// How a note of the kind travels.
    enum class Carry {
        /// A directory whose offsets count from the outer TIFF header, with no header: read, merged
        /// and written as the default reading does (a row for its positions alone).
        plain,
        /// A directory behind a header, offsets from the outer TIFF header: the header is kept, the
        /// directory merged and laid out anew.
        relaid,
        /// Offsets from the note itself, or no directory at all: carried as one block, byte for byte.
        block,
        /// A raw file's image data where a note belongs: never read or copied.
        never,
        /// Offsets from an origin that depends on the camera model: the file is refused.
        refused,
    };
    /// Where the directory starts: at a fixed place in the note, where a TIFF header of the note's
    /// own at that place says, where a 32-bit little-endian offset at that place says; or nowhere.
    enum class Directory { at, tiffHeaderAt, offsetAt, none };
    /// Its byte order: the outer one, fixed, or as the note's bytes at orderAt say ("II" or "MM").
    enum class Order { outer, little, big, bytesAt };
    /// A value of the note that is a position in its file.
    struct Position {
        std::uint16_t tag = 0;
        bool fromFileStart = false;  // counts from the file's first byte; otherwise no rewrite can keep it
    };

    const char* name = "";
    const char* signature = nullptr;  // the note's first bytes; none for a note recognised by Make
    std::size_t signatureLength = 0;
    const char* make = nullptr;  // the Make (its beginning) that names a note without a signature
    Carry carry = Carry::plain;
    Directory directory = Directory::at;
    std::uint32_t directoryAt = 0;
    Order order = Order::outer;
    std::uint32_t orderAt = 0;
    std::uint32_t baseAt = 0;  // a block's offsets count from the note's start plus this
    /// The entries whose values are the position and the length of data (a preview): a relaid note
    /// carries the data with the start entry and writes its position anew; a block must hold it.
    std::uint16_t previewStart = 0;
    std::uint16_t previewLength = 0;
    /// Entries in this range (or of these tags) are directories of their own: a relaid note cannot
    /// carry them; what they refer to belongs to a block.
    std::uint16_t firstSubDirectory = 0;
    std::uint16_t lastSubDirectory = 0;
    std::uint16_t subDirectoryTags[2] = {};
    /// A preview inside one of the note's sub-directories (the tag that leads to it), by the
    /// directory's entries for its start and length; `wholeDirectory`: that directory is the
    /// preview's own, and a note that cannot carry the preview goes without it.
    struct InnerPreview {
        std::uint16_t directoryTag = 0;
        std::uint16_t start = 0;
        std::uint16_t length = 0;
        bool wholeDirectory = false;
    };
    InnerPreview innerPreview;
    /// A block whose values and preview may lie behind its declared end in a JPEG's Exif segment (as
    /// programs that rewrite such notes lay them out): the block then reaches to its last value.
    bool reachesPastEnd = false;
    /// Its sub-directories cannot be laid out anew (a header of their own, another order): they stay
    /// behind.
    bool subDirectoriesStay = false;
    /// Two zero bytes of padding may follow the entry count; the IFD field type holds a short value.
    bool paddedCount = false;
    /// The note ends with 8 bytes: "II*\0" or "MM\0*", then its offset from the TIFF header where the
    /// camera wrote it (in that order). A note moved without its offsets is read where they count from.
    bool footer = false;
    /// Some models write value offsets that lead outside the note, and readers take the values by
    /// their place behind the directory: such a note is carried whole, as its bytes lie.
    bool wholeWhenValuesLieOutside = false;
    Position position;

    /// Its offsets count from the outer TIFF header.
    constexpr bool outerBase() const { return carry == Carry::plain || carry == Carry::relaid; }
    /// The start and length entries of the preview that the directory reached through
    /// `directoryTag` (0: the note's own directory) holds; none: both 0.
    struct PreviewEntries {
        std::uint16_t start = 0;
        std::uint16_t length = 0;
    };
    constexpr PreviewEntries previewEntriesOf(std::uint16_t directoryTag) const {
        if (directoryTag == 0) return PreviewEntries{previewStart, previewLength};
        if (directoryTag == innerPreview.directoryTag) return PreviewEntries{innerPreview.start, innerPreview.length};
        return PreviewEntries{};
    }

    constexpr bool holdsSubDirectory(std::uint16_t tag) const {
        return (lastSubDirectory != 0 && tag >= firstSubDirectory && tag <= lastSubDirectory) ||
               (tag != 0 && (tag == subDirectoryTags[0] || tag == subDirectoryTags[1]));
    }
    /// True when an entry of a note of this kind leads to a directory of its own (where its value is
    /// not zero): an IFD-typed one of one value (but where the count may be padded: there the type
    /// holds a short value), or one of the tags the kind names, a LONG of one value or the
    /// directory's bytes themselves, out of line.
    constexpr bool leadsToDirectory(std::uint16_t tag, std::uint16_t type, std::uint32_t count) const {
        if (type == fieldType::kIfd) return count == 1 && !paddedCount;
        return holdsSubDirectory(tag) && ((type == fieldType::kLong && count == 1) || (type == fieldType::kUndefined && count > 4));
    }

    // A row is written as a sentence: MakerNoteKind::relaid("Sony").startsWith("SONY DSC \0\0\0").at(12) ...
    static constexpr MakerNoteKind of(const char* kindName, Carry how) {
        MakerNoteKind kind;
        kind.name = kindName;
        kind.carry = how;
        return kind;
    }
    static constexpr MakerNoteKind plainDirectory(const char* kindName) { return of(kindName, Carry::plain); }
    static constexpr MakerNoteKind relaid(const char* kindName) { return of(kindName, Carry::relaid); }
    static constexpr MakerNoteKind block(const char* kindName) { return of(kindName, Carry::block); }
    static constexpr MakerNoteKind noDirectory(const char* kindName) {
        MakerNoteKind kind = of(kindName, Carry::block);
        kind.directory = Directory::none;
        return kind;
    }
    static constexpr MakerNoteKind rawData(const char* kindName) {
        MakerNoteKind kind = of(kindName, Carry::never);
        kind.directory = Directory::none;
        return kind;
    }
    static constexpr MakerNoteKind unsettled(const char* kindName) { return of(kindName, Carry::refused); }

    template <std::size_t N>
    constexpr MakerNoteKind startsWith(const char (&text)[N]) const {
        MakerNoteKind kind = *this;
        kind.signature = text;
        kind.signatureLength = N - 1;
        return kind;
    }
    constexpr MakerNoteKind madeBy(const char* cameraMake) const {
        MakerNoteKind kind = *this;
        kind.make = cameraMake;
        return kind;
    }
    constexpr MakerNoteKind at(std::uint32_t offset) const { return placed(Directory::at, offset); }
    constexpr MakerNoteKind tiffHeaderAt(std::uint32_t offset) const { return placed(Directory::tiffHeaderAt, offset); }
    constexpr MakerNoteKind offsetAt(std::uint32_t offset) const { return placed(Directory::offsetAt, offset); }
    constexpr MakerNoteKind inOrder(Order fixed) const {
        MakerNoteKind kind = *this;
        kind.order = fixed;
        return kind;
    }
    constexpr MakerNoteKind orderNamedAt(std::uint32_t offset) const {
        MakerNoteKind kind = inOrder(Order::bytesAt);
        kind.orderAt = offset;
        return kind;
    }
    constexpr MakerNoteKind offsetsFrom(std::uint32_t offset) const {
        MakerNoteKind kind = *this;
        kind.baseAt = offset;
        return kind;
    }
    constexpr MakerNoteKind preview(std::uint16_t start, std::uint16_t length) const {
        MakerNoteKind kind = *this;
        kind.previewStart = start;
        kind.previewLength = length;
        return kind;
    }
    constexpr MakerNoteKind subDirectories(std::uint16_t first, std::uint16_t last) const {
        MakerNoteKind kind = *this;
        kind.firstSubDirectory = first;
        kind.lastSubDirectory = last;
        return kind;
    }
    constexpr MakerNoteKind subDirectoryAt(std::uint16_t first, std::uint16_t second = 0) const {
        MakerNoteKind kind = *this;
        kind.subDirectoryTags[0] = first;
        kind.subDirectoryTags[1] = second;
        return kind;
    }
    constexpr MakerNoteKind previewIn(std::uint16_t directoryTag, std::uint16_t start, std::uint16_t length) const {
        MakerNoteKind kind = *this;
        kind.innerPreview = InnerPreview{directoryTag, start, length, false};
        return kind;
    }
    constexpr MakerNoteKind previewDirectoryAt(std::uint16_t directoryTag, std::uint16_t start, std::uint16_t length) const {
        MakerNoteKind kind = *this;
        kind.innerPreview = InnerPreview{directoryTag, start, length, true};
        return kind;
    }
    constexpr MakerNoteKind subDirectoriesStayBehind() const {
        MakerNoteKind kind = *this;
        kind.subDirectoriesStay = true;
        return kind;
    }
    constexpr MakerNoteKind countMayBePadded() const {
        MakerNoteKind kind = *this;
        kind.paddedCount = true;
        return kind;
    }
    constexpr MakerNoteKind endsWithFooter() const {
        MakerNoteKind kind = *this;
        kind.footer = true;
        return kind;
    }
    constexpr MakerNoteKind carriedWholeWhenValuesLieOutside() const {
        MakerNoteKind kind = *this;
        kind.wholeWhenValuesLieOutside = true;
        return kind;
    }
    constexpr MakerNoteKind mayReachPastItsEnd() const {
        MakerNoteKind kind = *this;
        kind.reachesPastEnd = true;
        return kind;
    }
    constexpr MakerNoteKind positionAt(std::uint16_t tag, bool fromFileStart) const {
        MakerNoteKind kind = *this;
        kind.position = Position{tag, fromFileStart};
        return kind;
    }

private:
    constexpr MakerNoteKind placed(Directory where, std::uint32_t offset) const {
        MakerNoteKind kind = *this;
        kind.directory = where;
        kind.directoryAt = offset;
        return kind;
    }
};

/// The kind of the maker note that begins with `head` (n bytes of it; fewer when the note is short),
/// in an image whose Make begins with `make` (or none; ASCII case ignored): none when no row matches.
/// Rows with a signature come first.
const MakerNoteKind* recogniseMakerNote(const std::uint8_t* head, std::size_t n, const char* make, std::size_t makeSize);

/// The row of the camera whose Make (`make`, `makeSize` bytes) begins with a row's Make, compared
/// exactly or ignoring ASCII case; none.
const MakerNoteKind* makerNoteKindOfMake(const char* make, std::size_t makeSize, bool ignoreCase = false);

/// The kind of a note that holds no directory Tagloom can read: its declared bytes, carried whole.
const MakerNoteKind& noteWithoutDirectory();

/// Every row, in the order they are tried.
struct MakerNoteRows {
    const MakerNoteKind* first;
    const MakerNoteKind* last;  // one past
    const MakerNoteKind* begin() const { return first; }
    const MakerNoteKind* end() const { return last; }
};
MakerNoteRows makerNoteKinds();

}  // namespace tagloom
