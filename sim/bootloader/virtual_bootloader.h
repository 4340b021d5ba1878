// A bootloader on a pseudo-terminal: the library opens portPath() as its
// serial port and a thread of this object answers as the device would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bootloader_model.h"

namespace koblib_sim {

class VirtualBootloader {
  public:
    // Opens the pseudo-terminal (raw mode) and starts answering. Throws
    // std::runtime_error when the system has no pseudo-terminals.
    explicit VirtualBootloader(BootloaderConfig config = {});
    // Stops answering and closes the pseudo-terminal.
    ~VirtualBootloader();
    VirtualBootloader(const VirtualBootloader&) = delete;
    VirtualBootloader& operator=(const VirtualBootloader&) = delete;

    // The device path that the library opens.
    const std::string& portPath() const { return portPath_; }

    // Starts over with a fresh flash, empty logs and new faults.
    void reset(BootloaderConfig config);

    // A copy of the bootloader's state as it is now.
    BootloaderModel snapshot() const;

    // Waits until condition holds for the state (checked after every
    // piece of input) or timeout passes; returns whether it holds.
    bool waitUntil(const std::function<bool(const BootloaderModel&)>& condition,
                   std::chrono::milliseconds timeout) const;

    // True once a kHangUp fault has closed the line.
    bool hungUp() const;

  private:
    void run();
    bool writeAll(const std::string& bytes);

    std::string portPath_;
    int master_ = -1;
    int slave_ = -1;  // kept open so that the line stays up between users
    int stop_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    BootloaderModel model_;
    bool hungUp_ = false;
    std::thread thread_;
};

}  // namespace koblib_sim
