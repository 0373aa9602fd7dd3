// An export's Orientation decided by its own pixels: each Orientation a camera writes, and exports
// turned upright, left as stored, cropped, squared and downscaled, each end up showing the scene
// upright; a wrong value an earlier run wrote is mended under -u; without a thumbnail the frame's
// aspect decides, and the line says which rule did.
#include <gtest/gtest.h>

#include "tests/support/run_tool.h"

namespace {

class Orientations : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"exiftool", "convert", "compare"})
            if (fixture::commandOutput(std::string("command -v ") + tool).empty())
                GTEST_SKIP() << tool << " is not installed (Debian's libimage-exiftool-perl, imagemagick)";
    }
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }
    std::string shell(const std::string& command) { return fixture::commandOutput("cd '" + folder.path() + "' && " + command); }
    fixture::TempFolder folder;
};

// ImageMagick's operation that stores a scene so that Orientation n shows it upright.
const char* const kStored[9] = {"", "", "-flop", "-rotate 180", "-flip", "-transpose", "-rotate -90", "-transverse", "-rotate 90"};

// A camera's JPEG for Orientation n: the scene stored as the sensor saw it, a thumbnail of that, little-endian
// Exif data (so that the default mode reads it too).
std::string cameraPhoto(int orientation, bool thumbnail = true) {
    const std::string n = std::to_string(orientation), name = "camera" + n + ".jpg";
    return "convert scene.png " + std::string(kStored[orientation]) + " -quality 92 " + name + " && convert " + name +
           " -resize 160x160 thumb" + n + ".jpg && exiftool -q -overwrite_original -JFIF:all= -ExifByteOrder=II -Orientation#=" + n +
           " -Make=Test -DateTimeOriginal='2026:01:02 03:04:05' -IFD0:ImageWidth=" + (orientation >= 5 ? "320" : "480") +
           " -IFD0:ImageHeight=" + (orientation >= 5 ? "480" : "320") + " " + (thumbnail ? "'-ThumbnailImage<=thumb" + n + ".jpg' " : "") +
           name + " && ";
}

TEST_F(Orientations, ofExportsAreDecidedByTheirPixelsAndShowTheSceneUpright) {
    // exports as an editor makes them from the upright scene, and the same cut of the scene to compare with
    const std::pair<const char*, const char*> exports[] = {
        {"upright", ""}, {"cropped", "-gravity center -crop 256x320+0+0 +repage"},
        {"square", "-gravity center -crop 320x320+0+0 +repage"}, {"small", "-resize 50%"}};
    std::string make = "convert -seed 7 -size 480x320 plasma:fractal -blur 0x2 scene.png 2>/dev/null && ";
    for (int n = 2; n <= 8; ++n) make += cameraPhoto(n);
    for (const auto& [name, cut] : exports) make += "convert scene.png " + std::string(cut) + " " + name + ".png && ";
    ASSERT_EQ(shell(make + "echo made"), "made\n");
    for (int n = 2; n <= 8; ++n) {
        const std::string camera = "camera" + std::to_string(n) + ".jpg";
        for (const auto& [name, cut] : exports) {
            SCOPED_TRACE(camera + " into " + name);
            const std::string exported = name + std::to_string(n) + ".jpg";
            shell("convert " + std::string(name) + ".png -quality 90 " + exported);
            EXPECT_EQ(run({"--all-formats", camera, exported}).output,
                      "Tagloom: '" + exported +
                          "' Orientation 1 - its pixels are already upright (matched against the camera's thumbnail)\n" +
                          exported + " - 16 diffs\n");
            EXPECT_EQ(shell("convert " + exported + " -auto-orient shown.png && compare -metric RMSE shown.png " + name +
                            ".png null: 2>&1 | sed 's/.*(\\(0\\.0[0-2].*\\))/near/'"),
                      "near");
        }
        // The camera's IFD0 size gives way to the export's own, as its PixelXDimension does.
        EXPECT_EQ(shell("exiftool -n -s -s -s -IFD0:ImageWidth -IFD0:ImageHeight -ExifImageWidth cropped" + std::to_string(n) + ".jpg"),
                  "256\n320\n256\n");
        const std::string unturned = "unturned" + std::to_string(n) + ".jpg";  // the camera's pixels, no metadata
        shell("convert " + camera + " -strip " + unturned);
        EXPECT_EQ(run({"--all-formats", camera, unturned}).output, unturned + " - 16 diffs\n");
        EXPECT_EQ(shell("exiftool -n -s -s -s -Orientation " + unturned), std::to_string(n) + "\n");
    }

    // A default-mode run puts the camera's 6 (and sizes) back into an upright export; --all-formats says
    // the 6 looks wrong, and mends it under -u; then nothing is left to do.
    shell("convert upright.png -quality 90 mended.jpg && exiftool -q -overwrite_original -JFIF:all= mended.jpg");
    run({"--all-formats", "camera6.jpg", "mended.jpg"});
    EXPECT_EQ(run({"-u", "camera6.jpg", "mended.jpg"}).output, "mended.jpg - 3 diffs\n");  // and the camera's sizes
    const std::string matched = " (matched against the camera's thumbnail)\n";
    EXPECT_EQ(run({"--all-formats", "camera6.jpg", "mended.jpg"}).output,
              "Tagloom: 'mended.jpg' Orientation 6 looks wrong - its pixels call for 1" + matched + "mended.jpg - 2 diffs\n")
        << "the export's own size takes the camera's place, as in any export";
    EXPECT_EQ(run({"--all-formats", "-u", "camera6.jpg", "mended.jpg"}).output,
              "Tagloom: 'mended.jpg' Orientation 1 - its pixels are already upright" + matched + "mended.jpg - 1 diffs\n");
    EXPECT_EQ(run({"--all-formats", "-u", "camera6.jpg", "mended.jpg"}).output, "mended.jpg - no diffs\n");

    // Without a thumbnail the frame's aspect decides: a portrait's upright export, and a square one that it cannot tell.
    ASSERT_EQ(shell(cameraPhoto(6, false) + "convert upright.png aspect.jpg && convert square.png squared.jpg && echo made"), "made\n");
    EXPECT_EQ(run({"--all-formats", "camera6.jpg", "aspect.jpg"}).output,
              "Tagloom: 'aspect.jpg' Orientation stays 1 - its pixels are already upright (by its frame's aspect)\n"
              "aspect.jpg - 16 diffs\n");
    EXPECT_EQ(run({"--all-formats", "camera6.jpg", "squared.jpg"}).output, "squared.jpg - 16 diffs\n");
    EXPECT_EQ(shell("exiftool -n -s -s -s -Orientation squared.jpg"), "6\n");
}

}  // namespace
