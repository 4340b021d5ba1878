// The code file readers and writers on any input: the first byte picks the
// format (0: guessed), the rest is the file. A file that is refused adds
// nothing; one that is read is written in every format, each writer either
// refusing with a reason or writing a file its own reader takes back and
// writes again unchanged. Nothing is written past the buffers given.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "koblib_codes.h"

using koblib::fuzz::FuzzInput;

namespace {

constexpr int kFormats = 7;
constexpr char kGuard = 0x5A;

// Inputs by format (0: guessed): read, read as a file, written back. Printed
// at exit when KOBLIB_FUZZ_STATS is set.
struct Counts {
    unsigned long runs[8] = {}, read[8] = {}, written[8] = {};
    ~Counts() {
        if (std::getenv("KOBLIB_FUZZ_STATS") == nullptr) return;
        for (int f = 0; f < 8; ++f)
            std::fprintf(stderr, "format %d %-9s runs %lu read %lu written %lu\n", f,
                         f ? kobc_format_name(f) : "guessed", runs[f], read[f], written[f]);
    }
} counts;

struct Remotes {
    kobc_remotes* r = kobc_remotes_new();
    ~Remotes() { kobc_remotes_free(r); }
};

// The message is a zero-terminated sentence within its buffer.
void checkMessage(const char* message, std::size_t size, int status) {
    FUZZ_CHECK(std::memchr(message, '\0', size) != nullptr);
    if (size > 1) FUZZ_CHECK((status == KOBC_OK) == (message[0] == '\0'));
    FUZZ_CHECK(message[size] == kGuard);
}

// Writes remote -1 in format; "" and the status when it is refused.
std::string write(const kobc_remotes* r, int format, int& status) {
    char message[97];
    message[96] = kGuard;
    std::size_t needed = 0;
    status = kobc_remotes_write(r, -1, format, nullptr, 0, &needed, message, 96);
    if (status != KOBC_E_SPACE) {
        FUZZ_CHECK(status == KOBC_E_UNSUPPORTED);
        checkMessage(message, 96, status);
        return "";
    }
    FUZZ_CHECK(needed > 0);
    std::vector<char> text(needed + 1, kGuard);
    status = kobc_remotes_write(r, -1, format, text.data(), needed, &needed, message, 96);
    FUZZ_CHECK(status == KOBC_OK);
    checkMessage(message, 96, status);
    FUZZ_CHECK(text[needed] == kGuard && text[needed - 1] == '\0');
    FUZZ_CHECK(std::strlen(text.data()) == needed - 1);
    return std::string(text.data());
}

int read(kobc_remotes* r, int format, const std::string& text, std::size_t messageSize) {
    std::vector<char> message(messageSize + 1, kGuard);
    const int status = kobc_remotes_read(r, format, text.data(), text.size(), "fuzz",
                                         messageSize ? message.data() : nullptr, messageSize);
    if (messageSize > 0) checkMessage(message.data(), messageSize, status);
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const int format = in.byte() % (kFormats + 1);
    const unsigned sizeByte = in.byte();
    const std::size_t messageSize = sizeByte % 8 == 0 ? 0 : sizeByte % 200;
    const std::string text = in.rest();
    Remotes first;
    const int status = read(first.r, format, text, messageSize);
    ++counts.runs[format];
    if (status != KOBC_OK) {
        FUZZ_CHECK(status == KOBC_E_FILE || status == KOBC_E_UNSUPPORTED);
        FUZZ_CHECK(kobc_remotes_count(first.r) == 0);
        return 0;
    }
    ++counts.read[format];
    for (std::size_t i = 0; i < kobc_remotes_count(first.r); ++i)
        for (std::size_t k = 0; k < kobc_remote_button_count(first.r, i); ++k) {
            kobc_button b;
            FUZZ_CHECK(kobc_remote_button(first.r, i, k, &b) == KOBC_OK);
            static kobc_code code;
            FUZZ_CHECK(kobc_button_code(&b, &code, nullptr, 0) == KOBC_OK);
        }
    for (int f = 1; f <= kFormats; ++f) {
        int written = 0;
        const std::string once = write(first.r, f, written);
        if (written != KOBC_OK) continue;
        ++counts.written[f];
        Remotes second;
        FUZZ_CHECK(read(second.r, f, once, 160) == KOBC_OK);
        int again = 0;
        FUZZ_CHECK(write(second.r, f, again) == once);
    }
    return 0;
}
