// Assemblers: how each kind of destination file takes its new Exif data, one row per kind. The
// encoder (writer/encoder.h) makes the TIFF data; an assembler says where it goes and puts the new
// file together around it from the old file's other bytes, which stay byte for byte.
#pragma once

#include <optional>
#include <vector>

#include "exif/exception.h"
#include "exif/report.h"
#include "platform/platform.h"
#include "writer/encoder.h"

namespace tagloom {

class CExifImage;

/// The new file: its content in order; or a refusal that leaves `content` in the temporary file for
/// inspection.
struct Assembly {
    std::vector<platform::Piece> content;
    std::optional<CExifException> refusal;
};

/// One kind of destination file.
struct Assembler {
    const char* name;
    /// Where the TIFF data goes in the new file.
    TiffPlacement (*place)(const CExifImage& image);
    /// The new file: the encoded TIFF data in its container, and the old file's other bytes around it.
    Assembly (*assemble)(const CExifImage& image, const EncodedTiff& tiff, const Reporter& report);
};

/// The assembler of the image's kind of file; none for a file that is never rewritten.
const Assembler* assemblerFor(const CExifImage& image);

}  // namespace tagloom
