// Lays out JPEG and raw files from a description, so that every test input is exact and readable
// in the test itself. Pointer entries (34665, 37500, 34853, 40965, 513/514) are added and filled in
// by the builder unless a test turns that off.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace fixture {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    Bytes bytes;                             // the value bytes as stored
    std::optional<std::uint32_t> valueField;  // forced value field: data is then not laid out
};

Entry ascii(std::uint16_t tag, const std::string& text);  // type 2, count = length + 1
Entry shortValue(std::uint16_t tag, std::uint16_t value);  // type 3, count 1
Entry longValue(std::uint16_t tag, std::uint32_t value);   // type 4, count 1
Entry rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator);
Entry undefinedBytes(std::uint16_t tag, const Bytes& bytes);  // type 7
Entry entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, const Bytes& bytes);

struct Directory {
    std::vector<Entry> entries;
    std::optional<std::uint32_t> nextOffset;  // forced next-directory offset
};

/// Where the builder put things, relative to the TIFF header.
struct Layout {
    std::uint32_t base = 0;
    std::uint32_t ifd0 = 0;
    std::vector<std::uint32_t> ifd0Chain;  // IFD1, IFD2 ...
    std::uint32_t subIfd = 0;
    std::vector<std::uint32_t> subChain;
    std::uint32_t makerNote = 0;
    std::uint32_t gps = 0;
    std::uint32_t interop = 0;
    std::uint32_t thumbnail = 0;
    std::uint32_t sectionEnd = 0;  // absolute
};

class ExifBuilder {
public:
    static ExifBuilder jpeg();
    static ExifBuilder raw();

    ExifBuilder& ifd0(std::vector<Entry> entries);
    ExifBuilder& ifd1(std::vector<Entry> entries);       // the directory chained after IFD0
    ExifBuilder& chainAfterIfd0(std::vector<Entry> entries);  // IFD1, then IFD2 ...
    ExifBuilder& subIfd(std::vector<Entry> entries);
    ExifBuilder& chainAfterSubIfd(std::vector<Entry> entries);
    ExifBuilder& makerNote(std::vector<Entry> entries);
    /// A maker note of the given bytes, made once its place (relative to the TIFF header) is known.
    ExifBuilder& makerNoteBytes(std::function<Bytes(std::uint32_t at)> note);
    ExifBuilder& gps(std::vector<Entry> entries);
    ExifBuilder& interop(std::vector<Entry> entries);
    ExifBuilder& thumbnail(Bytes bytes);  // adds 513 and 514 to IFD1
    ExifBuilder& imageData(Bytes bytes);  // what follows the APP1 segment; a tiny real JPEG scan by default
    ExifBuilder& app1Length(std::uint16_t length);  // forced APP1 length
    ExifBuilder& ifd0Offset(std::uint32_t offset);  // IFD0 stored further on, recorded in the TIFF header
    ExifBuilder& padding(std::uint32_t bytes);      // zero bytes at the end of the Exif data
    ExifBuilder& noAutoPointers();                   // leave pointer entries to the test
    ExifBuilder& segmentsBefore(Bytes segments);     // whole segments between SOI and the Exif segment
    ExifBuilder& withoutExif();                      // no Exif segment at all
    /// "MM" TIFF data: headers, counts, tags, types, offsets and the builder's own pointer values
    /// big-endian; entry bytes as the test gives them.
    ExifBuilder& bigEndian();
    /// The TIFF header's first bytes as a raw kind has them ("IIRO" ...). A raw file whose IFD0
    /// lies before 16 has no "CR" mark.
    ExifBuilder& magic(const std::string& firstBytes);

    Bytes build() const;
    Layout layout() const;

private:
    Bytes build(Layout& layout) const;
    bool raw_ = false;
    std::vector<Directory> ifd0Chain_{Directory{}};
    std::vector<Directory> subChain_;
    std::optional<Directory> makerNote_;
    std::function<Bytes(std::uint32_t)> makerNoteBytes_;
    std::optional<Directory> gps_;
    std::optional<Directory> interop_;
    std::optional<Bytes> thumbnail_;
    std::optional<Bytes> imageData_;
    std::optional<std::uint16_t> app1Length_;
    std::uint32_t ifd0Offset_ = 8;
    std::uint32_t padding_ = 0;
    bool autoPointers_ = true;
    Bytes before_;
    bool withoutExif_ = false;
    bool bigEndian_ = false;
    std::optional<Bytes> magic_;
};

/// One JPEG segment: FF, the marker, the length (big-endian, counting itself), the payload.
Bytes segment(std::uint8_t marker, const Bytes& payload);
/// A JFIF APP0 segment, as cameras and editors write it first.
Bytes jfifSegment();
/// The two joined.
Bytes join(Bytes first, const Bytes& second);

/// Where a JPEG's Exif segment lies, [start, end): the first APP1 segment that begins "Exif\0\0"
/// before the image data; {0, 0} when there is none.
std::pair<std::size_t, std::size_t> exifSegmentOf(const Bytes& file);
/// The file without its Exif segment (as it is when it has none).
Bytes withoutExifSegment(const Bytes& file);

/// A small valid JPEG body (quantisation and Huffman tables, one 8x8 scan, end of image).
const Bytes& tinyJpegScan();

/// A Nikon type-3 maker note (little-endian, with its own TIFF header) of `levels` directories of
/// `entries` entries each: every entry of a directory but the last leads to the next directory.
Bytes latticeNikonNote(std::uint16_t entries, std::uint32_t levels = 5);

/// An ISO base media box: a 32-bit big-endian size (`largeSize`: 1, then a 64-bit size), the type,
/// the payload; a full box puts its version and three flag bytes in front of the payload.
Bytes box(const std::string& type, const Bytes& payload, bool largeSize = false);
Bytes fullBox(const std::string& type, std::uint8_t version, const Bytes& payload);
/// A CR3 cut down to its metadata: ftyp "crx ", then moov holding Canon's uuid box with CMT1 to
/// CMT4 from `tiffs` (TIFF data each; an empty one is left out).
Bytes cr3File(const std::vector<Bytes>& tiffs);

/// How a HEIF file lays out its Exif item.
struct HeifLayout {
    int ilocVersion = 0;
    unsigned offsetSize = 4, lengthSize = 4, baseSize = 0;  // bytes of each iloc field (0, 4 or 8)
    unsigned method = 0;            // 0: in the file; 1: in the meta box's idat; 2: another item's
    std::uint16_t dataReference = 0;
    int extents = 1;                // the item in this many pieces
    bool itemLast = false;          // behind the meta box at the end of the file, else in an mdat before it
    bool largeMdat = false;         // the mdat box with a 64-bit size
};
/// A HEIF photo ("heic") whose Exif item is `item` (the 4-byte header offset included), or none.
Bytes heifFile(const std::optional<Bytes>& item, const HeifLayout& layout = {});
/// An Exif item: the offset field, "Exif\0\0" (or nothing), then the TIFF data.
Bytes exifItem(const Bytes& tiff, bool exifPrefix = true);

/// A PNG chunk: its length, type, data and CRC-32.
Bytes pngChunk(const std::string& type, const Bytes& data);
/// Where a PNG's chunks of a type begin, in order: the offsets of their length fields.
std::vector<std::size_t> pngChunksOf(const Bytes& png, const std::string& type);
/// The PNG with `chunk` put in front of the chunk at `at` (an offset pngChunksOf gave), or taken out
/// (`remove`: the chunk at `at` goes).
Bytes withPngChunk(const Bytes& png, std::size_t at, const Bytes& chunk);
Bytes withoutPngChunk(const Bytes& png, std::size_t at);
/// A WebP chunk: its FourCC, little-endian size, data and pad byte; and a WebP of these chunks.
Bytes riffChunk(const std::string& type, const Bytes& data);
Bytes webpFile(const Bytes& chunks);

void putU16(Bytes& bytes, std::size_t at, std::uint16_t value);
void putU32(Bytes& bytes, std::size_t at, std::uint32_t value);
std::uint16_t getU16(const Bytes& bytes, std::size_t at);
std::uint32_t getU32(const Bytes& bytes, std::size_t at);

}  // namespace fixture
