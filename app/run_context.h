// The state of one run, made by the run driver and handed to what needs it: what the command line
// said (fixed once read), what the run counted, where its results go, the file system the rewrites
// use and the copy buffer. Nothing of a run lives anywhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/pair_report.h"
#include "exif/report.h"
#include "platform/platform.h"
#include "writer/rewrite.h"

namespace tagloom {

constexpr std::size_t kCopyBufferSize = 0x100000;  // 1 MiB

/// What the command line said.
struct RunConfig {
    TagloomOptions Options;
    std::string Src;
    std::string Dst;
};

/// What a run counted.
struct Tally {
    std::int32_t filesFound = 0;
    std::int32_t filesChecked = 0;
    std::int32_t filesUpdated = 0;
    std::int32_t refusals = 0;  // pairs whose destination was to be rewritten and was not
    /// Files that this run refused or passed over and that --all-formats reads.
    std::set<std::string> readableWithAllFormats;
};

/// Where a run's results go: lines of text as they come, or one JSON object a line. Every line the
/// parser, the merge and the writer print goes through its console.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    /// The reporter of the run's lines and traces.
    virtual const Reporter& console() const = 0;
    virtual void setTraceMask(std::int32_t mask) = 0;
    /// A line about one file that is no pair's result: "Tagloom: '<path>' <text>" ("skipped - <text>"
    /// for a skipped file).
    virtual void file(const std::string& path, bool isSource, const std::string& result, const std::string& text) = 0;
    /// A line that belongs to the pair at hand, said of `path` (a photo put back, a warning).
    virtual void note(const std::string& path, const std::string& text) = 0;
    /// A pair's result, once its lines are printed.
    virtual void pair(PairReport report) = 0;
    /// Folder mode's last line.
    virtual void summary(const Tally& tally) = 0;
};

/// Lines of text on standard output (or `out`).
std::unique_ptr<ResultSink> textSink(std::FILE* out = stdout);
/// One JSON object a line on `out`; the console prints nothing.
std::unique_ptr<ResultSink> jsonSink(std::FILE* out = stdout);

struct RunContext {
    explicit RunContext(platform::FileSystem& fileSystem = platform::systemFileSystem(),
                        std::unique_ptr<ResultSink> results = textSink())
        : files(fileSystem), sink(std::move(results)) {}

    /// What a rewrite of this run is handed.
    Rewriting rewriting() {
        return Rewriting{config.Options, CopyBuffer{copyBuffer.data(), copyBuffer.size()}, sink->console(), files};
    }
    const Reporter& console() const { return sink->console(); }

    RunConfig config;
    Tally tally;
    platform::FileSystem& files;
    std::unique_ptr<ResultSink> sink;
    /// The one buffer through which image data is copied when the kernel cannot copy it; made at start-up.
    std::vector<std::uint8_t> copyBuffer;
};

}  // namespace tagloom
