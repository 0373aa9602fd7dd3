// Crash safety: a run killed at any step of any rewrite leaves every destination complete, old or new,
// under its own name; a full disk leaves every destination as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "tests/support/run_tool.h"

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::shortValue;
using fixture::TempFolder;

namespace {

constexpr int kPairs = 3;

Bytes imageData(std::size_t size, std::uint8_t seed) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 9));
    return data;
}

void writePairs(const TempFolder& folder) {
    for (int i = 0; i < kPairs; ++i) {
        const std::string name = "p" + std::to_string(i);
        folder.write("src/" + name + ".cr2",
                     ExifBuilder::raw().ifd0({ascii(0x010F, "Canon"), ascii(0x0110, "EOS")}).subIfd({shortValue(0x9209, 1)}).build());
        folder.write("dst/" + name + ".jpg", ExifBuilder::jpeg()
                                                  .ifd0({ascii(0x010F, "Canon"), ascii(0x0131, "Editor")})
                                                  .subIfd({})
                                                  .imageData(imageData(300'000 + 1000 * static_cast<std::size_t>(i),
                                                                       static_cast<std::uint8_t>(i)))
                                                  .build());
    }
}

struct SwapPath {
    const char* name;
    std::vector<std::string> arguments;
    bool noHardLinks;
    int killPointsPerRewrite;
};

TEST(ACrash, atAnyStepOfEverySwapLeavesCompletePhotosThatAPlainRerunFinishes) {
    for (const SwapPath& swap : {SwapPath{"rename over", {"-u", "src", "dst"}, false, 6},
                                 SwapPath{"backup by hard link", {"-us", "src", "dst"}, false, 7},
                                 SwapPath{"backup by rename", {"-us", "src", "dst"}, true, 7}}) {
        SCOPED_TRACE(swap.name);
        const bool keepsBackup = swap.arguments[0] == "-us";
        std::vector<std::string> settings;
        if (swap.noHardLinks) settings.push_back("TAGLOOM_NO_HARD_LINKS=1");
        fixture::RunLimits plain(-1, settings);
        plain.steered = true;

        // What each destination looks like before and after an undisturbed run.
        TempFolder reference;
        writePairs(reference);
        std::map<std::string, Bytes> before, after;
        for (int i = 0; i < kPairs; ++i) before["p" + std::to_string(i) + ".jpg"] = reference.read("dst/p" + std::to_string(i) + ".jpg");
        ASSERT_EQ(fixture::runTagloom(swap.arguments, reference.path(), plain).output,
                  "dst/p0.jpg - 3 diffs\ndst/p1.jpg - 3 diffs\ndst/p2.jpg - 3 diffs\nFiles found 3, checked 3, updated 3\n");
        for (const auto& [name, bytes] : before) after[name] = reference.read("dst/" + name);

        int killed = 0;
        for (int crashAt = 1;; ++crashAt) {
            SCOPED_TRACE("killed at step " + std::to_string(crashAt));
            TempFolder folder;
            writePairs(folder);
            fixture::RunLimits crashing = plain;
            crashing.environment.push_back("TAGLOOM_CRASH_AT=" + std::to_string(crashAt));
            const auto result = fixture::runTagloom(swap.arguments, folder.path(), crashing);
            if (result.status == 0) break;
            ASSERT_EQ(result.status, 128 + 9) << result.output;
            ++killed;

            // Right after the cut: the photo is complete, old or new, under its name or as its backup.
            std::string restored;
            for (const auto& [name, old] : before) {
                if (!folder.exists("dst/" + name))
                    restored += "Tagloom: 'dst/" + name + "' restored from dst/" + name + ".old after an interrupted run\n";
                if (folder.exists("dst/" + name)) {
                    const Bytes now = folder.read("dst/" + name);
                    EXPECT_TRUE(now == old || now == after[name]) << name << " is neither complete old nor complete new";
                } else {
                    EXPECT_TRUE(swap.noHardLinks) << name << " has lost its name";
                }
                if (folder.exists("dst/" + name + ".old")) {
                    EXPECT_EQ(folder.read("dst/" + name + ".old"), old);
                }
            }

            // A plain re-run finishes the job with no one's help, and leaves nothing else behind.
            const auto rerun = fixture::runTagloom(swap.arguments, folder.path(), plain);
            EXPECT_EQ(rerun.status, 0);
            EXPECT_NE(rerun.output.find("Files found 3, checked 3"), std::string::npos) << rerun.output;
            EXPECT_TRUE(restored.empty() || rerun.output.find(restored) != std::string::npos) << rerun.output;
            std::set<std::string> expected;
            for (const auto& [name, old] : before) {
                EXPECT_EQ(folder.read("dst/" + name), after[name]) << name << "\n" << rerun.output;
                expected.insert(name);
                if (keepsBackup) {
                    EXPECT_EQ(folder.read("dst/" + name + ".old"), old);
                    expected.insert(name + ".old");
                }
            }
            const auto listed = folder.list("dst");
            EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected) << rerun.output;
        }
        EXPECT_EQ(killed, kPairs * swap.killPointsPerRewrite);
    }
}

TEST(ACrash, fullDiskLeavesEveryDestinationAsItWas) {
    TempFolder folder;
    writePairs(folder);
    std::map<std::string, Bytes> before;
    for (int i = 0; i < kPairs; ++i) before["dst/p" + std::to_string(i) + ".jpg"] = folder.read("dst/p" + std::to_string(i) + ".jpg");
    const auto result = fixture::runTagloom({"-u", "src", "dst"}, folder.path(), {200'000, {}});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("Files found 3, checked 3, updated 0\n"), std::string::npos) << result.output;
    for (const auto& [name, bytes] : before) {
        EXPECT_NE(result.output.find(name + " - 3 diffs\nTagloom: '' not done - "), std::string::npos) << result.output;
        EXPECT_EQ(folder.read(name), bytes);
    }
    EXPECT_EQ(folder.list("dst"), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg"}));
}

}  // namespace
