// The few console facts that differ between systems.
#pragma once

#include <cstdio>

namespace kob {

bool stderrIsTerminal();

// Keeps the tool's standard output for its results: from the call on, the
// tool writes through its own copy of descriptor 1 (toolOut()), and
// descriptor 1, where the library's own diagnostic lines go, points at
// standard error, or nowhere while standard error is a terminal (the
// progress bars stay readable).
void separateStdout();

// The tool's standard output (stdout until separateStdout is called).
std::FILE* toolOut();

}  // namespace kob
