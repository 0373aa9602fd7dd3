// Rebuilding a destination file with its new Exif segment, and swapping it in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exif/report.h"
#include "merge/options.h"
#include "platform/platform.h"

namespace tagloom {

class CExifImage;

/// The buffer through which image data is copied where the kernel cannot copy it.
struct CopyBuffer {
    std::uint8_t* bytes;
    std::size_t size;
};

/// What became of a rewrite that was not refused.
struct RewriteOutcome {
    bool updated = false;  // the new file is in place
    std::string warning;   // what failed after that, for a report line
};

/// What a rewrite is handed by its run.
struct Rewriting {
    const WriteOptions& options;
    CopyBuffer buffer;
    const Reporter& report;       // the result line and the rewrite trace
    platform::FileSystem& files;  // every step whose failure or interruption the rewrite must survive
    std::function<void(const CExifImage&)> afterResultLine = nullptr;  // what follows the pair's line
    /// Tests alone set it: it alters the new segment's bytes after they are encoded, before they are
    /// read back, as a faulty encoder would.
    std::function<void(std::vector<std::uint8_t>&)> afterEncoding = nullptr;
};

/// The pair's result line: "<path> - N diffs", or "<path> - no diffs"; true when there are diffs.
bool printResultLine(const Reporter& report, const CExifImage& image);

/// Writes the merged destination anew: header, new Exif block and the old file's image data,
/// under "<path>.tmp"; then swaps it in, keeping "<path>.old" under -s. Prints the result line.
/// Throws CExifException* on refusal; the destination is then exactly as it was.
RewriteOutcome rewrite(CExifImage& image, const Rewriting& run);

}  // namespace tagloom
