// A random sequence of the 24 exports against the library with virtual
// devices, with null, empty, huge and random arguments and devices
// plugged in and out between the calls. Every input ends closed and with
// no device attached; the callbacks check what they are given.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "koblib.h"
#include "koblib_sim.h"

using koblib::fuzz::FuzzInput;

namespace {

const char* const kSerials[] = {"A", "B", "C"};
std::string huge;

void KOB_CALL onStatus(const char* serial, unsigned char code, const char* text) {
    FUZZ_CHECK(serial != nullptr && text != nullptr && code <= 2);
}
void KOB_CALL onSent(const char* serial, unsigned char) {
    FUZZ_CHECK(serial != nullptr);
}
void KOB_CALL onReceived(const char* serial, const char* text, const unsigned int* words,
                         unsigned int count) {
    FUZZ_CHECK(serial != nullptr && text != nullptr && count <= 256);
    FUZZ_CHECK(std::strlen(text) == 5 * count);
    for (unsigned int i = 0; i < count; ++i)
        FUZZ_CHECK(words[i] <= 0xFFFF);
}
void KOB_CALL onLearn(const char* serial, int, const char* code) {
    FUZZ_CHECK(serial != nullptr && code != nullptr);
}
void KOB_CALL onDigitalIO(const char* serial, unsigned char, unsigned char) {
    FUZZ_CHECK(serial != nullptr);
}
void KOB_CALL onModulation(const char* serial, unsigned int, unsigned int) {
    FUZZ_CHECK(serial != nullptr);
}
void KOB_CALL onRaw(const char* serial, unsigned int, const unsigned int* words,
                    unsigned int count) {
    FUZZ_CHECK(serial != nullptr && count <= 256 && (count == 0 || words != nullptr));
}
void KOB_CALL onWakeup(const char* serial, unsigned int, const unsigned char* bytes,
                       unsigned int count) {
    FUZZ_CHECK(serial != nullptr && count <= 256 && (count == 0 || bytes != nullptr));
}
void KOB_CALL onButton(const char* serial, int, int, int, int) {
    FUZZ_CHECK(serial != nullptr);
}
void KOB_CALL onProgress(int, int) {}

const char* serialArg(FuzzInput& in, std::string& keep) {
    switch (in.byte() % 6) {
        case 0:
            return nullptr;
        case 1:
            return "";
        case 2:
            keep = in.text(16);
            return keep.c_str();
        default:
            return kSerials[in.byte() % 3];
    }
}

const char* textArg(FuzzInput& in, std::string& keep) {
    switch (in.byte() % 5) {
        case 0:
            return nullptr;
        case 1:
            return "";
        case 2:
            return huge.c_str();
        default:
            keep = in.text(2048);
            return keep.c_str();
    }
}

// kob_list's text: the attached serials, ascending, joined by ",".
void checkList(FuzzInput& in) {
    char buffer[64];
    std::memset(buffer, 'Z', sizeof buffer);
    const unsigned int size = in.byte() % sizeof buffer;
    const unsigned int n = kob_list(size == 0 && in.byte() % 2 ? nullptr : buffer, size);
    FUZZ_CHECK(n >= 1);
    if (n > size) {
        for (char c : buffer)
            FUZZ_CHECK(c == 'Z');
        return;
    }
    FUZZ_CHECK(buffer[n - 1] == '\0' && std::strlen(buffer) == n - 1);
    for (unsigned int i = 1; i + 1 < n; i += 2) {
        FUZZ_CHECK(buffer[i] == ',' && buffer[i - 1] < buffer[i + 1]);
    }
}

void step(FuzzInput& in) {
    std::string s, t;
    const std::uint8_t op = in.byte();
    switch (op % 30) {
        case 0:
            kob_open(onStatus, onSent, onReceived, onLearn, onDigitalIO);
            break;
        case 1:
            kob_open_ex(onStatus, onSent, onReceived, onLearn, onDigitalIO, onModulation, onRaw,
                        onWakeup, onButton);
            break;
        case 2:
            kob_open_no_cb();
            break;
        case 3:
            kob_close();
            break;
        case 4: {
            const char* serial = serialArg(in, s);
            kob_sendCCF(serial, textArg(in, t), in.byte(), in.byte());
            break;
        }
        case 5:
            kob_stopCCF(serialArg(in, s));
            break;
        case 6:
            kob_modulation(serialArg(in, s), in.byte());
            break;
        case 7:
            kob_digitalIO(serialArg(in, s), in.byte(), in.byte());
            break;
        case 8:
            kob_raw_learn_start(serialArg(in, s));
            break;
        case 9:
            kob_raw_learn_stop(serialArg(in, s));
            break;
        case 10:
            kob_enable_wake_from_suspend(serialArg(in, s));
            break;
        case 11:
            kob_disable_wake_from_suspend(serialArg(in, s));
            break;
        case 12: {
            const char* serial = serialArg(in, s);
            const int flag = static_cast<std::int8_t>(in.byte());
            const std::vector<std::uint8_t> data = in.bytes(in.word() % 400);
            kob_program_wake_from_suspend(serial, flag, in.byte() % 4 ? data.data() : nullptr,
                                          static_cast<unsigned int>(data.size()));
            break;
        }
        case 13:
            kob_request_wakeup_info(serialArg(in, s), in.word());
            break;
        case 14:
            kob_blink(serialArg(in, s), static_cast<std::int16_t>(in.word()));
            break;
        case 15:
            kob_bootloader(serialArg(in, s));
            break;
        case 16:
            kob_learnCCF(serialArg(in, s), in.byte() % 2, static_cast<std::int16_t>(in.word()) * 4);
            break;
        case 17:
            checkList(in);
            break;
        case 18:
            (void)kob_version(serialArg(in, s));
            break;
        case 19: {
            std::string u;
            const char* first = textArg(in, t);
            FUZZ_CHECK(kob_ir_compare(first, textArg(in, u)) <= 1);
            break;
        }
        case 20: {
            const std::vector<std::uint32_t> words = in.values(in.word() % 512);
            char out[40];
            const unsigned int size = in.byte() % (sizeof out + 1);
            const unsigned int r =
                kob_hash(words.data(), static_cast<unsigned int>(words.size()), out, size);
            FUZZ_CHECK(r == (size >= 33 ? 0 : size));
            break;
        }
        case 21: {
            const char* ports[] = {nullptr, "", "/nonexistent/koblib-port"};
            const int r = kob_upgrade(ports[in.byte() % 3], textArg(in, t), onProgress);
            FUZZ_CHECK(r == -1);
            break;
        }
        case 22:
            FUZZ_CHECK(kob_upgrade_is_kob(in.byte() % 2 ? nullptr : "/nonexistent/x") == -1);
            break;
        case 23: {
            char out[256];
            const unsigned int size = in.byte();
            const unsigned int n = kob_upgrade_list_comports(in.byte() % 2 ? out : nullptr, size);
            (void)n;
            break;
        }
        case 24: {
            // Only known serials, so that every input can unplug them all.
            const std::uint8_t which = in.byte() % 4;
            kobsim_attach(which == 3 ? nullptr : kSerials[which], in.word(), in.word() % 1100);
            break;
        }
        case 25:
            kobsim_detach(serialArg(in, s));
            break;
        case 26: {
            const char* serial = serialArg(in, s);
            std::vector<std::uint32_t> words = in.values(in.byte());
            for (auto& word : words)
                word &= 0xFFFF;
            kobsim_receive(serial, words.data(), static_cast<unsigned int>(words.size()),
                           in.word() * 4);
            break;
        }
        case 27: {
            const char* serial = serialArg(in, s);
            const std::vector<std::uint8_t> bytes = in.bytes(in.byte());
            kobsim_input(serial, bytes.data(), static_cast<unsigned int>(bytes.size()));
            break;
        }
        case 28: {
            const char* serial = serialArg(in, s);
            const std::vector<std::uint8_t> pairs = in.bytes(2 * (in.byte() % 8));
            kobsim_buttons(serial, pairs.data(), static_cast<unsigned int>(pairs.size() / 2));
            break;
        }
        case 29:
            kobsim_configure(serialArg(in, s), in.byte() % 2, in.byte() % 3);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The one device a fresh library starts with goes: only the
    // harness's own devices are attached.
    kobsim_detach("SIM-0001");
    // A megabyte of CCF-like text.
    for (int i = 0; huge.size() < (1u << 20); ++i)
        huge += "0000 006D 0022 0002 ";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    for (int steps = 0; !in.empty() && steps < 64; ++steps)
        step(in);
    kob_close();
    for (const char* serial : kSerials)
        kobsim_detach(serial);
    // Closed, the library shows no device.
    char list[4];
    FUZZ_CHECK(kob_list(list, sizeof list) == 1 && list[0] == '\0');
    return 0;
}
