// Writes files made by the fixture builder: the demo pair, or a seed corpus for the fuzzers.
//   tagloom_make_files demo DIR    IMG_0001.CR2 (a raw source) and IMG_0001.JPG (its camera JPEG)
//   tagloom_make_files corpus DIR  small JPEG and raw files covering every kind of directory
//   tagloom_make_files repeats DIR  src.jpg and dst.jpg of 5,000 and 2,500 entries of one tag
//   tagloom_make_files workload DIR N BASE.jpg  N camera-like pairs for the benchmark: DIR/dst/IMG_nnnn.jpg
//                                  with BASE.jpg's image data, DIR/src-jpg/IMG_nnnn.jpg and DIR/src-raw/IMG_nnnn.CR2
//   tagloom_make_files hostile DIR  DIR/hostile.jpg: thousands of entries that all claim 64 KiB
//   tagloom_make_files pairs DIR [SAMPLES]  pairs framed for the pair fuzzer (flags, destination length,
//                                  destination, source), with a few small camera samples when given
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/exif_builder.h"

using namespace fixture;

namespace {

void save(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes load(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

Entry text(std::uint16_t tag, const char* value) { return ascii(tag, value); }

ExifBuilder demoRaw() {
    return ExifBuilder::raw()
        .ifd0({text(0x010F, "Canon"), text(0x0110, "Canon EOS 350D DIGITAL"), shortValue(0x0112, 1),
               text(0x0132, "2025:06:14 18:59:18"), text(0x013B, "A. Photographer"),
               text(0x8298, "(c) 2025 A. Photographer")})
        .subIfd({rational(0x829A, 1, 250), rational(0x829D, 80, 10), shortValue(0x8827, 400),
                 text(0x9003, "2025:06:14 18:59:18"), text(0x9004, "2025:06:14 18:59:18"),
                 rational(0x920A, 55, 1), text(0xA434, "EF-S18-55mm f/3.5-5.6")})
        .makerNote({shortValue(0x0001, 2), text(0x0006, "Canon EOS 350D DIGITAL"), longValue(0x000C, 560101234)})
        .gps({entry(0x0000, 1, 4, {2, 3, 0, 0}), text(0x0001, "N"),
              entry(0x0002, 5, 3, {48, 0, 0, 0, 1, 0, 0, 0, 51, 0, 0, 0, 1, 0, 0, 0, 24, 0, 0, 0, 1, 0, 0, 0}),
              text(0x0003, "E"),
              entry(0x0004, 5, 3, {2, 0, 0, 0, 1, 0, 0, 0, 17, 0, 0, 0, 1, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0})});
}

ExifBuilder demoJpeg() {
    return ExifBuilder::jpeg()
        .ifd0({text(0x010F, "Canon"), text(0x0110, "Canon EOS 350D DIGITAL"), shortValue(0x0112, 1),
               text(0x0131, "Photo Editor 2.1"), text(0x0132, "2025:06:15 09:12:00")})
        .subIfd({rational(0x829A, 1, 250), shortValue(0x8827, 400), text(0x9003, "2025:06:14 18:59:18")})
        .interop({text(0x0001, "R98"), entry(0x0002, 7, 4, {'0', '1', '0', '0'})})
        .thumbnail(tinyJpegScan());
}

/// The image data of a JPEG: everything after its start-of-image marker and its APPn segments.
Bytes jpegBody(const Bytes& jpeg) {
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] >= 0xE0 && jpeg[at + 1] <= 0xEF)
        at += 2 + ((std::size_t(jpeg[at + 2]) << 8) | jpeg[at + 3]);
    return Bytes(jpeg.begin() + static_cast<long>(std::min(at, jpeg.size())), jpeg.end());
}

/// A big-endian JPEG with the values whose inner fields follow the byte order.
Bytes bigEndianJpeg() {
    const Bytes printIm = {'P', 'r', 'i', 'n', 't', 'I', 'M', 0, '0', '3', '0', '0', 0, 0, 0, 1, 0, 1, 0, 0, 0, 5};
    const Bytes table = {0, 1, 0, 1, 'a', 0, 0, 0, 0, 1, 0, 0, 0, 2};
    return ExifBuilder::jpeg()
        .bigEndian()
        .ifd0({text(0x010F, "Canon"), entry(0x0112, 3, 1, {0, 1}), entry(0xC4A5, 7, 22, printIm)})
        .subIfd({entry(0x829A, 5, 1, {0, 0, 0, 1, 0, 0, 0, 250}), entry(0x8828, 7, 14, table),
                 entry(0x9286, 7, 12, {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0, 'O', 0, 'k'}),
                 entry(0xA302, 7, 6, {0, 1, 0, 1, 0, 1}), entry(0xA40B, 7, 6, {0, 1, 0, 1, 0, 'X'})})
        .makerNote({entry(0x0001, 3, 2, {0, 1, 0, 2})})
        .build();
}

/// Raw files of the kinds that --all-formats reads, each as small as its kind allows.
std::vector<std::pair<std::string, Bytes>> rawKinds() {
    const Bytes jpeg = demoJpeg().build();
    const auto tiff = [](const char* magic, bool big) {
        ExifBuilder builder = ExifBuilder::raw().magic(magic).ifd0Offset(8).ifd0({text(0x010F, "Maker")}).subIfd({});
        return (big ? builder.bigEndian() : builder).build();
    };
    // RAF: the embedded JPEG's place and length, big-endian, at 84.
    Bytes raf(100, 0);
    const std::string rafMagic = "FUJIFILMCCD-RAW ";
    std::copy(rafMagic.begin(), rafMagic.end(), raf.begin());
    raf[87] = 100;
    raf[90] = static_cast<std::uint8_t>(jpeg.size() >> 8);
    raf[91] = static_cast<std::uint8_t>(jpeg.size());
    raf.insert(raf.end(), jpeg.begin(), jpeg.end());
    // RW2: IFD0's 0x002E leads to the embedded JPEG behind the TIFF data.
    const auto rw2 = [&](std::uint32_t at) {
        Entry embedded = entry(0x002E, 7, static_cast<std::uint32_t>(jpeg.size()), {});
        embedded.valueField = at;
        return ExifBuilder::raw().magic("IIU").ifd0Offset(0x18).ifd0({embedded}).imageData(jpeg).build();
    };
    const Bytes rw2File = rw2(static_cast<std::uint32_t>(rw2(0).size() - jpeg.size()));
    // MRW: a "\0TTW" block holds big-endian TIFF data.
    const Bytes ttw = tiff("MM\0*", true);
    Bytes mrw = {0, 'M', 'R', 'M', 0, 0, 0, 0, 0, 'T', 'T', 'W', 0, 0, 0, 0};
    mrw[7] = static_cast<std::uint8_t>(ttw.size() + 8);
    mrw[14] = static_cast<std::uint8_t>(ttw.size() >> 8);
    mrw[15] = static_cast<std::uint8_t>(ttw.size());
    mrw.insert(mrw.end(), ttw.begin(), ttw.end());
    // DNG: the original maker note in DNGPrivateData, little-endian, once at offset 20.
    Bytes makN = {'A', 'd', 'o', 'b', 'e', 0, 'M', 'a', 'k', 'N', 0, 0, 0, 24, 'I', 'I', 0, 0, 0, 20,
                  1, 0, 1, 0, 3, 0, 1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
    const Bytes dng = ExifBuilder::raw()
                          .magic("MM\0*")
                          .ifd0Offset(8)
                          .bigEndian()
                          .ifd0({text(0x010F, "Canon"), entry(0xC634, 1, static_cast<std::uint32_t>(makN.size()), makN)})
                          .subIfd({})
                          .build();
    // CR3: IFD0, the Exif sub-directory, the maker note and GPS data in boxes of their own; HEIF: an
    // Exif item in two pieces, found through iloc version 1 with a base offset.
    const auto directory = [](std::vector<Entry> entries) {
        return ExifBuilder::raw().ifd0Offset(8).ifd0(std::move(entries)).build();
    };
    const Bytes cr3 = fixture::cr3File({directory({text(0x010F, "Canon")}), directory({text(0x9003, "2026:12:07 10:00:00")}),
                                        directory({shortValue(1, 7)}), directory({text(0x0001, "N")})});
    HeifLayout pieces;
    pieces.ilocVersion = 1;
    pieces.baseSize = 4;
    pieces.extents = 2;
    const Bytes heic = fixture::heifFile(fixture::exifItem(tiff("MM\0*", true)), pieces);
    return {{"orf", tiff("IIRO", false)}, {"pef", tiff("MM\0*", true)}, {"arw", tiff("II*", false)},
            {"raf", raf},                 {"rw2", rw2File},             {"mrw", mrw},
            {"dng", dng},                 {"cr3", cr3},                 {"heic", heic}};
}

/// Exports of each kind beside JPEG, with Exif data: PNG (eXIf in front of IDAT), WebP (a simple
/// lossless file with an EXIF chunk), JPEG XL (a container) and a TIFF (the pair fuzzer's flag bit 6
/// names its destination .tif).
std::vector<std::pair<std::string, Bytes>> exportKinds() {
    const Bytes tiff = ExifBuilder::raw().ifd0Offset(8).ifd0({text(0x010F, "Canon"), shortValue(0x0112, 1)}).subIfd({}).build();
    const auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const Bytes png = join({Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
                            fixture::pngChunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0}), fixture::pngChunk("eXIf", tiff),
                            fixture::pngChunk("IDAT", {0x78, 0x9C, 0x63, 0x60, 0, 0, 0, 2, 0, 1}), fixture::pngChunk("IEND", {})});
    const Bytes webp = fixture::webpFile(join({fixture::riffChunk("VP8L", {0x2F, 0, 0, 0, 0}), fixture::riffChunk("EXIF", tiff)}));
    Bytes exifBox = {0, 0, 0, 0, 'E', 'x', 'i', 'f', 0, 0, 0, 0};
    exifBox.insert(exifBox.end(), tiff.begin(), tiff.end());
    for (int i = 0; i < 4; ++i) exifBox[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(exifBox.size() >> (24 - 8 * i));
    const Bytes jxl = join({Bytes{0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'},
                            Bytes{0, 0, 0, 20, 'f', 't', 'y', 'p', 'j', 'x', 'l', ' ', 0, 0, 0, 0, 'j', 'x', 'l', ' '},
                            Bytes{0, 0, 0, 12, 'j', 'x', 'l', 'c', 0xFF, 0x0A, 0, 0}, exifBox});
    // HEIF: ftyp, meta (hdlr, pitm, iinf, iloc of version 0 with 4-byte offsets and lengths), mdat; with an
    // Exif item behind the image's bytes, and without one.
    const auto box = [](const char* type, const Bytes& payload) {
        Bytes out;
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>((payload.size() + 8) >> shift));
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), payload.begin(), payload.end());
        return out;
    };
    const auto heif = [&](bool withExif) {
        Bytes item = {0, 0, 0, 6, 'E', 'x', 'i', 'f', 0, 0};
        item.insert(item.end(), tiff.begin(), tiff.end());
        const Bytes infe1 = box("infe", {2, 0, 0, 0, 0, 1, 0, 0, 'h', 'v', 'c', '1', 0});
        const Bytes infe2 = box("infe", {2, 0, 0, 0, 0, 2, 0, 0, 'E', 'x', 'i', 'f', 0});
        const auto iloc = [&](std::uint32_t data) {  // the mdat payload's offset in the file
            Bytes fields = {0, 0, 0, 0, 0x44, 0x00, 0, std::uint8_t(withExif ? 2 : 1), 0, 1, 0, 0, 0, 1};
            for (int shift = 24; shift >= 0; shift -= 8) fields.push_back(static_cast<std::uint8_t>(data >> shift));
            fields.insert(fields.end(), {0, 0, 0, 4});
            if (withExif) {
                fields.insert(fields.end(), {0, 2, 0, 0, 0, 1});
                for (int shift = 24; shift >= 0; shift -= 8) fields.push_back(static_cast<std::uint8_t>((data + 4) >> shift));
                for (int shift = 24; shift >= 0; shift -= 8) fields.push_back(static_cast<std::uint8_t>(item.size() >> shift));
            }
            return box("iloc", fields);
        };
        const auto file = [&](std::uint32_t data) {
            const Bytes meta = box("meta", join({Bytes{0, 0, 0, 0}, box("hdlr", Bytes(25, 0)), box("pitm", {0, 0, 0, 0, 0, 1}),
                                                 box("iinf", join({Bytes{0, 0, 0, 0, 0, std::uint8_t(withExif ? 2 : 1)}, infe1,
                                                                   withExif ? infe2 : Bytes()})),
                                                 iloc(data)}));
            return join({box("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'}), meta,
                         box("mdat", join({Bytes{1, 2, 3, 4}, withExif ? item : Bytes()}))});
        };
        const Bytes first = file(0);
        return file(static_cast<std::uint32_t>(first.size() - (withExif ? item.size() : 0) - 4));
    };
    return {{"png", png}, {"webp", webp}, {"jxl", jxl}, {"tif", tiff}, {"heic", heif(true)}, {"heif", heif(false)}};
}

std::vector<Entry> cameraIfd0(int index, bool edited) {
    std::vector<Entry> entries = {text(0x010F, "Canon"), text(0x0110, "Canon EOS 5D Mark IV"), shortValue(0x0112, 1),
                                  rational(0x011A, 72, 1), rational(0x011B, 72, 1), shortValue(0x0128, 2),
                                  text(0x0132, edited ? "2025:07:01 10:00:00" : "2025:06:14 18:59:18"),
                                  shortValue(0x0213, 2)};
    if (edited) entries.insert(entries.begin() + 6, text(0x0131, "Photo Editor 2.1"));
    if (!edited) {
        entries.insert(entries.begin() + 7, text(0x013B, "A. Photographer"));
        entries.push_back(text(0x8298, ("(c) 2025 A. Photographer #" + std::to_string(index)).c_str()));
    }
    return entries;
}

std::vector<Entry> cameraSubIfd(int index, bool edited) {
    std::vector<Entry> entries = {rational(0x829A, 1, 250), rational(0x829D, 80, 10), shortValue(0x8822, 3),
                                  shortValue(0x8827, 400), entry(0x9000, 7, 4, {'0', '2', '3', '0'}),
                                  text(0x9003, "2025:06:14 18:59:18"), text(0x9004, "2025:06:14 18:59:18"),
                                  entry(0x9101, 7, 4, {1, 2, 3, 0}), rational(0x9201, 8, 1), rational(0x9202, 6, 1),
                                  rational(0x9204, 0, 1), shortValue(0x9207, 5), shortValue(0x9209, 16),
                                  rational(0x920A, 50, 1), entry(0xA000, 7, 4, {'0', '1', '0', '0'}),
                                  shortValue(0xA001, 1), longValue(0xA002, 6720), longValue(0xA003, 4480),
                                  rational(0xA20E, 6720000, 1418), rational(0xA20F, 4480000, 945),
                                  shortValue(0xA210, 2), shortValue(0xA401, 0), shortValue(0xA402, 0),
                                  shortValue(0xA403, 0), shortValue(0xA406, 0)};
    if (!edited) {
        entries.push_back(entry(0x9286, 7, 264, Bytes(264, 0)));
        entries.push_back(text(0xA431, ("0231" + std::to_string(100000 + index)).c_str()));
        entries.push_back(text(0xA434, "EF50mm f/1.8 STM"));
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    return entries;
}

std::vector<Entry> cameraMakerNote(int index) {
    std::vector<Entry> entries;
    for (std::uint16_t tag = 1; tag <= 20; ++tag)
        entries.push_back(entry(tag, 3, 24, Bytes(48, static_cast<std::uint8_t>(tag + index))));
    entries.push_back(text(0x0006, "Canon EOS 5D Mark IV"));
    return entries;
}

void writeWorkload(const std::filesystem::path& folder, int pairs, const Bytes& body) {
    for (const char* sub : {"dst", "dst-jfif", "src-jpg", "src-raw"}) std::filesystem::create_directories(folder / sub);
    const Bytes thumbnail(6000, 0x55);
    for (int i = 1; i <= pairs; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "IMG_%04d", i);
        const auto destination = [&](ExifBuilder builder) {
            return builder.ifd0(cameraIfd0(i, true)).subIfd(cameraSubIfd(i, true)).makerNote(cameraMakerNote(i))
                .interop({text(0x0001, "R98")}).thumbnail(thumbnail).imageData(body).build();
        };
        save(folder / "dst" / (std::string(name) + ".jpg"), destination(ExifBuilder::jpeg()));
        // The same behind a JFIF segment, as many cameras and every editor write it.
        save(folder / "dst-jfif" / (std::string(name) + ".jpg"),
             destination(ExifBuilder::jpeg().segmentsBefore(fixture::jfifSegment())));
        const auto source = [&](ExifBuilder builder) {
            return builder.ifd0(cameraIfd0(i, false)).subIfd(cameraSubIfd(i, false)).makerNote(cameraMakerNote(i + 1))
                .gps({text(0x0001, "N"), entry(0x0002, 5, 3, Bytes(24, 1))});
        };
        save(folder / "src-jpg" / (std::string(name) + ".jpg"),
             source(ExifBuilder::jpeg()).interop({text(0x0001, "R98")}).thumbnail(thumbnail).build());
        save(folder / "src-raw" / (std::string(name) + ".CR2"), source(ExifBuilder::raw()).build());
    }
}

/// A Canon JPEG whose note another program moved without its offsets by `moved` bytes (-1: to half
/// its place) toward the segment's start (its values lie that much in front of where they point),
/// with a footer naming where the camera wrote it where `footed`.
Bytes canonMoved(int moved, bool footed) {
    return ExifBuilder::jpeg().ifd0({text(0x010F, "Canon")}).subIfd({}).makerNoteBytes([=](std::uint32_t at) {
        const std::uint32_t writtenAt = moved < 0 ? at / 2 : at + static_cast<std::uint32_t>(moved);
        // One entry: 0x0002, ASCII, 8 bytes right behind the directory.
        Bytes bytes(2 + 12 + 4 + 8, 0);
        putU16(bytes, 0, 1);
        putU16(bytes, 2, 2);
        putU16(bytes, 4, 2);
        putU32(bytes, 6, 8);
        putU32(bytes, 10, writtenAt + 18);
        std::copy_n("Ann Lee", 8, bytes.begin() + 18);
        if (footed) {
            const Bytes footer = {'I', 'I', 42, 0, 0, 0, 0, 0};
            bytes.insert(bytes.end(), footer.begin(), footer.end());
            putU32(bytes, bytes.size() - 4, writtenAt);
        }
        return bytes;
    }).build();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "hostile") {
        // One directory of as many entries as the segment holds, each claiming 64 KiB at one offset.
        std::vector<Entry> entries;
        for (int i = 0; i < 5400; ++i) {
            Entry claim = entry(static_cast<std::uint16_t>(0x1000 + i), 7, 0x10000, {});
            claim.valueField = 8;
            entries.push_back(claim);
        }
        std::filesystem::create_directories(argv[2]);
        save(std::filesystem::path(argv[2]) / "hostile.jpg",
             ExifBuilder::jpeg().ifd0(entries).imageData(Bytes(0x20000, 0)).build());
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "repeats") {
        // A pair whose directories hold thousands of entries of one tag, which are matched by position.
        const auto repeated = [](int n, std::uint16_t first) {
            std::vector<Entry> entries;
            for (int i = 0; i < n; ++i) entries.push_back(shortValue(0xC000, static_cast<std::uint16_t>(first + i)));
            return ExifBuilder::jpeg().ifd0(entries).subIfd({}).build();
        };
        std::filesystem::create_directories(argv[2]);
        save(std::filesystem::path(argv[2]) / "src.jpg", repeated(5000, 0));
        save(std::filesystem::path(argv[2]) / "dst.jpg", repeated(2500, 1));
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "workload") {
        writeWorkload(argv[2], std::atoi(argv[3]), jpegBody(load(argv[4])));
        return 0;
    }
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s demo|corpus DIR\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    if (mode == "demo") {
        save(folder / "IMG_0001.CR2", demoRaw().build());
        save(folder / "IMG_0001.JPG", demoJpeg().build());
        return 0;
    }
    if (mode == "pairs") {
        std::vector<std::pair<Bytes, Bytes>> pairs = {
            {demoJpeg().build(), demoRaw().build()},
            {demoJpeg().build(), demoJpeg().build()},
            {ExifBuilder::jpeg().ifd0({text(0x010F, "A")}).thumbnail(tinyJpegScan()).subIfd({}).build(), demoRaw().build()},
            {ExifBuilder::jpeg().ifd0({text(0x0131, "Editor")}).gps({text(0x0001, "N")}).subIfd({}).makerNote({}).build(),
             demoJpeg().build()},
            {demoJpeg().segmentsBefore(fixture::jfifSegment()).build(), demoJpeg().build()},
            {ExifBuilder::jpeg().segmentsBefore(fixture::jfifSegment()).withoutExif().build(), demoRaw().build()},
            {demoJpeg().build(), bigEndianJpeg()},
            {bigEndianJpeg(), demoJpeg().build()},
        };
        for (const auto& [kind, raw] : rawKinds()) pairs.emplace_back(demoJpeg().build(), raw);
        pairs.emplace_back(canonMoved(64, true), demoJpeg().build());
        pairs.emplace_back(demoJpeg().build(), canonMoved(-1, true));
        for (const auto& [kind, file] : exportKinds()) pairs.emplace_back(file, demoJpeg().build());
        // A turned photo with a thumbnail that decodes: the comparison of pixels runs.
        Bytes thumbnail = {0xFF, 0xD8};
        thumbnail.insert(thumbnail.end(), tinyJpegScan().begin(), tinyJpegScan().end());
        pairs.emplace_back(demoJpeg().build(), ExifBuilder::jpeg().ifd0({shortValue(0x0112, 6)}).thumbnail(thumbnail).subIfd({}).build());
        if (argc == 4) {
            const std::filesystem::path samples = argv[3];
            for (const auto& [destination, source] : std::vector<std::pair<const char*, const char*>>{
                     {"Canon.jpg", "CanonRaw.cr2"}, {"GPS.jpg", "Canon.jpg"}, {"Nikon.jpg", "GPS.jpg"},
                     {"Canon.jpg", "Pentax.jpg"}, {"NikonD70.jpg", "Nikon.jpg"}, {"Canon.jpg", "DNG.dng"},
                     {"Nikon.jpg", "Nikon.nef"}, {"GPS.jpg", "Panasonic.rw2"}}) {
                if (std::filesystem::exists(samples / destination) && std::filesystem::exists(samples / source))
                    pairs.emplace_back(load(samples / destination), load(samples / source));
            }
        }
        int index = 0;
        for (const auto& [destination, source] : pairs) {
            for (const std::uint8_t flags : std::vector<std::uint8_t>{0, 1, 3, 7, 17, 33, 35, 97, 161}) {
                Bytes framed = {flags, 0, 0, 0, 0};
                putU32(framed, 1, static_cast<std::uint32_t>(destination.size()));
                framed.insert(framed.end(), destination.begin(), destination.end());
                framed.insert(framed.end(), source.begin(), source.end());
                save(folder / ("pair" + std::to_string(index++)), framed);
            }
        }
        return 0;
    }
    if (mode != "corpus") return 2;
    save(folder / "raw", demoRaw().build());
    save(folder / "jpeg", demoJpeg().build());
    save(folder / "chain", ExifBuilder::jpeg().ifd0({shortValue(0x0112, 1)}).ifd1({}).chainAfterIfd0({}).build());
    save(folder / "subchain",
         ExifBuilder::jpeg().subIfd({shortValue(0x9209, 1)}).chainAfterSubIfd({shortValue(1, 1)}).build());
    save(folder / "xp", ExifBuilder::jpeg().ifd0({entry(0x9C9C, 1, 4, {'h', 0, 'i', 0})}).build());
    save(folder / "empty", ExifBuilder::jpeg().build());
    save(folder / "gps", ExifBuilder::jpeg().ifd0({text(0x010F, "Phone")}).gps({text(0x0001, "N")}).subIfd({}).build());
    save(folder / "jfif", demoJpeg().segmentsBefore(fixture::join(fixture::jfifSegment(), fixture::segment(0xE2, {1, 2}))).build());
    save(folder / "big-endian", bigEndianJpeg());
    for (const auto& [kind, raw] : rawKinds()) save(folder / ("raw-" + kind), raw);
    for (const auto& [kind, file] : exportKinds()) save(folder / ("export-" + kind), file);
    save(folder / "bare", ExifBuilder::jpeg().segmentsBefore(fixture::jfifSegment()).withoutExif().build());
    // Maker notes of a maker's kind: one relaid behind its header, one carried whole with its own TIFF header.
    const auto note = [](Bytes head, std::uint32_t at, bool outer) {
        const std::size_t directory = head.size();
        Bytes bytes = head;
        bytes.resize(directory + 2 + 12 + 4 + 8, 0);
        putU16(bytes, directory, 1);
        putU16(bytes, directory + 2, 2);
        putU16(bytes, directory + 4, 2);
        putU32(bytes, directory + 6, 8);
        putU32(bytes, directory + 10, outer ? at + static_cast<std::uint32_t>(directory) + 18 : 18 + 8);
        return bytes;
    };
    save(folder / "olympus", ExifBuilder::jpeg().ifd0({text(0x010F, "OLYMPUS")}).subIfd({}).makerNoteBytes([&](std::uint32_t at) {
        return note(Bytes{'O', 'L', 'Y', 'M', 'P', 0, 1, 0}, at, true);
    }).build());
    save(folder / "nikon", ExifBuilder::jpeg().ifd0({text(0x010F, "NIKON")}).subIfd({}).makerNoteBytes([&](std::uint32_t at) {
        return note(Bytes{'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0}, at, false);
    }).build());
    save(folder / "ge", ExifBuilder::jpeg().ifd0({text(0x010F, "GE")}).subIfd({}).makerNoteBytes([&](std::uint32_t at) {
        return note(Bytes{'G', 'E', 0, 0, 0, 0, 1, 0, 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0}, at, false);
    }).build());
    save(folder / "jvc", ExifBuilder::jpeg().ifd0({text(0x010F, "JVC")}).subIfd({}).makerNoteBytes([&](std::uint32_t at) {
        return note(Bytes{'J', 'V', 'C', ' '}, at, true);
    }).build());
    // Canon notes moved without their offsets, either way: a footer names where they were written, or none.
    for (const auto& [name, moved, footed] : {std::tuple{"canon-moved", -1, true}, std::tuple{"canon-moved-back", 64, true},
                                              std::tuple{"canon-moved-unfooted", 278, false}}) {
        save(folder / name, canonMoved(moved, footed));
    }
    // Directories inside notes, laid out anew: an Olympus type-1 note's, a headerless Nikon note's.
    const auto withSubDirectory = [&](Bytes head, std::uint16_t subTag, std::uint32_t at) {
        Bytes bytes = head;
        const std::size_t directory = head.size();
        bytes.resize(directory + 18, 0);
        putU16(bytes, directory, 1);
        putU16(bytes, directory + 2, subTag);
        putU16(bytes, directory + 4, 4);
        putU32(bytes, directory + 6, 1);
        putU32(bytes, directory + 10, at + static_cast<std::uint32_t>(bytes.size()));
        const Bytes inner = note({}, at + static_cast<std::uint32_t>(bytes.size()), true);
        bytes.insert(bytes.end(), inner.begin(), inner.end());
        return bytes;
    };
    save(folder / "olympus-sub", ExifBuilder::jpeg().ifd0({text(0x010F, "OLYMPUS")}).subIfd({}).makerNoteBytes([&](std::uint32_t at) {
        return withSubDirectory(Bytes{'O', 'L', 'Y', 'M', 'P', 0, 1, 0}, 0x2020, at);
    }).build());
    save(folder / "nikon-preview-ifd", ExifBuilder::jpeg().ifd0({text(0x010F, "NIKON")}).subIfd({}).makerNoteBytes([&](std::uint32_t at) {
        return withSubDirectory({}, 0x0011, at);
    }).build());
    // A note whose directories lead to one another many times over.
    save(folder / "lattice", ExifBuilder::jpeg().ifd0({text(0x010F, "NIKON")}).subIfd({}).makerNoteBytes([](std::uint32_t) {
        return fixture::latticeNikonNote(40);
    }).build());
    return 0;
}
