#include "upgrade/serial_port.h"

#include <string>

namespace koblib {

std::string windowsPortPath(const std::string& port) {
    const bool com = port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
                     (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm');
    const bool digits = com && port.find_first_not_of("0123456789", 3) == std::string::npos;
    return digits ? "\\\\.\\" + port : port;
}

SerialPort::SerialPort() : handle_(kClosed) {}

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::isOpen() const {
    return handle_ != kClosed;
}

}  // namespace koblib
