#include "upgrade/firmware_image.h"

#include <cstdio>

#include "upgrade/hex_record.h"

namespace koblib {

bool FirmwareImage::load(std::uint32_t blockSize, const char* path) {
    clear();
    blockSize_ = blockSize;
    if (blockSize == 0 || path == nullptr) return false;

    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    const bool whole = skipByteOrderMark(file) && readRecords(file);
    std::fclose(file);
    // Half an image is never flashed.
    if (!whole) clear();
    return whole;
}

void FirmwareImage::clear() {
    blocks_.clear();
    byBase_.clear();
}

bool FirmwareImage::skipByteOrderMark(std::FILE* file) {
    // Windows editors begin a UTF-8 text with EF BB BF. Read byte by byte,
    // without seeking, so that a pipe is read as well as a file.
    const int first = std::getc(file);
    if (first != 0xEF) {
        if (first != EOF) std::ungetc(first, file);
        return true;
    }
    // A line cannot begin with EF: what is not the whole mark is damage.
    return std::getc(file) == 0xBB && std::getc(file) == 0xBF;
}

bool FirmwareImage::readRecords(std::FILE* file) {
    HexRecord record;
    std::uint32_t upper = 0;  // set by the extended address records
    // Whether the last record read was an end-of-file record: a file
    // cut anywhere else is not whole.
    bool ended = false;
    for (;;) {
        const int result = readHexRecord(&record, file);
        if (result == kHexRecordEndOfFile) return ended;
        if (result == kHexRecordEmptyLine) continue;
        if (result != kHexRecordOk) return false;

        const auto length = static_cast<std::uint32_t>(record.length);
        ended = false;
        switch (record.type) {
            case kHexRecordData: {
                const std::uint32_t address = upper + record.address;
                // Compared so that a high address cannot wrap around.
                if (address >= kAddressSpace || length > kAddressSpace - address) return false;
                write(address, record.data, length);
                break;
            }
            case kHexRecordEnd:
                // Files joined one after the other (an application and its
                // bootloader) are read on; each begins at the base 0.
                ended = true;
                upper = 0;
                break;
            case kHexRecordSegmentAddress:
            case kHexRecordLinearAddress: {
                if (length != 2) return false;
                const std::uint32_t value = record.data[0] * 256u + record.data[1];
                upper = value << (record.type == kHexRecordLinearAddress ? 16 : 4);
                break;
            }
            case kHexRecordSegmentStart:
            case kHexRecordLinearStart:
                break;  // where the firmware starts: nothing to write
            default:
                return false;
        }
    }
}

void FirmwareImage::write(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t length) {
    if (blockSize_ == 0 || length == 0) return;
    for (;;) {
        const std::uint32_t base = blockSize_ * (address / blockSize_);
        // Files run in rising address order as a rule: the block written
        // last is tried before the look-up.
        Memory* block = blocks_.empty() ? nullptr : blocks_.back().get();
        if (block == nullptr || block->base() != base) {
            const auto found = byBase_.find(base);
            if (found != byBase_.end()) {
                block = found->second;
            } else {
                blocks_.push_back(std::make_shared<Memory>(blockSize_, base));
                block = blocks_.back().get();
                byBase_.emplace(base, block);
            }
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
