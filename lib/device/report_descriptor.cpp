#include "device/report_descriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace koblib {

namespace {

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

std::uint32_t bytesFor(const std::map<std::uint32_t, std::uint64_t>& bitsById) {
    std::uint64_t most = 0;
    for (const auto& entry : bitsById)
        most = std::max(most, entry.second);
    if (most == 0) return 0;
    return static_cast<std::uint32_t>((most + 7) / 8 + 1);
}

}  // namespace

ReportLengths reportLengthsFromDescriptor(const unsigned char* d, std::size_t size) {
    std::map<std::uint32_t, std::uint64_t> inputBits;
    std::map<std::uint32_t, std::uint64_t> outputBits;
    Globals globals;
    std::vector<Globals> stack;
    std::size_t i = 0;
    while (d && i < size) {
        const unsigned char prefix = d[i];
        if (prefix == 0xFE) {  // long item: its data size is in the next byte
            if (i + 1 >= size) break;
            i += 3 + static_cast<std::size_t>(d[i + 1]);
            continue;
        }
        const std::size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + dataSize > size) break;
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < dataSize; ++k)
            value |= std::uint32_t(d[i + 1 + k]) << (8 * k);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 1) {  // global
            switch (tag) {
                case 7:
                    globals.reportSize = value;
                    break;
                case 8:
                    globals.reportId = value;
                    break;
                case 9:
                    globals.reportCount = value;
                    break;
                case 10:
                    stack.push_back(globals);
                    break;
                case 11:
                    if (!stack.empty()) {
                        globals = stack.back();
                        stack.pop_back();
                    }
                    break;
                default:
                    break;
            }
        } else if (type == 0 && (tag == 8 || tag == 9)) {  // Input / Output
            const std::uint64_t bits = std::uint64_t(globals.reportSize) * globals.reportCount;
            (tag == 8 ? inputBits : outputBits)[globals.reportId] += bits;
        }
        i += 1 + dataSize;
    }
    ReportLengths lengths;
    lengths.input = bytesFor(inputBits);
    lengths.output = bytesFor(outputBits);
    return lengths;
}

}  // namespace koblib
