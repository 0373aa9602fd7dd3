#include "pixels/turns.h"

#include <algorithm>
#include <cmath>

#include <turbojpeg.h>

namespace tagloom {

namespace {

constexpr int kGrid = 32;                       // the side of the grids that are compared
constexpr std::size_t kMostPixels = 8u << 20;   // of a decoded image
constexpr double kLeastMatch = 0.5;             // the best turn's correlation, at least
constexpr double kLeastLead = 0.15;             // and its lead over the second best

/// Orientation n as a matrix on centred coordinates (x to the right, y down): where a stored pixel
/// shows. {a, b, c, d} maps (x, y) to (a x + b y, c x + d y).
struct Matrix {
    int a, b, c, d;
    bool operator==(const Matrix& other) const { return a == other.a && b == other.b && c == other.c && d == other.d; }
};
constexpr Matrix kOrientations[9] = {
    {1, 0, 0, 1},                                              // (none: as 1)
    {1, 0, 0, 1},   {-1, 0, 0, 1}, {-1, 0, 0, -1}, {1, 0, 0, -1},  // 1 upright, 2 mirrored, 3 turned half, 4 flipped
    {0, 1, 1, 0},   {0, -1, 1, 0}, {0, -1, -1, 0}, {0, 1, -1, 0},  // 5 transposed, 6 a quarter clockwise, 7, 8
};

Matrix times(const Matrix& m, const Matrix& n) {
    return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d, m.c * n.a + m.d * n.c, m.c * n.b + m.d * n.d};
}
Matrix transposed(const Matrix& m) { return {m.a, m.c, m.b, m.d}; }

/// Without the dark bands a thumbnail of another aspect than its frame's is padded with.
GreyImage withoutDarkBands(const GreyImage& image) {
    const auto dark = [&image](bool row, int index) {
        const int length = row ? image.width : image.height;
        double sum = 0, squares = 0;
        for (int i = 0; i < length; ++i) {
            const double value = row ? image.at(i, index) : image.at(index, i);
            sum += value;
            squares += value * value;
        }
        const double mean = sum / length;
        return mean < 20 && squares / length - mean * mean < 36;
    };
    int top = 0, bottom = image.height, left = 0, right = image.width;
    while (top < image.height * 2 / 5 && dark(true, top)) ++top;
    while (bottom > image.height * 3 / 5 && dark(true, bottom - 1)) --bottom;
    while (left < image.width * 2 / 5 && dark(false, left)) ++left;
    while (right > image.width * 3 / 5 && dark(false, right - 1)) --right;
    GreyImage cut{right - left, bottom - top, {}};
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) cut.pixels.push_back(image.at(x, y));
    return cut;
}

/// The middle of the image at `aspect` (width / height), cut about its centre.
GreyImage cutToAspect(const GreyImage& image, double aspect) {
    int width = image.width, height = image.height;
    if (double(width) / height > aspect) width = std::max(1, int(std::lround(height * aspect)));
    else height = std::max(1, int(std::lround(width / aspect)));
    const int left = (image.width - width) / 2, top = (image.height - height) / 2;
    GreyImage cut{width, height, {}};
    cut.pixels.reserve(std::size_t(width) * std::size_t(height));
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) cut.pixels.push_back(image.at(x, y));
    return cut;
}

/// The image as a kGrid x kGrid grid of the means of its cells.
std::vector<double> grid(const GreyImage& image) {
    std::vector<double> cells;
    for (int j = 0; j < kGrid; ++j) {
        const int y0 = j * image.height / kGrid, y1 = std::max(y0 + 1, (j + 1) * image.height / kGrid);
        for (int i = 0; i < kGrid; ++i) {
            const int x0 = i * image.width / kGrid, x1 = std::max(x0 + 1, (i + 1) * image.width / kGrid);
            double sum = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) sum += image.at(x, y);
            cells.push_back(sum / ((y1 - y0) * (x1 - x0)));
        }
    }
    return cells;
}

/// Normalised cross-correlation of two grids: 1 where one is the other brighter or darker.
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double meanA = 0, meanB = 0;
    for (std::size_t i = 0; i < a.size(); ++i) meanA += a[i], meanB += b[i];
    meanA /= double(a.size()), meanB /= double(b.size());
    double both = 0, onlyA = 0, onlyB = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        both += (a[i] - meanA) * (b[i] - meanB);
        onlyA += (a[i] - meanA) * (a[i] - meanA);
        onlyB += (b[i] - meanB) * (b[i] - meanB);
    }
    return onlyA < 1e-6 || onlyB < 1e-6 ? 0 : both / std::sqrt(onlyA * onlyB);
}

}  // namespace

std::optional<GreyImage> decodeJpeg(const std::uint8_t* data, std::size_t size, int leastSide) {
    tjhandle handle = tjInitDecompress();
    if (handle == nullptr) return std::nullopt;
    std::optional<GreyImage> image;
    int width = 0, height = 0, subsampling = 0, colours = 0;
    if (size <= 0xFFFFFFFFu &&
        tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &width, &height, &subsampling, &colours) == 0 &&
        width > 0 && height > 0) {
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        tjscalingfactor chosen{1, 1};
        for (int i = 0; factors != nullptr && i < count; ++i) {
            const tjscalingfactor f = factors[i];
            const bool smaller = TJSCALED(width, f) < TJSCALED(width, chosen);
            if (smaller && std::min(TJSCALED(width, f), TJSCALED(height, f)) >= leastSide) chosen = f;
        }
        const int w = TJSCALED(width, chosen), h = TJSCALED(height, chosen);
        if (w > 0 && h > 0 && std::size_t(w) * std::size_t(h) <= kMostPixels) {
            std::vector<unsigned char> grey(std::size_t(w) * std::size_t(h));
            const int done = tjDecompress2(handle, data, static_cast<unsigned long>(size), grey.data(), w, w, h, TJPF_GRAY,
                                           TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
            if (done == 0 || tjGetErrorCode(handle) == TJERR_WARNING) image = GreyImage{w, h, {grey.begin(), grey.end()}};
        }
    }
    tjDestroy(handle);
    return image;
}

GreyImage turned(const GreyImage& image, int orientation) {
    const Matrix m = kOrientations[orientation >= 1 && orientation <= 8 ? orientation : 1];
    const bool swaps = m.a == 0;
    GreyImage out{swaps ? image.height : image.width, swaps ? image.width : image.height, {}};
    out.pixels.reserve(image.pixels.size());
    // Doubled centred coordinates stay whole: a shown pixel's stored place is the transposed matrix's image.
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const int u = 2 * x - (out.width - 1), v = 2 * y - (out.height - 1);
            const int s = m.a * u + m.c * v, t = m.b * u + m.d * v;
            out.pixels.push_back(image.at((s + image.width - 1) / 2, (t + image.height - 1) / 2));
        }
    }
    return out;
}

std::optional<int> appliedTurn(const GreyImage& preview, const GreyImage& exported) {
    const GreyImage scene = withoutDarkBands(preview);
    if (scene.width < 8 || scene.height < 8 || exported.width < 8 || exported.height < 8) return std::nullopt;
    const std::vector<double> target = grid(exported);
    const double aspect = double(exported.width) / exported.height;
    double best = -2, second = -2;
    int bestTurn = 0;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const double score = correlation(grid(cutToAspect(turned(scene, orientation), aspect)), target);
        if (score > best) {
            second = best;
            best = score;
            bestTurn = orientation;
        } else if (score > second) {
            second = score;
        }
    }
    if (best < kLeastMatch || best - second < kLeastLead) return std::nullopt;
    return bestTurn;
}

int orientationAfter(int camera, int turn) {
    const Matrix wanted = times(kOrientations[camera], transposed(kOrientations[turn]));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        if (kOrientations[orientation] == wanted) return orientation;
    }
    return camera;
}

}  // namespace tagloom
