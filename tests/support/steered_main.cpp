// tagloom with a file system that a test can steer from the environment, for the tests that need a
// power cut or a file system without hard links: TAGLOOM_CRASH_AT=N kills the process (SIGKILL)
// at the N-th step of its rewrites; TAGLOOM_NO_HARD_LINKS=1 makes every hard link fail as on FAT.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "app/cli.h"
#include "platform/platform.h"

using namespace tagloom;

namespace {

class SteeredFileSystem : public platform::FileSystem {
public:
    SteeredFileSystem() {
        const char* setting = std::getenv("TAGLOOM_CRASH_AT");
        crashAt_ = setting != nullptr ? std::strtol(setting, nullptr, 10) : 0;
        noHardLinks_ = std::getenv("TAGLOOM_NO_HARD_LINKS") != nullptr;
    }
    bool linkNoReplace(const std::string& from, const std::string& to, int& error) override {
        if (!noHardLinks_) return FileSystem::linkNoReplace(from, to, error);
        error = EPERM;
        return false;
    }
    void step() override {
        if (++steps_ != crashAt_) return;
        std::fflush(stdout);
        ::kill(::getpid(), SIGKILL);
    }

private:
    long crashAt_ = 0;
    long steps_ = 0;
    bool noHardLinks_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    SteeredFileSystem steered;
    return runTagloom(argc, argv, steered);
}
