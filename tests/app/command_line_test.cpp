// The command line: flags, the usage page, the choice of mode and the exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>

#include "app/cli.h"
#include "app/run_context.h"
#include "tests/support/run_tool.h"

using namespace tagloom;

using fixture::ExifBuilder;
using fixture::runTagloom;
using fixture::TempFolder;

namespace {

const std::string kUsage =
    "usage: Tagloom [-ruox] [-v1..f] Src Dst\n"
    "\n"
    "    -r   Recursively walk Src folder\n"
    "    -u   Copy tags that don't match (else, just copy missing tags)\n"
    "    -s   Don't delete backup of original Dst files\n"
    "    -x   Don't update Dst files - show diffs only\n"
    "    -o   Overwrite Exif info in Dst (removes entries)\n"
    "    -t   Remove embedded thumbnail\n"
    "    -vn  Verbose output mask\n"
    "    -?   This page\n"
    "\n"
    "    Src  Source image file or folder\n"
    "    Dst  Destination image file or folder\n"
    "\n"
    "Copies/Adds Exif datum (from IFD0 & SubIFD) from Source to Destionation.\n"
    "If Source & Destionation are folders, the Exif copy is performed on\n"
    "all image files that appear in both the Source & Desitation folders.\n"
    "\n"
    "Note not all jpg exif formats are understood - in particular files\n"
    "encoded with big-endian format exif data will be skipped\n"
    "\n";

const std::string kNotBoth = "Src and Dst must either be directories or folders\n";

// A pair that differs by one tag, so that output shows what the flags did.
class ACommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        folder.write("src.jpg", ExifBuilder::jpeg().ifd0({fixture::ascii(0x010F, "Canon")}).subIfd({}).build());
        folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
        folder.write("other.jpg", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
    }
    fixture::RunResult run(std::vector<std::string> args) { return runTagloom(args, folder.path()); }
    TempFolder folder;
};

TEST_F(ACommandLine, printsTheUsagePageWithStatus1WhenPathsAreMissing) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"src.jpg"}, {"-u"}, {"", "src.jpg"}}) {
        const auto result = run(args);
        EXPECT_EQ(result.output, kUsage);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.errors, "");
    }
}

TEST_F(ACommandLine, stopsAtUnknownFlagsAndBadMasks) {
    struct Case {
        std::vector<std::string> args;
        std::string output;
    };
    const Case cases[] = {
        {{"-R", "src.jpg", "dst.jpg"}, "Unknown flag: R\n" + kUsage},
        {{"-v10", "src.jpg", "dst.jpg"}, "Unknown flag: 0\n" + kUsage},
        {{"-v", "src.jpg", "dst.jpg"}, kUsage},
        {{"-v0", "src.jpg", "dst.jpg"}, kUsage},
        {{"-vz", "src.jpg", "dst.jpg"}, kUsage},
        {{"src.jpg", "dst.jpg", "-?"}, kUsage},
        {{"src.jpg", "dst.jpg", "other.jpg"}, kUsage},
        {{"-uq"}, "Unknown flag: q\n" + kUsage},
    };
    for (const Case& c : cases) {
        const auto result = run(c.args);
        EXPECT_EQ(result.output, c.output) << c.args[0];
        EXPECT_EQ(result.status, 1) << c.args[0];
    }
    EXPECT_EQ(folder.read("dst.jpg"), ExifBuilder::jpeg().ifd0({}).subIfd({}).build()) << "nothing was processed";
}

// The usage page as ever (under --json too), and on standard error what is wrong with which path.
TEST_F(ACommandLine, refusesAFolderAndAFileOrAMissingPath) {
    const auto folderAndFile = run({".", "dst.jpg"});
    EXPECT_EQ(folderAndFile.output, kNotBoth + kUsage);
    EXPECT_EQ(folderAndFile.status, 1);
    EXPECT_EQ(folderAndFile.errors, "tagloom: '.' is a folder but 'dst.jpg' is a file: give two files or two folders\n");
    const auto missing = run({"nothing.jpg", "dst.jpg"});
    EXPECT_EQ(missing.output, kNotBoth + kUsage);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.errors, "tagloom: 'nothing.jpg' does not exist\n");
    const auto json = run({"--json", "src.jpg", "card/NOPE.CR2"});
    EXPECT_EQ(json.output, kNotBoth + kUsage);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.errors, "tagloom: 'card/NOPE.CR2' does not exist\n");
}

TEST_F(ACommandLine, readsFlagsBeforeBetweenAndAfterThePaths) {
    const std::string listing = "dst.jpg diffs:\n    01 IFD0:0x010f add      - 6 bytes\n\n";
    EXPECT_EQ(run({"-x", "src.jpg", "dst.jpg"}).output, listing);
    EXPECT_EQ(run({"src.jpg", "-x", "dst.jpg"}).output, listing);
    EXPECT_EQ(run({"src.jpg", "dst.jpg", "-x"}).output, listing);
    EXPECT_EQ(run({"-", "src.jpg", "-", "dst.jpg", "-x"}).output, listing) << "a lone '-' does nothing";
    EXPECT_EQ(run({"-x", "-v4", "src.jpg", "dst.jpg"}).output.find("diffs:"), std::string::npos)
        << "-v replaces the mask that -x set";
    EXPECT_EQ(run({"-v8", "-x", "src.jpg", "dst.jpg"}).output, listing) << "bit 8 selects nothing";
    EXPECT_EQ(run({"-v8", "src.jpg", "dst.jpg", "-x", "-v8"}).output, "");
}

TEST_F(ACommandLine, runsFileModeWithoutSummaryAndSkipsEqualPathsSilently) {
    const auto same = run({"dst.jpg", "dst.jpg"});
    EXPECT_EQ(same.output, "");
    EXPECT_EQ(same.status, 0);

    const auto pair = run({"src.jpg", "dst.jpg"});
    EXPECT_EQ(pair.output, "dst.jpg - 1 diffs\n");
    EXPECT_EQ(pair.status, 0);
}

TEST_F(ACommandLine, usesPathsExactlyAsGiven) {
    folder.write("Upper/Shot.JPG", ExifBuilder::jpeg().ifd0({}).subIfd({}).build());
    const auto result = run({"-x", "src.jpg", "Upper/Shot.JPG"});
    EXPECT_EQ(result.output, "Upper/Shot.JPG diffs:\n    01 IFD0:0x010f add      - 6 bytes\n\n");
    EXPECT_EQ(run({"-x", "src.jpg", "upper/shot.jpg"}).output, kNotBoth + kUsage) << "no lower-casing";
}

TEST_F(ACommandLine, takesLongOptionsWhereverTheyStandAndActsOnHelpAndVersionWhenReached) {
    const std::string longOptions =
        "Long options:\n"
        "    --all-formats  Also read and rewrite JPEGs whose Exif segment is not the first\n"
        "                   segment (JFIF files, editors' output), JPEGs without Exif data,\n"
        "                   big-endian Exif data, maker notes that begin with a maker's\n"
        "                   signature, and raw files of every common maker (CR3 included)\n"
        "                   and HEIF/AVIF photos as sources; HEIF/AVIF, PNG, WebP, TIFF and\n"
        "                   JPEG XL as destinations (.heic .avif .png .webp .tif .tiff .jxl)\n"
        "                   In folder mode a file under Dst without a source of its name\n"
        "                   finds it anywhere under Src (-r: at any depth), or by the name\n"
        "                   it begins with before - _ space ( or . (IMG_0001-Edit.jpg and\n"
        "                   IMG_0001 (2).png take IMG_0001.CR2; IMG_00011.jpg does not)\n"
        "    --keep-time    Keep the modification time of each rewritten Dst file\n"
        "    --explain      Show each difference in words under its pair's line: the tag's\n"
        "                   name, its old and new values (with -x: the preview)\n"
        "    --json         Print one JSON object a line instead of text: each pair's result,\n"
        "                   differences and left-behind parts, then the folder's counts\n"
        "    --fail-on-refusal  End with status 3 when a pair was refused\n"
        "    --only LIST    Merge only these tags: names (Orientation), numbers (0x0112,\n"
        "                   MAK0:0x0004), directories (IFD0, Exif, MakerNote, GPS,\n"
        "                   Interop) and dates, separated by commas\n"
        "    --except LIST  Leave these tags out of the merge (a pointer's directory with\n"
        "                   it: --except GPSInfoIFDPointer keeps GPS data out)\n"
        "    --help         This page\n"
        "    --version      The version of tagloom\n"
        "\n"
        "See man tagloom for the whole story.\n";
    for (const auto& [args, status, output] : std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"src.jpg", "--help", "dst.jpg"}, 0, kUsage + longOptions},
             {{"--version", "-q"}, 0, std::string("tagloom ") + TAGLOOM_VERSION + "\n"},
             {{"-q", "--help"}, 1, "Unknown flag: q\n" + kUsage},
             {{"--all", "src.jpg", "dst.jpg"}, 1, "Unknown option: --all\n" + kUsage},
             {{"--", "src.jpg", "dst.jpg"}, 1, "Unknown flag: -\n" + kUsage},
             {{"src.jpg", "--all-formats", "--keep-time", "-x", "dst.jpg"}, 0,
              "dst.jpg diffs:\n    01 IFD0:0x010f add      - 6 bytes\n\n"}}) {
        const auto result = run(args);
        EXPECT_EQ(result.status, status) << args[0];
        EXPECT_EQ(result.output, output) << args[0];
    }
    // --keep-time: the rewritten file keeps the old modification time.
    const timespec old[2] = {{1'500'000'000, 123'456'789}, {1'500'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder / "dst.jpg").c_str(), old, 0), 0);
    EXPECT_EQ(run({"--keep-time", "src.jpg", "dst.jpg"}).output, "dst.jpg - 1 diffs\n");
    struct stat now {};
    ASSERT_EQ(::stat((folder / "dst.jpg").c_str(), &now), 0);
    EXPECT_EQ(now.st_mtim.tv_sec, 1'500'000'000);
    EXPECT_EQ(now.st_mtim.tv_nsec, 123'456'789);
}

TEST_F(ACommandLine, endsFolderModeWithTheSummary) {
    folder.write("a/readme", {});
    std::filesystem::create_directories(folder / "b");
    const auto result = run({"a", "b"});
    EXPECT_EQ(result.output, "Files found 0, checked 0, updated 0\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(run({"a/", "/"}).output, "Files found 0, checked 0, updated 0\n") << "paths ending in '/' are folders";
}

// parseFlags in the process: what each letter sets.
class AFlagParser : public ::testing::Test {
protected:
    bool stops(const std::string& argument) {
        ::testing::internal::CaptureStdout();
        bool stopped = false;
        try {
            parseFlags(config, argument, Reporter(stdout));
        } catch (const UsageStop&) {
            stopped = true;
        }
        printed = ::testing::internal::GetCapturedStdout();
        return stopped;
    }
    RunConfig config;
    std::string printed;
};

TEST_F(AFlagParser, setsOneOptionPerLetter) {
    EXPECT_FALSE(stops("-rux"));
    EXPECT_EQ(config.Options.recurse, 1);
    EXPECT_EQ(config.Options.copyMismatched, 1);
    EXPECT_EQ(config.Options.showOnly, 1);
    EXPECT_EQ(config.Options.verboseMask, 1);
    EXPECT_EQ(config.Options.overwrite, 0);
    EXPECT_FALSE(stops("-ost"));
    EXPECT_EQ(config.Options.overwrite, 1);
    EXPECT_EQ(config.Options.keepBackup, 1);
    EXPECT_EQ(config.Options.dropThumbnail, 1);
    EXPECT_EQ(printed, "");
}

TEST_F(AFlagParser, takesOneHexDigitForTheMask) {
    EXPECT_FALSE(stops("-v3x"));
    EXPECT_EQ(config.Options.verboseMask, 3);
    EXPECT_EQ(config.Options.showOnly, 1);
    EXPECT_FALSE(stops("-vF"));
    EXPECT_EQ(config.Options.verboseMask, 15);
    EXPECT_FALSE(stops("-x"));
    EXPECT_FALSE(stops("-v4"));
    EXPECT_EQ(config.Options.verboseMask, 4) << "-x -v4";
    EXPECT_FALSE(stops("-x"));
    EXPECT_EQ(config.Options.verboseMask, 5) << "-v4 -x";
    EXPECT_TRUE(stops("-v10"));
    EXPECT_EQ(printed, "Unknown flag: 0\n" + kUsage);
}

TEST(AHexMask, readsTheLeadingRunOfHexDigits) {
    EXPECT_EQ(parseHexMask(""), 0);
    EXPECT_EQ(parseHexMask("z1"), 0);
    EXPECT_EQ(parseHexMask("7"), 7);
    EXPECT_EQ(parseHexMask("aF"), 0xAF);
    EXPECT_EQ(parseHexMask("10x"), 16);
}

}  // namespace
