#include "writer/layout.h"

#include <cstdio>
#include <cstring>

#include "exif/format.h"
#include "exif/image.h"
#include "exif/trace.h"

// The new block is built in memory (targetBlock) and written to the file in one piece; the
// primitives behave like writes and seeks on a freshly truncated file: skipped bytes read as zero.

std::uint64_t targetPosition(const CExifImage& image) { return image.targetCursor - image.base; }

std::uint64_t targetFilePosition(const CExifImage& image) { return image.targetCursor; }

void seekTarget(CExifImage& image, std::uint64_t position) { image.targetCursor = image.base + position; }

void writeBytes(CExifImage& image, const std::uint8_t* buffer, std::uint32_t n) {
    const std::uint64_t end = image.targetCursor + n;
    if (image.targetBlock.size() < end) image.targetBlock.resize(static_cast<std::size_t>(end), 0);
    if (n > 0) std::memcpy(image.targetBlock.data() + image.targetCursor, buffer, n);
    image.targetCursor = end;
}

void writeU16(CExifImage& image, std::uint16_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    writeBytes(image, bytes, sizeof bytes);
}

void writeU32(CExifImage& image, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    writeBytes(image, bytes, sizeof bytes);
}

void countWritable(CExifDirectory& directory) {
    directory.writeCount = 0;
    if (directory.next) countWritable(*directory.next);
    for (const CExifEntry* entry = directory.entries.first(); entry != nullptr;
         entry = directory.entries.next(entry)) {
        if (!entry->removed) directory.writeCount++;
    }
}

void writeDirectory(CExifDirectory& directory) {
    CExifImage& image = *directory.owner;
    printVerbose(verbose::kRewrite, "  %s%d %d entries start at 0x%04x\n", directory.prefix.c_str(), directory.index,
                 directory.writeCount, static_cast<unsigned>(targetFilePosition(image)));
    directory.startPos = targetPosition(image);
    writeU16(image, static_cast<std::uint16_t>(directory.writeCount));
    std::uint64_t entryPosition = targetPosition(image);
    std::uint64_t dataPosition = entryPosition + std::uint64_t(exif::kEntrySize) * std::uint64_t(directory.writeCount) + 4;

    for (CExifEntry* entry = directory.entries.first(); entry != nullptr; entry = directory.entries.next(entry)) {
        if (entry->removed) {
            printVerbose(verbose::kRewrite, "    Dir Entry         Tag %s%d:0x%04x, Data         Size 0x%04x  remove\n",
                         directory.prefix.c_str(), directory.index, entry->tag, entry->size);
            continue;
        }
        dataPosition += writeEntry(*entry, entryPosition, dataPosition);
        entryPosition += exif::kEntrySize;
    }

    seekTarget(image, entryPosition);
    writeU32(image, directory.next ? static_cast<std::uint32_t>(dataPosition) : 0);
    seekTarget(image, dataPosition);
    directory.endPos = dataPosition;
    if (directory.next) writeDirectory(*directory.next);
}

std::uint32_t writeEntry(CExifEntry& entry, std::uint64_t entryPosition, std::uint64_t dataPosition) {
    const CExifDirectory& directory = *entry.directory;
    CExifImage& image = *directory.owner;
    entry.entryPos = entryPosition;
    seekTarget(image, entryPosition);
    writeU16(image, entry.tag);
    writeU16(image, entry.type);
    writeU32(image, entry.count);

    std::uint32_t grown = 0;
    if (entry.fixedDataPos != 0) {
        entry.dataPos = entry.fixedDataPos;
        writeU32(image, entry.fixedDataPos);
    } else if (entry.size <= exif::kInlineValueSize) {
        entry.dataPos = targetPosition(image);
        writeBytes(image, entry.data.data(), entry.size);
    } else {
        entry.dataPos = dataPosition;
        writeU32(image, static_cast<std::uint32_t>(dataPosition));
        seekTarget(image, dataPosition);
        writeBytes(image, entry.data.data(), entry.size);
        grown = (entry.size + 1) & ~1u;
    }

    char dataText[16] = "------";
    if (entry.size > exif::kInlineValueSize)
        std::snprintf(dataText, sizeof dataText, "0x%04x", static_cast<unsigned>(entry.dataPos + image.base));
    printVerbose(verbose::kRewrite, "    Dir Entry 0x%04x, Tag %s%d:0x%04x, Data %s, Size 0x%04x  %s\n",
                 static_cast<unsigned>(entry.entryPos + image.base), directory.prefix.c_str(), directory.index,
                 entry.tag, dataText, entry.size, entry.action.c_str());
    return grown;
}

void rewriteEntry(CExifEntry& entry) { writeEntry(entry, entry.entryPos, entry.dataPos); }
