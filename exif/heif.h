// The `meta` box of a HEIF or AVIF photo as a rewrite needs it: its boxes in order, every item's
// locations (`iloc`), the items' ids and which of them are Exif data, the primary item and its size.
// Read by the locator and again by the assembler, which writes `iloc` anew.
#pragma once

#include <cstdint>
#include <vector>

#include "exif/jpeg_segments.h"
#include "exif/tiff_view.h"

namespace tagloom {

struct HeifBox {
    char type[5] = {};
    std::uint64_t start = 0;    // its size field
    std::uint64_t payload = 0;  // behind its header
    std::uint64_t end = 0;
    bool is(const char* name) const;
};

struct IlocExtent {
    std::uint64_t index = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct IlocItem {
    std::uint32_t id = 0;
    std::uint16_t method = 0;     // 0: offsets in the file; 1: in `idat`; 2: in another item
    std::uint16_t reference = 0;  // the data reference: 0, this file
    std::uint64_t base = 0;
    std::vector<IlocExtent> extents;
};

/// The `iloc` box's payload, field by field.
struct Iloc {
    std::uint8_t version = 0;
    std::uint32_t flags = 0;
    unsigned offsetSize = 0, lengthSize = 0, baseSize = 0, indexSize = 0;
    std::vector<IlocItem> items;

    const IlocItem* find(std::uint32_t id) const;
    /// The payload again; refuses a value that its field cannot hold.
    std::vector<std::uint8_t> payload() const;
};

struct HeifMeta {
    HeifBox meta;
    std::vector<HeifBox> children;  // meta's boxes, in order
    bool hasMovie = false;          // a top-level `moov`: an image sequence, whose chunk offsets a rewrite would move
    std::uint8_t iinfVersion = 0;
    std::vector<std::uint32_t> itemIds;    // of every `infe`
    std::vector<std::uint32_t> exifItems;  // of the items of type "Exif"
    std::uint32_t primary = 0;             // `pitm`
    FrameSize primarySize;                 // the primary item's `ispe`
    Iloc iloc;
    bool hasIloc = false;

    const HeifBox* child(const char* type) const;
};

/// Reads the top-level `meta` box; refuses one that cannot be walked. A file without `meta` is refused
/// as having no Exif data.
HeifMeta readHeifMeta(const SourceBytes& bytes);

}  // namespace tagloom
