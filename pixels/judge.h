// The Orientation an export's own pixels call for: an editor that drops the EXIF data almost always
// turns the pixels upright first, and the camera's thumbnail shows which turn it applied.
#pragma once

#include <cstdint>
#include <vector>

namespace tagloom {

class CExifImage;

/// The JPEG thumbnail that IFD0's next directory (IFD1) of the image's file points to; empty where
/// there is none, or it lies outside the file or is not a JPEG.
std::vector<std::uint8_t> thumbnailOf(const CExifImage& image);

/// Sets the destination's orientationByPixels where its source says the photo must be turned
/// (Orientation 2 to 8), the destination is a JPEG and its pixels match the source's thumbnail under
/// one turn clearly better than under any other. Decodes nothing in any other case.
void judgeOrientation(CExifImage& destination, const CExifImage& source);

}  // namespace tagloom
