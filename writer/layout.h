// Where the new file is laid out: the writer's record of the new Exif segment, and how directories
// and entries are laid into it.
//
// A written directory D at relative position S, with N = its writeCount:
//   S               N (2)
//   S + 2 + 12 i    the i-th written entry, in list order; removed entries leave no gap
//   S + 2 + 12 N    next-directory offset (4): where D.next starts, or 0
//   S + 6 + 12 N    data area: out-of-line data of D's entries in list order, each starting even
//   endPos          end of the data area; D.next starts here
// An entry's value field holds fixedDataPos when that is set (no data written), else data of
// 4 bytes or fewer followed by zeros, else the position of its data in the data area.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "exif/byte_order.h"
#include "exif/report.h"

namespace tagloom {

class CExifDirectory;
class CExifEntry;

/// Where a directory went in the new block.
struct DirectoryPlace {
    std::int32_t writeCount = 0;  // its entries that are not removed
    std::uint64_t startPos = 0;
    std::uint64_t endPos = 0;
};

/// Where an entry went in the new block, and what the writer wrote in place of the model's own.
struct EntryPlace {
    std::uint64_t entryPos = 0;     // where the entry was written
    std::uint64_t dataPos = 0;      // where its data was written
    std::uint32_t fixedDataPos = 0;  // non-zero: the data already lies here in the output
    std::optional<std::uint32_t> size;   // written instead of the entry's size and count
    std::optional<std::uint32_t> count;
    std::optional<std::uint32_t> value;  // the first four value bytes: a patched position
    bool dataLast = false;  // its data goes behind the rest of its directory's (a preview, as cameras lay it)
    const char* label = nullptr;  // the trace's word once the writer patched it ("SubPtr"); else the merge's
};

/// The new block: the new file from blockStart to the end of the new Exif segment, built in memory
/// and written in one piece. Positions are relative to base, the TIFF header, as the reader's are;
/// seeks behave as on a freshly truncated file: skipped bytes read as zero.
class CExifTarget {
public:
    /// Its rewrite trace goes to `reporter`.
    CExifTarget(std::uint64_t base, ByteOrder order, std::uint64_t blockStart = 0,
                const Reporter& reporter = Reporter::quiet())
        : base_(base), order_(order), blockStart_(blockStart), report_(reporter), targetCursor(blockStart) {}

    std::uint64_t targetPosition() const { return targetCursor - base_; }
    std::uint64_t targetFilePosition() const { return targetCursor; }
    void seekTarget(std::uint64_t position) { targetCursor = base_ + position; }
    void writeBytes(const std::uint8_t* buffer, std::uint32_t n);
    void writeU16(std::uint16_t value);
    void writeU32(std::uint32_t value);

    /// Sets writeCount of this directory and of its chain: the entries that are not removed.
    void countWritable(const CExifDirectory& directory);
    /// Writes this directory and its chain at the current position; leaves the cursor at the end.
    void writeDirectory(const CExifDirectory& directory);
    /// Writes one entry at entryPosition, its out-of-line data at dataPosition; gives how much the data area grew.
    std::uint32_t writeEntry(const CExifEntry& entry, std::uint64_t entryPosition, std::uint64_t dataPosition);
    /// Writes an entry again in its recorded place, after its place changed.
    void rewriteEntry(const CExifEntry& entry);

    DirectoryPlace& place(const CExifDirectory& directory) { return directories_[&directory]; }
    EntryPlace& place(const CExifEntry& entry) { return entries_[&entry]; }

    /// The block's byte at an absolute position of the new file.
    std::uint8_t* at(std::uint64_t filePosition) { return targetBlock.data() + (filePosition - blockStart_); }

private:
    std::uint64_t base_;
    ByteOrder order_;
    std::uint64_t blockStart_;  // where the block's first byte lies in the new file
    const Reporter& report_;

public:
    std::vector<std::uint8_t> targetBlock;
    std::uint64_t targetCursor;  // absolute position in the new file
    std::uint64_t exifEnd = 0;   // the first byte after the new segment

private:
    std::unordered_map<const CExifDirectory*, DirectoryPlace> directories_;
    std::unordered_map<const CExifEntry*, EntryPlace> entries_;
};

}  // namespace tagloom
