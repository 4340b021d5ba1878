#include "upgrade/upgrade.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "upgrade/bootloader.h"
#include "upgrade/firmware_image.h"
#include "upgrade/serial_port.h"

namespace koblib {
namespace {

void report(const UpgradeProgress& progress, int phase, int percent) {
    if (progress) progress(phase, percent);
}

// Share of the blocks done before block index of count, in whole percent.
int percentOf(std::size_t index, std::size_t count) {
    return static_cast<int>(100 * static_cast<unsigned long long>(index) / count);
}

// Every block whole, bytes the file left out as 0. The first report after
// a block counts the blocks before it, so it is 0 after the first.
bool writePass(Bootloader& bootloader, const FirmwareImage& image,
               const UpgradeProgress& progress) {
    report(progress, kUpgradePhaseWrite, 0);
    const std::size_t count = image.blockCount();
    for (std::size_t i = 0; i < count; ++i) {
        const auto block = image.blockAt(i);
        if (!bootloader.writeBlock(block->base(), block->data(), block->size())) {
            std::printf("kob_write_block returned false\n");
            return false;
        }
        report(progress, kUpgradePhaseWrite, percentOf(i, count));
    }
    report(progress, kUpgradePhaseWrite, 100);
    return true;
}

// Reads back the used part of every block, the bootloader region
// included: an image with data there passes only if the device already
// holds the same bytes.
bool verifyPass(Bootloader& bootloader, const FirmwareImage& image,
                const UpgradeProgress& progress) {
    std::vector<std::uint8_t> buffer(image.blockSize());
    report(progress, kUpgradePhaseVerify, 0);
    const std::size_t count = image.blockCount();
    for (std::size_t i = 0; i < count; ++i) {
        const auto block = image.blockAt(i);
        if (!bootloader.readBlock(block->base(), block->used(), buffer.data())) return false;
        if (block->used() > 0 && std::memcmp(buffer.data(), block->data(), block->used()) != 0) {
            return false;
        }
        report(progress, kUpgradePhaseVerify, percentOf(i, count));
    }
    report(progress, kUpgradePhaseVerify, 100);
    return true;
}

}  // namespace

int upgrade(const char* port, const char* hexPath, const UpgradeProgress& progress) {
    SerialPort serial;
    if (!serial.open(port)) return kUpgradePortFailed;
    // Once the port is open, an exception (no memory, a progress callback
    // that throws) ends the upgrade with the result of the step it came
    // from; nothing more is sent.
    int step = kUpgradeQueryWriteFailed;
    try {
        Bootloader bootloader(serial);
        std::uint32_t blockSize = 0;
        switch (bootloader.queryBlockSize(&blockSize)) {
            case BlockSizeAnswer::kOk:
                break;
            case BlockSizeAnswer::kWriteFailed:
                return kUpgradeQueryWriteFailed;
            case BlockSizeAnswer::kReadFailed:
                return kUpgradeQueryReadFailed;
            case BlockSizeAnswer::kRefused:
                return kUpgradeNoBlockSupport;
        }

        step = kUpgradeFileFailed;
        FirmwareImage image;
        if (hexPath == nullptr || !image.load(blockSize, hexPath)) return kUpgradeFileFailed;
        step = kUpgradeWriteFailed;
        if (!writePass(bootloader, image, progress)) return kUpgradeWriteFailed;
        step = kUpgradeVerifyFailed;
        if (!verifyPass(bootloader, image, progress)) return kUpgradeVerifyFailed;
        step = kUpgradeLeaveFailed;
        if (!bootloader.leave()) return kUpgradeLeaveFailed;
        return kUpgradeOk;
    } catch (...) {
        return step;
    }
}

int isKob(const char* port) {
    SerialPort serial;
    if (!serial.open(port)) return kIsNotKob;
    return Bootloader(serial).identify() ? kIsKob : kIsNotKob;
}

}  // namespace koblib
