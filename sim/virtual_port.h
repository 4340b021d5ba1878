// One host connection to a virtual KOB-1: a pair of host handles that
// behave like the system's HID device node (one whole report per read and
// per write), and the device's end of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "os/event.h"

namespace koblib {

class VirtualPort {
  public:
    // A connection for reports of these lengths (report-ID byte included).
    // Throws std::runtime_error when the system refuses the channel.
    VirtualPort(std::uint32_t inputLength, std::uint32_t outputLength);
    // Closes the device end; host reads then fail as after unplugging.
    ~VirtualPort();
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    // The host's read handle (waitable, non-blocking reads on Linux,
    // overlapped reads on Windows) and write handle (blocking writes).
    // Ownership passes to the caller (an HIDDevice); each is handed once.
    Waitable takeHostReadHandle();
    Waitable takeHostWriteHandle();

    // What became of an input report the device sent.
    enum class Delivery {
        kSent,     // the host can read it
        kDropped,  // the host has not read enough: no room, as the kernel drops it
        kGone,     // the host end is closed or the port shut down
    };
    // Device side. Sends one input report without waiting: payload is the
    // report without its report-ID byte, inputLength - 1 bytes.
    Delivery sendInput(const unsigned char* payload, std::size_t length);
    // Blocks for one output report as the host wrote it (report-ID byte
    // included) and returns its length; -1 once the host end is closed or
    // shutdown() was called.
    int receiveOutput(unsigned char* report, std::size_t capacity);
    // Unplugs: host reads fail from now on and receiveOutput returns -1.
    void shutdown();

  private:
    struct Impl;  // per system (virtual_port_<os>.cpp)
    std::unique_ptr<Impl> impl_;
};

}  // namespace koblib
