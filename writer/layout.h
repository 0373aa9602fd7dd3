// Laying out and writing directories into the new Exif block.
//
// A written directory D at relative position S, with N = D.writeCount:
//   S               N (2)
//   S + 2 + 12 i    the i-th written entry, in list order; removed entries leave no gap
//   S + 2 + 12 N    next-directory offset (4): where D.next starts, or 0
//   S + 6 + 12 N    data area: out-of-line data of D's entries in list order, each starting even
//   D.endPos        end of the data area; D.next starts here
// An entry's value field holds fixedDataPos when that is set (no data written), else data of
// 4 bytes or fewer followed by zeros, else the position of its data in the data area.
#pragma once

#include <cstdint>

class CExifDirectory;
class CExifEntry;
class CExifImage;

// Target primitives: positions are relative to the image's base, like the reader's.
std::uint64_t targetPosition(const CExifImage& image);
std::uint64_t targetFilePosition(const CExifImage& image);
void seekTarget(CExifImage& image, std::uint64_t position);
void writeBytes(CExifImage& image, const std::uint8_t* buffer, std::uint32_t n);
void writeU16(CExifImage& image, std::uint16_t value);
void writeU32(CExifImage& image, std::uint32_t value);

/// Sets writeCount of this directory and of its chain: the entries that are not removed.
void countWritable(CExifDirectory& directory);
/// Writes this directory and its chain at the target's current position; leaves the target at the end.
void writeDirectory(CExifDirectory& directory);
/// Writes one entry at entryPosition, its out-of-line data at dataPosition; gives how much the data area grew.
std::uint32_t writeEntry(CExifEntry& entry, std::uint64_t entryPosition, std::uint64_t dataPosition);
/// Writes an entry again in its recorded place, after its fields changed.
void rewriteEntry(CExifEntry& entry);
