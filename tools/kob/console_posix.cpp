#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "console.h"

namespace kob {

namespace {
std::FILE* output = nullptr;
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void separateStdout() {
    if (output) return;
    std::fflush(stdout);
    const int own = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (own < 0) return;
    output = fdopen(own, "w");
    if (!output) {
        close(own);
        return;
    }
    const int target = stderrIsTerminal() ? open("/dev/null", O_WRONLY) : STDERR_FILENO;
    if (target >= 0) dup2(target, STDOUT_FILENO);
    if (target > STDERR_FILENO) close(target);
}

std::FILE* toolOut() {
    return output ? output : stdout;
}

}  // namespace kob
