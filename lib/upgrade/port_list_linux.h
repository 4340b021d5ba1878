// The Linux side of the port list, with its directories as parameters so
// that it can run over a prepared tree.
#pragma once

#include <string>
#include <vector>

namespace koblib {

// Full paths (devDir/name) of the tty devices in sysClassTty (normally
// /sys/class/tty) that have a device behind them, whose node exists in
// devDir (normally /dev), and that are not UART slots without hardware
// (a "type" attribute of 0). Sorted by name, numbers by their value
// (ttyACM2 before ttyACM10).
std::vector<std::string> listTtyPorts(const std::string& sysClassTty, const std::string& devDir);

}  // namespace koblib
