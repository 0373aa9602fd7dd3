// The image model: constructors, destructors and the small operations on the records.
#include "exif/image.h"

#include <cstring>

#include "exif/format.h"

CExifEntry::CExifEntry(CExifDirectory* ownerDirectory, std::uint16_t entryTag, std::uint16_t fieldType,
                       std::uint32_t valueCount, std::uint32_t dataSize)
    : directory(ownerDirectory), tag(entryTag), type(fieldType), count(valueCount), size(dataSize), data(dataSize) {}

std::uint32_t CExifEntry::valueAsU32() const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i) value |= std::uint32_t(data[i]) << (8 * i);
    return value;
}

CExifDirectory::CExifDirectory(const CExifDirectory* predecessor)
    : owner(predecessor->owner), prefix(predecessor->prefix), index(predecessor->index + 1) {}

CExifDirectory::~CExifDirectory() {
    entries.removeAll();
    next.reset();
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

CExifImage::CExifImage() {
    struct Top {
        CExifDirectory& directory;
        const char* prefix;
    };
    for (const Top& top : {Top{ifd0, "IFD"}, Top{subIfd, "SUB"}, Top{makerNote, "MAK"}, Top{gpsIfd, "GPS"},
                           Top{interopIfd, "INT"}}) {
        top.directory.owner = this;
        top.directory.prefix = top.prefix;
    }
}

CExifImage::~CExifImage() {
    closeFiles();
}

void CExifImage::closeFiles() {
    if (sourceOpen) {
        source = platform::File();
        sourceOpen = false;
    }
    if (targetOpen) {
        target = platform::File();
        targetOpen = false;
    }
}

bool CExifImage::madeBy(const char* prefix) const {
    const CExifEntry* make = ifd0.findEntry(tag::kMake);
    const std::size_t length = std::strlen(prefix);
    return make != nullptr && make->size >= length && std::memcmp(make->data.data(), prefix, length) == 0;
}

namespace exif {
std::uint32_t typeUnitSize(std::uint16_t type) {
    switch (type) {
        case 3:  // SHORT
        case 8:  // SSHORT
            return 2;
        case 4:   // LONG
        case 9:   // SLONG
        case 11:  // FLOAT
            return 4;
        case 5:   // RATIONAL
        case 10:  // SRATIONAL
        case 12:  // DOUBLE
            return 8;
        default:  // 0, BYTE, ASCII, SBYTE, UNDEFINED
            return 1;
    }
}
}  // namespace exif
