// The output reports one virtual device has received, collected through
// kobsim_outputs: each whole, report-ID byte first, oldest first.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace koblib {

using Report = std::vector<unsigned char>;

class DeviceOutputs {
  public:
    // reportLength: the device's output report length, report-ID byte
    // included (its payload + 1).
    DeviceOutputs(std::string serial, unsigned int reportLength);

    const std::string& serial() const { return serial_; }
    const char* name() const { return serial_.c_str(); }
    unsigned int reportLength() const { return reportLength_; }

    // Fetches what the device received since the last fetch and returns
    // everything fetched so far.
    std::vector<Report> reports();
    // Polls until predicate holds for the reports; false when the deadline
    // passes first. May be called on any thread.
    bool waitFor(const std::function<bool(const std::vector<Report>&)>& predicate,
                 std::chrono::milliseconds deadline = std::chrono::seconds(10));
    bool waitForCount(std::size_t count) {
        return waitFor([count](const std::vector<Report>& r) { return r.size() >= count; });
    }
    // Fetches and forgets everything received so far.
    void discard();

  private:
    void fetch();

    const std::string serial_;
    const unsigned int reportLength_;
    std::mutex lock_;
    std::vector<Report> reports_;
};

// The first n bytes of a report (all of it when shorter).
Report head(const Report& report, std::size_t n);

}  // namespace koblib
