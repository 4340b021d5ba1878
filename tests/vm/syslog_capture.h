// Stands in for the system logger inside the VM: binds /dev/log and keeps
// every message, so that tests can see the library's debug output (which
// goes to syslog on Linux) without a logging daemon.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace koblib::vm {

class SyslogCapture {
  public:
    // Binds /dev/log; ok() is false when that fails.
    SyslogCapture();
    ~SyslogCapture();
    SyslogCapture(const SyslogCapture&) = delete;
    SyslogCapture& operator=(const SyslogCapture&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Waits until a message kept since the last clear() contains text;
    // false after the deadline.
    bool waitFor(const std::string& text, std::chrono::milliseconds deadline);
    std::vector<std::string> messages();
    void clear();

  private:
    void readLoop();

    int fd_ = -1;
    int stopFd_ = -1;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> messages_;
    std::thread reader_;
};

}  // namespace koblib::vm
