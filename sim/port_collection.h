// Devices over bare virtual ports, with no firmware model behind them: the
// caller writes input reports straight into each port's device end. For
// benchmarks and tests that must not measure or wait on the firmware.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "device/hid_collection.h"
#include "virtual_port.h"

namespace koblib {

class PortCollection : public HIDCollection {
  public:
    // count devices, serials "P00", "P01", ..., reports of reportLength
    // bytes (report-ID byte included) both ways.
    PortCollection(int count, std::uint32_t reportLength);

    // The first call hands every device out, later calls none: each
    // device is opened once, as a real device node is.
    std::vector<std::shared_ptr<HIDDevice>> getDevices() override;

    VirtualPort& port(int index) { return *ports_[index]; }
    int size() const { return static_cast<int>(ports_.size()); }

  private:
    std::vector<std::unique_ptr<VirtualPort>> ports_;
    std::vector<std::shared_ptr<HIDDevice>> devices_;
};

}  // namespace koblib
