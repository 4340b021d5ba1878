#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "console.h"

namespace kob {

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

DivertedStdout::DivertedStdout(bool toStderr) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int target = toStderr ? STDERR_FILENO : open("/dev/null", O_WRONLY);
    if (target >= 0) dup2(target, STDOUT_FILENO);
    if (!toStderr && target >= 0) close(target);
}

DivertedStdout::~DivertedStdout() {
    std::fflush(stdout);
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
}

}  // namespace kob
