// Writes remotes as a lircd.conf, for the test of lircd sending what the
// writer wrote:
//   lirc_write_remote FILE
// writes FILE and prints one line per button:
//   REMOTE BUTTON CARRIER D0 D1 ...
// the durations (pulse +, space -) of the button's once sequence without
// its final space, as lircd hands them to the driver.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "code_file.h"

namespace {

kobc::Button code(const char* name, const char* protocol, long device, long function,
                  long toggle = KOBC_NONE) {
    kobc::Button b;
    b.name = name;
    b.kind = KOBC_BUTTON_PROTOCOL;
    b.protocol = protocol;
    b.device = device;
    b.function = function;
    b.toggle = toggle;
    return b;
}

kobc::Remote remote(const char* name, std::vector<kobc::Button> buttons) {
    kobc::Remote r;
    r.name = name;
    r.buttons = std::move(buttons);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lirc_write_remote FILE\n");
        return 2;
    }
    // NEC1 of one device (an encoded remote), RC6 (encoded, bi-phase) and
    // JVC (raw_codes: its held frames are not lircd's).
    const std::vector<kobc::Remote> remotes = {
        remote("koblib_written", {code("KEY_1", "NEC1", 4, 8), code("KEY_2", "NEC1", 4, 2)}),
        remote("koblib_written_rc6", {code("KEY_OK", "RC6", 4, 12, 0)}),
        remote("koblib_written_raw", {code("KEY_PLAY", "JVC", 3, 9)}),
    };
    std::vector<const kobc::Remote*> all;
    for (const kobc::Remote& r : remotes)
        all.push_back(&r);
    std::string text;
    kobc::FileError error;
    if (!kobc::writeLirc(all, text, error)) {
        std::fprintf(stderr, "cannot write: %s\n", error.what.c_str());
        return 1;
    }
    std::ofstream(argv[1]) << text;
    for (const kobc::Remote& r : remotes)
        for (const kobc::Button& b : r.buttons) {
            kobc_code c;
            char message[160];
            if (kobc::buttonCode(b, c, message, sizeof message) != KOBC_OK) {
                std::fprintf(stderr, "%s: %s\n", b.name.c_str(), message);
                return 1;
            }
            std::printf("%s %s %ld", r.name.c_str(), b.name.c_str(), c.carrier_hz);
            for (std::size_t i = 0; i + 1 < c.once_count; ++i)
                std::printf(" %d", c.durations[i]);
            std::printf("\n");
        }
    return 0;
}
