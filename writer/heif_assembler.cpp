// The assembler of HEIF and AVIF photos. The Exif item's data is the offset of its TIFF header behind
// that field (6), "Exif\0\0", then the TIFF data, as phones write it.
//   An Exif item already there: the new data goes where the old lay when it fits (the rest of the old
//   extent zeroed); else into an `mdat` box at the end of the file (the one an earlier run appended
//   there is replaced), and only the item's `iloc` entry changes, in place.
//   No Exif item yet: `meta` gains an `infe` entry, an `iloc` entry and a `cdsc` reference to the
//   primary item (in an `iref` made where there is none); every offset behind the grown `meta` moves by
//   the growth, and the data goes into an `mdat` box at the end.
// Every other byte of the file stays as it was.
#include <algorithm>
#include <cstring>
#include <string>

#include "exif/heif.h"
#include "exif/image.h"
#include "writer/assemblers.h"

namespace tagloom {

using platform::Piece;

namespace {

std::vector<std::uint8_t> exifPayload(const EncodedTiff& tiff) {
    std::vector<std::uint8_t> payload = {0, 0, 0, 6, 'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.bytes.begin(), tiff.bytes.end());
    return payload;
}

std::vector<std::uint8_t> bytesOf(const SourceBytes& bytes, std::uint64_t from, std::uint64_t to) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(to - from));
    bytes.copy(from, out.data(), out.size());
    return out;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, unsigned size) {
    for (unsigned i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

/// The last top-level box when it is an `mdat` that holds exactly the item's data and ends the file:
/// what an earlier rewrite appended, which the new data replaces. Its start; the file's size else.
std::uint64_t appendedBefore(const CExifImage& image, const SourceBytes& bytes, std::uint64_t at, std::uint64_t length) {
    const std::uint64_t size = image.fileStatus.size;
    if (at < 8 || at + length != size) return size;
    std::uint8_t head[8];
    bytes.copy(at - 8, head, sizeof head);
    const bool ours = std::memcmp(head + 4, "mdat", 4) == 0 && getU32(head, ByteOrder::bigEndian) == length + 8;
    return ours ? at - 8 : size;
}

/// The Exif item already there: its data in place, or moved to the end with its iloc entry.
Assembly replaceItem(const CExifImage& image, const SourceBytes& bytes, HeifMeta heif, const std::vector<std::uint8_t>& payload) {
    const auto found = std::find_if(heif.iloc.items.begin(), heif.iloc.items.end(),
                                    [&heif](const IlocItem& item) { return item.id == heif.exifItems.front(); });
    if (found == heif.iloc.items.end() || found->extents.empty() || heif.child("iloc") == nullptr)
        throw CExifException(Fault::exifItemUnreadable);
    IlocItem& item = *found;
    IlocExtent& extent = item.extents.front();
    const HeifBox* idat = heif.child("idat");
    const bool inIdat = (item.method & 15) == 1;
    if (inIdat && idat == nullptr) throw CExifException(Fault::exifItemUnreadable);
    const std::uint64_t from = inIdat ? idat->payload : 0, to = inIdat ? idat->end : image.fileStatus.size;
    const std::uint64_t at = from + item.base + extent.offset;
    // An extent of length 0 is an emptied item (the locator refused one where Exif data begins).
    const std::uint64_t room = extent.length;
    (void)to;
    Assembly assembly;
    if (payload.size() <= room) {
        std::vector<std::uint8_t> written = payload;
        written.resize(static_cast<std::size_t>(room), 0);
        assembly.content = edited(image, {{at, at + room, std::move(written)}});
        return assembly;
    }
    if (inIdat) throw CExifException(Fault::heifNoRoom);
    const std::uint64_t end = appendedBefore(image, bytes, at, room);
    const std::uint64_t dataAt = end + 8;
    if (dataAt < item.base) throw CExifException(Fault::heifFieldTooSmall, {std::to_string(heif.iloc.offsetSize)});
    extent.offset = dataAt - item.base;
    extent.length = payload.size();
    const HeifBox& iloc = *heif.child("iloc");
    std::vector<std::uint8_t> ilocPayload = heif.iloc.payload();  // the same fields: the same size
    std::vector<std::uint8_t> appended = boxHeader("mdat", payload.size());
    appended.insert(appended.end(), payload.begin(), payload.end());
    assembly.content = edited(image, {{iloc.payload, iloc.end, std::move(ilocPayload)}, {end, image.fileStatus.size, std::move(appended)}});
    return assembly;
}

/// No Exif item yet: a new one, meta rebuilt around it.
Assembly addItem(const CExifImage& image, const SourceBytes& bytes, HeifMeta heif, const std::vector<std::uint8_t>& payload) {
    const HeifBox* iinf = heif.child("iinf");
    const HeifBox* iloc = heif.child("iloc");
    const HeifBox* iref = heif.child("iref");
    if (iinf == nullptr || iloc == nullptr || heif.primary == 0) throw CExifException(Fault::exifItemUnreadable);
    std::uint32_t id = 0;
    for (std::uint32_t taken : heif.itemIds) id = std::max(id, taken);
    for (const IlocItem& item : heif.iloc.items) id = std::max(id, item.id);
    if (++id > 0xFFFF || heif.iloc.items.size() >= 0xFFFF) throw CExifException(Fault::heifTooManyItems);

    // iinf: one entry more, and an infe of version 2: id, protection 0, type "Exif", an empty name.
    std::vector<std::uint8_t> newIinf = bytesOf(bytes, iinf->payload, iinf->end);
    const std::size_t countSize = heif.iinfVersion == 0 ? 2 : 4;
    if (newIinf.size() < 4 + countSize) throw CExifException(Fault::boxPastItsEnd, {"iinf"});
    std::uint64_t entries = 0;
    for (std::size_t i = 0; i < countSize; ++i) entries = entries << 8 | newIinf[4 + i];
    if (((entries + 1) >> (8 * countSize)) != 0) throw CExifException(Fault::heifTooManyItems);
    for (std::size_t i = 0; i < countSize; ++i) newIinf[4 + i] = static_cast<std::uint8_t>((entries + 1) >> (8 * (countSize - 1 - i)));
    const std::vector<std::uint8_t> infe = {0, 0, 0, 21, 'i', 'n', 'f', 'e', 2, 0, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id),
                                            0, 0, 'E', 'x', 'i', 'f', 0};
    newIinf.insert(newIinf.end(), infe.begin(), infe.end());

    // iref: a cdsc reference from the new item to the primary one.
    std::vector<std::uint8_t> newIref = iref != nullptr ? bytesOf(bytes, iref->payload, iref->end)
                                                        : std::vector<std::uint8_t>{0, 0, 0, 0};
    if (newIref.size() < 4) throw CExifException(Fault::boxPastItsEnd, {"iref"});
    const unsigned idSize = newIref[0] == 0 ? 2 : 4;
    if (idSize == 2 && heif.primary > 0xFFFF) throw CExifException(Fault::heifTooManyItems);
    std::vector<std::uint8_t> cdsc = boxHeader("cdsc", 2 * idSize + 2);
    putBigEndian(cdsc, id, idSize);
    putBigEndian(cdsc, 1, 2);
    putBigEndian(cdsc, heif.primary, idSize);
    newIref.insert(newIref.end(), cdsc.begin(), cdsc.end());

    // iloc: the new entry, sized as the others; its extent's offset is set below, once the growth is known.
    if (heif.iloc.offsetSize == 0 || heif.iloc.lengthSize == 0)
        throw CExifException(Fault::heifFieldTooSmall, {std::to_string(std::min(heif.iloc.offsetSize, heif.iloc.lengthSize))});
    Iloc located = heif.iloc;
    IlocItem added;
    added.id = id;
    added.extents.push_back({0, 0, payload.size()});
    located.items.push_back(added);
    const std::uint64_t oldIlocSize = iloc->end - iloc->payload;
    const std::uint64_t growth = (newIinf.size() - (iinf->end - iinf->payload)) + (located.payload().size() - oldIlocSize) +
                                 (iref != nullptr ? newIref.size() - (iref->end - iref->payload) : newIref.size() + 8);
    // Every offset into the file behind meta moves by the growth.
    const std::uint64_t metaEnd = heif.meta.end;
    for (IlocItem& item : located.items) {
        if ((item.method & 15) != 0 || item.id == id) continue;
        if (item.base != 0 && item.base >= metaEnd) {
            item.base += growth;
            continue;
        }
        for (IlocExtent& extent : item.extents) {
            if (item.base + extent.offset >= metaEnd) extent.offset += growth;
        }
    }
    const std::uint64_t dataAt = image.fileStatus.size + growth + 8;
    located.items.back().extents.front().offset = dataAt;
    const std::vector<std::uint8_t> newIloc = located.payload();

    // meta: its header with the new size, its version and flags, its boxes with the three rebuilt.
    std::vector<std::uint8_t> children = bytesOf(bytes, heif.meta.payload, heif.meta.payload + 4);
    for (const HeifBox& child : heif.children) {
        const std::vector<std::uint8_t>* rebuilt = child.is("iinf") ? &newIinf : child.is("iloc") ? &newIloc
                                                 : child.is("iref") ? &newIref : nullptr;
        if (rebuilt == nullptr) {
            const std::vector<std::uint8_t> same = bytesOf(bytes, child.start, child.end);
            children.insert(children.end(), same.begin(), same.end());
            continue;
        }
        const std::vector<std::uint8_t> header = boxHeader(child.type, rebuilt->size(), child.payload - child.start == 16);
        children.insert(children.end(), header.begin(), header.end());
        children.insert(children.end(), rebuilt->begin(), rebuilt->end());
    }
    if (iref == nullptr) {
        const std::vector<std::uint8_t> header = boxHeader("iref", newIref.size());
        children.insert(children.end(), header.begin(), header.end());
        children.insert(children.end(), newIref.begin(), newIref.end());
    }
    const bool large = heif.meta.payload - heif.meta.start == 16;
    std::vector<std::uint8_t> meta = boxHeader("meta", children.size(), large);
    if (meta.size() + children.size() != heif.meta.end - heif.meta.start + growth) throw CExifException(Fault::exifItemUnreadable);
    meta.insert(meta.end(), children.begin(), children.end());

    std::vector<std::uint8_t> appended = boxHeader("mdat", payload.size());
    appended.insert(appended.end(), payload.begin(), payload.end());
    Assembly assembly;
    assembly.content = edited(image, {{heif.meta.start, heif.meta.end, std::move(meta)},
                                      {image.fileStatus.size, image.fileStatus.size, std::move(appended)}});
    return assembly;
}

TiffPlacement placeInHeif(const CExifImage& image) {
    TiffPlacement where;
    where.base = image.fileStatus.size + 8 + 10;  // where an appended item's TIFF data begins, for the traces
    return where;
}

Assembly assembleHeif(const CExifImage& image, const EncodedTiff& tiff, const Reporter&) {
    const SourceBytes bytes = oldBytes(image);
    const HeifMeta heif = readHeifMeta(bytes);
    // An extent of length 0 in the file runs to its end: data appended there would become part of it.
    for (const IlocItem& item : heif.iloc.items) {
        const bool emptied = !heif.exifItems.empty() && item.id == heif.exifItems.front();
        for (const IlocExtent& extent : item.extents) {
            if ((item.method & 15) == 0 && extent.length == 0 && !emptied)
                throw CExifException(Fault::heifOpenExtent, {std::to_string(item.id)});
        }
    }
    const std::vector<std::uint8_t> payload = exifPayload(tiff);
    return heif.exifItems.empty() ? addItem(image, bytes, heif, payload) : replaceItem(image, bytes, heif, payload);
}

}  // namespace

const Assembler kHeif = {"HEIF", placeInHeif, assembleHeif};

}  // namespace tagloom
