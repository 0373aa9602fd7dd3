// Which way an editor turned a photo: its export's pixels compared with the camera's own thumbnail,
// which shows the scene as the sensor stored it. Both are brought to a small grey grid and compared
// under each of the eight orientations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tagloom {

/// A grey image, row by row.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;

    float at(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

/// A JPEG decoded in grey at the smallest DCT scale whose shorter side keeps `leastSide` pixels; none
/// where it does not decode, or would take more than a few million pixels.
std::optional<GreyImage> decodeJpeg(const std::uint8_t* data, std::size_t size, int leastSide);

/// The image as Orientation `orientation` (1 to 8) shows it.
GreyImage turned(const GreyImage& image, int orientation);

/// The Orientation (1 to 8) whose turn makes `preview` look like `exported`, where it is clearly
/// ahead of every other turn; none where no turn is.
std::optional<int> appliedTurn(const GreyImage& preview, const GreyImage& exported);

/// The Orientation that shows upright an export that the camera marked `camera` and an editor turned
/// by `turn`: the camera's turn with the editor's taken off.
int orientationAfter(int camera, int turn);

}  // namespace tagloom
