// Runs the built tagloom binary in a folder and captures what it prints; temporary folders for tests.
#pragma once

#include <string>
#include <vector>

#include "tests/support/exif_builder.h"

namespace fixture {

struct RunResult {
    int status = -1;     // exit status, or 128 + signal
    std::string output;  // everything printed on standard output
    std::string errors;  // standard error: the hint towards --all-formats, or a lost output
};

struct RunLimits {
    RunLimits() = default;
    RunLimits(long long fileSize, std::vector<std::string> settings = {})
        : fileSizeLimit(fileSize), environment(std::move(settings)) {}

    long long fileSizeLimit = -1;          // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored; -1 for none
    std::vector<std::string> environment;  // "NAME=value" settings added to the environment
    bool steered = false;                  // run the test build whose file system the environment steers
    std::string binary;                    // a copy of tagloom to run instead ("" for the built one)
    std::string runAs;                     // "uid:gid" or "uid:gid:group" to run as another user (the caller is root)
    std::string outputFile;                // where standard output goes instead of being captured
    bool ownProcess = false;               // a process of its own, beside others at once

    /// Only a run of its own process can be limited, steered, run as another user or killed.
    bool needsProcess() const {
        return ownProcess || fileSizeLimit >= 0 || !environment.empty() || steered || !binary.empty() || !runAs.empty() ||
               !outputFile.empty();
    }
};

/// The built tagloom binary.
std::string tagloomBinary();

/// Runs `tagloom args...` with `folder` as its working directory: in this process, its standard output
/// and error captured, unless the limits need a process of its own (the built binary is run then).
RunResult runTagloom(const std::vector<std::string>& args, const std::string& folder, RunLimits limits = {});

/// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const Bytes& bytes) const;
    Bytes read(const std::string& name) const;
    bool exists(const std::string& name) const;
    /// Names of the files and folders in the folder (or a sub-folder), sorted.
    std::vector<std::string> list(const std::string& sub = "") const;

private:
    std::string path_;
};

/// A file's bytes; none when it cannot be read.
Bytes readFile(const std::string& path);

/// Where the shared camera samples are, or "" when the folder is absent.
std::string samplesFolder();
/// True when exiftool can be run.
bool haveExiftool();
/// Runs a shell command and gives its standard output.
std::string commandOutput(const std::string& command);

}  // namespace fixture
