// The kinds of maker note that --all-formats reads: each recognised up front by the bytes it begins
// with (or by the camera's Make where a maker writes none), never by trying a parse and falling back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "exif/byte_order.h"

struct MakerNoteKind {
    const char* name;       // for the parse trace
    const char* signature;  // the note's first bytes; none for a note recognised by Make
    std::size_t signatureLength;
    const char* make;       // the Make that names a note without a signature
    /// Relaid: a directory behind a header, its offsets counting from the outer TIFF header; the
    /// header is kept and the directory merged and laid out anew. Otherwise the note is carried as
    /// one block, byte for byte: its offsets count from itself.
    bool relaid;
    /// Where its directory starts in the note; for a note with a TIFF header of its own, where that
    /// header lies (the directory follows where the header says). No directory at all: none.
    enum class Directory { at, tiffHeaderAt, offsetAt, none, unsettled } directory;
    std::uint32_t directoryAt;
    /// Its byte order: the outer one, fixed, or as the note's bytes at orderAt say ("II" or "MM").
    enum class Order { outer, little, big, bytesAt } order;
    std::uint32_t orderAt;
    std::uint32_t baseAt;  // an opaque note's offsets count from the note's start plus this
    /// The entries whose values are the position and the length of data (a preview): a relaid note
    /// carries the data with the start entry and writes its position anew; an opaque note must hold it.
    std::uint16_t previewStart;
    std::uint16_t previewLength;
    /// Entries in this range (or of these tags) are directories of their own: a relaid note cannot
    /// carry them; what they refer to belongs to an opaque note's block.
    std::uint16_t firstSubDirectory;
    std::uint16_t lastSubDirectory;
    std::uint16_t subDirectoryTags[2] = {};
    /// Not a note at all but a raw file's image data in its place: never read or copied.
    bool rawData = false;

    bool holdsSubDirectory(std::uint16_t tag) const {
        return (lastSubDirectory != 0 && tag >= firstSubDirectory && tag <= lastSubDirectory) ||
               (tag != 0 && (tag == subDirectoryTags[0] || tag == subDirectoryTags[1]));
    }
};

/// The kind of the maker note that begins with `head` (n bytes of it; fewer when the note is short),
/// in an image whose Make begins with `make` (or none): none when no row matches.
const MakerNoteKind* recogniseMakerNote(const std::uint8_t* head, std::size_t n, const char* make, std::size_t makeSize);
