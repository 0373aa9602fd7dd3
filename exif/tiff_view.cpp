#include "exif/tiff_view.h"

#include <algorithm>
#include <cstring>

#include "exif/exception.h"

namespace tagloom {

SourceBytes::SourceBytes(const platform::File& file, std::uint64_t length, std::uint64_t windowSize) : length_(length) {
    window_.resize(static_cast<std::size_t>(std::min(length, windowSize)));
    window_.resize(file.readAt(0, window_.data(), window_.size()));
    runs_.push_back({0, window_.size(), window_.data(), nullptr, 0});
    runs_.push_back({window_.size(), length - std::min<std::uint64_t>(length, window_.size()), nullptr, &file, window_.size()});
}

SourceBytes::SourceBytes(const std::uint8_t* data, std::size_t size) : length_(size), window_(data, data + size) {
    runs_.push_back({0, size, window_.data(), nullptr, 0});
}

SourceBytes::SourceBytes(const std::vector<platform::Piece>& runs) {
    for (const platform::Piece& piece : runs) {
        runs_.push_back({length_, piece.size(), piece.from == nullptr ? piece.bytes.data() : nullptr, piece.from,
                         piece.offset});
        length_ += piece.size();
    }
}

std::uint64_t SourceBytes::copy(std::uint64_t offset, std::uint8_t* buffer, std::uint64_t n) const {
    if (n == 0) return 0;  // an empty entry's buffer may be null
    std::uint64_t got = 0;
    for (const Run& run : runs_) {
        if (got == n) break;
        const std::uint64_t at = offset + got;
        if (at < run.start || at - run.start >= run.length) continue;
        const std::uint64_t inside = at - run.start;
        const std::uint64_t wanted = std::min(n - got, run.length - inside);
        if (run.memory != nullptr) {
            std::memcpy(buffer + got, run.memory + inside, static_cast<std::size_t>(wanted));
            got += wanted;
            continue;
        }
        const std::uint64_t read = run.file->readAt(run.fileOffset + inside, buffer + got, static_cast<std::size_t>(wanted));
        got += read;
        if (read < wanted) break;  // the file ended early
    }
    std::memset(buffer + got, 0, static_cast<std::size_t>(n - got));
    return got;
}

TiffView TiffView::shifted(std::int64_t shift) const {
    TiffView view = *this;
    view.floor_ = std::max<std::uint64_t>(floor_, origin_ > 0 ? static_cast<std::uint64_t>(origin_) : 0);
    view.origin_ = origin_ + shift;
    return view;
}

void TiffView::seekSource(std::uint64_t position) {
    // Compared in signed 64 bits without wrapping: limits and bases stay far below 2^40, positions
    // that large are refused first.
    constexpr std::uint64_t kFarPast = std::uint64_t(1) << 40;
    const std::int64_t at = position < kFarPast ? origin_ + static_cast<std::int64_t>(position) : -1;
    if (at < 0 || static_cast<std::uint64_t>(at) > limit_ || static_cast<std::uint64_t>(at) < floor_)
        throw CExifException(Fault::seekPastSection);
    cursor_ = static_cast<std::uint64_t>(at);
}

std::uint64_t TiffView::readAvailable(std::uint8_t* buffer, std::uint64_t n) {
    const std::uint64_t got = bytes_->copy(cursor_, buffer, n);
    cursor_ += got;
    return got;
}

void TiffView::readBytes(std::uint8_t* buffer, std::uint64_t n) {
    if (readAvailable(buffer, n) != n) throw CExifException(Fault::dataPastEnd);
}

std::uint16_t TiffView::readU16() {
    std::uint8_t bytes[2];
    readBytes(bytes, sizeof bytes);
    return getU16(bytes, order_);
}

std::uint32_t TiffView::readU32() {
    std::uint8_t bytes[4];
    readBytes(bytes, sizeof bytes);
    return getU32(bytes, order_);
}

}  // namespace tagloom
