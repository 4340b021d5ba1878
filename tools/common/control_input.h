// Standard input for --sim-control: read on a thread of its own, and a
// read that waits for input can be ended from another thread.
#pragma once

#include <cstddef>
#include <memory>

namespace kob {

class ControlInput {
  public:
    ControlInput();
    ~ControlInput();
    ControlInput(const ControlInput&) = delete;
    ControlInput& operator=(const ControlInput&) = delete;

    // False when a read could not be ended from another thread here.
    bool usable() const;
    // Waits for input: the bytes read (at most size), or 0 once standard
    // input has ended or end() was called.
    std::size_t read(char* buffer, std::size_t size);
    // Ends the read waiting now and every later one. False when the
    // waiting read could not be ended (its thread cannot be joined).
    bool end();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kob
