// No photo is lost or exposed when runs overlap, when a stranger prepares the temporary name, when
// the file carries an access list, or when a folder or the output cannot be used.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/run_tool.h"

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::TempFolder;

namespace {

constexpr int kPairs = 30;

Bytes sourceFile() { return ExifBuilder::jpeg().ifd0({ascii(0x010F, "Canon"), ascii(0x013B, "Ann")}).subIfd({}).build(); }

Bytes destinationFile(std::size_t imageBytes, std::uint8_t seed) {
    Bytes data(imageBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 12));
    return ExifBuilder::jpeg().ifd0({ascii(0x010F, "Canon")}).subIfd({}).imageData(data).build();
}

/// Mode bits and the access list as getfacl prints them, for comparing two files.
std::string accessOf(const std::string& path) {
    return fixture::commandOutput("getfacl -cp '" + path + "' 2>&1; getfattr -d -m '^user\\.' '" + path + "' 2>&1 | tail -n +2");
}

TEST(OverlappingRuns, leaveEveryPhotoCompleteOldOrNewAndNothingElse) {
    TempFolder reference;
    std::map<std::string, Bytes> before, after;
    for (int i = 0; i < kPairs; ++i) {
        const std::string name = "p" + std::to_string(i) + ".jpg";
        reference.write("src/" + name, sourceFile());
        reference.write("dst/" + name, before[name] = destinationFile(2'000'000 + 4096 * static_cast<std::size_t>(i),
                                                                      static_cast<std::uint8_t>(i)));
    }
    std::filesystem::copy(reference / "dst", reference / "d");
    ASSERT_EQ(fixture::runTagloom({"-u", "src", "d"}, reference.path()).status, 0);
    for (const auto& [name, old] : before) after[name] = reference.read("d/" + name);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    int trials = 0;
    for (int round = 0; round < 3 && std::chrono::steady_clock::now() < deadline; ++round) {
        for (const std::string flags : {"-u", "-us"}) {
            for (const int runs : {2, 4}) {
                SCOPED_TRACE(flags + " with " + std::to_string(runs) + " runs at once, round " + std::to_string(round));
                ++trials;
                std::filesystem::remove_all(reference / "d");
                std::filesystem::copy(reference / "dst", reference / "d");
                std::vector<std::future<fixture::RunResult>> started;
                for (int r = 0; r < runs; ++r) {
                    started.push_back(std::async(std::launch::async, [&] {
                        fixture::RunLimits apart;
                        apart.ownProcess = true;
                        return fixture::runTagloom({flags, "src", "d"}, reference.path(), apart);
                    }));
                }
                std::string outputs;
                for (auto& run : started) outputs += run.get().output;
                std::set<std::string> expected;
                for (const auto& [name, old] : before) {
                    const Bytes now = reference.read("d/" + name);
                    EXPECT_TRUE(now == old || now == after[name]) << name << " is neither complete old nor complete new";
                    expected.insert(name);
                    if (flags == "-us") {
                        EXPECT_EQ(reference.read("d/" + name + ".old"), old) << name;
                        expected.insert(name + ".old");
                    }
                }
                const auto listed = reference.list("d");
                EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
                EXPECT_EQ(outputs.find("Tagloom: '' not done - backup"), std::string::npos) << outputs;
            }
        }
    }
    EXPECT_GE(trials, 4);
}

TEST(APreparedTemporaryName, neitherReachesAStrangersFileNorLetsAStrangerIn) {
    TempFolder folder;
    folder.write("s.jpg", sourceFile());
    folder.write("d.jpg", destinationFile(10'000, 1));
    folder.write("elsewhere/notes.txt", {'n', 'o', 't', 'e', 's'});
    ::chmod((folder / "elsewhere/notes.txt").c_str(), 0600);
    std::filesystem::create_hard_link(folder / "elsewhere/notes.txt", folder / "d.jpg.tmp");
    EXPECT_EQ(fixture::runTagloom({"-u", "s.jpg", "d.jpg"}, folder.path()).output, "d.jpg - 1 diffs\n");
    EXPECT_EQ(folder.read("elsewhere/notes.txt"), (Bytes{'n', 'o', 't', 'e', 's'}));
    struct stat notes {};
    ASSERT_EQ(::stat((folder / "elsewhere/notes.txt").c_str(), &notes), 0);
    EXPECT_EQ(notes.st_mode & 07777, 0600u);
    EXPECT_EQ(notes.st_nlink, 1u) << "the prepared name is gone";
    const Bytes rewritten = folder.read("d.jpg");

    // A temporary file that someone keeps open: what they write later never lands in the photo.
    folder.write("d.jpg", destinationFile(10'000, 1));
    folder.write("d.jpg.tmp", {});
    ::chmod((folder / "d.jpg.tmp").c_str(), 0666);
    const int held = ::open((folder / "d.jpg.tmp").c_str(), O_WRONLY);
    ASSERT_GE(held, 0);
    EXPECT_EQ(fixture::runTagloom({"-u", "s.jpg", "d.jpg"}, folder.path()).output, "d.jpg - 1 diffs\n");
    EXPECT_EQ(::pwrite(held, "evil", 4, 0), 4);
    ::close(held);
    EXPECT_EQ(folder.read("d.jpg"), rewritten);
}

TEST(ARewrittenFile, keepsExactlyTheOldAccessListAndUserAttributes) {
    if (fixture::commandOutput("command -v setfacl >/dev/null && command -v setfattr >/dev/null && echo yes") != "yes\n")
        GTEST_SKIP() << "setfacl and setfattr are not installed (Debian's acl and attr)";
    TempFolder folder;
    folder.write("s.jpg", sourceFile());
    folder.write("listed.jpg", destinationFile(10'000, 1));
    folder.write("plain.jpg", destinationFile(10'000, 2));
    fixture::commandOutput("cd '" + folder.path() + "' && setfacl -m u:nobody:rw,g::--- listed.jpg && " +
                           "setfattr -n user.rating -v 5 listed.jpg && chmod 640 plain.jpg && " +
                           "setfacl -d -m u:nobody:rwx,g::rwx,o::rwx . 2>&1");
    const std::string listed = accessOf(folder / "listed.jpg"), plain = accessOf(folder / "plain.jpg");
    ASSERT_NE(listed.find("user:nobody:rw-"), std::string::npos) << listed;
    ASSERT_NE(listed.find("user.rating=\"5\""), std::string::npos) << listed;
    for (const std::string name : {"listed.jpg", "plain.jpg"}) {
        EXPECT_EQ(fixture::runTagloom({"-u", "s.jpg", name}, folder.path()).output, name + " - 1 diffs\n");
    }
    EXPECT_EQ(accessOf(folder / "listed.jpg"), listed);
    EXPECT_EQ(accessOf(folder / "plain.jpg"), plain) << "the folder's default list is not handed on";
}

// In a shared folder a member of the photo's group rewrites another user's photo: the owner
// cannot be kept, the group can.
TEST(ARewrittenFile, keepsItsGroupWhenTheWriterMayNotKeepItsOwner) {
    TempFolder folder;
    folder.write("s.jpg", sourceFile());
    folder.write("d.jpg", destinationFile(1000, 1));
    ASSERT_EQ(::chown(folder.path().c_str(), 0, 100), 0);
    ::chmod(folder.path().c_str(), 0775);
    ASSERT_EQ(::chown((folder / "d.jpg").c_str(), 1, 100), 0);
    ::chmod((folder / "d.jpg").c_str(), 0664);
    ::chmod((folder / "s.jpg").c_str(), 0644);
    TempFolder programs;
    ::chmod(programs.path().c_str(), 0755);
    std::filesystem::copy_file(fixture::tagloomBinary(), programs / "tagloom");
    fixture::RunLimits member;  // nobody, whose own group is nogroup, and a member of group 100
    member.binary = programs / "tagloom";
    member.runAs = "65534:65534:100";
    EXPECT_EQ(fixture::runTagloom({"-u", "s.jpg", "d.jpg"}, folder.path(), member).output, "d.jpg - 1 diffs\n");
    struct stat now {};
    ASSERT_EQ(::stat((folder / "d.jpg").c_str(), &now), 0);
    EXPECT_EQ(now.st_gid, 100u);
    EXPECT_EQ(now.st_mode & 0777, 0664u);
}

TEST(ARun, saysWhichFolderItCannotReadAndFailsWhenItsOutputIsLost) {
    TempFolder folder;
    folder.write("src/a.jpg", sourceFile());
    folder.write("src/locked/b.jpg", sourceFile());
    folder.write("dst/a.jpg", destinationFile(1000, 1));
    ::chmod(folder.path().c_str(), 0755);
    ::chmod((folder / "src/locked").c_str(), 0700);
    TempFolder programs;  // a copy of the program that another user may run
    ::chmod(programs.path().c_str(), 0755);
    std::filesystem::copy_file(fixture::tagloomBinary(), programs / "tagloom");
    fixture::RunLimits asNobody;
    asNobody.binary = programs / "tagloom";
    asNobody.runAs = "65534:65534";
    EXPECT_EQ(fixture::runTagloom({"-rx", "src", "dst"}, folder.path(), asNobody).output,
              "dst/a.jpg diffs:\n    01 IFD0:0x013b add      - 4 bytes\n\n"
              "Tagloom: 'src/locked' cannot be read: Permission denied\n"
              "Files found 1, checked 1, updated 0\n");

    fixture::RunLimits full;
    full.outputFile = "/dev/full";
    const auto lost = fixture::runTagloom({"-x", "src/a.jpg", "dst/a.jpg"}, folder.path(), full);
    EXPECT_EQ(lost.status, 2);
    EXPECT_EQ(lost.errors, "tagloom: cannot write the output: No space left on device\n");

    fixture::RunLimits hook;
    hook.environment = {"TAGLOOM_CRASH_AT=1", "TAGLOOM_NO_HARD_LINKS=1"};
    EXPECT_EQ(fixture::runTagloom({"-s", "src/a.jpg", "dst/a.jpg"}, folder.path(), hook).output,
              "dst/a.jpg - 1 diffs\n") << "the shipped program has no test hooks";
    EXPECT_TRUE(folder.exists("dst/a.jpg.old"));
}

}  // namespace
