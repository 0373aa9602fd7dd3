// --all-formats: CR3 raws and HEIF photos as sources, read through their boxes. One table of crafted
// layouts: each gives the source's values or one line.
#include <gtest/gtest.h>

#include <memory>

#include "exif/exception.h"
#include "exif/image.h"
#include "tests/support/load.h"
#include "tests/support/run_tool.h"
#include "tests/support/tags.h"

using namespace tagloom;

using fixture::ascii;
using fixture::Bytes;
using fixture::ExifBuilder;
using fixture::HeifLayout;

namespace {

using namespace fixture::tags;

/// TIFF data whose first directory holds `entries`, in `order`.
Bytes tiff(std::vector<fixture::Entry> entries, bool bigEndian = false) {
    ExifBuilder builder = ExifBuilder::raw().ifd0Offset(8).ifd0(std::move(entries));
    if (bigEndian) builder.bigEndian();
    return builder.build();
}

const Bytes kPhoto = ExifBuilder::raw().bigEndian().ifd0Offset(8)
                         .ifd0({ascii(kMake, "Apple"), ascii(kArtist, "Ann"), fixture::shortValue(0x0112, 6)})
                         .subIfd({fixture::shortValue(kFlash, 16)}).gps({ascii(1, "N")}).build();

Bytes cr3(bool bigEndianExif = false) {
    return fixture::cr3File({tiff({ascii(kMake, "Canon"), ascii(kArtist, "Ann")}),
                             tiff({fixture::shortValue(kFlash, 16)}, bigEndianExif), tiff({fixture::shortValue(1, 7)}),
                             tiff({ascii(1, "N")})});
}

Bytes withSize(Bytes file, std::size_t at, std::uint32_t size) {
    for (std::size_t i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(size >> (8 * (3 - i)));
    return file;
}

Bytes withByte(Bytes file, std::size_t at, std::uint8_t value) {
    file[at] = value;
    return file;
}

std::size_t find(const Bytes& file, const std::string& type) {
    return static_cast<std::size_t>(std::search(file.begin(), file.end(), type.begin(), type.end()) - file.begin()) - 4;
}

TEST(IsoMediaSources, giveTheirValuesOrOneLine) {
    const Bytes heif = fixture::heifFile(fixture::exifItem(kPhoto));
    const Bytes canon = cr3();
    const struct {
        const char* name;
        Bytes file;
        std::string refusal;  // none: Artist, Flash and GPS arrive
    } rows[] = {
        {"heif, iloc 0", heif, ""},
        {"heif, no Exif\\0\\0", fixture::heifFile(fixture::exifItem(kPhoto, false)), ""},
        {"heif, iloc 1, base offset, 8-byte fields", fixture::heifFile(fixture::exifItem(kPhoto), {1, 8, 8, 8}), ""},
        {"heif, iloc 2, three extents", fixture::heifFile(fixture::exifItem(kPhoto), {2, 4, 4, 4, 0, 0, 3}), ""},
        {"heif, item in idat", fixture::heifFile(fixture::exifItem(kPhoto), {1, 4, 4, 0, 1}), ""},
        {"heif, item at the end, 64-bit mdat", fixture::heifFile(fixture::exifItem(kPhoto), {0, 4, 4, 0, 0, 0, 1, true, true}), ""},
        {"heif, large mdat", fixture::heifFile(fixture::exifItem(kPhoto), {0, 4, 4, 0, 0, 0, 1, false, true}), ""},
        {"heif, another item's data", fixture::heifFile(fixture::exifItem(kPhoto), {1, 4, 4, 0, 2}),
         "Parse error - Exif item cannot be read"},
        {"heif, another file's data", fixture::heifFile(fixture::exifItem(kPhoto), {1, 4, 4, 0, 0, 1}),
         "Parse error - Exif item cannot be read"},
        {"heif, no Exif item", fixture::heifFile(std::nullopt), "no Exif data to copy"},
        {"heif, thousands of extents of no bytes", fixture::heifFile(fixture::exifItem(kPhoto), {2, 0, 0, 0, 0, 0, 5000}),
         "Parse error - box iloc lists more items and extents than a file has"},
        {"heif, an infe of version 3 too short for its type", withByte(heif, find(heif, "infe") + 8, 3),
         "no Exif data to copy"},
        {"heif, meta smaller than its header", withSize(heif, find(heif, "meta"), 4),
         "Parse error - box meta is smaller than its header"},
        {"heif, iloc past meta", withSize(heif, find(heif, "iloc"), 4000),
         "Parse error - box iloc runs past the box meta that holds it"},
        {"heif, cut short", Bytes(heif.begin(), heif.end() - 10), "Parse error - box meta runs past the end of the file"},
        {"cr3", canon, ""},
        {"cr3, boxes in two byte orders", cr3(true), "Parse error - the CR3's metadata boxes are in different byte orders"},
        {"cr3 without Canon's box", fixture::join(Bytes(canon.begin(), canon.begin() + 24), fixture::box("moov", {})),
         "Parse error - CR3 file without Canon's metadata box"},
    };
    fixture::TempFolder folder;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        folder.write("source", row.file);
        const fixture::Loaded loaded = fixture::load(folder / "source", true, CExifImage::Role::source);
        EXPECT_EQ(loaded.message(), row.refusal);
        if (loaded.refusal) continue;
        const CExifImage& image = *loaded.image;
        ASSERT_NE(image.ifd0.findEntry(kArtist), nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.ifd0.findEntry(kArtist)->data.data())), "Ann");
        ASSERT_NE(image.subIfd.findEntry(kFlash), nullptr);
        EXPECT_EQ(image.subIfd.findEntry(kFlash)->data[0], 16);  // as the builder stored it
        EXPECT_NE(image.gpsIfd.findEntry(1), nullptr);
    }

    // A HEIF photo is a destination too (its own tests are the exports'); a CR3 is refused as a raw file.
    folder.write("photo.heic", heif);
    folder.write("raw.cr3", cr3());
    folder.write("src.jpg", ExifBuilder::jpeg().ifd0({ascii(kArtist, "Bo")}).build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "-x", "-v1", "-u", "src.jpg", "photo.heic"}, folder.path()).output,
              "photo.heic diffs:\n    01 IFD0:0x013b change   - 3 bytes\n\n");
    const std::string raw = fixture::runTagloom({"--all-formats", "-u", "src.jpg", "raw.cr3"}, folder.path()).output;
    EXPECT_NE(raw.find("Tagloom: 'raw.cr3' not done - a raw image cannot be rewritten\n"), std::string::npos) << raw;
    // A HEIF's Orientation never arrives: its pixels are turned by its own properties.
    folder.write("dst.jpg", ExifBuilder::jpeg().withoutExif().build());
    EXPECT_EQ(fixture::runTagloom({"--all-formats", "photo.heic", "dst.jpg"}, folder.path()).output, "dst.jpg - 8 diffs\n");  // its own pixel size too
    CExifImage written;
    written.load(folder / "dst.jpg", true);
    EXPECT_EQ(written.ifd0.findEntry(0x0112), nullptr);
    EXPECT_NE(written.ifd0.findEntry(kArtist), nullptr);
}

}  // namespace
