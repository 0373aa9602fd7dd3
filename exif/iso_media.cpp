// ISO base media files (CR3 raws, HEIF and AVIF photos): a walk of their boxes to the metadata,
// never a load of the file. A box is a 32-bit big-endian size (1: a 64-bit size follows the type;
// 0: to the end of its parent) and a four-character type; a "full box" begins its payload with a
// version byte and three flag bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "exif/exception.h"
#include "exif/format.h"
#include "exif/heif.h"
#include "exif/parser.h"

namespace tagloom {

namespace {

constexpr int kMostBoxes = 4096;          // boxes walked inside one parent: files hold a few dozen
constexpr std::uint64_t kMostExtents = 4096;  // extents listed in one iloc: a grid image's tiles take a few hundred
constexpr std::uint64_t kMostIlocBytes = 0x100000;
// Canon's metadata box inside `moov`.
constexpr std::uint8_t kCanonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                         0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

struct Box {
    char type[5] = {};
    std::uint64_t payload = 0;  // the first byte behind its header (and a uuid box's 16 bytes)
    std::uint64_t end = 0;
    std::uint8_t uuid[16] = {};
    bool found = false;
};

/// Walks the boxes in [from, to) of `parent` ("the file" at the top) until `wanted` says yes;
/// refuses a box smaller than its header or reaching past its parent.
template <typename Wanted>
Box findBox(const SourceBytes& bytes, std::uint64_t from, std::uint64_t to, const char* parent, Wanted wanted) {
    int walked = 0;
    for (std::uint64_t at = from; at < to;) {
        if (++walked > kMostBoxes) throw CExifException(Fault::boxTooMany, {parent});
        std::uint8_t head[16] = {};
        Box box;
        if (to - at < 8) throw CExifException(Fault::boxInParentTooSmall, {parent});
        bytes.copy(at, head, sizeof head);
        std::memcpy(box.type, head + 4, 4);
        for (int i = 0; i < 4; ++i) {
            if (box.type[i] < ' ' || box.type[i] > '~') box.type[i] = '?';  // named in a line as text
        }
        std::uint64_t size = getU32(head, ByteOrder::bigEndian);
        std::uint64_t header = 8;
        if (size == 1) {
            size = (std::uint64_t(getU32(head + 8, ByteOrder::bigEndian)) << 32) | getU32(head + 12, ByteOrder::bigEndian);
            header = 16;
        } else if (size == 0) {
            size = to - at;
        }
        if (std::memcmp(box.type, "uuid", 4) == 0) header += 16;
        if (size < header) throw CExifException(Fault::boxTooSmall, {box.type});
        if (size > to - at) {
            if (std::strcmp(parent, "the file") == 0)
                throw CExifException(Fault::boxPastFile, {box.type});
            throw CExifException(Fault::boxPastParent, {box.type, parent});
        }
        if (header > 16) bytes.copy(at + header - 16, box.uuid, sizeof box.uuid);
        box.payload = at + header;
        box.end = at + size;
        if (wanted(box)) {
            box.found = true;
            return box;
        }
        at += size;
    }
    return Box();
}

Box findBox(const SourceBytes& bytes, std::uint64_t from, std::uint64_t to, const char* parent, const char* type) {
    return findBox(bytes, from, to, parent, [type](const Box& box) { return std::memcmp(box.type, type, 4) == 0; });
}

/// Big-endian fields of a box read into memory, each checked against its end.
class Fields {
public:
    Fields(std::vector<std::uint8_t> bytes, const char* box) : bytes_(std::move(bytes)), box_(box) {}
    std::uint64_t read(unsigned size) {
        if (size != 0 && size != 1 && size != 2 && size != 4 && size != 8)
            throw CExifException(Fault::boxFieldSize, {box_, std::to_string(size)});
        if (size > bytes_.size() - at_) throw CExifException(Fault::boxPastItsEnd, {box_});
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i) value = (value << 8) | bytes_[at_ + i];
        at_ += size;
        return value;
    }
    void skip(std::uint64_t n) {
        if (n > bytes_.size() - at_) throw CExifException(Fault::boxPastItsEnd, {box_});
        at_ += static_cast<std::size_t>(n);
    }

private:
    std::vector<std::uint8_t> bytes_;
    const char* box_;
    std::size_t at_ = 0;
};

std::vector<std::uint8_t> payloadOf(const SourceBytes& bytes, const Box& box, std::uint64_t most) {
    if (box.end - box.payload > most) throw CExifException(Fault::boxTooLarge, {box.type});
    std::vector<std::uint8_t> payload(static_cast<std::size_t>(box.end - box.payload));
    bytes.copy(box.payload, payload.data(), payload.size());
    return payload;
}

struct Extent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

}  // namespace

// CR3: `moov` holds Canon's uuid box, which holds CMT1 (IFD0), CMT2 (the Exif sub-directory), CMT3
// (the maker note) and CMT4 (GPS data), each TIFF data of its own whose offsets count from its
// payload. IFD0 is read here; readCanonBoxes reads the others.
Located locateCr3(const SourceBytes& bytes, const Reading&) {
    const std::uint64_t length = bytes.length();
    const Box moov = findBox(bytes, 0, length, "the file", "moov");
    const Box canon = moov.found ? findBox(bytes, moov.payload, moov.end, "moov", [](const Box& box) {
        return std::memcmp(box.type, "uuid", 4) == 0 && std::memcmp(box.uuid, kCanonUuid, 16) == 0;
    })
                                 : Box();
    if (!canon.found) throw CExifException(Fault::cr3WithoutCanonBox);
    static const char* const kNames[4] = {"CMT1", "CMT2", "CMT3", "CMT4"};
    std::array<CanonBox, 4> boxes;
    ByteOrder first = ByteOrder::littleEndian;
    for (std::size_t i = 0; i < 4; ++i) {
        const Box box = findBox(bytes, canon.payload, canon.end, "uuid", kNames[i]);
        if (!box.found) continue;
        std::uint8_t head[8] = {};
        ByteOrder order = ByteOrder::littleEndian;
        if (box.end - box.payload < 8 || bytes.copy(box.payload, head, 8) != 8 || !orderOf(head, order) ||
            getU16(head + 2, order) != 42)
            throw CExifException(Fault::boxWithoutTiff, {kNames[i]});
        if (box.end > UINT32_MAX) throw CExifException(Fault::boxPast4GiB, {kNames[i]});
        if (i > 0 && boxes[0].end != 0 && order != first) throw CExifException(Fault::cr3OrdersDiffer);
        if (i == 0) first = order;
        boxes[i] = {box.payload, box.end};
    }
    if (boxes[0].end == 0) throw CExifException(Fault::cr3WithoutIfd0);
    Located found = takeTiff(bytes, Layout::canonBoxesRaw, boxes[0].start, boxes[0].end);
    found.boxes = boxes;
    return found;
}

void CExifParser::readCanonBoxes() {
    // No box points at another: each directory's entry is made here (as for a DNG's kept note) and
    // followed through a view of its own box.
    const ViewScope scope(view_);
    const TopDirectory* interop = nullptr;
    for (const TopDirectory& top : kTopDirectories) {
        if (top.pointerTag == tag::kInteropIfdPointer) interop = &top;
    }
    for (const TopDirectory& top : kTopDirectories) {
        if (top.holder == nullptr || top.cr3Box < 0 || located_.boxes[std::size_t(top.cr3Box)].end == 0) continue;
        const CanonBox& box = located_.boxes[std::size_t(top.cr3Box)];
        std::uint8_t head[8] = {};
        bytes_->copy(box.start, head, sizeof head);
        const std::uint32_t directory = getU32(head + 4, image_.byteOrder);
        std::uint8_t count[2] = {0, 1};  // a directory that cannot be read is followed, and refused there
        if (directory < box.end - box.start) bytes_->copy(box.start + directory, count, sizeof count);
        if (getU16(count, image_.byteOrder) == 0) continue;  // an empty directory leads nowhere
        view_ = TiffView(*bytes_, box.start, box.end, image_.byteOrder);
        CExifDirectory& holder = image_.*top.holder;
        CExifEntry* pointer = nullptr;
        if (top.isPointerValue) {
            const std::uint64_t declared = box.end - box.start - std::min<std::uint64_t>(directory, box.end - box.start);
            pointer = new CExifEntry(&holder, top.pointerTag, fieldType::kUndefined, static_cast<std::uint32_t>(declared),
                                     exif::kInlineValueSize);
            pointer->storedOffset = directory;
        } else {
            pointer = new CExifEntry(&holder, top.pointerTag, fieldType::kLong, 1, exif::kInlineValueSize);
            putU32(pointer->data.data(), directory, image_.byteOrder);
        }
        holder.insertInTagOrder(pointer);
        followTop(top);
        if (&(image_.*top.directory) == &image_.subIfd && interop != nullptr) followTop(*interop);
    }
}

bool HeifBox::is(const char* name) const { return std::memcmp(type, name, 4) == 0; }

const IlocItem* Iloc::find(std::uint32_t id) const {
    for (const IlocItem& item : items) {
        if (item.id == id) return &item;
    }
    return nullptr;
}

std::vector<std::uint8_t> Iloc::payload() const {
    std::vector<std::uint8_t> out;
    const auto put = [&out](std::uint64_t value, unsigned size) {
        if (size < 8 && value >> (8 * size) != 0) throw CExifException(Fault::heifFieldTooSmall, {std::to_string(size)});
        for (unsigned i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    put(version, 1);
    put(flags, 3);
    put(offsetSize << 4 | lengthSize, 1);
    put(baseSize << 4 | (version == 0 ? 0 : indexSize), 1);
    const unsigned idSize = version < 2 ? 2 : 4;
    put(items.size(), idSize);
    for (const IlocItem& item : items) {
        put(item.id, idSize);
        if (version > 0) put(item.method, 2);
        put(item.reference, 2);
        put(item.base, baseSize);
        put(item.extents.size(), 2);
        for (const IlocExtent& extent : item.extents) {
            if (version > 0) put(extent.index, indexSize);
            put(extent.offset, offsetSize);
            put(extent.length, lengthSize);
        }
    }
    return out;
}

const HeifBox* HeifMeta::child(const char* type) const {
    for (const HeifBox& box : children) {
        if (box.is(type)) return &box;
    }
    return nullptr;
}

namespace {

HeifBox spanOf(const Box& box, std::uint64_t start) {
    HeifBox span;
    std::memcpy(span.type, box.type, 4);
    span.start = start;
    span.payload = box.payload;
    span.end = box.end;
    return span;
}

/// The boxes in [from, to) of `parent`, in order.
std::vector<HeifBox> boxesIn(const SourceBytes& bytes, std::uint64_t from, std::uint64_t to, const char* parent) {
    std::vector<HeifBox> boxes;
    std::uint64_t at = from;
    findBox(bytes, from, to, parent, [&](const Box& box) {
        boxes.push_back(spanOf(box, at));
        at = box.end;
        return false;
    });
    return boxes;
}

Iloc readIloc(const SourceBytes& bytes, const HeifBox& box) {
    Fields fields(payloadOf(bytes, Box{{}, box.payload, box.end, {}, true}, kMostIlocBytes), "iloc");
    Iloc iloc;
    iloc.version = static_cast<std::uint8_t>(fields.read(1));
    iloc.flags = static_cast<std::uint32_t>(fields.read(2) << 8 | fields.read(1));
    const auto sizes = static_cast<unsigned>(fields.read(1));
    const auto more = static_cast<unsigned>(fields.read(1));
    iloc.offsetSize = sizes >> 4, iloc.lengthSize = sizes & 15, iloc.baseSize = more >> 4;
    iloc.indexSize = iloc.version == 0 ? 0 : more & 15;
    if (iloc.version > 2) throw CExifException(Fault::heifVersion, {"iloc", std::to_string(iloc.version)});
    const std::uint64_t count = fields.read(iloc.version < 2 ? 2 : 4);
    std::uint64_t listed = 0;  // items and extents walked: fields of no bytes cost nothing to list
    for (std::uint64_t i = 0; i < count; ++i) {
        IlocItem item;
        item.id = static_cast<std::uint32_t>(fields.read(iloc.version < 2 ? 2 : 4));
        if (iloc.version > 0) item.method = static_cast<std::uint16_t>(fields.read(2));
        item.reference = static_cast<std::uint16_t>(fields.read(2));
        item.base = fields.read(iloc.baseSize);
        const std::uint64_t extentCount = fields.read(2);
        listed += 1 + extentCount;
        if (listed > kMostExtents) throw CExifException(Fault::ilocTooLong);
        for (std::uint64_t e = 0; e < extentCount; ++e) {
            IlocExtent extent;
            extent.index = fields.read(iloc.indexSize);
            extent.offset = fields.read(iloc.offsetSize);
            extent.length = fields.read(iloc.lengthSize);
            item.extents.push_back(extent);
        }
        iloc.items.push_back(std::move(item));
    }
    return iloc;
}

/// The primary item's size: the `ispe` property that `ipma` gives it in `iprp`.
FrameSize primarySizeOf(const SourceBytes& bytes, const HeifMeta& heif) {
    const HeifBox* iprp = heif.child("iprp");
    if (iprp == nullptr) return {};
    const Box ipco = findBox(bytes, iprp->payload, iprp->end, "iprp", "ipco");
    const Box ipma = findBox(bytes, iprp->payload, iprp->end, "iprp", "ipma");
    if (!ipco.found || !ipma.found) return {};
    const std::vector<HeifBox> properties = boxesIn(bytes, ipco.payload, ipco.end, "ipco");
    Fields fields(payloadOf(bytes, ipma, kMostIlocBytes), "ipma");
    const auto version = fields.read(1);
    const auto flags = fields.read(1) << 16 | fields.read(2);
    const std::uint64_t count = fields.read(4);
    for (std::uint64_t i = 0; i < count && i < kMostExtents; ++i) {
        const std::uint64_t id = fields.read(version < 1 ? 2 : 4);
        const std::uint64_t associations = fields.read(1);
        for (std::uint64_t a = 0; a < associations; ++a) {
            const std::uint64_t index = (flags & 1) != 0 ? fields.read(2) & 0x7FFF : fields.read(1) & 0x7F;
            if (id != heif.primary || index == 0 || index > properties.size() || !properties[index - 1].is("ispe")) continue;
            std::uint8_t size[12] = {};
            const HeifBox& ispe = properties[index - 1];
            if (ispe.end - ispe.payload < sizeof size) continue;
            bytes.copy(ispe.payload, size, sizeof size);
            return {getU32(size + 4, ByteOrder::bigEndian), getU32(size + 8, ByteOrder::bigEndian)};
        }
    }
    return {};
}

}  // namespace

HeifMeta readHeifMeta(const SourceBytes& bytes) {
    const std::uint64_t length = bytes.length();
    HeifMeta heif;
    std::uint64_t at = 0;
    const Box meta = findBox(bytes, 0, length, "the file", [&](const Box& box) {
        if (std::memcmp(box.type, "moov", 4) == 0) heif.hasMovie = true;
        if (std::memcmp(box.type, "meta", 4) == 0) return true;
        at = box.end;
        return false;
    });
    if (!meta.found || meta.end - meta.payload < 4) throw CExifException(Fault::noExifToCopy);
    try {
        if (findBox(bytes, meta.end, length, "the file", "moov").found) heif.hasMovie = true;
    } catch (const CExifException&) {
        // boxes behind meta that do not walk are copied as they are; a reader refuses them anyway
    }
    heif.meta = spanOf(meta, at);
    heif.children = boxesIn(bytes, meta.payload + 4, meta.end, "meta");  // a full box

    if (const HeifBox* pitm = heif.child("pitm")) {
        std::uint8_t field[8] = {};
        bytes.copy(pitm->payload, field, sizeof field);
        heif.primary = field[0] == 0 ? getU16(field + 4, ByteOrder::bigEndian) : getU32(field + 4, ByteOrder::bigEndian);
    }
    if (const HeifBox* iinf = heif.child("iinf")) {
        // Its entries: infe versions 2 and 3 name their type.
        bytes.copy(iinf->payload, &heif.iinfVersion, 1);
        const std::uint64_t infeFrom = iinf->payload + 4 + (heif.iinfVersion == 0 ? 2 : 4);
        if (infeFrom > iinf->end) throw CExifException(Fault::boxPastItsEnd, {"iinf"});
        for (const HeifBox& infe : boxesIn(bytes, infeFrom, iinf->end, "iinf")) {
            if (!infe.is("infe")) continue;
            std::uint8_t field[16] = {};
            bytes.copy(infe.payload, field, sizeof field);
            if (field[0] < 2) continue;
            const unsigned idSize = field[0] == 2 ? 2 : 4;
            if (infe.end - infe.payload < 4 + idSize + 2 + 4) continue;
            const std::uint32_t id = idSize == 2 ? getU16(field + 4, ByteOrder::bigEndian) : getU32(field + 4, ByteOrder::bigEndian);
            heif.itemIds.push_back(id);
            if (std::memcmp(field + 4 + idSize + 2, "Exif", 4) == 0) heif.exifItems.push_back(id);
        }
    }
    if (const HeifBox* iloc = heif.child("iloc")) {
        heif.iloc = readIloc(bytes, *iloc);
        heif.hasIloc = true;
    }
    heif.primarySize = primarySizeOf(bytes, heif);
    return heif;
}

// HEIF and AVIF: `meta` lists the items (`iinf`) and where their bytes lie (`iloc`); the Exif item
// begins with the offset of its TIFF header behind that field (phones write "Exif\0\0" there). The
// item is read into memory. A destination (--all-formats) keeps the rest of its file as it is: one
// whose items could not be moved safely is refused here.
Located locateHeif(const SourceBytes& bytes, const Reading& reading) {
    const std::uint64_t length = bytes.length();
    const HeifMeta heif = readHeifMeta(bytes);
    if (!reading.source) {
        if (heif.hasMovie) throw CExifException(Fault::heifSequence);
        if (heif.iinfVersion > 1) throw CExifException(Fault::heifVersion, {"iinf", std::to_string(heif.iinfVersion)});
        if (heif.exifItems.size() > 1) throw CExifException(Fault::twoExifParts, {"Exif items"});
        for (const IlocItem& item : heif.iloc.items) {
            for (const IlocExtent& extent : item.extents) {
                const std::uint64_t at = item.base + extent.offset;
                if (item.method == 0 && at >= heif.meta.start && at < heif.meta.end)
                    throw CExifException(Fault::heifItemInMeta, {std::to_string(item.id)});
            }
        }
    }
    const auto empty = [&heif] {
        Located found = withoutExif(Layout::heifWithoutExif);
        found.frame = heif.primarySize;
        return found;
    };
    if (heif.exifItems.empty()) {
        if (reading.source) throw CExifException(Fault::noExifToCopy);
        return empty();
    }
    const IlocItem* exif = heif.hasIloc ? heif.iloc.find(heif.exifItems.front()) : nullptr;
    if (exif == nullptr || exif->extents.empty()) throw CExifException(Fault::exifItemUnreadable);
    if ((exif->method & 15) > 1 || exif->reference != 0) throw CExifException(Fault::exifItemUnreadable);
    if (!reading.source && exif->extents.size() > 1) throw CExifException(Fault::exifItemScattered);
    // A stripped destination's item may be left with one extent of length 0 (exiftool's way of
    // emptying it), which the standard reads as running to the end: where no Exif data begins
    // there it is empty, and the new data goes elsewhere; where some does, its length is unknown.
    if (!reading.source && exif->extents.front().length == 0 && (exif->method & 15) == 0) {
        std::uint8_t head[12] = {};
        const std::uint64_t at = exif->base + exif->extents.front().offset;
        ByteOrder order;
        const bool exifThere = bytes.copy(at, head, 4) == 4 && getU32(head, ByteOrder::bigEndian) <= 64 &&
                               bytes.copy(at + 4 + getU32(head, ByteOrder::bigEndian), head + 4, 8) == 8 && orderOf(head + 4, order);
        if (exifThere) throw CExifException(Fault::exifItemUnreadable);
        return empty();
    }

    // Method 0: offsets in the file; 1: in the meta box's idat. A length of 0 runs to the end.
    std::uint64_t from = 0, to = length;
    if ((exif->method & 15) == 1) {
        const HeifBox* idat = heif.child("idat");
        if (idat == nullptr) throw CExifException(Fault::exifItemUnreadable);
        from = idat->payload;
        to = idat->end;
    }
    std::vector<std::uint8_t> item;
    for (const IlocExtent& extent : exif->extents) {
        const std::uint64_t offset = exif->base + extent.offset;
        if (offset < exif->base || offset > to - from) throw CExifException(Fault::exifItemPastFile);
        const std::uint64_t piece = extent.length == 0 ? to - from - offset : extent.length;
        if (piece > to - from - offset) throw CExifException(Fault::exifItemPastFile);
        if (piece > exif::kMaxHeldBytes - item.size()) throw CExifException(Fault::tooMuchHeld);
        const std::size_t at = item.size();
        item.resize(at + static_cast<std::size_t>(piece));
        bytes.copy(from + offset, item.data() + at, piece);
    }
    std::uint8_t field[4] = {};
    std::copy_n(item.begin(), std::min<std::size_t>(4, item.size()), field);
    const std::uint64_t tiff = 4 + std::uint64_t(getU32(field, ByteOrder::bigEndian));
    if (item.size() < 4 || tiff > item.size() || item.size() - tiff < 8)
        throw CExifException(Fault::exifItemUnreadable);
    auto inMemory = std::make_unique<SourceBytes>(item.data(), item.size());
    Located found = takeTiff(*inMemory, reading.source ? Layout::heifItem : Layout::heifFile, tiff, item.size());
    if (!reading.source) {
        found.headerStart = found.segmentStart = tiff;
        inMemory->copy(tiff, found.header, 8);
        found.frame = heif.primarySize;
    }
    found.item = std::move(inMemory);
    return found;
}

}  // namespace tagloom
