#include "exif/tiff_view.h"

#include <algorithm>
#include <cstring>

#include "exif/exception.h"

namespace tagloom {

SourceBytes::SourceBytes(const platform::File& file, std::uint64_t length, std::uint64_t windowSize)
    : file_(&file), length_(length) {
    window_.resize(static_cast<std::size_t>(std::min(length, windowSize)));
    window_.resize(file.readAt(0, window_.data(), window_.size()));
}

SourceBytes::SourceBytes(const std::uint8_t* data, std::size_t size)
    : file_(nullptr), length_(size), window_(data, data + size) {}

std::uint64_t SourceBytes::copy(std::uint64_t offset, std::uint8_t* buffer, std::uint64_t n) const {
    if (n == 0) return 0;  // an empty entry's buffer may be null
    std::uint64_t got = 0;
    if (offset < window_.size()) {
        got = std::min<std::uint64_t>(n, window_.size() - offset);
        std::memcpy(buffer, window_.data() + offset, got);
    }
    if (got < n && offset + got < length_ && file_ != nullptr) got += file_->readAt(offset + got, buffer + got, n - got);
    std::memset(buffer + got, 0, n - got);
    return got;
}

void TiffView::seekSource(std::uint64_t position) {
    // Compared without computing a wrapping base + position.
    if (position > limit_ || base_ > limit_ - position) throw new CExifException("Attempted to seek past end of section");
    cursor_ = base_ + position;
}

std::uint64_t TiffView::readAvailable(std::uint8_t* buffer, std::uint64_t n) {
    const std::uint64_t got = bytes_->copy(cursor_, buffer, n);
    cursor_ += got;
    return got;
}

void TiffView::readBytes(std::uint8_t* buffer, std::uint64_t n) {
    if (readAvailable(buffer, n) != n) throw new CExifException("Parse error - data runs past the end of the file");
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
