// --all-formats: each kind of maker note read from where its directory starts, with its base and
// byte order; relaid notes keep their header, opaque ones travel byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "exif/byte_order.h"
#include "exif/exception.h"
#include "exif/image.h"
#include "exif/maker_notes.h"
#include "tests/support/load.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using namespace tagloom;

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::TempFolder;

namespace {

using namespace fixture::tags;

const std::string kText = "hello world";

struct Kind {
    std::string name;
    Bytes head;                                 // the signature and what follows it up to the directory
    ByteOrder order = ByteOrder::littleEndian;  // of the directory
    bool outerBase = false;  // value offsets count from the TIFF header, else from the note's start + baseAt
    std::uint32_t baseAt = 0;
    bool relaid = false;
    std::string make = "Maker";
    bool walked = true;  // a block whose directory is walked for its reach; else its declared bytes
};

/// The note at `at`: its head, then a directory of two entries (1: SHORT 7; 2: the text, out of line).
Bytes noteBytes(const Kind& kind, std::uint32_t at, std::uint32_t textOffsetShift = 0) {
    Bytes note = kind.head;
    const std::size_t directory = note.size();
    note.resize(directory + 2 + 2 * 12 + 4 + kText.size() + 1, 0);
    std::uint8_t* p = note.data() + directory;
    const std::uint32_t textAt = static_cast<std::uint32_t>(directory + 30);
    putU16(p, 2, kind.order);
    putU16(p + 2, 1, kind.order);
    putU16(p + 4, 3, kind.order);
    putU32(p + 6, 1, kind.order);
    putU16(p + 10, 7, kind.order);
    putU16(p + 14, 2, kind.order);
    putU16(p + 16, 2, kind.order);
    putU32(p + 18, static_cast<std::uint32_t>(kText.size() + 1), kind.order);
    putU32(p + 22, (kind.outerBase ? at + textAt : textAt - kind.baseAt) + textOffsetShift, kind.order);
    std::copy(kText.begin(), kText.end(), note.begin() + textAt);
    return note;
}

Bytes bytesOf(const char* text, std::size_t n) { return Bytes(text, text + n); }

/// A directory in `order`: its count (padded: two zero bytes behind it), the entries {tag, type,
/// count, value field}, a zero next offset.
Bytes directoryOf(ByteOrder order, const std::vector<std::array<std::uint32_t, 4>>& entries, bool padded = false) {
    Bytes bytes(2 + (padded ? 2 : 0) + 12 * entries.size() + 4, 0);
    putU16(bytes.data(), static_cast<std::uint16_t>(entries.size()), order);
    std::uint8_t* p = bytes.data() + (padded ? 4 : 2);
    for (const auto& [tag, type, count, value] : entries) {
        putU16(p, static_cast<std::uint16_t>(tag), order);
        putU16(p + 2, static_cast<std::uint16_t>(type), order);
        putU32(p + 4, count, order);
        putU32(p + 8, value, order);
        p += 12;
    }
    return bytes;
}

Bytes joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

/// A note of each row of the product's kinds (but a raw file's data and the kinds that are refused),
/// laid out as the row says: its signature, its byte order where it names one, the TIFF header or
/// offset that leads to its directory, what its offsets count from. Then cases the rows imply: a Make
/// in other letter case.
std::vector<Kind> kindsOfTheRows() {
    using Carry = MakerNoteKind::Carry;
    using Directory = MakerNoteKind::Directory;
    std::vector<Kind> kinds;
    for (const MakerNoteKind& row : makerNoteKinds()) {
        if (row.carry == Carry::never || row.carry == Carry::refused) continue;
        Kind kind;
        kind.name = row.carry == Carry::plain ? "plain directory" : row.name;
        kind.make = row.make != nullptr ? row.make : "Maker";
        kind.relaid = row.carry == Carry::plain || row.carry == Carry::relaid;
        kind.outerBase = row.outerBase();
        kind.baseAt = row.baseAt;
        kind.walked = row.directory != Directory::none;
        kind.head = Bytes(row.signature, row.signature + row.signatureLength);
        kind.order = row.order == MakerNoteKind::Order::big ? ByteOrder::bigEndian : ByteOrder::littleEndian;
        if (row.order == MakerNoteKind::Order::bytesAt) {
            kind.head.resize(std::max<std::size_t>(kind.head.size(), row.orderAt + 2), 0);
            if (kind.head[row.orderAt] != 'M') kind.head[row.orderAt] = kind.head[row.orderAt + 1] = 'I';
            kind.order = kind.head[row.orderAt] == 'M' ? ByteOrder::bigEndian : ByteOrder::littleEndian;
        }
        if (row.directory == Directory::at || row.directory == Directory::none) {
            kind.head.resize(std::max<std::size_t>(kind.head.size(), row.directory == Directory::at ? row.directoryAt : 8), 0);
        } else if (row.directory == Directory::tiffHeaderAt) {  // its own TIFF header, the directory right behind it
            kind.head.resize(row.directoryAt + 8, 0);
            const char* mark = kind.order == ByteOrder::bigEndian ? "MM" : "II";
            std::copy(mark, mark + 2, kind.head.begin() + row.directoryAt);
            putU16(kind.head.data() + row.directoryAt + 2, 42, kind.order);
            putU32(kind.head.data() + row.directoryAt + 4, 8, kind.order);
        } else {  // a 32-bit little-endian offset of the directory, which follows it
            kind.head.resize(row.directoryAt + 4, 0);
            putU32(kind.head.data() + row.directoryAt, row.directoryAt + 4, ByteOrder::littleEndian);
        }
        kinds.push_back(kind);
    }
    Kind lowerCase = *std::find_if(kinds.begin(), kinds.end(), [](const Kind& kind) { return kind.make == "SAMSUNG"; });
    lowerCase.make = "samsung";  // Makes compared ignoring case
    kinds.push_back(lowerCase);
    return kinds;
}

const std::vector<Kind> kKinds = kindsOfTheRows();

class MakerNotes : public ::testing::Test {
protected:
    ExifBuilder withNote(const Kind& kind, std::uint32_t shift = 0) {
        return ExifBuilder::jpeg().ifd0({ascii(kMake, kind.make)}).subIfd({}).makerNoteBytes(
            [kind, shift](std::uint32_t at) { return noteBytes(kind, at, shift); });
    }
    std::unique_ptr<CExifImage> load(const std::string& name, std::string* refusal = nullptr,
                                     CExifImage::Role role = CExifImage::Role::destination) {
        fixture::Loaded loaded = fixture::load(folder / name, true, role);
        if (refusal != nullptr) *refusal = loaded.message();
        else EXPECT_EQ(loaded.message(), "");
        return std::move(loaded.image);
    }
    TempFolder folder;
};

TEST_F(MakerNotes, areReadByTheirKindAndSurviveARewrite) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const ExifBuilder builder = withNote(kind);
        folder.write("dst.jpg", builder.build());
        folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, kind.make), ascii(kArtist, "Ann")}).build());
        EXPECT_NE(fixture::runTagloom({"--all-formats", "-x", "-v4", "src.jpg", "dst.jpg"}, folder.path())
                      .output.find("  MAK0 kind: " + kind.name + "\n"),
                  std::string::npos);
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - 1 diffs\n");
        // The same run again, and the rewritten file as a source, twice: nothing more to do.
        const Bytes written = folder.read("dst.jpg");
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - no diffs\n");
        EXPECT_EQ(folder.read("dst.jpg"), written);
        folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "dst.jpg", "bare.jpg"}, folder.path()).output.find("Tagloom:"),
                  std::string::npos);
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "dst.jpg", "bare.jpg"}, folder.path()).output, "bare.jpg - no diffs\n");
        const auto image = load("dst.jpg");
        if (kind.relaid) {
            // The directory where the kind says, its text found through the outer base.
            const CExifEntry* text = image->makerNote.findEntry(2);
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(std::string(text->data.begin(), text->data.end() - 1), kText);
            EXPECT_EQ(image->makerNoteHeader, kind.head);
        } else {
            // One block, exactly the note as the camera wrote it.
            const CExifEntry* block = image->makerNote.findEntry(kMakerNote);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(block->data, noteBytes(kind, builder.layout().makerNote));
        }
    }
}

TEST_F(MakerNotes, refuseAnOpaqueNoteThatRefersOutsideItself) {
    for (const Kind& kind : kKinds) {
        // Nikon type 3 may reach past its end inside the segment: see ofNikonType3CarryAPreview...
        if (kind.relaid || !kind.walked || kind.name == "Nikon type 3") continue;
        SCOPED_TRACE(kind.name);
        folder.write("far.jpg", withNote(kind, 64).padding(200).build());
        std::string refusal;
        load("far.jpg", &refusal);
        EXPECT_EQ(refusal.rfind("Maker note refers to data outside itself (MAK0 at file offset 0x", 0), 0u) << refusal;
    }
}

TEST_F(MakerNotes, stayWithTheirCamera) {
    // A destination of another camera, without a note, takes none of the source's: no header either.
    folder.write("src.jpg", withNote(kKinds[0]).build());
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Other")}).subIfd({}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-u", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - no diffs\n");
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Ann")}).subIfd({}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-u", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - 4 diffs\n");
    EXPECT_EQ(load("dst.jpg")->makerNoteHeader, kKinds[0].head) << "a destination that names no camera takes it";
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Other"), ascii(kArtist, "Ann")}).subIfd({}).build());
    folder.write("src.jpg", withNote(kKinds[0]).ifd0({ascii(kMake, "Maker"), ascii(kArtist, "Bo")}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-u", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - 1 diffs\n");
    const Bytes now = folder.read("dst.jpg");
    EXPECT_EQ(std::search(now.begin(), now.end(), kKinds[0].head.begin(), kKinds[0].head.end()), now.end());
}

// A note without a row is a plain directory where one fits inside it, read as without the option;
// any other is its bytes, kept as they are in a destination too.
TEST_F(MakerNotes, withoutARowAreReadAsWithoutTheOptionWhereADirectoryFits) {
    const Kind headerless{"unknown", {}, ByteOrder::littleEndian, true, 0, true};
    const Kind unknown{"unknown", bytesOf("XYZCAM\0\0", 8), ByteOrder::littleEndian, true, 0, true};
    folder.write("headerless.jpg", withNote(headerless).build());
    folder.write("unknown.jpg", withNote(unknown).build());
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Ann")}).build());
    const std::string plain = fixture::runTagloom({"-x", "src.jpg", "headerless.jpg"}, folder.path()).output;
    EXPECT_EQ(plain, "headerless.jpg diffs:\n    01 IFD0:0x013b add      - 4 bytes\n\n");
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-x", "src.jpg", "headerless.jpg"}, folder.path()).output, plain);
    EXPECT_EQ(fixture::runTagloom({"-x", "src.jpg", "unknown.jpg"}, folder.path()).output.rfind("Tagloom: 'unknown.jpg' ", 0), 0u);
    const Bytes note = load("unknown.jpg")->makerNote.findEntry(kMakerNote)->data;
    EXPECT_EQ(Bytes(note.begin(), note.begin() + 8), unknown.head);
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "unknown.jpg"}, folder.path()).output, "unknown.jpg - 1 diffs\n");
    EXPECT_EQ(load("unknown.jpg")->makerNote.findEntry(kMakerNote)->data, note) << "the note, byte for byte";
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "unknown.jpg"}, folder.path()).output, "unknown.jpg - no diffs\n");
}

TEST_F(MakerNotes, refuseNotesWhoseOffsetsCannotBeSettled) {
    const Kind leica{"Leica", bytesOf("LEICA\0\0\0", 8), ByteOrder::littleEndian, true, 0, true};
    folder.write("leica.jpg", withNote(leica).build());
    // A note that Windows moved, by its offset schema in the Exif sub-directory.
    folder.write("moved.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({fixture::longValue(0xEA1D, 4000)})
                                  .makerNote({fixture::shortValue(1, 1)}).build());
    std::string leicaRefusal, movedRefusal;
    load("leica.jpg", &leicaRefusal);
    load("moved.jpg", &movedRefusal);
    EXPECT_EQ(leicaRefusal, "Maker note of a kind whose offsets depend on the camera model (Leica)");
    EXPECT_EQ(movedRefusal, "Maker note was moved by another program; its offsets do not fit where it lies");
}


/// A DNG's private data that keeps a note with the offset it had in its camera's file.
Bytes keptByDng(const Bytes& note, std::uint32_t oldOffset) {
    Bytes makN = bytesOf("Adobe\0MakN\0\0\0\0II\0\0\0\0", 20);
    makN.resize(20 + note.size());
    putU32(makN.data() + 10, static_cast<std::uint32_t>(note.size() + 6), ByteOrder::bigEndian);
    putU32(makN.data() + 16, oldOffset, ByteOrder::bigEndian);
    std::copy(note.begin(), note.end(), makN.begin() + 20);
    return makN;
}

// A note whose directories lead to one another many times over is walked once per directory, in a
// JPEG, a NEF and a DNG's kept note alike; one of more directories than a camera writes is refused.
TEST_F(MakerNotes, areWalkedOncePerDirectoryHoweverOftenTheyAreReached) {
    const Bytes lattice = fixture::latticeNikonNote(500);
    const Bytes makN = keptByDng(lattice, 8);
    const auto nikon = [](ExifBuilder builder) { return builder.ifd0({ascii(kMake, "NIKON")}).subIfd({}); };
    folder.write("lattice.jpg", nikon(ExifBuilder::jpeg()).makerNoteBytes([&](std::uint32_t) { return lattice; }).build());
    folder.write("lattice.nef", nikon(ExifBuilder::raw().magic("II*").ifd0Offset(8))
                                    .makerNoteBytes([&](std::uint32_t) { return lattice; }).build());
    folder.write("lattice.dng", ExifBuilder::raw().magic("II*").ifd0Offset(8)
                                    .ifd0({ascii(kMake, "NIKON"), fixture::entry(0xC634, 1, std::uint32_t(makN.size()), makN)})
                                    .build());
    for (const char* name : {"lattice.jpg", "lattice.nef", "lattice.dng"}) {
        SCOPED_TRACE(name);
        const auto image = load(name);
        ASSERT_NE(image->makerNote.findEntry(kMakerNote), nullptr);
        EXPECT_EQ(image->makerNote.findEntry(kMakerNote)->data, lattice);
        EXPECT_EQ(image->makerNoteDirectoriesWalked, 5u);
    }

    // One directory whose 300 entries lead to 300 empty directories.
    Bytes wide = {'N', 'i', 'k', 'o', 'n', 0, 2, 0, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    wide.resize(18 + 2 + 300 * 12 + 4 + 300 * 6, 0);
    fixture::putU16(wide, 18, 300);
    for (std::uint32_t i = 0; i < 300; ++i) {
        fixture::putU16(wide, 20 + 12 * i, static_cast<std::uint16_t>(i + 1));
        fixture::putU16(wide, 22 + 12 * i, 13);
        fixture::putU32(wide, 24 + 12 * i, 1);
        fixture::putU32(wide, 28 + 12 * i, 8 + 2 + 300 * 12 + 4 + 6 * i);
    }
    folder.write("wide.jpg", nikon(ExifBuilder::jpeg()).makerNoteBytes([&](std::uint32_t) { return wide; }).build());
    std::string refusal;
    load("wide.jpg", &refusal);
    EXPECT_EQ(refusal, "Parse error - maker note holds more directories or entries than a camera writes (MAK0 at file "
                       "offset 0x4a)");
}

// A kept note is its own directory even where its old offset is that of one of the DNG's directories.
TEST_F(MakerNotes, keptByADngAreReadAtTheirOldOffsetWhateverLiesThereInTheDng) {
    const Bytes note = {1, 0, 1, 0, 3, 0, 1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};  // 0x0001 SHORT 7
    const Bytes makN = keptByDng(note, 8);
    folder.write("kept.dng", ExifBuilder::raw().magic("II*").ifd0Offset(8)
                                 .ifd0({ascii(kMake, "Canon"), fixture::entry(0xC634, 1, std::uint32_t(makN.size()), makN)})
                                 .build());
    const auto image = load("kept.dng");
    ASSERT_NE(image->makerNote.findEntry(1), nullptr);
    EXPECT_EQ(image->makerNote.findEntry(1)->valueAsU32(), 7u);
    // The DNG has no Exif sub-directory: its note arrives in a JPEG with the one that leads to it.
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "--explain", "kept.dng", "bare.jpg"}, folder.path()).output,
              "bare.jpg - 6 diffs\n"
              "  add     IFD0  Make                  \"Canon\"\n"
              "  add     IFD0  ExifIFDPointer        (directory)\n"
              "  add     SUB0  MakerNote             (directory)\n"
              "  add     SUB0  PixelXDimension       8\n"
              "  add     SUB0  PixelYDimension       8\n"
              "  add     MAK0  MAK0:0x0001           7\n");
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "kept.dng", "bare.jpg"}, folder.path()).output, "bare.jpg - no diffs\n");
    EXPECT_EQ(load("bare.jpg")->makerNote.findEntry(1)->valueAsU32(), 7u);
}

// Phase One keeps its raw data where a note belongs; a JPEG's note that begins so is still a note,
// kept byte for byte.
TEST_F(MakerNotes, thatBeginAsPhaseOneRawDataAreNotesInAJpeg) {
    Bytes note = bytesOf("IIIICwaR", 8);
    note.resize(64, 0);
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Maker")}).subIfd({})
                                .makerNoteBytes([&](std::uint32_t) { return note; }).build());
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Maker"), ascii(kArtist, "Ann")}).subIfd({}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-u", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - 1 diffs\n");
    const auto image = load("dst.jpg");
    ASSERT_NE(image->makerNote.findEntry(kMakerNote), nullptr);
    EXPECT_EQ(image->makerNote.findEntry(kMakerNote)->data, note);
}

// A preview carried with its note stays a position however short it is.
TEST_F(MakerNotes, carryAPreviewOfAFewBytesAsAPosition) {
    const auto sony = [](std::uint32_t at) {
        Bytes note = bytesOf("SONY DSC \0\0\0", 12);
        note.resize(12 + 2 + 2 * 12 + 4 + 2, 0);
        std::uint8_t* p = note.data() + 12;
        putU16(p, 2, ByteOrder::littleEndian);
        const Bytes start = {0x01, 0x02, 4, 0, 1, 0, 0, 0}, length = {0x02, 0x02, 4, 0, 1, 0, 0, 0};
        std::copy(start.begin(), start.end(), p + 2);
        putU32(p + 10, at + 12 + 30, ByteOrder::littleEndian);  // the two bytes behind the directory
        std::copy(length.begin(), length.end(), p + 14);
        putU32(p + 22, 2, ByteOrder::littleEndian);
        note[12 + 30] = note[12 + 31] = 0xAA;
        return note;
    };
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "SONY")}).subIfd({}).makerNoteBytes(sony).build());
    folder.write("dst.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Ann")}).subIfd({}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - 4 diffs\n");
    const auto image = load("dst.jpg");
    ASSERT_NE(image->makerNote.findEntry(0x0201), nullptr);
    EXPECT_EQ(image->makerNote.findEntry(0x0201)->data, Bytes({0xAA, 0xAA}));
}

// Nikon Capture NX (and editors after it) keep a type-3 note's preview behind its declared end: the
// note is carried up to the preview's end while that lies in the Exif segment, as source and as
// destination.
TEST_F(MakerNotes, ofNikonType3CarryAPreviewThatLiesBehindThem) {
    const auto withPreview = [](std::uint32_t length, ExifBuilder file = ExifBuilder::jpeg()) {
        Bytes note = bytesOf("Nikon\0\2\0\0\0II*\0\x8\0\0\0", 18);
        note.resize(66, 0);  // its directory: 0x0011 -> the PreviewIFD at 26, which holds 0x0201 and 0x0202
        fixture::putU16(note, 18, 1);
        fixture::putU16(note, 20, 0x0011);
        fixture::putU16(note, 22, 13);  // IFD
        fixture::putU32(note, 24, 1);
        fixture::putU32(note, 28, 26);
        fixture::putU16(note, 36, 2);
        const std::uint32_t preview[][2] = {{0x0201, 56}, {0x0202, length}};  // right behind the note
        for (std::size_t i = 0; i < 2; ++i) {
            fixture::putU16(note, 38 + 12 * i, static_cast<std::uint16_t>(preview[i][0]));
            fixture::putU16(note, 40 + 12 * i, 4);
            fixture::putU32(note, 42 + 12 * i, 1);
            fixture::putU32(note, 46 + 12 * i, preview[i][1]);
        }
        return file.ifd0({ascii(kMake, "NIKON")}).subIfd({}).makerNoteBytes([note](std::uint32_t) {
            return note;
        }).padding(200);
    };
    folder.write("nx.jpg", withPreview(200).build());
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    folder.write("artist.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "NIKON"), ascii(kArtist, "Ann")}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "nx.jpg", "bare.jpg"}, folder.path()).output.find("Tagloom:"),
              std::string::npos);
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "artist.jpg", "nx.jpg"}, folder.path()).output, "nx.jpg - 1 diffs\n");
    for (const char* name : {"bare.jpg", "nx.jpg"}) {
        const auto image = load(name);
        ASSERT_NE(image->makerNote.findEntry(kMakerNote), nullptr) << name;
        EXPECT_EQ(image->makerNote.findEntry(kMakerNote)->size, 66u + 200u) << name << ": the note and its preview";
    }
    folder.write("far.jpg", withPreview(300).build());  // past the segment's end
    std::string refusal;
    load("far.jpg", &refusal);
    EXPECT_EQ(refusal, "Maker note refers to data outside itself (MAK0 at file offset 0x4a)");
    // As a source it is laid out anew against its own header, without the PreviewIFD; so is a NEF's
    // whose preview lies elsewhere in the raw file, without a word.
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "far.jpg", "bare.jpg"}, folder.path()).output,
              "Tagloom: 'far.jpg' left behind: MAK0:0x0011 - its preview lies outside the Exif segment\nbare.jpg - 6 diffs\n");
    const Bytes withoutPreview = {'N', 'i', 'k', 'o', 'n', 0, 2, 0, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(load("bare.jpg", nullptr, CExifImage::Role::source)->makerNote.findEntry(kMakerNote)->data, withoutPreview);
    folder.write("far.nef", withPreview(5000, ExifBuilder::raw().magic("II*").ifd0Offset(8)).padding(6000).build());
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "far.nef", "bare.jpg"}, folder.path()).output, "bare.jpg - 6 diffs\n");
    EXPECT_EQ(load("bare.jpg", nullptr, CExifImage::Role::source)->makerNote.findEntry(kMakerNote)->data, withoutPreview);
}

// Directories inside a note whose offsets count from the TIFF header (an Olympus type-1 note's
// CameraSettings with its preview, a headerless Nikon note's PreviewIFD) are laid out anew as one
// value each: exiftool reads every value the source holds, the preview byte for byte; a re-run finds
// nothing, and the destination takes another value.
TEST_F(MakerNotes, layOutTheDirectoriesInsideThemAnew) {
    if (!fixture::haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    constexpr ByteOrder II = ByteOrder::littleEndian;
    const Bytes preview = {0xFF, 0xD8, 0xFF, 0xDB, 0, 4, 1, 2, 0xFF, 0xD9};
    const auto olympus = [&](std::uint32_t at) {
        // Header, a directory of 0x0207 (text) and 0x2020 (type 7), CameraSettings: 0x0100, 0x0101,
        // 0x0102 (the preview), 0x0200 (text); then the texts and the preview.
        const std::uint32_t settings = 8 + 2 + 2 * 12 + 4, values = settings + 2 + 4 * 12 + 4;
        Bytes note = joined(bytesOf("OLYMP\0\1\0", 8),
                            directoryOf(II, {{0x0207, 2, 6, at + values}, {0x2020, 7, 54, at + settings}}));
        note = joined(note, directoryOf(II, {{0x0100, 4, 1, 1}, {0x0101, 4, 1, at + values + 6}, {0x0102, 4, 1, 10},
                                             {0x0200, 2, 8, at + values + 16}}));
        return joined(joined(joined(note, bytesOf("D4040\0", 6)), preview), bytesOf("SETTING\0", 8));
    };
    const auto nikon = [&](std::uint32_t at) {
        // A directory of 0x0002 (ISO, out of line) and 0x0011, the PreviewIFD: 0x0103, 0x0201, 0x0202.
        const std::uint32_t previewIfd = 2 + 2 * 12 + 4, values = previewIfd + 2 + 3 * 12 + 4;
        Bytes note = directoryOf(II, {{0x0002, 3, 4, at + values}, {0x0011, 4, 1, at + previewIfd}});
        note = joined(note, directoryOf(II, {{0x0103, 3, 1, 6}, {0x0201, 4, 1, at + values + 8}, {0x0202, 4, 1, 10}}));
        return joined(joined(note, Bytes{0, 0, 100, 0, 0, 0, 0, 0}), preview);
    };
    const std::pair<const char*, std::function<Bytes(std::uint32_t)>> notes[] = {{"OLYMPUS OPTICAL CO.,LTD", olympus},
                                                                                  {"NIKON", nikon}};
    for (const auto& [make, note] : notes) {
        SCOPED_TRACE(make);
        folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, make)}).subIfd({}).makerNoteBytes(note).build());
        folder.write("dst.jpg", ExifBuilder::jpeg().withoutExif().build());
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "dst.jpg"}, folder.path()).output.find("Tagloom:"),
                  std::string::npos);
        const auto values = [&](const std::string& name) {
            return fixture::commandOutput("exiftool -a -G1 -s -n -MakerNotes:all -x PreviewImageStart '" + folder / name +
                                          "'; exiftool -b -PreviewImage '" + folder / name + "' | md5sum");
        };
        const std::string source = values("src.jpg");
        EXPECT_NE(source.find("PreviewImageLength"), std::string::npos) << source;
        EXPECT_EQ(values("dst.jpg"), source);
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "src.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - no diffs\n");
        folder.write("artist.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, make), ascii(kArtist, "Ann")}).build());
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "artist.jpg", "dst.jpg"}, folder.path()).output, "dst.jpg - 1 diffs\n");
        EXPECT_EQ(values("dst.jpg"), source);
    }
}

/// A Canon note whose value offsets count as if it lay at `offsetsAt` (where the camera wrote it), with
/// a footer naming `offsetsAt` where `footer`. Its values lie right behind its directory, 4 bytes on,
/// as the camera writes them.
Bytes canonNote(std::uint32_t offsetsAt, bool footer, std::uint16_t serialType = 4) {
    constexpr ByteOrder II = ByteOrder::littleEndian;
    Bytes settings(16, 0);
    for (std::uint16_t i = 0; i < 8; ++i) putU16(settings.data() + 2 * i, i == 0 ? 16 : i, II);
    Bytes owner = bytesOf("Ann Owner", 9);
    owner.resize(32, 0);
    const std::vector<std::pair<std::array<std::uint32_t, 3>, Bytes>> values = {
        {{0x0001, 3, 8}, settings},
        {{0x0006, 2, 13}, bytesOf("Canon EOS 5D\0", 13)},
        {{0x0007, 2, 23}, bytesOf("Firmware Version 1.1.1\0", 23)},
        {{0x0009, 2, 32}, owner}};
    std::vector<std::array<std::uint32_t, 4>> entries;
    Bytes data;
    const std::uint32_t first = 2 + 12 * std::uint32_t(values.size() + 1) + 4;
    for (const auto& [field, bytes] : values) {
        entries.push_back({field[0], field[1], field[2], offsetsAt + first + std::uint32_t(data.size())});
        data = joined(data, bytes);
        if (data.size() % 2 != 0) data.push_back(0);
    }
    entries.push_back({0x000c, serialType, 1, 123456});
    Bytes note = joined(directoryOf(II, entries), data);
    if (footer) {
        Bytes tail = bytesOf("II*\0\0\0\0\0", 8);
        putU32(tail.data() + 4, offsetsAt, II);
        note = joined(note, tail);
    }
    return note;
}

// A Canon note that an editor moved without its offsets, either way (the footer names where it was
// written, or there is none): the default reading refuses the file and leaves it as it was; with
// --all-formats every value is read where it lies, as source and as destination, and laid out anew
// so that every reader reads it right. A note whose offsets were fixed (its footer left stale) reads
// as it lies.
TEST_F(MakerNotes, ofCanonMovedWithoutTheirOffsetsAreReadWhereTheirValuesLie) {
    if (!fixture::haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    const auto canon = [](std::int64_t moved, bool footer) {
        return ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({}).makerNoteBytes([=](std::uint32_t at) {
            return canonNote(static_cast<std::uint32_t>(at + moved), footer);
        });
    };
    const auto notes = [&](const std::string& name) {
        return fixture::commandOutput("exiftool -a -s -n -MakerNotes:all '" + folder / name + "'");
    };
    folder.write("twin.jpg", canon(0, true).build());
    const std::string expected = notes("twin.jpg");
    ASSERT_NE(expected.find("OwnerName                       : Ann Owner"), std::string::npos) << expected;
    folder.write("artist.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Ann")}).build());
    const struct {
        std::int64_t moved;
        bool footer;
    } cases[] = {{54, true}, {128, true}, {256, true}, {278, false}, {-62, true}, {-40, false}};
    for (const auto& moved : cases) {
        SCOPED_TRACE(std::to_string(moved.moved) + (moved.footer ? " with its footer" : " without a footer"));
        folder.write("moved.jpg", canon(moved.moved, moved.footer).build());
        const Bytes before = folder.read("moved.jpg");
        folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
        const std::string refusal = "Tagloom: 'moved.jpg' Maker note was moved by another program; its offsets do not fit where it lies\n";
        EXPECT_EQ(fixture::runTagloom({"-u", "artist.jpg", "moved.jpg"}, folder.path()).output, refusal);
        EXPECT_EQ(fixture::runTagloom({"-u", "moved.jpg", "twin.jpg"}, folder.path()).output, refusal);
        EXPECT_EQ(folder.read("moved.jpg"), before);
        // As a source into a JPEG without Exif data, and as a destination that gains an Artist.
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "moved.jpg", "bare.jpg"}, folder.path()).output, "bare.jpg - 10 diffs\n");
        EXPECT_EQ(fixture::runTagloom({"--all-formats", "artist.jpg", "moved.jpg"}, folder.path()).output, "moved.jpg - 1 diffs\n");
        EXPECT_EQ(notes("bare.jpg"), expected);
        EXPECT_EQ(notes("moved.jpg"), expected);
        EXPECT_EQ(fixture::runTagloom({"-u", "artist.jpg", "moved.jpg"}, folder.path()).output, "moved.jpg - no diffs\n");
    }
    // A moved note that a source cannot read stays behind; what is read after it is read from where
    // it lies, not through the note's shifted base.
    folder.write("faulty.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({}).gps({ascii(1, "N")})
                                   .makerNoteBytes([](std::uint32_t at) { return canonNote(at + 128, true, 77); }).build());
    folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
    const std::string left = fixture::runTagloom({"--all-formats", "faulty.jpg", "bare.jpg"}, folder.path()).output;
    EXPECT_EQ(left.rfind("Tagloom: 'faulty.jpg' left behind: MAK0 - its field type is none that Tagloom reads", 0), 0u) << left;
    EXPECT_NE(load("bare.jpg")->gpsIfd.findEntry(1), nullptr);

    // Offsets fixed, footer stale: read as it lies in both readings.
    for (const std::vector<std::string>& flags : {std::vector<std::string>{"-u"}, {"--all-formats", "-u"}}) {
        folder.write("fixed.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Canon")}).subIfd({}).makerNoteBytes(
                                      [](std::uint32_t at) {
                                          Bytes note = canonNote(at, true);
                                          putU32(note.data() + note.size() - 4, at / 2, ByteOrder::littleEndian);
                                          return note;
                                      }).build());
        std::vector<std::string> args = flags;
        args.insert(args.end(), {"artist.jpg", "fixed.jpg"});
        EXPECT_EQ(fixture::runTagloom(args, folder.path()).output, "fixed.jpg - 1 diffs\n");
        EXPECT_EQ(notes("fixed.jpg"), expected);
    }
}

// Notes that a source carries whole, byte for byte, into a JPEG without Exif data: where no
// directory fits, where values lie outside a Sanyo note, a PIXPRO note's padded count and IFD-typed
// values, an Olympus note whose other sub-directories reuse the preview's tags, a self-contained
// note that Windows moved.
TEST_F(MakerNotes, thatCannotBeLaidOutAreCarriedWholeFromASource) {
    constexpr ByteOrder II = ByteOrder::littleEndian, MM = ByteOrder::bigEndian;
    Bytes binary(40, 0x4b);
    const Bytes sanyo = joined(joined(bytesOf("SANYO\0\1\0", 8), directoryOf(II, {{0x0200, 4, 3, 8}})), Bytes(12, 0));
    const Bytes pixpro = joined(bytesOf("MM\0*\0\0\0\x8", 8), directoryOf(MM, {{1, 3, 1, 7}, {2, 13, 1, 0xffff0000}}, true));
    const Bytes olympus = joined(joined(bytesOf("OLYMPUS\0II\3\0", 12), directoryOf(II, {{0x2031, 13, 1, 30}})),
                                 directoryOf(II, {{0x0101, 4, 1, 0x1000}, {0x0102, 4, 1, 0x10}}));
    const struct {
        const char* name;
        std::string make;
        Bytes note;
        std::vector<fixture::Entry> exif;
    } notes[] = {{"no directory", "Maker", binary, {}},
                 {"Sanyo", "SANYO", sanyo, {}},
                 {"Kodak PIXPRO", "Kodak", pixpro, {}},
                 {"Olympus type 2", "OLYMPUS", olympus, {}},
                 {"Olympus type 2", "OLYMPUS", olympus, {fixture::longValue(0xEA1D, 4000)}}};
    for (const auto& note : notes) {
        SCOPED_TRACE(note.name);
        folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, note.make)}).subIfd(note.exif)
                                    .makerNoteBytes([&](std::uint32_t) { return note.note; }).build());
        folder.write("bare.jpg", ExifBuilder::jpeg().withoutExif().build());
        EXPECT_NE(fixture::runTagloom({"--all-formats", "-x", "-v4", "src.jpg", "bare.jpg"}, folder.path())
                      .output.find(std::string("  MAK0 kind: ") + note.name + "\n"),
                  std::string::npos);
        const std::string output = fixture::runTagloom({"--all-formats", "src.jpg", "bare.jpg"}, folder.path()).output;
        EXPECT_EQ(output.find("Tagloom:"), std::string::npos) << output;
        const auto image = load("bare.jpg", nullptr, CExifImage::Role::source);
        ASSERT_NE(image->makerNote.findEntry(kMakerNote), nullptr);
        EXPECT_EQ(image->makerNote.findEntry(kMakerNote)->data, note.note);
    }
    // As a destination a note without a directory is read as the same block, and kept as it is.
    folder.write("binary.jpg", ExifBuilder::jpeg().ifd0({ascii(kMake, "Maker")}).subIfd({})
                                   .makerNoteBytes([&](std::uint32_t) { return binary; }).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-u", "src.jpg", "binary.jpg"}, folder.path()).output,
              "binary.jpg - 1 diffs\n");
    EXPECT_EQ(load("binary.jpg")->makerNote.findEntry(kMakerNote)->data, binary);
}

}  // namespace
