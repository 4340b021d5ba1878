// The firmware of an upgrade: the data records of an Intel HEX file cut
// into blocks of the bootloader's page size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "upgrade/memory.h"

namespace koblib {

class FirmwareImage {
  public:
    virtual ~FirmwareImage() = default;

    // Empties the image and reads the data records of the file at path into
    // blocks of blockSize bytes. Reading stops silently at the first line
    // that is empty or damaged (the image keeps what came before) and at
    // the end of the file; every other record type is skipped, the
    // end-of-file record included. Returns false, with the image empty,
    // when the file cannot be opened or blockSize is 0 (no block can hold
    // a byte).
    bool load(std::uint32_t blockSize, const char* path);

    // Stores length bytes at address, creating blocks as needed; bytes that
    // run past a block go on into the next one. Does nothing while the
    // block size is 0.
    void write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length);

    // Blocks in the order in which each was first written, not by address.
    std::size_t blockCount() const { return blocks_.size(); }
    std::shared_ptr<const Memory> blockAt(std::size_t index) const { return blocks_.at(index); }
    std::uint32_t blockSize() const { return blockSize_; }

  private:
    std::vector<std::shared_ptr<Memory>> blocks_;
    std::uint32_t blockSize_ = 0;
};

}  // namespace koblib
