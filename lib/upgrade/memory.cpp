#include "upgrade/memory.h"

#include <cstring>

namespace koblib {

Memory::Memory(std::uint32_t size, std::uint32_t base) : size_(size), data_(size, 0), base_(base) {}

void Memory::store(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t count) {
    if (offset + count > used_) used_ = offset + count;
    if (count > 0) std::memcpy(data_.data() + offset, bytes, count);
}

}  // namespace koblib
