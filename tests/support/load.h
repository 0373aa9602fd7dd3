// Loads an image in the test's own process: the image, or the refusal that stopped it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "exif/exception.h"
#include "exif/image.h"

namespace fixture {

struct Loaded {
    std::unique_ptr<tagloom::CExifImage> image = std::make_unique<tagloom::CExifImage>();
    std::optional<tagloom::CExifException> refusal;

    /// The refusal's line text; "" when the image loaded.
    std::string message() const { return refusal ? refusal->message() : std::string(); }
};

inline Loaded load(const std::string& path, bool allFormats = false,
                   tagloom::CExifImage::Role role = tagloom::CExifImage::Role::destination) {
    Loaded loaded;
    try {
        loaded.image->load(path, allFormats, tagloom::Reporter::quiet(), role);
    } catch (const tagloom::CExifException& failure) {
        loaded.refusal = failure;
    }
    return loaded;
}

}  // namespace fixture
