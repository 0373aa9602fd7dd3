// Real camera files: every sample loads or is refused as expected, and rewrites of real pairs read
// back cleanly in exiftool with the values the flags call for.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "exif/exception.h"
#include "exif/image.h"
#include "exif/run_state.h"
#include "tests/support/exiftool.h"
#include "tests/support/run_tool.h"

using fixture::Bytes;
using fixture::ExiftoolView;
using fixture::TempFolder;

namespace {

constexpr std::uint16_t kSoftware = 0x0131;
const std::set<std::uint16_t> kPointers = {0x8769, 0x8825, 0x927C, 0xA005, 0x0201};

class CameraSamples : public ::testing::Test {
protected:
    void SetUp() override {
        samples = fixture::samplesFolder();
        if (samples.empty()) GTEST_SKIP() << "../shared/samples is absent: real-file tests skipped";
    }
    /// A writable copy of a sample in the temporary folder, under `as` (default: its own name).
    std::string copy(const std::string& name, std::string as = "") {
        if (as.empty()) as = name;
        std::filesystem::copy_file(samples + "/" + name, folder / as, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(folder / as, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        return as;
    }
    fixture::RunResult run(std::vector<std::string> args) { return fixture::runTagloom(args, folder.path()); }
    void requireExiftool() {
        if (!fixture::haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    }

    std::string samples;
    TempFolder folder;
};

std::uint32_t app1End(const Bytes& file) { return ((std::uint32_t(file[4]) << 8) | file[5]) + 4; }
Bytes from(const Bytes& bytes, std::size_t at) { return Bytes(bytes.begin() + static_cast<long>(at), bytes.end()); }

TEST_F(CameraSamples, loadOrAreRefusedWithTheRightMessage) {
    const std::map<std::string, std::string> refused = {
        {"87_OSError.jpg", "Unknown format type"},        {"DSCN0010.jpg", "Unknown format type"},
        {"FujiFilm.jpg", "Unknown format type"},          {"Olympus.jpg", "Unknown format type"},
        {"Panasonic.jpg", "Unknown format type"},         {"Sony.jpg", "Unknown format type"},
        {"corrupted.jpg", "Unknown format type"},         {"Canon_40D.jpg", "Jpg header type not supported"},
        {"NikonD70.jpg", "Jpg header type not supported"}, {"no_exif.jpg", "Jpg header type not supported"},
        {"Writer.jpg", "Jpg header type not supported"},  {"kodak-dc210.jpg", "Jpg header type not supported"},
    };
    const std::set<std::string> loaded = {"22-canon_tags.jpg", "Canon.jpg", "CanonRaw.cr2", "ExifTool.jpg",
                                          "GPS.jpg",           "Nikon.jpg", "canon-ixus.jpg", "landscape_1.jpg"};
    std::size_t seen = 0;
    for (const auto& item : std::filesystem::directory_iterator(samples)) {
        const std::string name = item.path().filename().string();
        if (name == "README.md") continue;
        ++seen;
        copy(name);
        copy("Canon.jpg", "good.jpg");
        const Bytes before = folder.read(name);
        const auto asDestination = run({"-x", "good.jpg", name}).output;
        const auto asSource = run({"-x", name, "good.jpg"}).output;
        if (refused.count(name) != 0) {
            EXPECT_EQ(asDestination, "Tagloom: '" + name + "' " + refused.at(name) + "\n");
            EXPECT_EQ(asSource, "Tagloom: '" + name + "' " + refused.at(name) + "\n");
        } else {
            EXPECT_EQ(loaded.count(name), 1u) << name << " is a sample this test does not know";
            EXPECT_EQ(asDestination.find("Tagloom:"), std::string::npos) << name << ": " << asDestination;
            EXPECT_EQ(asSource.find("Tagloom:"), std::string::npos) << name << ": " << asSource;
        }
        EXPECT_EQ(folder.read(name), before) << name << " was changed";
    }
    EXPECT_EQ(seen, refused.size() + loaded.size());
}

TEST_F(CameraSamples, readsTheIfd0ThatTheTiffHeaderNames) {
    copy("87_OSError.jpg");
    copy("Canon.jpg");
    const auto trace = run({"-x", "-v4", "Canon.jpg", "87_OSError.jpg"}).output;
    EXPECT_EQ(trace.substr(0, trace.find('\n', trace.find('\n') + 1) + 1),
              "87_OSError.jpg parse:\n  IFD0 26 entries starting at offset 0x7314\n");
}

TEST_F(CameraSamples, listEveryTagTheDestinationLacksAsAnAdd) {
    requireExiftool();
    const std::map<std::string, std::string> directoryNames = {
        {"IFD0", "IFD0"}, {"ExifIFD", "SUB0"}, {"MakerNotes", "MAK0"}, {"GPS", "GPS0"}, {"InteropIFD", "INT0"}};
    for (const auto& [source, destination] : std::vector<std::pair<std::string, std::string>>{
             {"CanonRaw.cr2", "Canon.jpg"}, {"Canon.jpg", "22-canon_tags.jpg"}, {"GPS.jpg", "canon-ixus.jpg"}}) {
        copy(source);
        copy(destination);
        const Bytes before = folder.read(destination);
        const std::string listing = run({"-x", source, destination}).output;
        const ExiftoolView from = fixture::readWithExiftool(folder / source);
        const ExiftoolView to = fixture::readWithExiftool(folder / destination);
        std::set<std::string> expected;
        for (const auto& [exiftoolName, ourName] : directoryNames) {
            for (const auto& [tag, value] : from[exiftoolName]) {
                if (to.has(exiftoolName, tag) || tag == kSoftware) continue;  // a copied Software is removed
                char line[32];
                std::snprintf(line, sizeof line, "%s:0x%04x add", ourName.c_str(), tag);
                expected.insert(line);
            }
        }
        std::set<std::string> listed;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            if (line.size() > 7 && line.find(" add ") != std::string::npos) listed.insert(line.substr(line.find(' ', 4) + 1, 15));
        }
        EXPECT_EQ(listed, expected) << source << " into " << destination << "\n" << listing;
        EXPECT_EQ(folder.read(destination), before) << "-x touches nothing";
    }
}

struct RealPair {
    std::string source;
    std::string destination;
};

class RealRewrites : public CameraSamples, public ::testing::WithParamInterface<std::string> {};

// Every sensible pair under one set of flags, each result checked by exiftool against both originals.
TEST_P(RealRewrites, readBackWithTheValuesTheFlagsCallFor) {
    requireExiftool();
    const std::string flags = GetParam();
    const bool replace = flags.find('u') != std::string::npos;
    const bool remove = flags.find('o') != std::string::npos;
    const bool dropThumbnail = flags.find('t') != std::string::npos;
    const std::vector<RealPair> pairs = {
        {"CanonRaw.cr2", "Canon.jpg"},      {"CanonRaw.cr2", "canon-ixus.jpg"}, {"Canon.jpg", "22-canon_tags.jpg"},
        {"22-canon_tags.jpg", "Canon.jpg"}, {"GPS.jpg", "ExifTool.jpg"},       {"Canon.jpg", "GPS.jpg"},
        {"CanonRaw.cr2", "landscape_1.jpg"}};
    for (const RealPair& pair : pairs) {
        SCOPED_TRACE(pair.source + " into " + pair.destination + " with " + flags);
        copy(pair.source);
        const std::string original = "original-" + pair.destination;
        copy(pair.destination, original);
        copy(pair.destination);
        std::vector<std::string> args = {pair.source, pair.destination};
        if (!flags.empty()) args.insert(args.begin(), flags);
        const auto result = run(args);
        ASSERT_EQ(result.output.find("Tagloom:"), std::string::npos) << result.output;
        ASSERT_EQ(result.status, 0);

        const Bytes before = folder.read(original);
        const Bytes after = folder.read(pair.destination);
        EXPECT_EQ(from(after, app1End(after)), from(before, app1End(before))) << "image data kept byte for byte";
        EXPECT_EQ(run({"-x", pair.source, pair.destination}).output.find("Tagloom:"), std::string::npos)
            << "our own loader reads the result";

        const ExiftoolView source = fixture::readWithExiftool(folder / pair.source);
        const ExiftoolView old = fixture::readWithExiftool(folder / original);
        const ExiftoolView now = fixture::readWithExiftool(folder / pair.destination);
        EXPECT_EQ(now.validation.find("Error"), std::string::npos) << now.validation;
        EXPECT_EQ(now.validation.find("Bad"), std::string::npos) << now.validation;
        const bool changed = result.output.find(" - no diffs") == std::string::npos;
        if (changed) {
            EXPECT_FALSE(now.has("IFD0", kSoftware)) << "no Software tag after a rewrite";
        }

        for (const std::string directory : {"IFD0", "ExifIFD", "MakerNotes", "GPS", "InteropIFD"}) {
            // A tag a directory holds twice is merged by its first entry only: its values are not compared.
            auto comparable = [&](std::uint16_t tag) {
                return kPointers.count(tag) == 0 && tag != kSoftware && !source.isRepeated(directory, tag) &&
                       !old.isRepeated(directory, tag);
            };
            for (const auto& [tag, value] : source[directory]) {
                if (!comparable(tag)) continue;
                const bool kept = old.has(directory, tag) && !replace;
                EXPECT_EQ(now[directory].count(tag), 1u) << directory << " " << tag;
                const std::string& wanted = kept ? old[directory].at(tag) : value;
                if (now.has(directory, tag) && !wanted.empty() && !now[directory].at(tag).empty()) {
                    EXPECT_EQ(now[directory].at(tag), wanted) << directory << " " << tag;
                }
            }
            for (const auto& [tag, value] : old[directory]) {
                if (!comparable(tag) || source.has(directory, tag)) continue;
                if (remove) {
                    EXPECT_FALSE(now.has(directory, tag)) << directory << " " << tag << " should be gone";
                } else if (now.has(directory, tag)) {
                    EXPECT_EQ(now[directory].at(tag), value) << directory << " " << tag;
                } else {
                    ADD_FAILURE() << directory << " " << tag << " was lost";
                }
            }
        }

        const std::string oldThumbnail = fixture::commandOutput("exiftool -b -IFD1:ThumbnailImage '" + (folder / original) + "'");
        const std::string newThumbnail =
            fixture::commandOutput("exiftool -b -IFD1:ThumbnailImage '" + (folder / pair.destination) + "'");
        EXPECT_EQ(newThumbnail, dropThumbnail && changed ? std::string() : oldThumbnail) << "the thumbnail";
        if (flags == "-s") {
            EXPECT_EQ(folder.read(pair.destination + ".old"), before) << "the backup is the old file";
            std::filesystem::remove(folder / (pair.destination + ".old"));
        } else {
            EXPECT_FALSE(folder.exists(pair.destination + ".old"));
        }
        EXPECT_FALSE(folder.exists(pair.destination + ".tmp"));
    }
}

INSTANTIATE_TEST_SUITE_P(Flags, RealRewrites, ::testing::Values("", "-u", "-o", "-t", "-uo", "-uot", "-s"),
                         [](const ::testing::TestParamInfo<std::string>& flag) {
                             return flag.param.empty() ? std::string("none") : flag.param.substr(1);
                         });

}  // namespace
