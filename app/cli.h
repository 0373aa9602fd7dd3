// Start-up: the command line into the run's configuration, the usage page, the choice of mode.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_context.h"
#include "exif/report.h"
#include "platform/platform.h"

namespace tagloom {

/// Runs the whole tool on argv with this file system; gives the exit status (1 after the usage
/// page, 2 when the output could not be written, 3 under --fail-on-refusal after a refusal, else 0).
int runTagloom(int argc, const char* const* argv, platform::FileSystem& files = platform::systemFileSystem());

/// Applies one command-line argument that begins with '-' to the options; its errors go to `usage`.
void parseFlags(RunConfig& config, const std::string& argument, const Reporter& usage);
/// The value of the run of hexadecimal digits at the start of `text`.
std::int32_t parseHexMask(const char* text);
/// Prints the usage page and ends the run with status 1 (throws UsageStop to unwind).
[[noreturn]] void printUsage(const Reporter& reporter);

/// Thrown by printUsage (and by --help and --version); runTagloom turns it into its exit status.
struct UsageStop {
    int status = 1;
};

/// Applies the comma-separated list of --only or --except (`option`); an unknown item is a usage error.
void parseTagList(RunConfig& config, const std::string& option, const std::string& list, const Reporter& usage);

/// Applies one command-line argument that begins with "--" and has more after it.
void parseLongOption(RunConfig& config, const std::string& argument, const Reporter& usage);

bool isDirectory(const std::string& path);
bool isFile(const std::string& path);

}  // namespace tagloom
