// Report lengths from a HID report descriptor, for systems that do not
// hand them out ready-made.
#pragma once

#include <cstddef>
#include <cstdint>

namespace koblib {

struct ReportLengths {
    std::uint32_t input = 0;   // bytes, report-ID byte included
    std::uint32_t output = 0;  // bytes, report-ID byte included
};

// The longest input and output report the descriptor declares, in bytes
// plus one for the report-ID byte (the library frames every report with
// it). A report with no items gives 0. Malformed or truncated descriptors
// are read as far as they go.
ReportLengths reportLengthsFromDescriptor(const unsigned char* descriptor, std::size_t size);

}  // namespace koblib
