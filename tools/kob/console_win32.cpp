#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "console.h"

namespace kob {

bool stderrIsTerminal() {
    return _isatty(2) != 0;
}

DivertedStdout::DivertedStdout(bool toStderr) {
    std::fflush(stdout);
    saved_ = _dup(1);
    const int target = toStderr ? 2 : _open("NUL", _O_WRONLY);
    if (target >= 0) _dup2(target, 1);
    if (!toStderr && target >= 0) _close(target);
}

DivertedStdout::~DivertedStdout() {
    std::fflush(stdout);
    if (saved_ < 0) return;
    _dup2(saved_, 1);
    _close(saved_);
}

}  // namespace kob
