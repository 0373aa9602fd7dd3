// The run driver: command line, modes, the folder walk and the processing of one file pair.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_context.h"
#include "exif/image.h"
#include "platform/platform.h"

namespace tagloom {

/// Runs the whole tool on argv with this file system; gives the exit status (1 after the usage
/// page, 2 when the output could not be written, else 0).
int runTagloom(int argc, const char* const* argv, platform::FileSystem& files = platform::systemFileSystem());

/// Applies one command-line argument that begins with '-' to the run's options.
void parseFlags(RunContext& run, const std::string& argument);
/// The value of the run of hexadecimal digits at the start of `text`.
std::int32_t parseHexMask(const char* text);
/// Prints the usage page and ends the run with status 1 (throws UsageStop to unwind).
[[noreturn]] void printUsage(const Reporter& reporter);

/// Thrown by printUsage (and by --help and --version); runTagloom turns it into its exit status.
struct UsageStop {
    int status = 1;
};

/// Applies the comma-separated list of --only or --except (`option`); an unknown item is a usage error.
void parseTagList(RunContext& run, const std::string& option, const std::string& list);

/// Applies one command-line argument that begins with "--" and has more after it.
void parseLongOption(RunContext& run, const std::string& argument);

bool isDirectory(const std::string& path);
bool isFile(const std::string& path);

/// Loads both images, merges, rewrites unless -x; any refusal becomes one report line.
void processPair(RunContext& run, std::string sourcePath, std::string destinationPath);
/// The same for two images loaded already (from memory, say): the checks, the merge, the rewrite.
void processLoadedPair(RunContext& run, CExifImage& destination, const CExifImage& source);

/// A line of the run about one file that is no pair's result line: "Tagloom: '<path>' <text>" ("skipped
/// - <text>" for a skipped file), or under --json an object of its own with `result` and `text` as its
/// reason. A refusal counts for --fail-on-refusal.
void reportFile(RunContext& run, const std::string& path, bool isSource, const std::string& result,
                const std::string& text);

/// Notes, for the hint at the end of a run without --all-formats, a file that this reading refused
/// or passed over when --all-formats loads it in that role.
void noteOtherReading(RunContext& run, const std::string& path, CExifImage::Role role);

/// What a rewrite cut off between its two renames left where `path` is missing.
enum class Interrupted {
    none,        // no such rewrite: `path` exists, or is simply missing
    restored,    // "<path>.old" is `path` again, said in one line
    busy,        // another run is between its renames: said in one line, nothing touched
    backupOnly,  // under -x: said in one line, nothing touched
};

/// Puts back "<path>.old" as `path` where an interrupted rewrite left the photo only as its backup:
/// `path` missing, "<path>.old" and "<path>.tmp" present. Nothing under -x, or while another run
/// holds the backup.
Interrupted restoreInterrupted(RunContext& run, const std::string& path);

/// Pairs every ".jpg" and ".cr2" file under `folder` with its ".jpg" under Dst.
void walkFolder(RunContext& run, std::string folder);

}  // namespace tagloom
