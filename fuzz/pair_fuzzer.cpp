// libFuzzer target for a whole pair: loads a destination and a source, merges them under flags
// taken from the input, and rewrites the destination in a temporary folder.
//
// Input: flags (1 byte: bit 0 -u, 1 -o, 2 -t, 3 -s, 4 traces, 5 --all-formats), destination length
// (4, little-endian), the destination's bytes, then the source's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "exif/exception.h"
#include "exif/image.h"
#include "exif/trace.h"
#include "merge/merge.h"
#include "merge/options.h"
#include "writer/rewrite.h"

namespace {

struct Workspace {
    Workspace() {
        char pattern[] = "/tmp/tagloom-pair-fuzz-XXXXXX";
        folder = ::mkdtemp(pattern);
        destination = folder + "/photo.jpg";
        sourceFd = ::memfd_create("tagloom-source", 0);
        source = "/proc/self/fd/" + std::to_string(sourceFd);
        buffer.resize(0x100000);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    }
    std::string folder, destination, source;
    int sourceFd;
    std::vector<std::uint8_t> buffer;
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

    removeLeftovers(space);
    {
        std::ofstream file(space.destination, std::ios::binary);
        file.write(reinterpret_cast<const char*>(destinationBytes), static_cast<std::streamsize>(destinationSize));
    }
    if (::ftruncate(space.sourceFd, 0) != 0 ||
        ::pwrite(space.sourceFd, sourceBytes, sourceSize, 0) != static_cast<ssize_t>(sourceSize))
        return 0;

    TagloomOptions options;
    options.copyMismatched = flags & 1;
    options.overwrite = (flags >> 1) & 1;
    options.dropThumbnail = (flags >> 2) & 1;
    options.keepBackup = (flags >> 3) & 1;
    options.allFormats = ((flags >> 5) & 1) != 0;
    setTraceMask((flags & 16) != 0 ? 7 : 0);
    CExifImage destination;
    CExifImage source;
    try {
        destination.load(space.destination, options.allFormats);
        source.load(space.source, options.allFormats);
        mergeFrom(destination, source, options);
        rewrite(destination, options, CopyBuffer{space.buffer.data(), space.buffer.size()});
    } catch (CExifException* raw) {
        std::unique_ptr<CExifException> failure(raw);
    }
    return 0;
}
