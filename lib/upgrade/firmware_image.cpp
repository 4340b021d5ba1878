#include "upgrade/firmware_image.h"

#include <cstdio>

#include "upgrade/hex_record.h"

namespace koblib {

bool FirmwareImage::load(std::uint32_t blockSize, const char* path) {
    blocks_.clear();
    blockSize_ = blockSize;
    if (blockSize == 0 || path == nullptr) return false;

    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;

    HexRecord record;
    while (readHexRecord(&record, file) == kHexRecordOk) {
        if (record.type == kHexRecordData) {
            write(record.address, record.data, static_cast<std::uint32_t>(record.length));
        }
    }
    std::fclose(file);
    return true;
}

void FirmwareImage::write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length) {
    if (blockSize_ == 0) return;
    for (;;) {
        const std::uint32_t base = blockSize_ * (address / blockSize_);
        std::shared_ptr<Memory> block;
        for (const auto& candidate : blocks_) {
            if (candidate->base() == base) {
                block = candidate;
                break;
            }
        }
        if (!block) {
            block = std::make_shared<Memory>(blockSize_, base);
            blocks_.push_back(block);
        }

        const std::uint32_t offset = address - base;
        const std::uint32_t room = block->size() - offset;
        const std::uint32_t fit = length <= room ? length : room;
        block->store(offset, bytes, fit);
        if (fit == length) return;

        // The rest goes on into the next block; an address space that ends
        // inside the data has no next block.
        if (address + fit < address) return;
        address += fit;
        bytes += fit;
        length -= fit;
    }
}

}  // namespace koblib
