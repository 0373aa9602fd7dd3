// Writes files made by the fixture builder: the demo pair, or a seed corpus for the fuzzers.
//   tagloom_make_files demo DIR    IMG_0001.CR2 (a raw source) and IMG_0001.JPG (its camera JPEG)
//   tagloom_make_files corpus DIR  small JPEG and raw files covering every kind of directory
//   tagloom_make_files pairs DIR [SAMPLES]  pairs framed for the pair fuzzer (flags, destination length,
//                                  destination, source), with a few small camera samples when given
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

}  // namespace

int main(int argc, char** argv) {
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
        };
        if (argc == 4) {
            const std::filesystem::path samples = argv[3];
            for (const auto& [destination, source] : std::vector<std::pair<const char*, const char*>>{
                     {"Canon.jpg", "CanonRaw.cr2"}, {"GPS.jpg", "Canon.jpg"}, {"Nikon.jpg", "GPS.jpg"}}) {
                if (std::filesystem::exists(samples / destination) && std::filesystem::exists(samples / source))
                    pairs.emplace_back(load(samples / destination), load(samples / source));
            }
        }
        int index = 0;
        for (const auto& [destination, source] : pairs) {
            for (const std::uint8_t flags : std::vector<std::uint8_t>{0, 1, 3, 7, 17}) {
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
    return 0;
}
