#include "writer/assembler.h"

#include "exif/format.h"
#include "exif/image.h"

namespace tagloom {

namespace {

// A JPEG, by absolute offset:
//   0             the old file's bytes before its Exif segment, as they were
//   segmentStart  the segment's marker, its new length (big-endian), "Exif\0\0": as read, or made for
//                 a new segment (in a file whose Exif segment comes first, SOI is read with them)
//   base          the new TIFF data
//   end - 2       FF D9, the segment's last two bytes
//   end           the old file from sectionEnd on, unchanged
constexpr std::uint8_t kEndOfImage[2] = {0xFF, 0xD9};

TiffPlacement placeInJpeg(const CExifImage& image) {
    return TiffPlacement{image.base, sizeof kEndOfImage, image.sectionEnd};
}

Assembly assembleJpeg(const CExifImage& image, const EncodedTiff& tiff, const Reporter& report) {
    std::vector<std::uint8_t> segment(image.header, image.header + (image.base - image.headerStart));
    segment.insert(segment.end(), tiff.bytes.begin(), tiff.bytes.end());
    segment.insert(segment.end(), std::begin(kEndOfImage), std::end(kEndOfImage));
    Assembly assembly;
    assembly.content.push_back(platform::Piece::ofFile(image.file, 0, image.headerStart));

    // The segment's length field holds at most 0xFFFF; the first segment of a file ends by 0xFFF0.
    const std::uint64_t segmentLength = tiff.segmentEnd - image.segmentStart - 2;
    if (image.extended() ? segmentLength > 0xFFFF : tiff.segmentEnd > exif::kMaxExifEnd) {
        assembly.content.push_back(platform::Piece::ofBytes(std::move(segment)));  // its header as read
        assembly.refusal = CExifException(Fault::tooLarge);
        return assembly;
    }
    putU16(segment.data() + (image.segmentStart + 2 - image.headerStart), static_cast<std::uint16_t>(segmentLength),
           ByteOrder::bigEndian);
    const std::uint64_t remainder = image.fileStatus.size - image.sectionEnd;
    report.trace(verbose::kRewrite, "  Append 0x%x bytes from offset 0x%x of original jpg\n",
                 static_cast<unsigned>(remainder), image.sectionEnd);
    assembly.content.push_back(platform::Piece::ofBytes(std::move(segment)));
    assembly.content.push_back(platform::Piece::ofFile(image.file, image.sectionEnd, remainder));
    return assembly;
}

const Assembler kJpeg = {"JPEG", placeInJpeg, assembleJpeg};

}  // namespace

const Assembler* assemblerFor(const CExifImage& image) {
    switch (image.layout) {
        case Layout::exifFirstJpeg:
        case Layout::exifAnywhereJpeg:
        case Layout::jpegWithoutExif: return &kJpeg;
        default: return nullptr;
    }
}

}  // namespace tagloom
