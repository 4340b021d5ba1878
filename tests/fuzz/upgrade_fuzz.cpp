// The upgrade against a random bootloader: the serial port is replaced at
// link time by one whose every write and read is decided by the input.
// The upgrade must always end with a result from 0 to -8, and must never
// send "E" unless every block it read back equalled the file's bytes.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "upgrade/bootloader.h"
#include "upgrade/serial_port.h"
#include "upgrade/upgrade.h"

using koblib::fuzz::FuzzInput;

namespace {

std::string hexPath;
// The firmware in the file: byte a holds firmwareByte(a), below kEnd.
constexpr std::uint32_t kEnd = 0x0180;
std::uint8_t firmwareByte(std::uint32_t a) {
    return static_cast<std::uint8_t>(a * 7 + 3);
}

// What the bootloader side has seen.
struct Session {
    FuzzInput* in = nullptr;
    std::string sent;            // every byte the upgrade wrote
    char lastCommand = 0;        // the command the next read answers
    std::uint32_t address = 0;   // the byte address "A" set
    std::uint32_t asked = 0;     // bytes the last "g" asked for
    bool readBackWrong = false;  // a read-back differed from the file
    bool leaveSent = false;
    bool identified = false;  // "S" was answered with the identity
    bool dataNext = false;    // the next write is the block of a "B"
} session;

void writeHexFile() {
    char name[] = "/tmp/koblib-upgrade-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    hexPath = name;
    std::FILE* f = std::fopen(name, "w");
    for (std::uint32_t a = 0; a < kEnd; a += 16) {
        unsigned sum = 16 + (a >> 8) + (a & 0xFF);
        std::fprintf(f, ":10%04X00", a);
        for (std::uint32_t i = 0; i < 16; ++i) {
            std::fprintf(f, "%02X", firmwareByte(a + i));
            sum += firmwareByte(a + i);
        }
        std::fprintf(f, "%02X\n", (256 - sum % 256) % 256);
    }
    std::fprintf(f, ":00000001FF\n");
    std::fclose(f);
}

// Notes a command's bytes as the bootloader would read them.
void hear(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        session.sent += static_cast<char>(bytes[i]);
    if (count == 0) return;
    // The block after "B" is data, whatever its bytes look like.
    if (session.dataNext) {
        session.dataNext = false;
        return;
    }
    const char c = static_cast<char>(bytes[0]);
    if (c == 'B' && count == 4) session.dataNext = true;
    if (c == 'A' && count == 3) session.address = 2u * (bytes[1] * 256u + bytes[2]);
    if (c == 'g' && count == 4) session.asked = bytes[1] * 256u + bytes[2];
    if (c == 'E' && count == 1) {
        session.leaveSent = true;
        FUZZ_CHECK(!session.readBackWrong);
    }
    if (std::strchr("SbABgE", c) != nullptr && (count == 1 || count == 3 || count == 4))
        session.lastCommand = c;
}

}  // namespace

// The fake port.
namespace koblib {

SerialPort::SerialPort() : handle_(kClosed) {}
SerialPort::~SerialPort() {
    close();
}
bool SerialPort::isOpen() const {
    return handle_ != kClosed;
}

bool SerialPort::open(const char*) {
    if (session.in->byte() == 0xFF) return false;
    handle_ = 3;
    // A new session on the line: the bootloader waits for a command, not
    // for the data of a "B" that the last session did not finish.
    session.lastCommand = 0;
    session.dataNext = false;
    return true;
}

void SerialPort::close() {
    handle_ = kClosed;
}

bool SerialPort::write(const void* bytes, std::size_t count, std::size_t* moved) {
    FUZZ_CHECK(isOpen());
    *moved = 0;
    const std::uint8_t choice = session.in->byte();
    if (choice == 0xFF) return false;  // the call fails
    if (choice == 0xFE)
        *moved = count / 2;  // a time-out midway
    else
        *moved = count;
    hear(static_cast<const std::uint8_t*>(bytes), *moved);
    return true;
}

bool SerialPort::read(void* buffer, std::size_t count, std::size_t* moved) {
    FUZZ_CHECK(isOpen());
    auto* out = static_cast<std::uint8_t*>(buffer);
    *moved = 0;
    const std::uint8_t choice = session.in->byte();
    if (choice == 0xFF) return false;  // the device is gone
    if (choice == 0xFE) return true;   // nothing came in time
    std::vector<std::uint8_t> answer;
    if (choice < 0x80) {
        // The answer a good bootloader gives, perhaps with one byte off.
        switch (session.lastCommand) {
            case 'S':
                answer.assign(koblib::kBootloaderIdentity, koblib::kBootloaderIdentity + 7);
                break;
            case 'b':
                answer = {'Y', 0, static_cast<std::uint8_t>(16 << (choice % 4))};
                break;
            case 'g':
                for (std::uint32_t i = 0; i < session.asked; ++i) {
                    const std::uint32_t a = session.address + i;
                    answer.push_back(a < kEnd ? firmwareByte(a) : 0);
                }
                break;
            default:
                answer = {0x0D};
                break;
        }
        if (choice >= 0x70 && !answer.empty()) answer[session.in->byte() % answer.size()] ^= 1;
    } else {
        answer = session.in->bytes(session.in->byte());
    }
    if (answer.size() > count) answer.resize(count);
    if (!answer.empty()) std::memcpy(out, answer.data(), answer.size());
    *moved = answer.size();
    if (session.lastCommand == 'S')
        session.identified = *moved == 7 && std::memcmp(out, koblib::kBootloaderIdentity, 7) == 0;
    if (session.lastCommand == 'g') {
        // What reaches the verify: a read that is short or differs fails it.
        for (std::size_t i = 0; i < *moved; ++i) {
            const std::uint32_t a = session.address + static_cast<std::uint32_t>(i);
            if (out[i] != (a < kEnd ? firmwareByte(a) : 0)) session.readBackWrong = true;
        }
        if (*moved < session.asked) session.readBackWrong = true;
    }
    return true;
}

}  // namespace koblib

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    writeHexFile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    session = Session{};
    session.in = &in;
    int lastPercent[2] = {-1, -1};
    const int result = koblib::upgrade("fuzz", hexPath.c_str(), [&](int phase, int percent) {
        FUZZ_CHECK(phase == 0 || phase == 1);
        FUZZ_CHECK(percent >= 0 && percent <= 100);
        lastPercent[phase] = percent;
    });
    FUZZ_CHECK(result <= 0 && result >= -8);
    FUZZ_CHECK(session.leaveSent == (result == 0));
    if (result == 0) FUZZ_CHECK(lastPercent[0] == 100 && lastPercent[1] == 100);
    session.identified = false;
    const int kob = koblib::isKob("fuzz");
    FUZZ_CHECK(kob == (session.identified ? 0 : -1));
    return 0;
}
