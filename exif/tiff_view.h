// Bounded reading of TIFF data. Every read of an image's Exif data goes through a TiffView: its
// positions count from its base, no seek may pass its limit, and its values are in its byte order.
// A maker note with a base and order of its own gets a sub-view over the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "exif/byte_order.h"
#include "platform/platform.h"

namespace tagloom {

/// The bytes of one file that a load may read: the start of the file, read once, and beyond it
/// the file itself; or bytes in memory.
class SourceBytes {
public:
    /// Reads the first `windowSize` bytes of `file` (fewer when it is shorter).
    SourceBytes(const platform::File& file, std::uint64_t length, std::uint64_t windowSize);
    /// All of them in memory.
    SourceBytes(const std::uint8_t* data, std::size_t size);
    SourceBytes(const SourceBytes&) = delete;
    SourceBytes& operator=(const SourceBytes&) = delete;

    /// Copies up to n bytes from an absolute offset into `buffer`, the missing ones as zero;
    /// gives how many were in the file.
    std::uint64_t copy(std::uint64_t offset, std::uint8_t* buffer, std::uint64_t n) const;
    /// The start of the file as read.
    const std::vector<std::uint8_t>& window() const { return window_; }
    std::uint64_t length() const { return length_; }

private:
    const platform::File* file_;  // none for bytes in memory
    std::uint64_t length_;
    std::vector<std::uint8_t> window_;
};

class TiffView {
public:
    /// `limit` is absolute: no position may lead past it.
    TiffView(const SourceBytes& bytes, std::uint64_t base, std::uint64_t limit, ByteOrder order)
        : bytes_(&bytes), base_(base), limit_(limit), order_(order), cursor_(base) {}

    /// The same bytes and limit seen from another base and byte order.
    TiffView subView(std::uint64_t base, ByteOrder order) const { return TiffView(*bytes_, base, limit_, order); }

    std::uint64_t base() const { return base_; }
    std::uint64_t limit() const { return limit_; }
    ByteOrder order() const { return order_; }

    /// The cursor, relative to base and absolute.
    std::uint64_t sourcePosition() const { return cursor_ - base_; }
    std::uint64_t sourceFilePosition() const { return cursor_; }
    /// Moves the cursor; refuses the file when the position lies past the limit.
    void seekSource(std::uint64_t position);
    /// Reads up to n bytes, counting bytes past the end of the file as zero; gives how many were real.
    std::uint64_t readAvailable(std::uint8_t* buffer, std::uint64_t n);
    /// Reads exactly n bytes or refuses the file.
    void readBytes(std::uint8_t* buffer, std::uint64_t n);
    std::uint16_t readU16();
    std::uint32_t readU32();

private:
    const SourceBytes* bytes_;
    std::uint64_t base_;
    std::uint64_t limit_;
    ByteOrder order_;
    std::uint64_t cursor_;  // absolute
};

}  // namespace tagloom
