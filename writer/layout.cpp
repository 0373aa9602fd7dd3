#include "writer/layout.h"

#include <cstdio>
#include <cstring>

#include "exif/format.h"
#include "exif/image.h"
#include "exif/report.h"

namespace tagloom {

void CExifTarget::writeBytes(const std::uint8_t* buffer, std::uint32_t n) {
    const std::uint64_t end = targetCursor + n;
    if (targetBlock.size() < end - blockStart_) targetBlock.resize(static_cast<std::size_t>(end - blockStart_), 0);
    if (n > 0) std::memcpy(at(targetCursor), buffer, n);
    targetCursor = end;
}

void CExifTarget::writeU16(std::uint16_t value) {
    std::uint8_t bytes[2];
    putU16(bytes, value, order_);
    writeBytes(bytes, sizeof bytes);
}

void CExifTarget::writeU32(std::uint32_t value) {
    std::uint8_t bytes[4];
    putU32(bytes, value, order_);
    writeBytes(bytes, sizeof bytes);
}

void CExifTarget::countWritable(const CExifDirectory& directory) {
    std::int32_t& writeCount = place(directory).writeCount;
    writeCount = 0;
    if (directory.next) countWritable(*directory.next);
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (!entry->removed) writeCount++;
    }
}

void CExifTarget::writeDirectory(const CExifDirectory& directory) {
    DirectoryPlace& where = place(directory);
    report_.trace(verbose::kRewrite, "  %s%d %d entries start at 0x%04x\n", directory.prefix.c_str(), directory.index,
                 where.writeCount, static_cast<unsigned>(targetFilePosition()));
    where.startPos = targetPosition();
    writeU16(static_cast<std::uint16_t>(where.writeCount));
    std::uint64_t entryPosition = targetPosition();
    std::uint64_t dataPosition = entryPosition + std::uint64_t(exif::kEntrySize) * std::uint64_t(where.writeCount) + 4;

    std::vector<std::pair<const CExifEntry*, std::uint64_t>> last;
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (entry->removed) {
            report_.trace(verbose::kRewrite, "    Dir Entry         Tag %s%d:0x%04x, Data         Size 0x%04x  remove\n",
                         directory.prefix.c_str(), directory.index, entry->tag, entry->size);
            continue;
        }
        if (place(*entry).dataLast) {
            last.emplace_back(entry, entryPosition);
        } else {
            dataPosition += writeEntry(*entry, entryPosition, dataPosition);
        }
        entryPosition += exif::kEntrySize;
    }
    for (const auto& [entry, position] : last) dataPosition += writeEntry(*entry, position, dataPosition);

    seekTarget(entryPosition);
    writeU32(directory.next ? static_cast<std::uint32_t>(dataPosition) : 0);
    seekTarget(dataPosition);
    where.endPos = dataPosition;
    if (directory.next) writeDirectory(*directory.next);
}

std::uint32_t CExifTarget::writeEntry(const CExifEntry& entry, std::uint64_t entryPosition, std::uint64_t dataPosition) {
    const CExifDirectory& directory = *entry.directory;
    EntryPlace& where = place(entry);
    const std::uint32_t size = where.size.value_or(entry.size);
    where.entryPos = entryPosition;
    seekTarget(entryPosition);
    writeU16(entry.tag);
    writeU16(entry.type);
    writeU32(where.count.value_or(entry.count));

    // A patched position replaces the first four bytes of the value.
    const std::uint8_t* data = entry.data.data();
    std::vector<std::uint8_t> patched;
    if (where.value) {
        patched.assign(entry.data.begin(), entry.data.end());
        patched.resize(std::max<std::size_t>(patched.size(), exif::kInlineValueSize));
        putU32(patched.data(), *where.value, order_);
        data = patched.data();
    }

    std::uint32_t grown = 0;
    const bool outOfLine = size > exif::kInlineValueSize || (entry.carried && size > 0);
    if (where.fixedDataPos != 0) {
        where.dataPos = where.fixedDataPos;
        writeU32(where.fixedDataPos);
    } else if (!outOfLine) {
        where.dataPos = targetPosition();
        writeBytes(data, size);
    } else {
        where.dataPos = dataPosition;
        writeU32(static_cast<std::uint32_t>(dataPosition));
        // A directory laid out as one value: its offsets count from where the value goes.
        if (!entry.relocations.empty()) {
            patched.assign(data, data + size);
            for (const std::uint32_t at : entry.relocations)
                putU32(patched.data() + at, getU32(patched.data() + at, order_) + static_cast<std::uint32_t>(dataPosition),
                       order_);
            data = patched.data();
        }
        seekTarget(dataPosition);
        writeBytes(data, size);
        grown = (size + 1) & ~1u;
    }

    char dataText[16] = "------";
    if (outOfLine)
        std::snprintf(dataText, sizeof dataText, "0x%04x", static_cast<unsigned>(where.dataPos + base_));
    report_.trace(verbose::kRewrite, "    Dir Entry 0x%04x, Tag %s%d:0x%04x, Data %s, Size 0x%04x  %s\n",
                 static_cast<unsigned>(where.entryPos + base_), directory.prefix.c_str(), directory.index, entry.tag,
                 dataText, size, where.label != nullptr ? where.label : changeWord(entry));
    return grown;
}

void CExifTarget::rewriteEntry(const CExifEntry& entry) {
    const EntryPlace& where = place(entry);
    writeEntry(entry, where.entryPos, where.dataPos);
}

}  // namespace tagloom
