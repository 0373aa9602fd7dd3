// The image model: constructors, destructors and the small operations on the records.
#include "exif/image.h"

#include <cstdio>
#include <cstring>

#include "exif/format.h"

namespace tagloom {

CExifEntry::CExifEntry(CExifDirectory* ownerDirectory, std::uint16_t entryTag, std::uint16_t fieldType,
                       std::uint32_t valueCount, std::uint32_t dataSize)
    : directory(ownerDirectory), tag(entryTag), type(fieldType), count(valueCount), size(dataSize), data(dataSize) {}

std::uint32_t CExifEntry::valueAsU32() const {
    std::uint8_t bytes[4] = {};
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i) bytes[i] = data[i];
    const bool known = directory != nullptr && directory->owner != nullptr;
    return getU32(bytes, known ? directory->owner->orderOf(*directory) : ByteOrder::littleEndian);
}

const char* changeWord(const CExifEntry& entry) {
    if (entry.removed) return "remove";
    switch (entry.change) {
        case CExifEntry::Change::added: return "add";
        case CExifEntry::Change::changed: return "change";
        case CExifEntry::Change::none: break;
    }
    return "";
}

std::string entryPart(const CExifDirectory& directory, std::uint16_t tag) {
    char part[32];
    std::snprintf(part, sizeof part, "%s:0x%04x", directory.name().c_str(), tag);
    return part;
}

void CExifImage::setByteOrder(ByteOrder order) {
    byteOrder = makerNoteOrder = order;
    const std::uint8_t mark = order == ByteOrder::littleEndian ? 'I' : 'M';
    std::uint8_t* tiffHeader = header + (base - headerStart);
    tiffHeader[0] = tiffHeader[1] = mark;
    putU16(tiffHeader + 2, 42, order);
}

CExifDirectory::CExifDirectory(const CExifDirectory* predecessor)
    : owner(predecessor->owner), prefix(predecessor->prefix), index(predecessor->index + 1), role(predecessor->role) {}

CExifDirectory::~CExifDirectory() {
    entries.removeAll();
    next.reset();
}

void CExifDirectory::insertInTagOrder(CExifEntry* entry) {
    CExifEntry* greater = entries.first();
    while (greater != nullptr && greater->tag <= entry->tag) greater = entries.next(greater);
    if (greater != nullptr) {
        entries.insertBefore(greater, entry);
    } else {
        entries.append(entry);
    }
}

CExifEntry* CExifDirectory::findEntry(std::uint16_t wanted) {
    for (CExifEntry* entry = entries.first(); entry != nullptr; entry = entries.next(entry)) {
        if (entry->tag == wanted) return entry;
    }
    return nullptr;
}

const CExifEntry* CExifDirectory::findEntry(std::uint16_t wanted) const {
    return const_cast<CExifDirectory*>(this)->findEntry(wanted);
}

const TopDirectory kTopDirectories[top::kCount] = {
    //                                                                                   chains anySize pointerValue
    {&CExifImage::ifd0, nullptr, top::kIfd0, 0, "IFD", nullptr, true, false, false, "IFD0", TagTable::main, 0},
    {&CExifImage::subIfd, &CExifImage::ifd0, top::kIfd0, tag::kExifIfdPointer, "SUB", "SubPtr", true, true, false, "Exif",
     TagTable::main, 1},
    {&CExifImage::makerNote, &CExifImage::subIfd, top::kExif, tag::kMakerNote, "MAK", "Maker Note", false, true, true,
     "MakerNote", TagTable::none, 2},
    {&CExifImage::gpsIfd, &CExifImage::ifd0, top::kIfd0, tag::kGpsIfdPointer, "GPS", "GpsPtr", false, false, false, "GPS",
     TagTable::gps, 3},
    {&CExifImage::interopIfd, &CExifImage::subIfd, top::kExif, tag::kInteropIfdPointer, "INT", "InteropPtr", false, false,
     false, "Interop", TagTable::interop, -1},
};

CExifImage::CExifImage() {
    for (const TopDirectory& top : kTopDirectories) {
        (this->*top.directory).owner = this;
        (this->*top.directory).prefix = top.prefix;
        (this->*top.directory).role = &top;
    }
}

CExifImage::~CExifImage() {
    closeFiles();
}

void CExifImage::closeFiles() {
    if (fileOpen) {
        file = platform::File();
        fileOpen = false;
    }
}

std::vector<const CExifEntry*> CExifImage::positionEntries() const {
    std::vector<const CExifEntry*> found;
    const MakerNoteKind* camera = cameraKind();
    if (camera == nullptr || camera->position.tag == 0 || carriesPreview(camera->position.tag)) return found;
    for (const CExifEntry* entry = makerNote.entries.first(); entry != nullptr; entry = makerNote.entries.next(entry)) {
        if (entry->tag == camera->position.tag && !entry->removed && !entry->holdsDirectory && entry->valueAsU32() != 0)
            found.push_back(entry);
    }
    return found;
}

std::uint32_t CExifImage::numberIn(const CExifDirectory& directory, std::uint16_t tag) const {
    const CExifEntry* entry = directory.findEntry(tag);
    if (entry == nullptr || entry->removed) return 0;
    const ByteOrder order = orderOf(directory);
    if (entry->type == fieldType::kShort && entry->size >= 2) return getU16(entry->data.data(), order);
    if (entry->type == fieldType::kLong && entry->size >= 4) return getU32(entry->data.data(), order);
    return 0;
}

const MakerNoteKind* CExifImage::cameraKind() const {
    const CExifEntry* make = ifd0.findEntry(tag::kMake);
    if (make == nullptr) return nullptr;
    return makerNoteKindOfMake(reinterpret_cast<const char*>(make->data.data()), make->size);
}

}  // namespace tagloom
