// What the read-back costs: for each pair of a benchmark workload, the time of a whole pair in this
// process (load both, merge, encode, assemble, read back) and of its read-back alone, nothing written.
//   tagloom_read_back_cost DIR   pairs DIR/src-jpg/IMG_nnnn.jpg into DIR/dst/IMG_nnnn.jpg
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "exif/image.h"
#include "merge/merge.h"
#include "writer/assembler.h"
#include "writer/encoder.h"
#include "writer/read_back.h"

using namespace tagloom;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    double whole = 0, readBack = 0;
    int pairs = 0;
    for (const auto& file : std::filesystem::directory_iterator(std::filesystem::path(argv[1]) / "dst")) {
        const auto start = Clock::now();
        CExifImage destination, source;
        destination.load(file.path().string());
        source.load((std::filesystem::path(argv[1]) / "src-jpg" / file.path().filename()).string(), false,
                    Reporter::quiet(), CExifImage::Role::source);
        MergeOptions options;
        options.copyMismatched = 1;
        mergeFrom(destination, source, options);
        const Assembler& assembler = *assemblerFor(destination);
        const EncodedTiff tiff = encodeTiff(destination, assembler.place(destination));
        const Assembly assembly = assembler.assemble(destination, tiff, Reporter::quiet());
        const auto checked = Clock::now();
        ensureReadsBack(destination, assembly.content, tiff.patched, false);
        const auto end = Clock::now();
        whole += std::chrono::duration<double, std::micro>(end - start).count();
        readBack += std::chrono::duration<double, std::micro>(end - checked).count();
        ++pairs;
    }
    if (pairs == 0) return 1;
    std::printf("read-back: %.1f us a pair, of %.1f us for loading, merging, encoding and reading back\n",
                readBack / pairs, whole / pairs);
    return 0;
}
