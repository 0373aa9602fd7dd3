// libFuzzer target: loads arbitrary bytes as an image, plainly and with --all-formats, the latter as a
// destination and as a source (which leaves parts behind, and reads HEIF photos). A load may refuse;
// it must never crash, read outside a buffer, leak or hang.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "exif/exception.h"
#include "exif/image.h"

using namespace tagloom;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const int reading : {0, 1, 2}) {
        CExifImage image;
        try {
            image.loadFromMemory("input.jpg", data, size, reading > 0, Reporter::quiet(),
                                 reading == 2 ? CExifImage::Role::source : CExifImage::Role::destination);
        } catch (const CExifException&) {
            // refused: the one outcome besides loading
        }
    }
    return 0;
}
