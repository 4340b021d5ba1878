// Writes remotes as a lircd.conf through KOBLIB_CODES' C interface, for the
// test of lircd sending what was written:
//   lirc_write_remote FILE
// writes FILE and prints one line per button:
//   REMOTE BUTTON CARRIER D0 D1 ...
// the durations (pulse +, space -) of the button's once sequence without
// its final space, as lircd hands them to the driver.
#include <cstdio>
#include <string>
#include <vector>

#include "koblib_codes.h"

namespace {

struct Code {
    const char *remote, *button, *protocol;
    long device, function, toggle;
};

// NEC1 of one device (an encoded remote), RC6 (encoded, bi-phase) and JVC
// (raw codes: its held frames are not lircd's).
const Code kCodes[] = {
    {"koblib_written", "KEY_1", "NEC1", 4, 8, KOBC_NONE},
    {"koblib_written", "KEY_2", "NEC1", 4, 2, KOBC_NONE},
    {"koblib_written_rc6", "KEY_OK", "RC6", 4, 12, 0},
    {"koblib_written_raw", "KEY_PLAY", "JVC", 3, 9, KOBC_NONE},
};

int failed(const char* what, const char* message) {
    std::fprintf(stderr, "%s: %s\n", what, message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return failed("usage", "lirc_write_remote FILE");
    kobc_remotes* remotes = kobc_remotes_new();
    char message[200];
    for (const Code& c : kCodes) {
        long index = kobc_remotes_find(remotes, c.remote);
        if (index < 0) {
            size_t added;
            if (kobc_remotes_add(remotes, c.remote, &added, message, sizeof message) != KOBC_OK)
                return failed(c.remote, message);
            index = static_cast<long>(added);
        }
        kobc_button b = {c.button,  KOBC_BUTTON_PROTOCOL, c.protocol, c.device,
                         KOBC_NONE, c.function,           c.toggle,   nullptr,
                         0};
        if (kobc_remote_put_button(remotes, static_cast<size_t>(index), &b, 0, message,
                                   sizeof message) != KOBC_OK)
            return failed(c.button, message);
    }
    size_t needed = 0;
    kobc_remotes_write(remotes, -1, KOBC_FORMAT_LIRC, nullptr, 0, &needed, message, sizeof message);
    std::vector<char> text(needed ? needed : 1);
    if (kobc_remotes_write(remotes, -1, KOBC_FORMAT_LIRC, text.data(), text.size(), nullptr,
                           message, sizeof message) != KOBC_OK)
        return failed("cannot write", message);
    FILE* out = std::fopen(argv[1], "w");
    if (!out || std::fputs(text.data(), out) < 0 || std::fclose(out) != 0)
        return failed(argv[1], "cannot be written");
    for (const Code& c : kCodes) {
        static kobc_code code;
        kobc_button b = {c.button,  KOBC_BUTTON_PROTOCOL, c.protocol, c.device,
                         KOBC_NONE, c.function,           c.toggle,   nullptr,
                         0};
        if (kobc_button_code(&b, &code, message, sizeof message) != KOBC_OK)
            return failed(c.button, message);
        std::string line =
            std::string(c.remote) + " " + c.button + " " + std::to_string(code.carrier_hz);
        for (size_t i = 0; i + 1 < code.once_count; ++i)
            line += " " + std::to_string(code.durations[i]);
        std::printf("%s\n", line.c_str());
    }
    kobc_remotes_free(remotes);
    return 0;
}
