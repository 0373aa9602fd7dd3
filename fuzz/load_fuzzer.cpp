// libFuzzer target: loads arbitrary bytes as an image, plainly and with --all-formats. A load may
// refuse; it must never crash, read outside a buffer, leak or hang.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "exif/exception.h"
#include "exif/image.h"

namespace {

/// One in-memory file for the whole run, reached through /proc like any path.
struct MemoryFile {
    MemoryFile() : fd(::memfd_create("tagloom-fuzz", 0)), path("/proc/self/fd/" + std::to_string(fd)) {}
    int fd;
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    if (::ftruncate(file.fd, 0) != 0 || ::pwrite(file.fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    for (const bool allFormats : {false, true}) {
        CExifImage image;
        try {
            image.load(file.path, allFormats);
        } catch (CExifException* raw) {
            std::unique_ptr<CExifException> failure(raw);
        }
    }
    return 0;
}
