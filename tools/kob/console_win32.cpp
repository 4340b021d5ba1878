#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "console.h"

namespace kob {

namespace {
std::FILE* output = nullptr;
}

bool stderrIsTerminal() {
    return _isatty(2) != 0;
}

void separateStdout() {
    if (output) return;
    std::fflush(stdout);
    const int own = _dup(1);
    if (own < 0) return;
    output = _fdopen(own, "w");
    if (!output) {
        _close(own);
        return;
    }
    const int target = stderrIsTerminal() ? _open("NUL", _O_WRONLY) : 2;
    if (target >= 0) _dup2(target, 1);
    if (target > 2) _close(target);
}

std::FILE* toolOut() {
    return output ? output : stdout;
}

}  // namespace kob
