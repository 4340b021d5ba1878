// WaitForMultipleObjects over the stored handles: the system's wait, which
// reports the lowest signalled index.
#include <stdexcept>

#include "os/wait_set.h"

namespace koblib {

struct WaitSet::Impl {
    Waitable handles[kMaxWaitables];
    int count = 0;
};

WaitSet::WaitSet() : impl_(new Impl) {}

WaitSet::~WaitSet() = default;

void WaitSet::assign(const Waitable* waitables, int count) {
    if (count < 0 || count > kMaxWaitables) throw std::length_error("too many waitables");
    for (int i = 0; i < count; ++i)
        impl_->handles[i] = waitables[i];
    impl_->count = count;
}

int WaitSet::wait(int timeoutMs) {
    return waitAny(impl_->handles, impl_->count, timeoutMs);
}

}  // namespace koblib
