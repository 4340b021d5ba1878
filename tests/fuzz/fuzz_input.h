// The fuzzer's bytes read as a stream of choices; past the end every
// choice reads 0, so every input is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace koblib {
namespace fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t word() { return (byte() << 8u) | byte(); }
    // Up to count bytes (fewer at the end).
    std::vector<std::uint8_t> bytes(std::size_t count) {
        const std::size_t n = count < size_ - pos_ ? count : size_ - pos_;
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }
    // Up to count 32-bit values, four bytes each, most significant first.
    std::vector<std::uint32_t> values(std::size_t count) {
        std::vector<std::uint32_t> out;
        while (out.size() < count && size_ - pos_ >= 4)
            out.push_back((std::uint32_t{byte()} << 24) | (std::uint32_t{byte()} << 16) |
                          (std::uint32_t{byte()} << 8) | byte());
        return out;
    }
    // A text of up to maxLength characters, ending at the first zero byte.
    std::string text(std::size_t maxLength) {
        std::string out;
        while (!empty() && out.size() < maxLength) {
            const char c = static_cast<char>(byte());
            if (c == '\0') break;
            out += c;
        }
        return out;
    }
    std::string rest() {
        std::string out(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_);
        pos_ = size_;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A property of the code under test did not hold: report it the way
// libFuzzer reports a crash, with the input saved.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

}  // namespace fuzz
}  // namespace koblib
