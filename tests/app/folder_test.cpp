// Folder mode: which files are candidates, how each finds its destination, the order and the summary.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/run_tool.h"

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::TempFolder;

namespace {

Bytes sourceJpeg() { return ExifBuilder::jpeg().ifd0({ascii(0x010F, "Canon")}).subIfd({}).build(); }
Bytes sourceRaw() { return ExifBuilder::raw().ifd0({ascii(0x010F, "Canon")}).subIfd({}).build(); }
Bytes destinationJpeg() { return ExifBuilder::jpeg().ifd0({}).subIfd({}).build(); }

class AFolderWalk : public ::testing::Test {
protected:
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }
    TempFolder folder;
};

TEST_F(AFolderWalk, takesJpgAndCr2FilesInAnyCaseAndNothingElse) {
    for (const char* name : {"a.JPG", "b.Cr2", "c.jpeg", ".jpg", "readme", "d.tif"})
        folder.write(std::string("in/") + name, std::string(name) == "b.Cr2" ? sourceRaw() : sourceJpeg());
    for (const char* name : {"a.JPG", "b.jpg", "c.jpg", ".jpg", "readme", "d.jpg"})
        folder.write(std::string("out/") + name, destinationJpeg());
    EXPECT_EQ(run({"in", "out"}).output,
              "out/a.JPG - 1 diffs\n"
              "out/b.jpg - 1 diffs\n"
              "Files found 2, checked 2, updated 2\n");
    EXPECT_EQ(folder.read("out/c.jpg"), destinationJpeg());
}

TEST_F(AFolderWalk, pairsCameraNamesThatDifferOnlyInCase) {
    folder.write("shots/IMG_0001.CR2", sourceRaw());
    folder.write("shots/IMG_0001.JPG", destinationJpeg());
    folder.write("shots/IMG_0002.CR2", sourceRaw());
    folder.write("shots/img_0002.jpg", destinationJpeg());
    folder.write("shots/IMG_0002.Jpg", destinationJpeg());
    EXPECT_EQ(run({"shots", "shots"}).output,
              "shots/IMG_0001.JPG - 1 diffs\n"
              "shots/IMG_0002.Jpg - 1 diffs\n"
              "Files found 5, checked 2, updated 2\n")
        << "each .jpg is its own destination and skipped; of two namesakes the first in byte order";
}

TEST_F(AFolderWalk, keepsEveryDotButTheLast) {
    folder.write("in/a.b.jpg", sourceJpeg());
    folder.write("out/a.b.jpg", destinationJpeg());
    folder.write("out/a.jpg", destinationJpeg());
    EXPECT_EQ(run({"in/", "out/"}).output, "out/a.b.jpg - 1 diffs\nFiles found 1, checked 1, updated 1\n");
}

TEST_F(AFolderWalk, pairsWithTheParentFolderForDotDot) {
    folder.write("shots/raw/x.cr2", sourceRaw());
    folder.write("shots/x.jpg", destinationJpeg());
    folder.write("x.jpg", destinationJpeg());
    EXPECT_EQ(fixture::runTagloom({"raw", ".."}, folder / "shots").output,
              "x.jpg - 1 diffs\nFiles found 1, checked 1, updated 1\n")
        << "a folder named without '/' pairs with the working folder";

    folder.write("shots/x.jpg", destinationJpeg());
    const std::string absolute = folder / "shots/raw/";
    EXPECT_EQ(run({absolute, ".."}).output, folder / "shots/x.jpg - 1 diffs\nFiles found 1, checked 1, updated 1\n");
    EXPECT_EQ(folder.read("x.jpg"), destinationJpeg()) << "only the parent's namesake is touched";
}

TEST_F(AFolderWalk, recursesDepthFirstOnlyWithRAndWalksEachFolderOnce) {
    folder.write("in/top.jpg", sourceJpeg());
    folder.write("in/Day1/a.jpg", sourceJpeg());
    folder.write("in/Day1/Late/b.jpg", sourceJpeg());
    folder.write("in/Day2/c.jpg", sourceJpeg());
    for (const char* name : {"out/top.jpg", "out/Day1/a.jpg", "out/Day1/Late/b.jpg", "out/Day2/c.jpg"})
        folder.write(name, destinationJpeg());
    std::filesystem::create_directory_symlink("..", folder / "in/Day1/Late/loop");
    EXPECT_EQ(run({"-x", "in", "out"}).output.find("Day1"), std::string::npos) << "no -r: no sub-folder";
    EXPECT_EQ(run({"-r", "in", "out"}).output,
              "out/top.jpg - 1 diffs\n"
              "out/Day1/a.jpg - 1 diffs\n"
              "out/Day1/Late/b.jpg - 1 diffs\n"
              "out/Day2/c.jpg - 1 diffs\n"
              "Files found 4, checked 4, updated 4\n");
}

TEST_F(AFolderWalk, goesOnAfterAFailingPairAndCountsEach) {
    folder.write("in/a.jpg", sourceJpeg());
    folder.write("in/b.jpg", sourceJpeg());
    folder.write("in/c.jpg", sourceJpeg());
    folder.write("in/d.jpg", sourceJpeg());
    folder.write("out/a.jpg", destinationJpeg());
    folder.write("out/b.jpg", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'h', 'o', 't', 'o'});
    folder.write("out/c.jpg", destinationJpeg());
    EXPECT_EQ(run({"-u", "in", "out"}).output,
              "out/a.jpg - 1 diffs\n"
              "Tagloom: 'out/b.jpg' File not support (header not understood)\n"
              "out/c.jpg - 1 diffs\n"
              "Files found 4, checked 2, updated 2\n")
        << "d.jpg has no destination: counted as found, nothing printed";
}

}  // namespace
