// Choosing which tags travel (--only, --except), and edited exports that describe their own pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::longValue;
using fixture::rational;
using fixture::shortValue;

namespace {

using namespace fixture::tags;

class ASelection : public ::testing::Test {
protected:
    std::string explain(std::vector<std::string> args) {
        args.insert(args.begin(), {"--explain", "-x"});
        args.insert(args.end(), {"phone.jpg", "canon.jpg"});
        return fixture::runTagloom(args, folder.path()).output;
    }
    fixture::TempFolder folder;
};

// A phone photo's position into a camera JPEG: --only GPS brings the GPS directory and its pointer and
// nothing else; --except keeps what it names as the destination has it, under -u and -o too.
TEST_F(ASelection, bringsOnlyTheChosenTagsAndTheEntriesThatLeadToThem) {
    folder.write("phone.jpg", ExifBuilder::jpeg()
                                  .ifd0({ascii(kMake, "Apple"), shortValue(kOrientation, 6), ascii(0x0132, "2026:01:02 03:04:05")})
                                  .subIfd({rational(kExposureTime, 1, 120), ascii(0x9003, "2026:01:02 03:04:05")})
                                  .gps({ascii(1, "N"), ascii(3, "E")})
                                  .build());
    folder.write("canon.jpg", ExifBuilder::jpeg()
                                  .ifd0({ascii(kMake, "Canon"), shortValue(kOrientation, 1), ascii(kSoftware, "Editor")})
                                  .subIfd({rational(kExposureTime, 1, 60)})
                                  .gps({ascii(1, "S")})
                                  .makerNote({shortValue(4, 1)})
                                  .build());
    EXPECT_EQ(explain({"-u", "--only", "GPS"}),
              "canon.jpg - 2 diffs\n"
              "  change  GPS0  GPSLatitudeRef        \"S\" -> \"N\"\n"
              "  add     GPS0  GPSLongitudeRef       \"E\"\n");
    EXPECT_EQ(explain({"-uo", "--except", "GPS,dates,Make,MakerNote"}),
              "canon.jpg - 3 diffs\n"
              "  change  IFD0  Orientation           1 (upright) -> 6 (rotate 90° clockwise)\n"
              "  remove  IFD0  Software              \"Editor\"\n"
              "  change  SUB0  ExposureTime          1/60 (1/60 s) -> 1/120 (1/120 s)\n");
    EXPECT_EQ(explain({"-uo", "--only=dates,0x0112"}),
              "canon.jpg - 3 diffs\n"
              "  change  IFD0  Orientation           1 (upright) -> 6 (rotate 90° clockwise)\n"
              "  add     IFD0  DateTime              \"2026:01:02 03:04:05\"\n"
              "  add     SUB0  DateTimeOriginal      \"2026:01:02 03:04:05\"\n");
    // Two lists add up; a maker-note tag selects nothing else, and between two cameras the note stays.
    EXPECT_EQ(explain({"-uo", "--only", "MAK0:0x0004", "--only", "orientation"}),
              "canon.jpg - 1 diffs\n"
              "  change  IFD0  Orientation           1 (upright) -> 6 (rotate 90° clockwise)\n");
    const fixture::RunResult unknown = fixture::runTagloom({"--only", "GPS,Exposure", "phone.jpg", "canon.jpg"}, folder.path());
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.output.rfind("Unknown tag in --only: Exposure\n", 0), 0u);
}

// A directory arrives exactly when its pointer does: a pointer left out leaves its directory out, and
// a pointer chosen alone, or IFD0 alone, brings no empty directory. A second run finds nothing.
TEST_F(ASelection, bringsADirectoryExactlyWithItsPointer) {
    folder.write("phone.jpg", ExifBuilder::jpeg()
                                  .ifd0({ascii(kMake, "Apple")})
                                  .subIfd({rational(kExposureTime, 1, 120)})
                                  .gps({fixture::entry(0x0000, 1, 4, {2, 3, 0, 0}), ascii(1, "N")})
                                  .build());
    const struct {
        std::vector<std::string> choice;
        std::string explained;
    } cases[] = {
        {{"--except", "GPSInfoIFDPointer"},
         "  add     IFD0  Make                  \"Apple\"\n"
         "  add     IFD0  ExifIFDPointer        (directory)\n"
         "  add     SUB0  ExposureTime          1/120 (1/120 s)\n"
         "  add     SUB0  PixelXDimension       8\n"
         "  add     SUB0  PixelYDimension       8\n"},
        {{"--except", "ExifIFDPointer"},
         "  add     IFD0  Make                  \"Apple\"\n"
         "  add     IFD0  GPSInfoIFDPointer     (directory)\n"
         "  add     GPS0  GPSVersionID          (4 bytes)\n"
         "  add     GPS0  GPSLatitudeRef        \"N\"\n"},
        {{"--only", "IFD0"}, "  add     IFD0  Make                  \"Apple\"\n"},
        {{"--only", "GPSInfoIFDPointer"}, ""},
        {{"--only", "ExifIFDPointer,Make"}, "  add     IFD0  Make                  \"Apple\"\n"},
    };
    for (const auto& chosen : cases) {
        SCOPED_TRACE(chosen.choice[1]);
        folder.write("canon.jpg", ExifBuilder::jpeg().withoutExif().build());
        std::vector<std::string> args = chosen.choice;
        args.insert(args.begin(), {"--all-formats", "--explain"});
        args.insert(args.end(), {"phone.jpg", "canon.jpg"});
        const std::size_t lines = static_cast<std::size_t>(std::count(chosen.explained.begin(), chosen.explained.end(), '\n'));
        const std::string result = lines == 0 ? "canon.jpg - no diffs\n" : "canon.jpg - " + std::to_string(lines) + " diffs\n";
        EXPECT_EQ(fixture::runTagloom(args, folder.path()).output, result + chosen.explained);
        EXPECT_EQ(fixture::runTagloom(args, folder.path()).output, "canon.jpg - no diffs\n");
        if (!fixture::haveExiftool()) continue;
        // No GPS directory without its version (the source's has one).
        const std::string warnings = fixture::commandOutput("exiftool -validate -warning -a -s3 '" + folder / "canon.jpg" + "'");
        EXPECT_EQ(warnings.find("GPS tag"), std::string::npos) << warnings;
    }
}

// An export that only --all-formats reads describes its own pixels: its size from its frame, and the
// Orientation a rotated export no longer needs stays (1, written, said in a line). An unrotated or
// square export takes the source's Orientation; a camera JPEG takes everything as before.
TEST_F(ASelection, letsEditedExportsDescribeTheirOwnPixels) {
    if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    // A raw file of a camera held upright: its 60 x 40 pixels are to be turned (Orientation 6).
    folder.write("IMG_1.CR2", ExifBuilder::raw()
                                  .ifd0({ascii(kMake, "Canon"), shortValue(kOrientation, 6)})
                                  .subIfd({longValue(0xA002, 60), longValue(0xA003, 40)})
                                  .build());
    for (const char* size : {"40x60", "60x40", "50x50"})
        fixture::commandOutput(std::string("/usr/bin/convert -size ") + size + " xc:gray '" + folder / size + ".jpg'");
    const auto run = [&](std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()).output; };
    const std::string rotated = "Tagloom: '40x60.jpg' Orientation stays 1 - its pixels are already upright (by its frame's aspect)\n";
    EXPECT_EQ(run({"--all-formats", "--explain", "-x", "IMG_1.CR2", "40x60.jpg"}),
              rotated +
                  "40x60.jpg - 5 diffs\n"
                  "  add     IFD0  Make                  \"Canon\"\n"
                  "  add     IFD0  Orientation           1 (upright)\n"
                  "  add     IFD0  ExifIFDPointer        (directory)\n"
                  "  add     SUB0  PixelXDimension       40\n"
                  "  add     SUB0  PixelYDimension       60\n");
    EXPECT_EQ(run({"--all-formats", "--except", "Orientation,PixelXDimension", "IMG_1.CR2", "40x60.jpg"}),
              "40x60.jpg - 3 diffs\n");
    EXPECT_EQ(run({"--all-formats", "IMG_1.CR2", "40x60.jpg"}), rotated + "40x60.jpg - 2 diffs\n");
    EXPECT_EQ(run({"--all-formats", "IMG_1.CR2", "40x60.jpg"}), rotated + "40x60.jpg - no diffs\n");
    for (const char* name : {"60x40.jpg", "50x50.jpg"}) {
        const std::string output = run({"--all-formats", "--explain", "-x", "IMG_1.CR2", name});
        EXPECT_NE(output.find("  add     IFD0  Orientation           6 (rotate 90° clockwise)\n"), std::string::npos) << output;
        EXPECT_EQ(output.find("stays"), std::string::npos) << output;
    }
    folder.write("camera.jpg", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
    EXPECT_EQ(run({"--all-formats", "--explain", "-x", "IMG_1.CR2", "camera.jpg"}),
              "camera.jpg - 4 diffs\n"
              "  add     IFD0  Make                  \"Canon\"\n"
              "  add     IFD0  Orientation           6 (rotate 90° clockwise)\n"
              "  add     SUB0  PixelXDimension       60\n"
              "  add     SUB0  PixelYDimension       40\n");
}

}  // namespace
