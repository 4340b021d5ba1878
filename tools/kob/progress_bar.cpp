#include "progress_bar.h"

#include <algorithm>
#include <cstdio>

#include "console.h"

namespace kob {

namespace {
constexpr int kWidth = 40;
}

ProgressBar::ProgressBar(std::string label) : label_(std::move(label)) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(int percent, const std::string& note) {
    percent = std::clamp(percent, 0, 100);
    if (percent == percent_ && note == note_) return;
    // Plain lines only at every tenth: logs stay short.
    const bool changed =
        percent / 10 != percent_ / 10 || (percent == 100 && percent_ != 100) || percent_ < 0;
    percent_ = percent;
    note_ = note;
    if (!stderrIsTerminal()) {
        if (!changed) return;
        std::fprintf(stderr, "%s %3d %%%s%s\n", label_.c_str(), percent, note.empty() ? "" : " ",
                     note.c_str());
        return;
    }
    const int filled = percent * kWidth / 100;
    const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '.');
    // \r back to the start, \033[K clears what a longer note left behind.
    std::fprintf(stderr, "\r%s [%s] %3d %%%s%s\033[K", label_.c_str(), bar.c_str(), percent,
                 note.empty() ? "" : "  ", note.c_str());
    std::fflush(stderr);
    open_ = true;
}

void ProgressBar::finish() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
}

}  // namespace kob
