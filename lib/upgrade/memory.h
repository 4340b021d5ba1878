// One block of device flash as the upgrade writes and verifies it.
#pragma once

#include <cstdint>
#include <vector>

namespace koblib {

// A block of size bytes starting at base (a multiple of size). Bytes that
// nothing wrote stay 0; used counts the bytes from the start of the block
// up to and including the highest byte written so far.
class Memory {
  public:
    Memory(std::uint32_t size, std::uint32_t base);
    virtual ~Memory() = default;

    std::uint32_t size() const { return size_; }
    std::uint32_t used() const { return used_; }
    std::uint32_t base() const { return base_; }
    const std::uint8_t* data() const { return data_.data(); }

    // Copies count bytes to offset (offset + count must not exceed size)
    // and raises used to cover them.
    void store(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t count);

  private:
    std::uint32_t size_;
    std::uint32_t used_ = 0;
    std::vector<std::uint8_t> data_;
    std::uint32_t base_;
};

}  // namespace koblib
