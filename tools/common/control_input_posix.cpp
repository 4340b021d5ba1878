#include <poll.h>
#include <unistd.h>

#include "control_input.h"

namespace kob {

// A pipe whose write end wakes the reader's poll.
struct ControlInput::State {
    int stop[2] = {-1, -1};
};

ControlInput::ControlInput() : state_(std::make_unique<State>()) {
    if (pipe(state_->stop) != 0) state_->stop[0] = state_->stop[1] = -1;
}

ControlInput::~ControlInput() {
    for (const int fd : state_->stop)
        if (fd >= 0) close(fd);
}

bool ControlInput::usable() const {
    return state_->stop[0] >= 0;
}

std::size_t ControlInput::read(char* buffer, std::size_t size) {
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {state_->stop[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return 0;
        const ssize_t n = ::read(STDIN_FILENO, buffer, size);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

bool ControlInput::end() {
    const char byte = 1;
    return state_->stop[1] >= 0 && write(state_->stop[1], &byte, 1) == 1;
}

}  // namespace kob
