#include "upgrade/serial_port.h"

namespace koblib {

SerialPort::SerialPort() : handle_(kClosed) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::isOpen() const { return handle_ != kClosed; }

}  // namespace koblib
