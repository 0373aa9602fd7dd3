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

// HEIF and AVIF: `meta` lists the items (`iinf`) and where their bytes lie (`iloc`); the Exif item
// begins with the offset of its TIFF header behind that field. The item is read into memory.
Located locateHeif(const SourceBytes& bytes, const Reading& reading) {
    if (!reading.source) throw CExifException(Fault::onlyJpegRewritten);
    const std::uint64_t length = bytes.length();
    const Box meta = findBox(bytes, 0, length, "the file", "meta");
    if (!meta.found || meta.end - meta.payload < 4) throw CExifException(Fault::noExifToCopy);
    const std::uint64_t items = meta.payload + 4;  // a full box
    const Box iinf = findBox(bytes, items, meta.end, "meta", "iinf");
    const Box iloc = findBox(bytes, items, meta.end, "meta", "iloc");
    if (!iinf.found) throw CExifException(Fault::noExifToCopy);

    // The item of type "Exif" (infe versions 2 and 3 name their type).
    std::uint8_t version = 0;
    bytes.copy(iinf.payload, &version, 1);
    const std::uint64_t infeFrom = iinf.payload + 4 + (version == 0 ? 2 : 4);
    if (infeFrom > iinf.end) throw CExifException(Fault::boxPastItsEnd, {"iinf"});
    std::uint32_t exifItem = 0;
    const Box exif = findBox(bytes, infeFrom, iinf.end, "iinf", [&](const Box& box) {
        // Version, flags, item id (2 bytes in version 2, else 4), protection index (2), item type (4).
        if (std::memcmp(box.type, "infe", 4) != 0) return false;
        std::uint8_t field[16] = {};
        bytes.copy(box.payload, field, sizeof field);
        if (field[0] < 2) return false;
        const unsigned idSize = field[0] == 2 ? 2 : 4;
        if (box.end - box.payload < 4 + idSize + 2 + 4 || std::memcmp(field + 4 + idSize + 2, "Exif", 4) != 0) return false;
        exifItem = idSize == 2 ? getU16(field + 4, ByteOrder::bigEndian) : getU32(field + 4, ByteOrder::bigEndian);
        return true;
    });
    if (!exif.found) throw CExifException(Fault::noExifToCopy);
    if (!iloc.found) throw CExifException(Fault::exifItemUnreadable);

    // Where its bytes lie: iloc versions 0, 1 and 2.
    Fields fields(payloadOf(bytes, iloc, kMostIlocBytes), "iloc");
    const auto ilocVersion = static_cast<unsigned>(fields.read(1));
    fields.skip(3);
    const auto sizes = static_cast<unsigned>(fields.read(1));
    const auto more = static_cast<unsigned>(fields.read(1));
    const unsigned offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = more >> 4;
    const unsigned indexSize = ilocVersion == 0 ? 0 : more & 15;
    if (ilocVersion > 2) throw CExifException(Fault::exifItemUnreadable);
    const std::uint64_t count = fields.read(ilocVersion < 2 ? 2 : 4);
    std::vector<Extent> extents;
    unsigned method = 0;
    bool located = false;
    std::uint64_t listed = 0;  // items and extents walked: fields of no bytes cost nothing to list
    for (std::uint64_t i = 0; i < count && !located; ++i) {
        const std::uint64_t id = fields.read(ilocVersion < 2 ? 2 : 4);
        if (ilocVersion > 0) method = static_cast<unsigned>(fields.read(2) & 15);
        const std::uint64_t reference = fields.read(2);
        const std::uint64_t base = fields.read(baseSize);
        const std::uint64_t extentCount = fields.read(2);
        listed += 1 + extentCount;
        if (listed > kMostExtents) throw CExifException(Fault::ilocTooLong);
        located = id == exifItem;
        if (located && (method > 1 || reference != 0)) throw CExifException(Fault::exifItemUnreadable);
        for (std::uint64_t e = 0; e < extentCount; ++e) {
            fields.read(indexSize);
            Extent extent;
            extent.offset = base + fields.read(offsetSize);
            extent.length = fields.read(lengthSize);
            if (located) extents.push_back(extent);
        }
    }
    if (!located || extents.empty()) throw CExifException(Fault::exifItemUnreadable);

    // Method 0: offsets in the file; 1: in the meta box's idat. A length of 0 runs to the end.
    std::uint64_t from = 0, to = length;
    if (method == 1) {
        const Box idat = findBox(bytes, items, meta.end, "meta", "idat");
        if (!idat.found) throw CExifException(Fault::exifItemUnreadable);
        from = idat.payload;
        to = idat.end;
    }
    std::vector<std::uint8_t> item;
    for (const Extent& extent : extents) {
        if (extent.offset > to - from) throw CExifException(Fault::exifItemPastFile);
        const std::uint64_t piece = extent.length == 0 ? to - from - extent.offset : extent.length;
        if (piece > to - from - extent.offset) throw CExifException(Fault::exifItemPastFile);
        if (piece > exif::kMaxHeldBytes - item.size()) throw CExifException(Fault::tooMuchHeld);
        const std::size_t at = item.size();
        item.resize(at + static_cast<std::size_t>(piece));
        bytes.copy(from + extent.offset, item.data() + at, piece);
    }
    std::uint8_t field[4] = {};
    std::copy_n(item.begin(), std::min<std::size_t>(4, item.size()), field);
    const std::uint64_t tiff = 4 + std::uint64_t(getU32(field, ByteOrder::bigEndian));
    if (item.size() < 4 || tiff > item.size() || item.size() - tiff < 8)
        throw CExifException(Fault::exifItemUnreadable);
    auto inMemory = std::make_unique<SourceBytes>(item.data(), item.size());
    Located found = takeTiff(*inMemory, Layout::heifItem, tiff, item.size());
    found.item = std::move(inMemory);
    return found;
}

}  // namespace tagloom
