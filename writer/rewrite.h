// Rewriting a destination: its new Exif data encoded (writer/encoder.h), put into the new file by
// the assembler of its kind (writer/assembler.h), read back as the next run will read it
// (writer/read_back.h), and the file replaced durably (writer/replace.h).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "exif/report.h"
#include "platform/platform.h"
#include "writer/options.h"
#include "writer/replace.h"

namespace tagloom {

class CExifImage;

/// What a rewrite is handed by its run.
struct Rewriting {
    const WriteOptions& options;
    CopyBuffer buffer;
    const Reporter& report;       // the rewrite trace
    platform::FileSystem& files;  // every step whose failure or interruption the rewrite must survive
    /// Tests alone set it: it alters the new Exif data's bytes after they are assembled, before they
    /// are read back, as a faulty encoder would.
    std::function<void(std::vector<std::uint8_t>&)> afterEncoding = nullptr;
};

/// Rewrites the merged destination with its new Exif data; every other byte of the file stays.
/// Throws CExifException on refusal; the destination is then exactly as it was.
ReplaceOutcome rewrite(CExifImage& image, const Rewriting& run);

}  // namespace tagloom
