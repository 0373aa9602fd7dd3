#include "pixels/judge.h"

#include "exif/byte_order.h"
#include "exif/containers.h"
#include "exif/format.h"
#include "exif/image.h"
#include "pixels/turns.h"

namespace tagloom {

namespace {

constexpr std::uint32_t kMostThumbnail = 4u << 20;  // bytes
constexpr std::uint64_t kMostExport = 256u << 20;   // bytes of a destination that is decoded
constexpr int kLeastSide = 64;                      // pixels of a destination decoded small

bool readAt(const CExifImage& image, std::uint64_t at, std::uint8_t* into, std::size_t n) {
    return at <= image.fileStatus.size && n <= image.fileStatus.size - at && image.file.readAt(at, into, n) == n;
}

}  // namespace

std::vector<std::uint8_t> thumbnailOf(const CExifImage& image) {
    if (!image.fileOpen) return {};
    std::uint8_t header[8];
    ByteOrder order;
    if (!readAt(image, image.base, header, sizeof header) || !orderOf(header, order)) return {};
    // IFD0's entry count, then the offset of the next directory behind its entries.
    std::uint8_t field[4];
    const std::uint64_t ifd0 = image.base + getU32(header + 4, order);
    if (!readAt(image, ifd0, field, 2)) return {};
    if (!readAt(image, ifd0 + 2 + exif::kEntrySize * std::uint64_t(getU16(field, order)), field, 4)) return {};
    const std::uint32_t next = getU32(field, order);
    if (next == 0 || !readAt(image, image.base + next, field, 2)) return {};
    const std::uint16_t count = getU16(field, order);
    std::uint32_t start = 0, length = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint8_t entry[exif::kEntrySize];
        if (!readAt(image, image.base + next + 2 + std::uint64_t(exif::kEntrySize) * i, entry, sizeof entry)) return {};
        const std::uint16_t tag = getU16(entry, order);
        const std::uint16_t type = getU16(entry + 2, order);
        const std::uint32_t value = type == fieldType::kShort ? getU16(entry + 8, order) : getU32(entry + 8, order);
        if (tag == tag::kThumbnailOffset) start = value;
        if (tag == tag::kThumbnailLength) length = value;
    }
    if (start == 0 || length < 4 || length > kMostThumbnail) return {};
    std::vector<std::uint8_t> thumbnail(length);
    if (!readAt(image, image.base + start, thumbnail.data(), length) || thumbnail[0] != 0xFF || thumbnail[1] != 0xD8) return {};
    return thumbnail;
}

void judgeOrientation(CExifImage& destination, const CExifImage& source) {
    const std::uint32_t camera = source.numberIn(source.ifd0, tag::kOrientation);
    if (camera < 2 || camera > 8 || !destination.traits().jpeg || !destination.fileOpen ||
        destination.fileStatus.size > kMostExport)
        return;
    const std::vector<std::uint8_t> thumbnail = thumbnailOf(source);
    if (thumbnail.empty()) return;
    const std::optional<GreyImage> preview = decodeJpeg(thumbnail.data(), thumbnail.size(), 0);
    if (!preview) return;
    std::vector<std::uint8_t> file(static_cast<std::size_t>(destination.fileStatus.size));
    if (destination.file.readAt(0, file.data(), file.size()) != file.size()) return;
    const std::optional<GreyImage> exported = decodeJpeg(file.data(), file.size(), kLeastSide);
    if (!exported) return;
    const std::optional<int> turn = appliedTurn(*preview, *exported);
    if (turn) destination.orientationByPixels = static_cast<std::uint32_t>(orientationAfter(int(camera), *turn));
}

}  // namespace tagloom
