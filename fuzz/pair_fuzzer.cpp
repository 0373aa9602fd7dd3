// libFuzzer target for a whole pair: the pair pipeline of a run (checks, the comparison of pixels
// that decides an export's Orientation, merge, rewrite) on a destination and a source written to a
// temporary folder, under flags taken from the input.
//
// Input: flags (1 byte: bit 0 -u, 1 -o, 2 -t, 3 -s, 4 traces, 5 --all-formats, 6 the destination is
// named .tif, 7 --explain: each difference in words, values as a camera shows them), destination length
// (4, little-endian), the destination's bytes, then the source's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/pair.h"
#include "exif/exception.h"
#include "exif/image.h"

using namespace tagloom;

namespace {

/// What every input shares: a folder, and one run whose output goes nowhere (its copy buffer is made once).
struct Workspace {
    Workspace() : sink(std::fopen("/dev/null", "w")), run(platform::systemFileSystem(), textSink(sink)) {
        char pattern[] = "/tmp/tagloom-pair-fuzz-XXXXXX";
        folder = ::mkdtemp(pattern);
        jpeg = folder + "/photo.jpg";
        tiff = folder + "/photo.tif";
        source = folder + "/source.jpg";
        if (sink == nullptr) std::abort();
        run.copyBuffer.resize(kCopyBufferSize);
    }
    std::string folder, jpeg, tiff, source, destination;
    std::FILE* sink;
    RunContext run;
};

void removeLeftovers(const Workspace& space) {
    for (const char* suffix : {"", ".tmp", ".old"}) ::unlink((space.destination + suffix).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Workspace space;
    if (size < 5) return 0;
    const std::uint8_t flags = data[0];
    const std::size_t destinationSize =
        std::size_t(data[1]) | (std::size_t(data[2]) << 8) | (std::size_t(data[3]) << 16) | (std::size_t(data[4]) << 24);
    if (destinationSize > size - 5) return 0;
    const std::uint8_t* destinationBytes = data + 5;
    const std::uint8_t* sourceBytes = destinationBytes + destinationSize;
    const std::size_t sourceSize = size - 5 - destinationSize;

    space.destination = (flags & 64) != 0 ? space.tiff : space.jpeg;
    removeLeftovers(space);
    {
        std::ofstream file(space.destination, std::ios::binary);
        file.write(reinterpret_cast<const char*>(destinationBytes), static_cast<std::streamsize>(destinationSize));
        // From a file, as a run reads it: its thumbnail is read from there when the pixels are compared.
        std::ofstream from(space.source, std::ios::binary);
        from.write(reinterpret_cast<const char*>(sourceBytes), static_cast<std::streamsize>(sourceSize));
    }
    RunContext& run = space.run;
    run.sink->setTraceMask((flags & 16) != 0 ? 7 : 0);
    TagloomOptions& options = run.config.Options;
    options = TagloomOptions{};
    options.copyMismatched = flags & 1;
    options.overwrite = (flags >> 1) & 1;
    options.dropThumbnail = (flags >> 2) & 1;
    options.keepBackup = (flags >> 3) & 1;
    options.allFormats = ((flags >> 5) & 1) != 0;
    options.explain = ((flags >> 7) & 1) != 0;
    CExifImage destination;
    CExifImage source;
    try {
        destination.load(space.destination, options.allFormats, run.console());
        source.load(space.source, options.allFormats, run.console(), CExifImage::Role::source);
    } catch (const CExifException&) {
        return 0;
    }
    processLoadedPair(run, destination, source);
    return 0;
}
