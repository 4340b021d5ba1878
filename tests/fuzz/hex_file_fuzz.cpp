// The Intel HEX reader and FirmwareImage::load on random files, against a
// reading written here: a file is taken when every line is a whole record
// with a good checksum (or empty, or blanks), the last record read is an
// end-of-file record (records after an earlier one are read on), and a
// Ctrl-Z line or the end of the file ends it; the image then holds
// exactly its data records. A damaged record, data past 64 KiB, a missing
// end-of-file record or part of a UTF-8 byte-order mark refuses the file.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "upgrade/firmware_image.h"

using koblib::fuzz::FuzzInput;

namespace {

std::string path;
// Whether the library refuses damaged files; a reader that stops quietly
// at the first damaged line is held only to the files taken.
bool refusesDamage = false;

enum class Verdict { kTaken, kRefused, kOpen };

struct Block {
    std::uint32_t base;
    std::uint32_t used = 0;
    std::vector<std::uint8_t> data;
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte at pair i of line, -1 when the pair is not hex.
int pairAt(const std::string& line, std::size_t i) {
    const int high = hexValue(line[1 + 2 * i]);
    const int low = hexValue(line[2 + 2 * i]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// FirmwareImage::write's rule: a record's bytes go to the block of each
// one's address, used grows to the last byte written in it; a record
// without data writes nothing and makes no block.
void store(std::vector<Block>& blocks, std::uint32_t blockSize, std::uint32_t address,
           const std::vector<int>& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint32_t base = address / blockSize * blockSize;
        Block* block = nullptr;
        for (Block& b : blocks)
            if (b.base == base) block = &b;
        if (block == nullptr) {
            blocks.push_back(Block{base, 0, std::vector<std::uint8_t>(blockSize)});
            block = &blocks.back();
        }
        std::uint32_t offset = address - base;
        for (; i < bytes.size() && offset < blockSize; ++i, ++offset, ++address)
            block->data[offset] = static_cast<std::uint8_t>(bytes[i]);
        if (offset > block->used) block->used = offset;
    }
}

bool blanks(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

Verdict read(const std::string& file, std::uint32_t blockSize, std::vector<Block>& blocks) {
    std::size_t at = 0;
    if (file.compare(0, 1, "\xEF") == 0) {
        if (file.compare(0, 3, "\xEF\xBB\xBF") != 0) return Verdict::kRefused;
        at = 3;
    }
    bool ended = false;  // the last record was an end-of-file record
    while (at < file.size()) {
        std::size_t end = file.find('\n', at);
        if (end == std::string::npos) end = file.size();
        std::string line = file.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '\x1A') break;  // the end of the text
        if (line.find_first_of("\r", 0) != std::string::npos) return Verdict::kOpen;
        if (blanks(line)) continue;
        if (line[0] != ':' || line.size() < 11) return Verdict::kRefused;
        const int length = pairAt(line, 0);
        if (length < 0) return Verdict::kRefused;
        const std::size_t need = 11 + 2 * static_cast<std::size_t>(length);
        if (line.size() < need) return Verdict::kRefused;
        std::vector<int> bytes;
        for (std::size_t i = 0; i < (need - 1) / 2; ++i)
            bytes.push_back(pairAt(line, i));
        for (int b : bytes)
            if (b < 0) return Verdict::kRefused;
        // Characters after the checksum: no rule here.
        if (line.size() > need) return Verdict::kOpen;
        int sum = 0;
        for (int b : bytes)
            sum += b;
        if (sum % 256 != 0) return Verdict::kRefused;
        const std::uint32_t address = static_cast<std::uint32_t>(bytes[1] * 256 + bytes[2]);
        const int type = bytes[3];
        ended = false;
        if (type == 0) {
            if (address + static_cast<std::uint32_t>(length) > 0x10000) return Verdict::kRefused;
            store(blocks, blockSize, address, std::vector<int>(bytes.begin() + 4, bytes.end() - 1));
        } else if (type == 1) {
            if (length != 0) return Verdict::kOpen;
            ended = true;
        } else if (type == 2 || type == 4) {
            if (length != 2 || bytes[4] != 0 || bytes[5] != 0) return Verdict::kOpen;
        } else if (type != 3 && type != 5) {
            return Verdict::kOpen;
        }
    }
    return ended ? Verdict::kTaken : Verdict::kRefused;
}

// A file of well-formed records made from the input, damaged now and then.
std::string records(FuzzInput& in) {
    std::string file;
    char pair[3];
    if (in.byte() == 0xEF) file = "\xEF\xBB\xBF";  // as Windows editors begin a text
    while (!in.empty()) {
        const std::uint8_t kind = in.byte();
        // Now and then what editors and DOS tools put between records.
        if (kind == 0x0B) file += " \t\r\n";
        if (kind == 0x1A) file += "\x1A";
        const std::uint8_t type = kind % 8 < 5 ? 0 : kind % 8 - 4;  // mostly data
        const std::vector<std::uint8_t> data = in.bytes(type == 0 ? in.byte() % 33 : 0);
        std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()), in.byte(),
                                           in.byte(), type};
        if (type == 2 || type == 4) bytes = {2, 0, 0, type, 0, 0};
        bytes.insert(bytes.end(), data.begin(), data.end());
        int sum = 0;
        for (std::uint8_t b : bytes)
            sum += b;
        bytes.push_back(static_cast<std::uint8_t>(-sum));
        std::string line = ":";
        for (std::uint8_t b : bytes) {
            std::snprintf(pair, sizeof pair, kind & 0x80 ? "%02x" : "%02X", b);
            line += pair;
        }
        if ((kind & 0x60) == 0x60)
            line[1 + in.byte() % (line.size() - 1)] = static_cast<char>(in.byte());
        file += line + (kind & 0x10 ? "\r\n" : "\n");
    }
    return file;
}

bool load(koblib::FirmwareImage& image, std::uint32_t blockSize, const std::string& file) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    return image.load(blockSize, path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/koblib-hex-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    path = name;
    koblib::FirmwareImage image;
    refusesDamage = !load(image, 16, ":0100000041BF\n:00000001FF\n");
    if (!refusesDamage)
        std::fprintf(stderr,
                     "hex_file: this reader takes damaged files; only taken files are checked\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t mode = in.byte();
    const std::uint32_t blockSize = 1 + in.word() % 512;
    const std::string file = mode & 1 ? records(in) : in.rest();
    std::vector<Block> expected;
    const Verdict verdict = read(file, blockSize, expected);
    koblib::FirmwareImage image;
    const bool loaded = load(image, blockSize, file);
    if (verdict == Verdict::kRefused && refusesDamage) FUZZ_CHECK(!loaded);
    if (verdict != Verdict::kTaken) return 0;
    FUZZ_CHECK(loaded);
    FUZZ_CHECK(image.blockCount() == expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto block = image.blockAt(i);
        FUZZ_CHECK(block->base() == expected[i].base && block->size() == blockSize);
        FUZZ_CHECK(block->used() == expected[i].used);
        FUZZ_CHECK(std::equal(expected[i].data.begin(), expected[i].data.end(), block->data()));
    }
    // Block size 0 holds nothing.
    FUZZ_CHECK(!image.load(0, path.c_str()) && image.blockCount() == 0);
    return 0;
}
