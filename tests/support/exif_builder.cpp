#include "tests/support/exif_builder.h"

#include <zlib.h>

#include "tests/support/tags.h"

#include <algorithm>

namespace fixture {
namespace {

using namespace fixture::tags;

std::uint32_t even(std::size_t n) { return static_cast<std::uint32_t>((n + 1) & ~std::size_t(1)); }

std::uint32_t directorySize(const Directory& directory) {
    std::uint32_t size = 2 + 12 * static_cast<std::uint32_t>(directory.entries.size()) + 4;
    for (const Entry& e : directory.entries) {
        if (!e.valueField && e.bytes.size() > 4) size += even(e.bytes.size());
    }
    return size;
}

void insertSorted(Directory& directory, Entry added) {
    for (const Entry& e : directory.entries) {
        if (e.tag == added.tag) return;  // the test laid it out itself
    }
    auto at = std::find_if(directory.entries.begin(), directory.entries.end(),
                           [&](const Entry& e) { return e.tag > added.tag; });
    directory.entries.insert(at, std::move(added));
}

Entry* find(Directory& directory, std::uint16_t tag) {
    for (Entry& e : directory.entries) {
        if (e.tag == tag) return &e;
    }
    return nullptr;
}

void putField(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t width, bool bigEndian);

void setPointer(Directory& directory, std::uint16_t tag, std::uint32_t value, bool bigEndian) {
    if (Entry* e = find(directory, tag); e != nullptr && e->bytes.size() >= 4 && !e->valueField) {
        putField(e->bytes, 0, value, 4, bigEndian);
    }
}

/// A 16- or 32-bit field of the TIFF structure, in the file's byte order.
void putField(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t width, bool bigEndian) {
    for (std::size_t i = 0; i < width; ++i)
        bytes[at + (bigEndian ? width - 1 - i : i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void writeDirectory(Bytes& tiff, std::uint32_t at, const Directory& directory, std::uint32_t next, bool big) {
    const auto putU16 = [&](Bytes& bytes, std::size_t where, std::uint16_t value) { putField(bytes, where, value, 2, big); };
    const auto putU32 = [&](Bytes& bytes, std::size_t where, std::uint32_t value) { putField(bytes, where, value, 4, big); };
    const auto n = static_cast<std::uint32_t>(directory.entries.size());
    if (tiff.size() < at + directorySize(directory)) tiff.resize(at + directorySize(directory));
    putU16(tiff, at, static_cast<std::uint16_t>(n));
    std::uint32_t data = at + 2 + 12 * n + 4;
    for (std::uint32_t i = 0; i < n; ++i) {
        const Entry& e = directory.entries[i];
        const std::uint32_t slot = at + 2 + 12 * i;
        putU16(tiff, slot, e.tag);
        putU16(tiff, slot + 2, e.type);
        putU32(tiff, slot + 4, e.count);
        if (e.valueField) {
            putU32(tiff, slot + 8, *e.valueField);
        } else if (e.bytes.size() <= 4) {
            std::copy(e.bytes.begin(), e.bytes.end(), tiff.begin() + slot + 8);
        } else {
            putU32(tiff, slot + 8, data);
            std::copy(e.bytes.begin(), e.bytes.end(), tiff.begin() + data);
            data += even(e.bytes.size());
        }
    }
    putU32(tiff, at + 2 + 12 * n, directory.nextOffset.value_or(next));
}

}  // namespace

Entry ascii(std::uint16_t tag, const std::string& text) {
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return entry(tag, 2, static_cast<std::uint32_t>(bytes.size()), bytes);
}

Entry shortValue(std::uint16_t tag, std::uint16_t value) {
    Bytes bytes(2);
    putU16(bytes, 0, value);
    return entry(tag, 3, 1, bytes);
}

Entry longValue(std::uint16_t tag, std::uint32_t value) {
    Bytes bytes(4);
    putU32(bytes, 0, value);
    return entry(tag, 4, 1, bytes);
}

Entry rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
    Bytes bytes(8);
    putU32(bytes, 0, numerator);
    putU32(bytes, 4, denominator);
    return entry(tag, 5, 1, bytes);
}

Entry undefinedBytes(std::uint16_t tag, const Bytes& bytes) {
    return entry(tag, 7, static_cast<std::uint32_t>(bytes.size()), bytes);
}

Entry entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, const Bytes& bytes) {
    Entry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    e.bytes = bytes;
    return e;
}

ExifBuilder ExifBuilder::jpeg() { return ExifBuilder(); }

ExifBuilder ExifBuilder::raw() {
    ExifBuilder builder;
    builder.raw_ = true;
    builder.ifd0Offset_ = 16;
    return builder;
}

ExifBuilder& ExifBuilder::ifd0(std::vector<Entry> entries) {
    ifd0Chain_[0].entries = std::move(entries);
    return *this;
}

ExifBuilder& ExifBuilder::ifd1(std::vector<Entry> entries) {
    ifd0Chain_.resize(std::max<std::size_t>(ifd0Chain_.size(), 2));
    ifd0Chain_[1].entries = std::move(entries);
    return *this;
}

ExifBuilder& ExifBuilder::chainAfterIfd0(std::vector<Entry> entries) {
    ifd0Chain_.push_back(Directory{std::move(entries), std::nullopt});
    return *this;
}

ExifBuilder& ExifBuilder::subIfd(std::vector<Entry> entries) {
    if (subChain_.empty()) subChain_.emplace_back();
    subChain_[0].entries = std::move(entries);
    return *this;
}

ExifBuilder& ExifBuilder::chainAfterSubIfd(std::vector<Entry> entries) {
    if (subChain_.empty()) subChain_.emplace_back();
    subChain_.push_back(Directory{std::move(entries), std::nullopt});
    return *this;
}

ExifBuilder& ExifBuilder::makerNote(std::vector<Entry> entries) {
    makerNote_ = Directory{std::move(entries), std::nullopt};
    if (subChain_.empty()) subChain_.emplace_back();
    return *this;
}

ExifBuilder& ExifBuilder::gps(std::vector<Entry> entries) {
    gps_ = Directory{std::move(entries), std::nullopt};
    return *this;
}

ExifBuilder& ExifBuilder::interop(std::vector<Entry> entries) {
    interop_ = Directory{std::move(entries), std::nullopt};
    if (subChain_.empty()) subChain_.emplace_back();
    return *this;
}

ExifBuilder& ExifBuilder::thumbnail(Bytes bytes) {
    thumbnail_ = std::move(bytes);
    ifd0Chain_.resize(std::max<std::size_t>(ifd0Chain_.size(), 2));
    return *this;
}

ExifBuilder& ExifBuilder::imageData(Bytes bytes) {
    imageData_ = std::move(bytes);
    return *this;
}

ExifBuilder& ExifBuilder::app1Length(std::uint16_t length) {
    app1Length_ = length;
    return *this;
}

ExifBuilder& ExifBuilder::ifd0Offset(std::uint32_t offset) {
    ifd0Offset_ = offset;
    return *this;
}

ExifBuilder& ExifBuilder::padding(std::uint32_t bytes) {
    padding_ = bytes;
    return *this;
}

ExifBuilder& ExifBuilder::noAutoPointers() {
    autoPointers_ = false;
    return *this;
}

Layout ExifBuilder::layout() const {
    Layout layout;
    build(layout);
    return layout;
}

Bytes ExifBuilder::build() const {
    Layout layout;
    return build(layout);
}

Bytes ExifBuilder::build(Layout& layout) const {
    std::vector<Directory> ifd0Chain = ifd0Chain_;
    std::vector<Directory> subChain = subChain_;
    std::optional<Directory> makerNote = makerNote_;
    if (autoPointers_) {
        if (!subChain.empty()) insertSorted(ifd0Chain[0], longValue(kExifIfdPointer, 0));
        if (gps_) insertSorted(ifd0Chain[0], longValue(kGpsIfdPointer, 0));
        if (interop_) insertSorted(subChain[0], longValue(kInteropIfdPointer, 0));
        if (makerNote || makerNoteBytes_) {
            Entry note = entry(kMakerNote, 7,
                               makerNote ? directorySize(*makerNote) : static_cast<std::uint32_t>(makerNoteBytes_(0).size()), {});
            note.valueField = 0;
            insertSorted(subChain[0], note);
        }
        if (thumbnail_) {
            insertSorted(ifd0Chain[1], longValue(kThumbnailOffset, 0));
            insertSorted(ifd0Chain[1], longValue(kThumbnailLength, 0));
            setPointer(ifd0Chain[1], kThumbnailLength, static_cast<std::uint32_t>(thumbnail_->size()), bigEndian_);
        }
    }

    // Positions, relative to the TIFF header, one block after the other.
    layout.base = raw_ ? 0 : 12 + static_cast<std::uint32_t>(before_.size());
    std::uint32_t position = ifd0Offset_;
    auto place = [&position](const Directory& directory) {
        const std::uint32_t at = position;
        position += directorySize(directory);
        return at;
    };
    std::vector<std::uint32_t> ifd0At, subAt;
    for (const Directory& d : ifd0Chain) ifd0At.push_back(place(d));
    for (const Directory& d : subChain) subAt.push_back(place(d));
    layout.ifd0 = ifd0At[0];
    layout.ifd0Chain.assign(ifd0At.begin() + 1, ifd0At.end());
    if (!subAt.empty()) {
        layout.subIfd = subAt[0];
        layout.subChain.assign(subAt.begin() + 1, subAt.end());
    }
    if (makerNote) layout.makerNote = place(*makerNote);
    if (makerNoteBytes_) {
        layout.makerNote = position;
        position += static_cast<std::uint32_t>(even(makerNoteBytes_(0).size()));
    }
    if (gps_) layout.gps = place(*gps_);
    if (interop_) layout.interop = place(*interop_);
    if (thumbnail_) {
        layout.thumbnail = position;
        position += even(thumbnail_->size());
    }
    position += padding_;

    if (autoPointers_) {
        if (!subChain.empty()) setPointer(ifd0Chain[0], kExifIfdPointer, layout.subIfd, bigEndian_);
        if (gps_) setPointer(ifd0Chain[0], kGpsIfdPointer, layout.gps, bigEndian_);
        if (interop_) setPointer(subChain[0], kInteropIfdPointer, layout.interop, bigEndian_);
        if (makerNote || makerNoteBytes_) {
            if (Entry* note = find(subChain[0], kMakerNote)) note->valueField = layout.makerNote;
        }
        if (thumbnail_) setPointer(ifd0Chain[1], kThumbnailOffset, layout.thumbnail, bigEndian_);
    }

    Bytes tiff(position, 0);
    tiff[0] = tiff[1] = bigEndian_ ? 'M' : 'I';
    putField(tiff, 2, 42, 2, bigEndian_);
    putField(tiff, 4, ifd0Offset_, 4, bigEndian_);
    if (raw_ && ifd0Offset_ >= 16) {
        tiff[8] = 'C';
        tiff[9] = 'R';
        tiff[10] = 2;
    }
    if (magic_) std::copy(magic_->begin(), magic_->end(), tiff.begin());
    const bool big = bigEndian_;
    auto writeChain = [&tiff, big](const std::vector<Directory>& chain, const std::vector<std::uint32_t>& at) {
        for (std::size_t i = 0; i < chain.size(); ++i)
            writeDirectory(tiff, at[i], chain[i], i + 1 < chain.size() ? at[i + 1] : 0, big);
    };
    writeChain(ifd0Chain, ifd0At);
    writeChain(subChain, subAt);
    if (makerNote) writeDirectory(tiff, layout.makerNote, *makerNote, 0, big);
    if (makerNoteBytes_) {
        const Bytes note = makerNoteBytes_(layout.makerNote);
        std::copy(note.begin(), note.end(), tiff.begin() + layout.makerNote);
    }
    if (gps_) writeDirectory(tiff, layout.gps, *gps_, 0, big);
    if (interop_) writeDirectory(tiff, layout.interop, *interop_, 0, big);
    if (thumbnail_) std::copy(thumbnail_->begin(), thumbnail_->end(), tiff.begin() + layout.thumbnail);

    Bytes file;
    if (raw_) {
        file = tiff;
        layout.sectionEnd = 0xFFFF;
        if (imageData_) file.insert(file.end(), imageData_->begin(), imageData_->end());
        return file;
    }
    const std::uint32_t length = app1Length_.value_or(static_cast<std::uint16_t>(tiff.size() + 8));
    const Bytes& body = imageData_ ? *imageData_ : tinyJpegScan();
    const std::uint8_t head[12] = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8),
                                   static_cast<std::uint8_t>(length), 'E', 'x', 'i', 'f', 0, 0};
    file.reserve(sizeof head + before_.size() + tiff.size() + body.size());
    file.insert(file.end(), head, head + 2);
    file.insert(file.end(), before_.begin(), before_.end());
    if (!withoutExif_) {
        file.insert(file.end(), head + 2, head + sizeof head);
        file.insert(file.end(), tiff.begin(), tiff.end());
    }
    file.insert(file.end(), body.begin(), body.end());
    layout.sectionEnd = static_cast<std::uint32_t>(before_.size()) + length + 4;
    return file;
}

ExifBuilder& ExifBuilder::makerNoteBytes(std::function<Bytes(std::uint32_t)> note) {
    makerNoteBytes_ = std::move(note);
    return *this;
}

ExifBuilder& ExifBuilder::segmentsBefore(Bytes segments) {
    before_ = std::move(segments);
    return *this;
}

ExifBuilder& ExifBuilder::magic(const std::string& firstBytes) {
    magic_ = Bytes(firstBytes.begin(), firstBytes.end());
    return *this;
}

ExifBuilder& ExifBuilder::bigEndian() {
    bigEndian_ = true;
    return *this;
}

ExifBuilder& ExifBuilder::withoutExif() {
    withoutExif_ = true;
    return *this;
}

Bytes segment(std::uint8_t marker, const Bytes& payload) {
    Bytes bytes(payload.size() + 4);
    bytes[0] = 0xFF;
    bytes[1] = marker;
    putU16(bytes, 2, static_cast<std::uint16_t>(payload.size() + 2));
    std::swap(bytes[2], bytes[3]);  // the length is big-endian
    std::copy(payload.begin(), payload.end(), bytes.begin() + 4);
    return bytes;
}

Bytes join(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::pair<std::size_t, std::size_t> exifSegmentOf(const Bytes& file) {
    static const char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    for (std::size_t at = 2; at + 10 < file.size() && file[at] == 0xFF && file[at + 1] != 0xDA;) {
        const std::size_t end = std::min(file.size(), at + 2 + ((std::size_t(file[at + 2]) << 8) | file[at + 3]));
        if (file[at + 1] == 0xE1 && std::equal(kExif, kExif + 6, file.begin() + long(at) + 4)) return {at, end};
        at = end;
    }
    return {0, 0};
}

Bytes withoutExifSegment(const Bytes& file) {
    const auto [start, end] = exifSegmentOf(file);
    Bytes rest(file.begin(), file.begin() + long(start));
    rest.insert(rest.end(), file.begin() + long(end), file.end());
    return end == 0 ? file : rest;
}

Bytes jfifSegment() { return segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}); }

const Bytes& tinyJpegScan() {
    static const Bytes scan = {
        0xff, 0xdb, 0x00, 0x43, 0x00, 0x10, 0x0b, 0x0c, 0x0e, 0x0c, 0x0a, 0x10, 0x0e, 0x0d, 0x0e, 0x12, 0x11, 0x10,
        0x13, 0x18, 0x28, 0x1a, 0x18, 0x16, 0x16, 0x18, 0x31, 0x23, 0x25, 0x1d, 0x28, 0x3a, 0x33, 0x3d, 0x3c, 0x39,
        0x33, 0x38, 0x37, 0x40, 0x48, 0x5c, 0x4e, 0x40, 0x44, 0x57, 0x45, 0x37, 0x38, 0x50, 0x6d, 0x51, 0x57, 0x5f,
        0x62, 0x67, 0x68, 0x67, 0x3e, 0x4d, 0x71, 0x79, 0x70, 0x64, 0x78, 0x5c, 0x65, 0x67, 0x63, 0xff, 0xc0, 0x00,
        0x0b, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00, 0xff, 0xc4, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xff, 0xc4, 0x00, 0x14,
        0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0xff, 0xda, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3f, 0x00, 0x1f, 0xff, 0xd9};
    return scan;
}

void putU16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t getU16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t getU32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) | (std::uint32_t(bytes[at + 1]) << 8) | (std::uint32_t(bytes[at + 2]) << 16) |
           (std::uint32_t(bytes[at + 3]) << 24);
}

Bytes latticeNikonNote(std::uint16_t entries, std::uint32_t levels) {
    Bytes note = {'N', 'i', 'k', 'o', 'n', 0, 2, 0, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    const std::uint32_t size = 2 + 12u * entries + 4;
    for (std::uint32_t level = 0; level < levels; ++level) {
        const std::size_t at = note.size();
        note.resize(at + size, 0);
        putU16(note, at, entries);
        for (std::uint32_t i = 0; i < entries; ++i) {
            const std::size_t field = at + 2 + 12 * i;
            const bool leads = level + 1 < levels;
            putU16(note, field, static_cast<std::uint16_t>(i + 1));
            putU16(note, field + 2, leads ? 13 : 3);  // IFD, else SHORT
            putU32(note, field + 4, 1);
            putU32(note, field + 8, leads ? 8 + (level + 1) * size : 0);  // from the note's own TIFF header
        }
    }
    return note;
}

namespace {

void appendBigEndian(Bytes& bytes, std::uint64_t value, unsigned size) {
    for (unsigned i = size; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes box(const std::string& type, const Bytes& payload, bool largeSize) {
    Bytes bytes;
    const std::uint64_t size = payload.size() + (largeSize ? 16 : 8);
    appendBigEndian(bytes, largeSize ? 1 : size, 4);
    bytes.insert(bytes.end(), type.begin(), type.end());
    if (largeSize) appendBigEndian(bytes, size, 8);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Bytes fullBox(const std::string& type, std::uint8_t version, const Bytes& payload) {
    Bytes versioned = {version, 0, 0, 0};
    versioned.insert(versioned.end(), payload.begin(), payload.end());
    return box(type, versioned);
}

Bytes cr3File(const std::vector<Bytes>& tiffs) {
    Bytes canon = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0, 0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
    canon = join(canon, box("CNCV", {'C', 'a', 'n', 'o', 'n', 'C', 'R', '3'}));
    for (std::size_t i = 0; i < tiffs.size(); ++i) {
        if (!tiffs[i].empty()) canon = join(canon, box("CMT" + std::to_string(i + 1), tiffs[i]));
    }
    return join(box("ftyp", {'c', 'r', 'x', ' ', 0, 0, 0, 1, 'c', 'r', 'x', ' ', 'i', 's', 'o', 'm'}),
                box("moov", join(box("uuid", canon), box("mvhd", Bytes(100, 0)))));
}

Bytes exifItem(const Bytes& tiff, bool exifPrefix) {
    Bytes item;
    appendBigEndian(item, exifPrefix ? 6 : 0, 4);
    if (exifPrefix) item.insert(item.end(), {'E', 'x', 'i', 'f', 0, 0});
    return join(item, tiff);
}

Bytes heifFile(const std::optional<Bytes>& item, const HeifLayout& layout) {
    const Bytes ftyp = box("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'});
    const Bytes data = item.value_or(Bytes(16, 0));
    // The meta box for the item at `itemAt` (a file position, or a position in idat).
    const auto meta = [&](std::uint64_t itemAt) {
        Bytes infe = {0, 1, 0, 0};  // item 1, no protection
        infe.insert(infe.end(), item ? "Exif" : "hvc1", (item ? "Exif" : "hvc1") + 4);
        infe.push_back(0);
        Bytes iinf = {0, 1};
        iinf = join(iinf, fullBox("infe", 2, infe));
        Bytes iloc = {static_cast<std::uint8_t>(layout.offsetSize << 4 | layout.lengthSize),
                      static_cast<std::uint8_t>(layout.baseSize << 4)};
        appendBigEndian(iloc, 1, layout.ilocVersion < 2 ? 2 : 4);
        appendBigEndian(iloc, 1, layout.ilocVersion < 2 ? 2 : 4);
        if (layout.ilocVersion > 0) appendBigEndian(iloc, layout.method, 2);
        appendBigEndian(iloc, layout.dataReference, 2);
        const std::uint64_t base = layout.baseSize > 0 ? itemAt : 0;
        appendBigEndian(iloc, base, layout.baseSize);
        appendBigEndian(iloc, static_cast<std::uint64_t>(layout.extents), 2);
        const std::size_t piece = data.size() / static_cast<std::size_t>(layout.extents);
        for (int e = 0; e < layout.extents; ++e) {
            const std::size_t from = piece * static_cast<std::size_t>(e);
            const std::size_t length = e + 1 == layout.extents ? data.size() - from : piece;
            appendBigEndian(iloc, itemAt + from - base, layout.offsetSize);
            appendBigEndian(iloc, length, layout.lengthSize);
        }
        Bytes inner = join(fullBox("hdlr", 0, Bytes{0, 0, 0, 0, 'p', 'i', 'c', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                           fullBox("iinf", 0, iinf));
        inner = join(inner, fullBox("iloc", static_cast<std::uint8_t>(layout.ilocVersion), iloc));
        if (layout.method == 1) inner = join(inner, box("idat", data));
        return fullBox("meta", 0, inner);
    };
    if (layout.method == 1) return join(ftyp, meta(0));
    const std::size_t metaSize = meta(0).size();
    if (layout.itemLast) return join(join(ftyp, meta(ftyp.size() + metaSize + 8)), box("mdat", data));
    const std::size_t header = layout.largeMdat ? 16 : 8;
    return join(join(ftyp, box("mdat", data, layout.largeMdat)), meta(ftyp.size() + header));
}

Bytes pngChunk(const std::string& type, const Bytes& data) {
    Bytes chunk;
    appendBigEndian(chunk, data.size(), 4);
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    appendBigEndian(chunk, crc32(crc32(0L, Z_NULL, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4)), 4);
    return chunk;
}

std::vector<std::size_t> pngChunksOf(const Bytes& png, const std::string& type) {
    std::vector<std::size_t> found;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = (std::size_t(png[at]) << 24) | (std::size_t(png[at + 1]) << 16) | (std::size_t(png[at + 2]) << 8) | png[at + 3];
        if (std::equal(type.begin(), type.end(), png.begin() + static_cast<long>(at) + 4)) found.push_back(at);
        at += 12 + length;
    }
    return found;
}

Bytes withPngChunk(const Bytes& png, std::size_t at, const Bytes& chunk) {
    Bytes out(png.begin(), png.begin() + static_cast<long>(at));
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + static_cast<long>(at), png.end());
    return out;
}

Bytes withoutPngChunk(const Bytes& png, std::size_t at) {
    const std::size_t length = (std::size_t(png[at]) << 24) | (std::size_t(png[at + 1]) << 16) | (std::size_t(png[at + 2]) << 8) | png[at + 3];
    Bytes out(png.begin(), png.begin() + static_cast<long>(at));
    out.insert(out.end(), png.begin() + static_cast<long>(at + 12 + length), png.end());
    return out;
}

Bytes riffChunk(const std::string& type, const Bytes& data) {
    Bytes chunk(type.begin(), type.end());
    for (int shift = 0; shift < 32; shift += 8) chunk.push_back(static_cast<std::uint8_t>(data.size() >> shift));
    chunk.insert(chunk.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) chunk.push_back(0);
    return chunk;
}

Bytes webpFile(const Bytes& chunks) {
    Bytes file = {'R', 'I', 'F', 'F'};
    const std::size_t size = chunks.size() + 4;
    for (int shift = 0; shift < 32; shift += 8) file.push_back(static_cast<std::uint8_t>(size >> shift));
    file.insert(file.end(), {'W', 'E', 'B', 'P'});
    file.insert(file.end(), chunks.begin(), chunks.end());
    return file;
}

}  // namespace fixture
