// The list of serial ports present, as the text that a host shows to pick
// the port a bootloader appeared on.
#pragma once

#include <string>
#include <vector>

namespace koblib {

// The serial ports present, in the system's order: on Windows the
// "portname" values of the "Ports" device class (COM3), elsewhere the
// device paths of the serial ports with hardware behind them
// (/dev/ttyACM0).
std::vector<std::string> serialPortNames();

// Joins names with "," and stores the text and its zero in out when out
// is not null and outSize is greater than the text's length. Returns that
// length, stored or not.
unsigned int storePortList(const std::vector<std::string>& names, char* out, unsigned int outSize);

// storePortList of serialPortNames: a fresh walk on every call.
unsigned int listComports(char* out, unsigned int outSize);

// What the Windows port walk does with one "portname" value.
enum class PortNameRule {
    kAdd,      // "COM" (any case) and a number from 1 to 256
    kSkip,     // not a COM port (LPT1)
    kEndWalk,  // "COM" with a number outside 1 to 256
};
PortNameRule classifyPortName(const char* name);

}  // namespace koblib
