// Every thread the library starts blocks all signals, so that a host's
// signals (a timer's SIGALRM, Ctrl-C) go to the host's own threads: a new
// thread takes the mask of the thread that starts it, so the mask is set
// around the start and put back afterwards.
#pragma once

#include <utility>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace koblib {

// While it lives, the calling thread blocks all signals.
class SignalsBlocked {
  public:
    SignalsBlocked() {
#ifndef _WIN32
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &saved_);
#endif
    }
    ~SignalsBlocked() {
#ifndef _WIN32
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
#endif
    }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
#ifndef _WIN32
    sigset_t saved_;
#endif
};

// Starts a thread (std::thread's arguments) that blocks all signals.
template <typename Thread, typename... Args>
Thread startQuietThread(Args&&... args) {
    const SignalsBlocked blocked;
    return Thread(std::forward<Args>(args)...);
}

}  // namespace koblib
