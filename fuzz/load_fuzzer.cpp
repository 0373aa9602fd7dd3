// libFuzzer target: loads arbitrary bytes as an image, plainly and with --all-formats. A load may
// refuse; it must never crash, read outside a buffer, leak or hang.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "exif/exception.h"
#include "exif/image.h"

using namespace tagloom;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const bool allFormats : {false, true}) {
        CExifImage image;
        try {
            image.loadFromMemory("input.jpg", data, size, allFormats);
        } catch (CExifException* raw) {
            std::unique_ptr<CExifException> failure(raw);
        }
    }
    return 0;
}
