// The platform layer: copying, listing and the renames that never replace.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform.h"
#include "tests/support/run_tool.h"

using namespace tagloom;

using fixture::Bytes;
using fixture::TempFolder;

namespace {

TEST(AFile, copiesThroughTheBufferInPiecesAndReportsAShortSource) {
    TempFolder folder;
    Bytes data(2'621'440 + 7);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ (i >> 11));
    folder.write("from", data);
    const platform::File from = platform::File::openForReading(folder / "from");
    platform::File to = platform::File::createNew(folder / "to");
    ASSERT_TRUE(from.isOpen() && to.isOpen());
    std::vector<std::uint8_t> buffer(0x100000);
    to.copyThroughBuffer(from, 7, 3, data.size() - 7, buffer.data(), buffer.size());
    to.close();
    Bytes expected(3, 0);
    expected.insert(expected.end(), data.begin() + 7, data.end());
    EXPECT_EQ(folder.read("to"), expected);

    platform::File again = platform::File::createNew(folder / "to");
    EXPECT_THROW(again.copyFrom(from, 10, 0, data.size(), buffer.data(), buffer.size()), platform::IoError)
        << "the source ends before n bytes";
    EXPECT_THROW(again.copyThroughBuffer(from, 10, 0, data.size(), buffer.data(), buffer.size()), platform::IoError);
}

TEST(AFile, opensOnlyRegularFilesAndNeverWritesThroughALink) {
    TempFolder folder;
    folder.write("photo.jpg", {1, 2, 3});
    EXPECT_FALSE(platform::File::openForReading(folder.path()).isOpen()) << "a folder";
    EXPECT_FALSE(platform::File::openForReading(folder / "none").isOpen());
    std::filesystem::create_symlink(folder / "photo.jpg", folder / "link.tmp");
    EXPECT_FALSE(platform::File::createNew(folder / "link.tmp").isOpen());
    EXPECT_EQ(folder.read("photo.jpg"), (Bytes{1, 2, 3}));

    const platform::File file = platform::File::openForReading(folder / "photo.jpg");
    std::uint8_t bytes[8] = {};
    EXPECT_EQ(file.readAt(1, bytes, sizeof bytes), 2u) << "a short read at the end of the file";
    EXPECT_EQ(file.length(), 3u);
}

TEST(APlatform, listsFoldersSortedWithoutDotEntries) {
    TempFolder folder;
    folder.write("b.jpg", {});
    folder.write("B.JPG", {});
    folder.write("a/x.jpg", {});
    const auto listed = platform::listDirectory(folder.path());
    ASSERT_TRUE(listed.has_value());
    std::vector<std::string> names;
    for (const auto& entry : *listed) names.push_back(entry.name + (entry.isDirectory ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"B.JPG", "a/", "b.jpg"}));
    EXPECT_FALSE(platform::listDirectory(folder / "missing").has_value());
}

TEST(APlatform, neverReplacesAnExistingNameWhenAskedNotTo) {
    TempFolder folder;
    folder.write("photo.jpg", {1});
    folder.write("photo.jpg.old", {2});
    int error = 0;
    platform::FileSystem& files = platform::systemFileSystem();
    EXPECT_FALSE(files.linkNoReplace(folder / "photo.jpg", folder / "photo.jpg.old", error));
    EXPECT_TRUE(platform::isNameTaken(error));
    EXPECT_FALSE(files.renameNoReplace(folder / "photo.jpg", folder / "photo.jpg.old", error));
    EXPECT_TRUE(platform::isNameTaken(error));
    EXPECT_EQ(folder.read("photo.jpg.old"), (Bytes{2}));
    EXPECT_TRUE(files.renameNoReplace(folder / "photo.jpg", folder / "moved.jpg", error));
    EXPECT_EQ(folder.read("moved.jpg"), (Bytes{1}));
    EXPECT_FALSE(files.removeFile(folder / "photo.jpg", error)) << "already gone";
    EXPECT_NO_THROW(files.syncParentDirectory(folder / "moved.jpg"));
}

}  // namespace
