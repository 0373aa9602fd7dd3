#include "tests/support/run_tool.h"

#include "app/cli.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fixture {
namespace {

std::string drain(int fd) {
    std::string text;
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return text;
}

}  // namespace

namespace {

/// Runs the tool in this process: the working directory and standard output and error are the
/// process's own, so they are swapped for the run and put back after it.
RunResult runInThisProcess(const std::vector<std::string>& args, const std::string& folder) {
    std::fflush(nullptr);
    char outName[] = "/tmp/tagloom-out-XXXXXX";
    char errName[] = "/tmp/tagloom-err-XXXXXX";
    const int out = ::mkstemp(outName);
    const int err = ::mkstemp(errName);
    const int savedOut = ::dup(1);
    const int savedErr = ::dup(2);
    const std::filesystem::path before = std::filesystem::current_path();
    if (out < 0 || err < 0 || savedOut < 0 || savedErr < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
        throw std::runtime_error("cannot capture the output");
    std::filesystem::current_path(folder);
    std::vector<const char*> argv = {"tagloom"};
    for (const std::string& argument : args) argv.push_back(argument.c_str());
    RunResult result;
    result.status = tagloom::runTagloom(static_cast<int>(argv.size()), argv.data());
    std::fflush(nullptr);
    std::filesystem::current_path(before);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    for (const int fd : {savedOut, savedErr}) ::close(fd);
    ::lseek(out, 0, SEEK_SET);
    ::lseek(err, 0, SEEK_SET);
    result.output = drain(out);
    result.errors = drain(err);
    for (const int fd : {out, err}) ::close(fd);
    ::unlink(outName);
    ::unlink(errName);
    return result;
}

}  // namespace

RunResult runTagloom(const std::vector<std::string>& args, const std::string& folder, RunLimits limits) {
    if (!limits.needsProcess()) return runInThisProcess(args, folder);
    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(out[1], 1);
        if (!limits.outputFile.empty()) {
            const int redirected = ::open(limits.outputFile.c_str(), O_WRONLY | O_CLOEXEC);
            if (redirected < 0 || ::dup2(redirected, 1) < 0) ::_exit(124);
        }
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        for (std::string& setting : limits.environment) ::putenv(setting.data());
        if (limits.fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(limits.fileSizeLimit), static_cast<rlim_t>(limits.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!limits.runAs.empty()) {
            const auto colon = limits.runAs.find(':');
            const auto second = limits.runAs.find(':', colon + 1);
            const auto group = static_cast<gid_t>(std::stoul(limits.runAs.substr(colon + 1)));
            std::vector<gid_t> others;
            if (second != std::string::npos) others.push_back(static_cast<gid_t>(std::stoul(limits.runAs.substr(second + 1))));
            if (::setgroups(others.size(), others.data()) != 0 || ::setgid(group) != 0 ||
                ::setuid(static_cast<uid_t>(std::stoul(limits.runAs.substr(0, colon)))) != 0)
                ::_exit(125);
        }
        std::vector<char*> argv;
        std::string binary = !limits.binary.empty() ? limits.binary : limits.steered ? TAGLOOM_STEERED_BINARY : TAGLOOM_BINARY;
        argv.push_back(binary.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    RunResult result;
    result.output = drain(out[0]);  // tagloom prints little to stderr: no deadlock on the second pipe
    result.errors = drain(err[0]);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string tagloomBinary() { return TAGLOOM_BINARY; }

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tagloom-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const Bytes& bytes) const {
    const std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!stream) throw std::runtime_error("cannot write " + file.string());
}

Bytes TempFolder::read(const std::string& name) const { return readFile((std::filesystem::path(path_) / name).string()); }

Bytes readFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return {};
    return Bytes(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool TempFolder::exists(const std::string& name) const {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(std::filesystem::path(path_) / name, ignored));
}

std::vector<std::string> TempFolder::list(const std::string& sub) const {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(path_) / sub))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string samplesFolder() {
    const std::string folder = TAGLOOM_SAMPLES;
    return std::filesystem::is_directory(folder) ? folder : std::string();
}

bool haveExiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

std::string commandOutput(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    std::array<char, 4096> chunk{};
    while (const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) text.append(chunk.data(), got);
    ::pclose(pipe);
    return text;
}

}  // namespace fixture
