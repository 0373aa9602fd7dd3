// Rewriting a destination: the new file's bytes, its trace, its limits, and the swap under faults.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "app/run_context.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "merge/merge.h"
#include "platform/platform.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"
#include "writer/rewrite.h"

using namespace tagloom;

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::shortValue;
using fixture::TempFolder;
using fixture::undefinedBytes;

namespace {

using namespace fixture::tags;

ExifBuilder destinationFile() {
    return ExifBuilder::jpeg()
        .ifd0({ascii(kMake, "Canon"), ascii(kSoftware, "Ed")})
        .subIfd({shortValue(kFlash, 0)})
        .makerNote({shortValue(0x0001, 1)});
}

ExifBuilder sourceFile() {
    return ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kModel, "EOS")}).subIfd({shortValue(kFlash, 0)});
}

/// A destination whose rewritten block ends at 76 + padding (even) once the source adds one small entry.
ExifBuilder destinationEndingAt(std::uint32_t exifEnd) {
    return ExifBuilder::jpeg().ifd0({undefinedBytes(0xC000, Bytes(exifEnd - 76, 0x5A))}).subIfd({});
}

Bytes tail(const Bytes& bytes, std::size_t from) { return Bytes(bytes.begin() + static_cast<long>(from), bytes.end()); }

std::uint32_t app1End(const Bytes& file) { return ((std::uint32_t(file[4]) << 8) | file[5]) + 4; }

class ARewrite : public ::testing::Test {
protected:
    void SetUp() override {
        folder.write("dst.jpg", destinationFile().build());
        folder.write("src.jpg", sourceFile().build());
    }
    fixture::RunResult run(std::vector<std::string> args, fixture::RunLimits limits = {}) {
        return fixture::runTagloom(args, folder.path(), limits);
    }
    TempFolder folder;
};

TEST_F(ARewrite, tracesEveryDirectoryAndThePatchedPointers) {
    const std::uint32_t oldEnd = destinationFile().layout().sectionEnd;
    const auto result = run({"-v2", "src.jpg", "dst.jpg"});
    char append[80];
    std::snprintf(append, sizeof append, "  Append 0x%zx bytes from offset 0x%x of original jpg\n",
                  fixture::tinyJpegScan().size(), oldEnd);
    EXPECT_EQ(result.output,
              "dst.jpg - 2 diffs\n"
              "  IFD0 3 entries start at 0x0014\n"
              "    Dir Entry 0x0016, Tag IFD0:0x010f, Data 0x003e, Size 0x0006  \n"
              "    Dir Entry 0x0022, Tag IFD0:0x0110, Data ------, Size 0x0004  add\n"
              "    Dir Entry         Tag IFD0:0x0131, Data         Size 0x0003  remove\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  \n"
              "  SUB0 2 entries start at 0x0044\n"
              "    Dir Entry 0x0046, Tag SUB0:0x9209, Data ------, Size 0x0002  \n"
              "    Dir Entry 0x0052, Tag SUB0:0x927c, Data ------, Size 0x0004  \n"
              "  MAK0 1 entries start at 0x0062\n"
              "    Dir Entry 0x0064, Tag MAK0:0x0001, Data ------, Size 0x0002  \n"
              "  IFD-EOF: 0x0076.   Re-write:\n"
              "    Dir Entry 0x002e, Tag IFD0:0x8769, Data ------, Size 0x0004  SubPtr\n"
              "    Dir Entry 0x0052, Tag SUB0:0x927c, Data 0x0062, Size 0x0012  Maker Note\n" +
                  std::string(append));
    EXPECT_EQ(folder.list(), (std::vector<std::string>{"dst.jpg", "src.jpg"})) << "no .tmp, no .old left";
}

TEST_F(ARewrite, buildsTheNewHeaderAndKeepsTheImageDataByteForByte) {
    Bytes imageData(2'621'440);  // 2.5 MiB: more than two pieces of the copy buffer
    for (std::size_t i = 0; i < imageData.size(); ++i) imageData[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const Bytes old = destinationFile().ifd0Offset(24).imageData(imageData).build();
    folder.write("dst.jpg", old);
    ASSERT_EQ(run({"src.jpg", "dst.jpg"}).output, "dst.jpg - 2 diffs\n");

    const Bytes now = folder.read("dst.jpg");
    const std::uint32_t exifEnd = app1End(now);
    EXPECT_EQ(exifEnd, 0x76u);
    EXPECT_EQ(Bytes(now.begin(), now.begin() + 4), Bytes(old.begin(), old.begin() + 4));
    EXPECT_EQ(Bytes(now.begin() + 6, now.begin() + 16), Bytes(old.begin() + 6, old.begin() + 16));
    EXPECT_EQ(fixture::getU32(now, 16), 8u) << "IFD0 now lies right behind the header";
    EXPECT_EQ(now[exifEnd - 2], 0xFF);
    EXPECT_EQ(now[exifEnd - 1], 0xD9);
    EXPECT_EQ(tail(now, exifEnd), tail(old, app1End(old)));
}

TEST_F(ARewrite, keepsTheBackupUnderKeepBackupAndThePermissions) {
    const Bytes old = folder.read("dst.jpg");
    ASSERT_EQ(::chmod((folder / "dst.jpg").c_str(), 0640), 0);
    EXPECT_EQ(run({"-s", "src.jpg", "dst.jpg"}).output, "dst.jpg - 2 diffs\n");
    EXPECT_EQ(folder.read("dst.jpg.old"), old);
    struct stat info {};
    ASSERT_EQ(::stat((folder / "dst.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_FALSE(folder.exists("dst.jpg.tmp"));
}

TEST_F(ARewrite, keepsTheOwnerWhereTheSystemAllowsIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can give a file to another owner";
    ASSERT_EQ(::chown((folder / "dst.jpg").c_str(), 1234, 2345), 0);
    EXPECT_EQ(run({"src.jpg", "dst.jpg"}).output, "dst.jpg - 2 diffs\n");
    struct stat info {};
    ASSERT_EQ(::stat((folder / "dst.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 2345u);
}

TEST_F(ARewrite, refusesADestinationThatIsASymbolicLink) {
    const Bytes old = folder.read("dst.jpg");
    std::filesystem::create_symlink("dst.jpg", folder / "link.jpg");
    EXPECT_EQ(run({"src.jpg", "link.jpg"}).output,
              "link.jpg - 2 diffs\nTagloom: '' not done - 'link.jpg' is a symbolic link; name the file it points to\n");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.jpg"));
    EXPECT_EQ(folder.read("dst.jpg"), old);
    EXPECT_EQ(folder.list(), (std::vector<std::string>{"dst.jpg", "link.jpg", "src.jpg"}));
}

TEST_F(ARewrite, writesNothingWithoutDifferences) {
    folder.write("same.jpg", sourceFile().build());
    EXPECT_EQ(run({"src.jpg", "same.jpg"}).output, "same.jpg - no diffs\n");
    EXPECT_FALSE(folder.exists("same.jpg.tmp"));
    EXPECT_EQ(run({"-x", "src.jpg", "dst.jpg"}).output.find("dst.jpg - "), std::string::npos)
        << "-x prints no result line";
}

TEST_F(ARewrite, allowsABlockEndingAt65520AndRefusesOneAt65522) {
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({shortValue(kOrientation, 1)}).build());
    folder.write("fits.jpg", destinationEndingAt(65520).build());
    EXPECT_EQ(run({"src.jpg", "fits.jpg"}).output, "fits.jpg - 1 diffs\n");
    EXPECT_EQ(app1End(folder.read("fits.jpg")), 65520u);

    const Bytes tooLarge = destinationEndingAt(65522).build();
    folder.write("big.jpg", tooLarge);
    EXPECT_EQ(run({"src.jpg", "big.jpg"}).output, "big.jpg - 1 diffs\nTagloom: '' Exif data too large\n");
    EXPECT_EQ(folder.read("big.jpg"), tooLarge);
    EXPECT_EQ(folder.read("big.jpg.tmp").size(), 65522u) << "the whole block stays in the temporary file";
    EXPECT_FALSE(folder.exists("big.jpg.old"));
}

TEST_F(ARewrite, needsAnExifSubDirectoryInOneOfTheTwo) {
    const Bytes bare = ExifBuilder::jpeg().ifd0({ascii(kMake, "A")}).build();
    folder.write("bare.jpg", bare);
    folder.write("plain.jpg", ExifBuilder::jpeg().ifd0({ascii(kModel, "B")}).build());
    EXPECT_EQ(run({"plain.jpg", "bare.jpg"}).output,
              "bare.jpg - 1 diffs\nTagloom: '' not done - target needs new sub ifd in ifd0\n");
    EXPECT_EQ(folder.read("bare.jpg"), bare);
    EXPECT_EQ(folder.read("bare.jpg.tmp").size(), 20u);

    // A source with an Exif sub-directory gives the destination one.
    EXPECT_EQ(run({"-v2", "src.jpg", "bare.jpg"}).output.find("SubPtr") != std::string::npos, true);
    CExifImage reread;
    reread.load(folder / "bare.jpg");
    EXPECT_NE(reread.subIfd.findEntry(kFlash), nullptr);
}

TEST_F(ARewrite, skipsThePatchOfARemovedMakerNoteAndRefusesARemovedSubPointer) {
    folder.write("nonote.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({}).build());
    ASSERT_EQ(run({"-o", "nonote.jpg", "dst.jpg"}).output, "dst.jpg - 4 diffs\n");
    CExifImage reread;
    reread.load(folder / "dst.jpg");
    EXPECT_EQ(reread.subIfd.findEntry(0x927C), nullptr);
    EXPECT_EQ(reread.ifd0.findEntry(kSoftware), nullptr);
    EXPECT_NE(reread.ifd0.findEntry(kMake), nullptr);

    folder.write("nosub.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).build());
    folder.write("dst2.jpg", destinationFile().build());
    EXPECT_EQ(run({"-o", "nosub.jpg", "dst2.jpg"}).output,
              "dst2.jpg - 5 diffs\nTagloom: '' not done - target needs new sub ifd in ifd0\n");
    EXPECT_EQ(folder.read("dst2.jpg"), destinationFile().build());
}

TEST_F(ARewrite, refusesARawDestinationAndAShortSubPointerBeforeWriting) {
    const Bytes raw = ExifBuilder::raw().ifd0({ascii(kMake, "A")}).subIfd({}).build();
    folder.write("raw.jpg", raw);
    EXPECT_EQ(run({"src.jpg", "raw.jpg"}).output,
              "raw.jpg - 1 diffs\nTagloom: '' not done - a raw image cannot be rewritten\n");
    EXPECT_EQ(folder.read("raw.jpg"), raw);
    EXPECT_FALSE(folder.exists("raw.jpg.tmp"));

    // A 34665 entry of type SHORT: its two bytes still lead to the sub-directory when read.
    auto shortPointer = ExifBuilder::jpeg().noAutoPointers().ifd0({shortValue(0x8769, 0)}).subIfd({});
    auto bytes = shortPointer.build();
    fixture::putU16(bytes, 12 + 8 + 2 + 8, static_cast<std::uint16_t>(shortPointer.layout().subIfd));
    folder.write("short.jpg", bytes);
    EXPECT_EQ(run({"src.jpg", "short.jpg"}).output,
              "short.jpg - 3 diffs\nTagloom: '' not done - Exif sub-directory pointer holds fewer than four bytes\n");
    EXPECT_EQ(folder.read("short.jpg"), bytes);
    EXPECT_FALSE(folder.exists("short.jpg.tmp"));
}

TEST_F(ARewrite, refusesAnOldFileThatEndsInsideItsSegment) {
    Bytes cut = destinationFile().app1Length(2000).imageData({}).padding(0).build();
    ASSERT_LT(cut.size(), 2004u) << "the segment claims 2004 bytes";
    folder.write("cut.jpg", cut);
    EXPECT_EQ(run({"src.jpg", "cut.jpg"}).output,
              "cut.jpg - 2 diffs\nTagloom: '' not done - file ends inside its Exif segment\n");
    EXPECT_EQ(folder.read("cut.jpg"), cut);
}

TEST_F(ARewrite, leavesEveryFileAsItWasOnAFullDisk) {
    const Bytes old = destinationFile().imageData(Bytes(200'000, 0x33)).build();
    folder.write("dst.jpg", old);
    const auto result = run({"src.jpg", "dst.jpg"}, {100'000, {}});
    EXPECT_EQ(result.output.rfind("dst.jpg - 2 diffs\nTagloom: '' not done - ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("File too large\n"), std::string::npos) << result.output;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(folder.read("dst.jpg"), old);
    EXPECT_EQ(folder.list(), (std::vector<std::string>{"dst.jpg", "src.jpg"}));
}

TEST_F(ARewrite, keepsABackupOnlyUnderSAndNeverReplacesOne) {
    const Bytes old = folder.read("dst.jpg");
    folder.write("dst.jpg.old", {'k', 'e', 'e', 'p'});
    EXPECT_EQ(run({"-s", "src.jpg", "dst.jpg"}).output,
              "dst.jpg - 2 diffs\nTagloom: '' not done - backup file 'dst.jpg.old' is in the way - move it away to go on\n");
    EXPECT_EQ(folder.read("dst.jpg"), old);
    EXPECT_EQ(folder.read("dst.jpg.old"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(folder.exists("dst.jpg.tmp"));

    // Without -s no backup is made, so a kept one is in nobody's way.
    EXPECT_EQ(run({"src.jpg", "dst.jpg"}).output, "dst.jpg - 2 diffs\n");
    EXPECT_EQ(folder.read("dst.jpg.old"), (Bytes{'k', 'e', 'e', 'p'}));
    const Bytes rewritten = folder.read("dst.jpg");

    // A backup link that a cut left behind is the destination itself: it goes, and the run goes on.
    folder.write("dst.jpg", old);
    std::filesystem::remove(folder / "dst.jpg.old");
    std::filesystem::create_hard_link(folder / "dst.jpg", folder / "dst.jpg.old");
    EXPECT_EQ(run({"-s", "src.jpg", "dst.jpg"}).output, "dst.jpg - 2 diffs\n");
    EXPECT_EQ(folder.read("dst.jpg"), rewritten);
    EXPECT_EQ(folder.read("dst.jpg.old"), old);

    // A photo deleted after a run under -s is a missing photo: its kept backup stays as it is.
    std::filesystem::remove(folder / "dst.jpg");  // the backup of the -s run above holds the old file
    folder.write("in/dst.jpg", folder.read("src.jpg"));  // folder mode pairs it with ./dst.jpg
    for (const std::string flags : {"-u", "-x"}) {
        EXPECT_EQ(run({flags, "src.jpg", "dst.jpg"}).output.substr(0, 15), "Src and Dst mus");
        EXPECT_EQ(run({flags, "in", "."}).output, "Files found 1, checked 0, updated 0\n");
    }
    EXPECT_EQ(folder.read("dst.jpg.old"), old);

    // A cut between the two renames of a swap without hard links leaves the new file beside the
    // backup: the photo is named under -x, put back by a run, and left to the run that holds it.
    folder.write("dst.jpg.tmp", rewritten);
    EXPECT_EQ(run({"-x", "src.jpg", "dst.jpg"}).output,
              "Tagloom: 'dst.jpg' exists only as dst.jpg.old (an interrupted run)\n");
    {
        platform::File held = platform::File::openForReading(folder / "dst.jpg.old");
        ASSERT_TRUE(held.tryLock());
        const auto busy = run({"src.jpg", "dst.jpg"});
        EXPECT_EQ(busy.status, 0);
        EXPECT_EQ(busy.output, "Tagloom: 'dst.jpg' not done - another run is rewriting it\n");
        EXPECT_EQ(run({"in", "."}).output,
                  "Tagloom: './dst.jpg' not done - another run is rewriting it\nFiles found 1, checked 0, updated 0\n");
    }
    EXPECT_EQ(run({"src.jpg", "dst.jpg"}).output,
              "Tagloom: 'dst.jpg' restored from dst.jpg.old after an interrupted run\ndst.jpg - 2 diffs\n");
    EXPECT_EQ(folder.read("dst.jpg"), rewritten);
    EXPECT_FALSE(folder.exists("dst.jpg.old"));
    EXPECT_FALSE(folder.exists("dst.jpg.tmp"));

    // A folder under the temporary name is not ours to remove.
    folder.write("dst.jpg", old);
    std::filesystem::create_directory(folder / "dst.jpg.tmp");
    EXPECT_EQ(run({"src.jpg", "dst.jpg"}).output, "dst.jpg - 2 diffs\nTagloom: '' Failed to open tmp file\n");
    EXPECT_EQ(folder.read("dst.jpg"), old);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "dst.jpg.tmp"));
}

TEST_F(ARewrite, countsOnlyDestinationsWhoseNewFileIsInPlace) {
    folder.write("in/a.jpg", sourceFile().build());
    folder.write("in/b.jpg", sourceFile().build());
    folder.write("out/a.jpg", destinationFile().build());
    folder.write("out/b.jpg", destinationFile().build());
    folder.write("out/a.jpg.old", {});
    EXPECT_EQ(run({"-s", "in", "out"}).output,
              "out/a.jpg - 2 diffs\n"
              "Tagloom: '' not done - backup file 'out/a.jpg.old' is in the way - move it away to go on\n"
              "out/b.jpg - 2 diffs\n"
              "Files found 2, checked 2, updated 1\n");
}

/// What a rewrite in this process came to: the refusal's message, and whether the new file is in place.
struct InProcess {
    std::string message;
    bool updated = false;
};

/// Loads, merges and rewrites dst.jpg from src.jpg in this process, on the given file system.
InProcess rewriteInProcess(const TempFolder& folder, const std::function<void()>& meanwhile = [] {},
                           platform::FileSystem& files = platform::systemFileSystem(),
                           const std::function<void(std::vector<std::uint8_t>&)>& encoder = nullptr) {
    RunContext run(files);
    run.copyBuffer.resize(kCopyBufferSize);
    CExifImage destination;
    CExifImage source;
    destination.load(folder / "dst.jpg");
    source.load(folder / "src.jpg");
    mergeFrom(destination, source, run.config.Options);
    meanwhile();
    ::testing::internal::CaptureStdout();
    InProcess result;
    try {
        Rewriting rewriting = run.rewriting();
        rewriting.afterEncoding = encoder;
        result.updated = rewrite(destination, rewriting).updated;
    } catch (const CExifException& failure) {
        result.message = failure.message();
    }
    ::testing::internal::GetCapturedStdout();
    return result;
}

// The new bytes are read back as the next run reads them before they replace anything: an encoder
// that writes a value or a tag wrong is refused with the part that differs, and the
// photo stays as it was.
TEST(ARewriteInProcess, readsItsNewBytesBackBeforeTheyReplaceThePhoto) {
    TempFolder folder;
    folder.write("dst.jpg", destinationFile().build());
    folder.write("src.jpg", sourceFile().build());
    const Bytes before = folder.read("dst.jpg");
    const struct {
        std::size_t at;  // in the new segment: the Model's value "EOS", the maker note entry's tag
        std::uint8_t byte;
        const char* part;
    } faults[] = {{0x2a, 'X', "IFD0:0x0110"}, {0x52, 0x7D, "SUB0:0x927c"}};
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.part);
        const InProcess result = rewriteInProcess(folder, [] {}, platform::systemFileSystem(),
                                                  [&](std::vector<std::uint8_t>& bytes) { bytes.at(fault.at) = fault.byte; });
        EXPECT_EQ(result.message, std::string("not done - the new Exif data does not read back as planned (") + fault.part + ")");
        EXPECT_FALSE(result.updated);
        EXPECT_EQ(folder.read("dst.jpg"), before);
        EXPECT_EQ(folder.list(), (std::vector<std::string>{"dst.jpg", "src.jpg"}));
    }
    EXPECT_TRUE(rewriteInProcess(folder).updated) << "the encoder as it is reads back";
}

TEST(ARewriteInProcess, refusesADestinationChangedSinceItWasLoaded) {
    TempFolder folder;
    folder.write("dst.jpg", destinationFile().build());
    folder.write("src.jpg", sourceFile().build());
    const Bytes edited = destinationFile().imageData(Bytes(50, 9)).build();
    // Another program saves the photo meanwhile.
    const InProcess result = rewriteInProcess(folder, [&] { folder.write("dst.jpg", edited); });
    EXPECT_EQ(result.message, "not done - file changed while it was being rewritten");
    EXPECT_FALSE(result.updated);
    EXPECT_EQ(folder.read("dst.jpg"), edited);
    EXPECT_EQ(folder.list(), (std::vector<std::string>{"dst.jpg", "src.jpg"}));
}

TEST(ARewriteInProcess, leavesTheDestinationAsItWasWhenTheSystemFailsAStep) {
    struct Failing : platform::FileSystem {
        std::string call;
        void sync(platform::File& file) override {
            if (call == "fsync") throw platform::IoError("fsync(dst.jpg.tmp): Input/output error");
            FileSystem::sync(file);
        }
        void renameReplace(const std::string& from, const std::string& to) override {
            if (call == "rename") throw platform::IoError("rename(dst.jpg.tmp -> dst.jpg): Read-only file system");
            FileSystem::renameReplace(from, to);
        }
    } failing;
    for (const std::string call : {"fsync", "rename"}) {
        TempFolder folder;
        const Bytes old = destinationFile().build();
        folder.write("dst.jpg", old);
        folder.write("src.jpg", sourceFile().build());
        failing.call = call;
        const InProcess result = rewriteInProcess(folder, [] {}, failing);
        EXPECT_EQ(result.message.substr(0, 16 + call.size()), "not done - " + call + "(dst.");
        EXPECT_FALSE(result.updated);
        EXPECT_EQ(folder.read("dst.jpg"), old);
        EXPECT_EQ(folder.list(), (std::vector<std::string>{"dst.jpg", "src.jpg"})) << "no temporary file is left";
    }
}

}  // namespace

namespace {

TEST_F(ARewrite, keepsMakerNotePositionsLeadingToTheirBytesOrRefuses) {
    // Canon 0x0083 counts from the first byte of the file; behind the segment it moves with the data.
    Bytes data(4000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
    const auto canon = [&](std::uint32_t position) {
        return ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({})
            .makerNote({fixture::longValue(0x0083, position)}).imageData(data);
    };
    const std::uint32_t behind = canon(0).layout().sectionEnd + 1000;
    const Bytes old = canon(behind).build();
    folder.write("canon.jpg", old);
    folder.write("artist.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon"), ascii(kArtist, "Ann Smith")}).build());
    EXPECT_NE(run({"-v2", "artist.jpg", "canon.jpg"}).output.find("Tag MAK0:0x0083, Data ------, Size 0x0004  Moved\n"),
              std::string::npos);
    CExifImage rewritten;
    rewritten.load(folder / "canon.jpg");
    const std::uint32_t moved = rewritten.makerNote.findEntry(0x0083)->valueAsU32();
    const Bytes now = folder.read("canon.jpg");
    EXPECT_EQ(moved - behind, now.size() - old.size()) << "moved by the segment's growth";
    EXPECT_EQ(Bytes(now.begin() + moved, now.begin() + moved + 64), Bytes(old.begin() + behind, old.begin() + behind + 64));

    // Into the segment (bytes no entry owns, as in an EOS-1D Mark III), or a preview directory of a
    // headerless Nikon note: refused, nothing written.
    const Bytes inside = canon(40).build();
    const Bytes nikon = ExifBuilder::jpeg().ifd0({ascii(kMake, "NIKON")}).subIfd({})
                            .makerNote({fixture::longValue(0x0011, 30)}).build();
    for (const auto& [name, bytes, tag] : {std::tuple{"inside.jpg", inside, "0x0083"}, std::tuple{"nikon.jpg", nikon, "0x0011"}}) {
        folder.write(name, bytes);
        EXPECT_EQ(run({"artist.jpg", name}).output, std::string(name) + " - 1 diffs\nTagloom: '' not done - maker note tag " +
                                                        tag + " leads to data that a rewrite would lose\n");
        EXPECT_EQ(folder.read(name), bytes);
    }

    // A maker note whose offsets count from its own start (phones) would be read from the wrong bytes.
    fixture::Entry relative = fixture::undefinedBytes(0x0001, Bytes(8, 1));
    relative.valueField = 0x10;
    folder.write("phone.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "SAMSUNG")}).subIfd({}).makerNote({relative}).build());
    EXPECT_EQ(run({"-x", "artist.jpg", "phone.jpg"}).output,
              "Tagloom: 'phone.jpg' Maker note was moved by another program; its offsets do not fit where it lies\n");
}

}  // namespace
