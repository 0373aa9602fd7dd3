// tagloom with the platform's test seams set from the environment, for the tests that need a power
// cut or a file system without hard links: TAGLOOM_CRASH_AT=N kills the process (SIGKILL) at the
// N-th step of its rewrites; TAGLOOM_NO_HARD_LINKS=1 makes every hard link fail as on FAT.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "app/tagloom.h"
#include "platform/platform.h"

namespace {

long crashAt = 0;

void countStep() {
    static long steps = 0;
    if (++steps == crashAt) {
        std::fflush(stdout);
        ::kill(::getpid(), SIGKILL);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* setting = std::getenv("TAGLOOM_CRASH_AT")) {
        crashAt = std::strtol(setting, nullptr, 10);
        platform::seams().atStep = countStep;
    }
    platform::seams().noHardLinks = std::getenv("TAGLOOM_NO_HARD_LINKS") != nullptr;
    return runTagloom(argc, argv);
}
