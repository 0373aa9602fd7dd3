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
/// the file itself; or bytes in memory; or a file as it will be once a span of it is replaced.
class SourceBytes {
public:
    /// Reads the first `windowSize` bytes of `file` (fewer when it is shorter).
    SourceBytes(const platform::File& file, std::uint64_t length, std::uint64_t windowSize);
    /// All of them in memory.
    SourceBytes(const std::uint8_t* data, std::size_t size);
    /// The bytes a file will hold: these runs of bytes and of other files, in order. The runs stay the
    /// caller's and must outlive this.
    explicit SourceBytes(const std::vector<platform::Piece>& runs);
    SourceBytes(const SourceBytes&) = delete;
    SourceBytes& operator=(const SourceBytes&) = delete;

    /// Copies up to n bytes from an absolute offset into `buffer`, the missing ones as zero;
    /// gives how many were in the file.
    std::uint64_t copy(std::uint64_t offset, std::uint8_t* buffer, std::uint64_t n) const;
    std::uint64_t length() const { return length_; }

private:
    /// A run of the bytes: from memory, or from a file at `fileOffset`.
    struct Run {
        std::uint64_t start;  // where it lies in the bytes
        std::uint64_t length;
        const std::uint8_t* memory;  // none: from `file`
        const platform::File* file;
        std::uint64_t fileOffset;
    };
    std::uint64_t length_ = 0;
    std::vector<std::uint8_t> window_;  // what was read into memory
    std::vector<Run> runs_;             // in order, without gaps
};

class TiffView {
public:
    /// `limit` is absolute: no position may lead past it.
    TiffView(const SourceBytes& bytes, std::uint64_t base, std::uint64_t limit, ByteOrder order)
        : bytes_(&bytes), origin_(static_cast<std::int64_t>(base)), limit_(limit), order_(order), cursor_(base) {}

    /// The same bytes and limit seen from another base and byte order.
    TiffView subView(std::uint64_t base, ByteOrder order) const {
        TiffView view(*bytes_, base, limit_, order);
        view.floor_ = floor_;
        return view;
    }
    /// The same view with its base moved by `shift` bytes, either way: a maker note that another
    /// program moved without its offsets is read through it. Its base may lie in front of the TIFF
    /// header, or of the file itself; no read goes in front of the base it was shifted from.
    TiffView shifted(std::int64_t shift) const;

    /// The base, absolute. Where a shifted view's base lies in front of the file's start, the value
    /// wraps: unsigned sums with it still give the absolute positions they name.
    std::uint64_t base() const { return static_cast<std::uint64_t>(origin_); }
    std::uint64_t limit() const { return limit_; }
    ByteOrder order() const { return order_; }

    /// The cursor, relative to base and absolute.
    std::uint64_t sourcePosition() const { return cursor_ - base(); }
    std::uint64_t sourceFilePosition() const { return cursor_; }
    /// Moves the cursor; refuses the file when the position lies past the limit (or in front of
    /// the floor of a shifted view).
    void seekSource(std::uint64_t position);
    /// Reads up to n bytes, counting bytes past the end of the file as zero; gives how many were real.
    std::uint64_t readAvailable(std::uint8_t* buffer, std::uint64_t n);
    /// Reads exactly n bytes or refuses the file.
    void readBytes(std::uint8_t* buffer, std::uint64_t n);
    std::uint16_t readU16();
    std::uint32_t readU32();

private:
    const SourceBytes* bytes_;
    std::int64_t origin_;     // the base: absolute, in front of the file's start for some shifted views
    std::uint64_t floor_ = 0;  // no position leads in front of it (absolute)
    std::uint64_t limit_;
    ByteOrder order_;
    std::uint64_t cursor_;  // absolute
};

}  // namespace tagloom
