// GPS and interoperability directories: read, merged and written like the Exif sub-directory.
#include <gtest/gtest.h>

#include <memory>

#include "exif/exception.h"
#include "exif/image.h"
#include "tests/support/exiftool.h"
#include "tests/support/load.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using namespace tagloom;

using fixture::ascii;
using fixture::Bytes;
using fixture::entry;
using fixture::ExifBuilder;
using fixture::shortValue;
using fixture::TempFolder;

namespace {

using namespace fixture::tags;

constexpr std::uint16_t kLatitudeRef = 0x0001;
constexpr std::uint16_t kLatitude = 0x0002;
constexpr std::uint16_t kLongitudeRef = 0x0003;
constexpr std::uint16_t kInteropIndex = 0x0001;
constexpr std::uint16_t kInteropVersion = 0x0002;

const Bytes kLatitude48 = {48, 0, 0, 0, 1, 0, 0, 0, 51, 0, 0, 0, 1, 0, 0, 0, 24, 0, 0, 0, 1, 0, 0, 0};

ExifBuilder withBoth() {
    return ExifBuilder::jpeg()
        .ifd0({ascii(kMake, "Canon")})
        .subIfd({shortValue(kFlash, 0)})
        .gps({ascii(kLatitudeRef, "N")})
        .interop({ascii(kInteropIndex, "R98")});
}

class GpsAndInterop : public ::testing::Test {
protected:
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }
    std::unique_ptr<CExifImage> reread(const std::string& name) {
        fixture::Loaded loaded = fixture::load(folder / name);
        EXPECT_EQ(loaded.message(), "");
        return std::move(loaded.image);
    }
    TempFolder folder;
};

TEST_F(GpsAndInterop, areParsedMergedAndRewrittenWhenBothImagesHaveThem) {
    folder.write("dst.jpg", withBoth().build());
    folder.write("src.jpg", ExifBuilder::jpeg()
                                .ifd0({ascii(kMake, "Canon"), ascii(kModel, "M")})
                                .subIfd({shortValue(kFlash, 0)})
                                .gps({ascii(kLatitudeRef, "S"), ascii(kLongitudeRef, "E")})
                                .interop({ascii(kInteropIndex, "R98"), entry(kInteropVersion, 7, 4, {'0', '1', '0', '0'})})
                                .build());
    const auto preview = run({"-x", "-v4", "src.jpg", "dst.jpg", "-x"}).output;
    EXPECT_EQ(preview.substr(0, preview.find("src.jpg parse:")),
              "dst.jpg parse:\n"
              "  IFD0 3 entries starting at offset 0x0014\n"
              "    Dir Entry 0x0016, Tag IFD0:0x010f, Data 0x003e, Size 0x0006\n"
              "    Dir Entry 0x0022, Tag IFD0:0x8769, Data ------, Size 0x0004\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8825, Data ------, Size 0x0004\n"
              "  SUB0 2 entries starting at offset 0x0044\n"
              "    Dir Entry 0x0046, Tag SUB0:0x9209, Data ------, Size 0x0002\n"
              "    Dir Entry 0x0052, Tag SUB0:0xa005, Data ------, Size 0x0004\n"
              "  GPS0 1 entries starting at offset 0x0062\n"
              "    Dir Entry 0x0064, Tag GPS0:0x0001, Data ------, Size 0x0002\n"
              "  INT0 1 entries starting at offset 0x0074\n"
              "    Dir Entry 0x0076, Tag INT0:0x0001, Data ------, Size 0x0004\n"
              "\n");
    EXPECT_EQ(preview.substr(preview.find("dst.jpg diffs:")),
              "dst.jpg diffs:\n"
              "    01 IFD0:0x0110 add      - 2 bytes\n"
              "    01 GPS0:0x0003 add      - 2 bytes\n"
              "    01 INT0:0x0002 add      - 4 bytes\n"
              "\n");

    EXPECT_EQ(run({"-v2", "src.jpg", "dst.jpg"}).output,
              "dst.jpg - 3 diffs\n"
              "  IFD0 4 entries start at 0x0014\n"
              "    Dir Entry 0x0016, Tag IFD0:0x010f, Data 0x004a, Size 0x0006  \n"
              "    Dir Entry 0x0022, Tag IFD0:0x0110, Data ------, Size 0x0002  add\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  \n"
              "    Dir Entry 0x003a, Tag IFD0:0x8825, Data ------, Size 0x0004  \n"
              "  SUB0 2 entries start at 0x0050\n"
              "    Dir Entry 0x0052, Tag SUB0:0x9209, Data ------, Size 0x0002  \n"
              "    Dir Entry 0x005e, Tag SUB0:0xa005, Data ------, Size 0x0004  \n"
              "  MAK0 0 entries start at 0x006e\n"
              "  GPS0 2 entries start at 0x0074\n"
              "    Dir Entry 0x0076, Tag GPS0:0x0001, Data ------, Size 0x0002  \n"
              "    Dir Entry 0x0082, Tag GPS0:0x0003, Data ------, Size 0x0002  add\n"
              "  INT0 2 entries start at 0x0092\n"
              "    Dir Entry 0x0094, Tag INT0:0x0001, Data ------, Size 0x0004  \n"
              "    Dir Entry 0x00a0, Tag INT0:0x0002, Data ------, Size 0x0004  add\n"
              "  IFD-EOF: 0x00b2.   Re-write:\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  SubPtr\n"
              "    Dir Entry 0x003a, Tag IFD0:0x8825, Data ------, Size 0x0004  GpsPtr\n"
              "    Dir Entry 0x005e, Tag SUB0:0xa005, Data ------, Size 0x0004  InteropPtr\n"
              "  Append 0x8b bytes from offset 0x86 of original jpg\n");

    const auto image = reread("dst.jpg");
    EXPECT_EQ(image->gpsIfd.findEntry(kLatitudeRef)->data, (Bytes{'N', 0})) << "no -u: the destination's value";
    EXPECT_NE(image->gpsIfd.findEntry(kLongitudeRef), nullptr);
    EXPECT_NE(image->interopIfd.findEntry(kInteropVersion), nullptr);
    if (fixture::haveExiftool()) {
        const auto view = fixture::readWithExiftool(folder / "dst.jpg");
        EXPECT_EQ(view["GPS"].at(kLatitudeRef), "N");
        EXPECT_EQ(view["InteropIFD"].at(kInteropIndex), "R98");
        EXPECT_EQ(view.validation.find("Bad"), std::string::npos) << view.validation;
    }
}

TEST_F(GpsAndInterop, carryASourceOnlyGpsPositionIntoTheDestination) {
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({shortValue(kFlash, 0)}).build());
    folder.write("src.cr2", ExifBuilder::raw()
                                .ifd0({ascii(kMake, "Canon")})
                                .subIfd({shortValue(kFlash, 0)})
                                .gps({ascii(kLatitudeRef, "N"), entry(kLatitude, 5, 3, kLatitude48)})
                                .build());
    EXPECT_EQ(run({"-x", "src.cr2", "dst.jpg"}).output,
              "dst.jpg diffs:\n"
              "    01 IFD0:0x8825 add      - 4 bytes\n"
              "    01 GPS0:0x0001 add      - 2 bytes\n"
              "    02 GPS0:0x0002 add      - 24 bytes\n"
              "\n");
    EXPECT_EQ(run({"src.cr2", "dst.jpg"}).output, "dst.jpg - 3 diffs\n");
    const auto image = reread("dst.jpg");
    EXPECT_TRUE(image->ifd0.findEntry(kGpsIfdPointer)->isPointer);
    EXPECT_EQ(image->gpsIfd.findEntry(kLatitude)->data, kLatitude48);
    if (fixture::haveExiftool()) {
        const auto view = fixture::readWithExiftool(folder / "dst.jpg");
        EXPECT_EQ(view["GPS"].at(kLatitude), "48 51 24 (48/1 51/1 24/1)");
        EXPECT_EQ(view.validation.find("Bad"), std::string::npos) << view.validation;
    }
}

TEST_F(GpsAndInterop, surviveARewriteThatDoesNotTouchThem) {
    folder.write("dst.jpg", withBoth().build());
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kModel, "M")}).subIfd({}).build());
    EXPECT_EQ(run({"src.jpg", "dst.jpg"}).output, "dst.jpg - 1 diffs\n");
    const auto image = reread("dst.jpg");
    EXPECT_EQ(image->gpsIfd.findEntry(kLatitudeRef)->data, (Bytes{'N', 0}));
    EXPECT_EQ(image->interopIfd.findEntry(kInteropIndex)->data, (Bytes{'R', '9', '8', 0}));
}

TEST_F(GpsAndInterop, areDroppedWithTheirPointersUnderOverwrite) {
    folder.write("dst.jpg", withBoth().build());
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({shortValue(kFlash, 0)}).build());
    const auto result = run({"-o", "-v3", "src.jpg", "dst.jpg"}).output;
    EXPECT_EQ(result.substr(0, result.find("dst.jpg - ")),
              "dst.jpg diffs:\n"
              "    01 IFD0:0x8825 remove   - 4 bytes\n"
              "    01 SUB0:0xa005 remove   - 4 bytes\n"
              "    01 GPS0:0x0001 remove   - 2 bytes\n"
              "    01 INT0:0x0001 remove   - 4 bytes\n"
              "\n");
    EXPECT_EQ(result.find("GPS0 "), std::string::npos) << "no GPS directory is written";
    EXPECT_EQ(result.find("GpsPtr"), std::string::npos);
    const auto image = reread("dst.jpg");
    EXPECT_EQ(image->ifd0.findEntry(kGpsIfdPointer), nullptr);
    EXPECT_EQ(image->subIfd.findEntry(kInteropIfdPointer), nullptr);
    EXPECT_TRUE(image->gpsIfd.entries.empty());
}

TEST_F(GpsAndInterop, followOnlyPointersOfFourBytesAndNeverBackwards) {
    const Bytes empty = ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), entry(kGpsIfdPointer, 4, 0, {})}).subIfd({}).build();
    folder.write("empty.jpg", empty);
    const auto image = reread("empty.jpg");
    EXPECT_FALSE(image->ifd0.findEntry(kGpsIfdPointer)->isPointer) << "a count of 0 is an ordinary entry";
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kModel, "M")}).build());
    const auto result = run({"-v2", "src.jpg", "empty.jpg"}).output;
    EXPECT_EQ(result.find("GpsPtr"), std::string::npos) << result;
    EXPECT_NE(reread("empty.jpg")->ifd0.findEntry(kGpsIfdPointer), nullptr);

    // A source's GPS directory replaces the pointer that leads nowhere, with or without -u.
    folder.write("gps.jpg", withBoth().build());
    EXPECT_NE(run({"-x", "gps.jpg", "empty.jpg"}).output.find("    01 IFD0:0x8825 change   - 4 bytes\n"),
              std::string::npos);
    EXPECT_NE(run({"-v2", "gps.jpg", "empty.jpg"}).output.find("GpsPtr"), std::string::npos);
    EXPECT_EQ(reread("empty.jpg")->gpsIfd.findEntry(kLatitudeRef)->data, (Bytes{'N', 0}));
    EXPECT_EQ(run({"gps.jpg", "empty.jpg"}).output, "empty.jpg - no diffs\n") << "a re-run finds nothing";

    Bytes backwards = withBoth().build();
    const auto layout = withBoth().layout();
    fixture::putU32(backwards, 12 + layout.ifd0 + 2 + 2 * 12 + 8, layout.subIfd);  // GPS pointer aims at SUB0
    folder.write("back.jpg", backwards);
    EXPECT_EQ(run({"-x", "src.jpg", "back.jpg"}).output,
              "Tagloom: 'back.jpg' Parse error - directory at offset 0x0038 is read twice\n");
}

}  // namespace
