#include "upgrade/deadline.h"

#include <climits>

namespace koblib {

Deadline::Deadline(long long spanMs) {
    restart(spanMs);
}

void Deadline::restart(long long spanMs) {
    end_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(spanMs);
}

int Deadline::remainingMs() const {
    const auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    // Round up: a wait that stops short of the deadline would wake once
    // more with nothing left to wait.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace koblib
