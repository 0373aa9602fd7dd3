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

// With --all-formats a card's raw files (in 100CANON/ and 101CANON/) find their exports in one flat
// folder by name, as editors rename them; a name two raw files share takes neither; what found no
// source is counted in a hint, and so is a card whose photos -r would reach. Without --all-formats
// the walk is as before.
TEST_F(AFolderWalk, pairsRenamedExportsWithTheirRawFilesByName) {
    const auto raw = [](int tags) {
        std::vector<fixture::Entry> ifd0 = {ascii(0x010F, "Canon"), ascii(0x0110, "EOS"), ascii(0x013B, "Ann")};
        ifd0.resize(std::size_t(tags), ascii(0x010F, ""));
        return ExifBuilder::raw().ifd0(ifd0).subIfd({}).build();
    };
    folder.write("card/100CANON/IMG_0001.CR2", raw(1));
    folder.write("card/100CANON/IMG_0001-2.CR2", raw(2));
    folder.write("card/100CANON/IMG_0009.CR2", raw(1));
    folder.write("card/101CANON/IMG_0009.CR2", raw(1));
    folder.write("card/101CANON/IMG_0010.CR2", raw(3));
    folder.write("card/101CANON/IMG_0010.JPG", sourceJpeg());  // the raw file is its name's source
    for (const char* name : {"IMG_0001-Edit.jpg", "IMG_0001_01.jpg", "IMG_0001 (2).jpg", "IMG_0001-HDR.jpg",
                             "IMG_0001-2-Edit.jpg", "IMG_00011.jpg", "IMG_0009.jpg", "IMG_0010.jpg", "notes.txt"})
        folder.write(std::string("export/") + name, destinationJpeg());
    const auto plain = run({"-r", "card", "export"});
    EXPECT_EQ(plain.output, "Files found 6, checked 0, updated 0\n");
    EXPECT_EQ(plain.errors, "");

    const auto paired = run({"--all-formats", "-r", "card", "export"});
    EXPECT_EQ(paired.output,
              "Tagloom: 'card/101CANON/IMG_0010.JPG' skipped - another file of that name is the source\n"
              "export/IMG_0001 (2).jpg - 1 diffs\n"
              "export/IMG_0001-2-Edit.jpg - 2 diffs\n"
              "export/IMG_0001-Edit.jpg - 1 diffs\n"
              "export/IMG_0001-HDR.jpg - 1 diffs\n"
              "export/IMG_0001_01.jpg - 1 diffs\n"
              "Tagloom: 'export/IMG_0009.jpg' skipped - two sources of that name: 'card/100CANON/IMG_0009.CR2', "
              "'card/101CANON/IMG_0009.CR2'\n"
              "export/IMG_0010.jpg - 3 diffs\n"
              "Files found 13, checked 6, updated 6\n");
    EXPECT_EQ(paired.errors,
              "tagloom: 1 file under 'export' found no source; exports are matched to sources as IMG_0001-Edit.jpg "
              "to IMG_0001.CR2\n");
    EXPECT_EQ(folder.read("export/IMG_00011.jpg"), destinationJpeg());

    const auto again = run({"--all-formats", "card", "export"});  // no -r: the card's photos lie below
    EXPECT_EQ(again.output, "Files found 0, checked 0, updated 0\n");
    EXPECT_EQ(again.errors,
              "tagloom: 8 files under 'export' found no source; exports are matched to sources as IMG_0001-Edit.jpg "
              "to IMG_0001.CR2\n"
              "tagloom: 'card' holds its photos only in sub-folders: -r would take them\n");

    // One folder of raw files and their exports; a file that is its own pair stays so.
    folder.write("shots/IMG_0001.CR2", raw(1));
    folder.write("shots/IMG_0001-Edit.jpg", destinationJpeg());
    folder.write("shots/other.jpg", sourceJpeg());
    const auto one = run({"--all-formats", "shots", "shots"});
    EXPECT_EQ(one.output, "shots/IMG_0001-Edit.jpg - 1 diffs\nFiles found 3, checked 1, updated 1\n");
    EXPECT_EQ(one.errors, "");
}

}  // namespace
