// Loading an Intel HEX file into blocks: a file that fills all 64 KiB with
// records of 16 bytes, loaded with several block sizes. Block size 1 makes
// one block per byte, the case where the block look-up dominates. Prints
// figures; nothing here is a test.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "upgrade/firmware_image.h"

namespace {

// The whole 64 KiB address space as data records of 16 bytes, in rising
// or falling address order, then the end-of-file record.
std::string fullFile(bool falling) {
    std::string text;
    char line[64];
    for (unsigned step = 0; step < 0x10000; step += 16) {
        const unsigned address = falling ? 0xFFF0 - step : step;
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        int at = std::snprintf(line, sizeof line, ":10%04X00", address);
        for (unsigned i = 0; i < 16; ++i) {
            const unsigned byte = (address + i * 7) & 0xFF;
            sum += byte;
            at += std::snprintf(line + at, sizeof line - at, "%02X", byte);
        }
        std::snprintf(line + at, sizeof line - at, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":00000001FF\r\n";
}

}  // namespace

int main() {
    const auto path = std::filesystem::temp_directory_path() / "koblib-firmware-load-bench.hex";
    for (bool falling : {false, true}) {
        const std::string text = fullFile(falling);
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
            return 1;
        }
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        const char* order = falling ? "falling" : "rising";
        std::printf("hex_file_size_%s: %zu bytes\n", order, text.size());
        for (std::uint32_t blockSize : {1u, 16u, 128u}) {
            koblib::FirmwareImage image;
            const auto begin = std::chrono::steady_clock::now();
            const bool loaded = image.load(blockSize, path.string().c_str());
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                    .count();
            std::printf("load_64k_%s_block_size_%u: %.1f ms (%s, %zu blocks)\n", order, blockSize,
                        ms, loaded ? "loaded" : "refused", image.blockCount());
        }
    }
    std::filesystem::remove(path);
    return 0;
}
