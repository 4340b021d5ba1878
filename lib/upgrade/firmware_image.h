// The firmware of an upgrade: the data records of an Intel HEX file cut
// into blocks of the bootloader's page size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "upgrade/memory.h"

namespace koblib {

class FirmwareImage {
  public:
    virtual ~FirmwareImage() = default;

    // Largest address plus one that an image holds.
    static constexpr std::uint32_t kAddressSpace = 0x10000;

    // Empties the image and reads the data records of the file at path into
    // blocks of blockSize bytes, at the addresses that the extended address
    // records (02, 04) and the data records' own addresses give together.
    // The file must be read whole: every line a record with a good
    // checksum (empty lines and lines of blanks are passed over), an
    // end-of-file record last, no data at or past kAddressSpace, no record
    // type other than 00 to 05. What editors and tools add is taken: a
    // UTF-8 byte-order mark at the start, a Ctrl-Z that ends the text, and
    // records after an end-of-file record (files joined with cat, each
    // from the base address 0, and repeated end-of-file records).
    // Returns false, with the image empty, when the file cannot be opened
    // or read whole or blockSize is 0 (no block can hold a byte).
    bool load(std::uint32_t blockSize, const char* path);

    // Stores length bytes at address, creating blocks as needed; bytes that
    // run past a block go on into the next one. Does nothing while the
    // block size is 0, and for no bytes (no empty block is made).
    void write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length);

    // Blocks in the order in which each was first written, not by address.
    std::size_t blockCount() const { return blocks_.size(); }
    std::shared_ptr<const Memory> blockAt(std::size_t index) const { return blocks_.at(index); }
    std::uint32_t blockSize() const { return blockSize_; }

  private:
    void clear();
    // Reads past a UTF-8 byte-order mark at the start of file; false when
    // the file begins with a part of one only.
    static bool skipByteOrderMark(std::FILE* file);
    // Reads every record of file into the image; false when the file is
    // not a whole image.
    bool readRecords(std::FILE* file);

    std::vector<std::shared_ptr<Memory>> blocks_;
    // The same blocks by base address, for the look-up while loading.
    std::map<std::uint32_t, Memory*> byBase_;
    std::uint32_t blockSize_ = 0;
};

}  // namespace koblib
