// The input report stream of one device: reports of any length arrive on
// the device's channel and go through the same read code and parsers as
// in service. The callbacks check what they receive.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "device/kob.h"
#include "fuzz_input.h"
#include "os/debug_output.h"

using koblib::fuzz::FuzzInput;

namespace {

constexpr unsigned int kCapacity = 256;

// The payload of the report being serviced and whether it had the
// device's whole length (only whole reports may raise events).
std::string current;
bool whole = false;

std::string wordsText(const unsigned int* words, unsigned int count) {
    std::string text;
    char word[8];
    for (unsigned int i = 0; i < count; ++i) {
        FUZZ_CHECK(words[i] <= 0xFFFF);
        std::snprintf(word, sizeof word, "%04X ", words[i]);
        text += word;
    }
    return text;
}

std::string dump(const std::string& payload) {
    std::string text;
    char byte[4];
    for (unsigned char c : payload) {
        std::snprintf(byte, sizeof byte, "%02X ", c);
        text += byte;
    }
    return text + "\n";
}

koblib::KOBCallbacks checkingCallbacks() {
    koblib::KOBCallbacks c;
    auto event = [] { FUZZ_CHECK(whole); };
    c.status = [event](const std::string& serial, unsigned char code, const std::string& text) {
        FUZZ_CHECK(serial == "F");
        if (code == 1) return;  // the device object's end
        event();
        FUZZ_CHECK(code == 2);
        FUZZ_CHECK(text == dump(current));
    };
    c.irSent = [event](const std::string&, unsigned char) { event(); };
    c.irReceived = [event](const std::string&, const std::string& text, const unsigned int* words,
                           unsigned int count) {
        event();
        FUZZ_CHECK(count <= kCapacity);
        FUZZ_CHECK(text == wordsText(words, count));
    };
    c.modulation = [event](const std::string&, unsigned int, unsigned int) { event(); };
    c.digitalIO = [event](const std::string&, unsigned char, unsigned char) { event(); };
    c.rawLearn = [event](const std::string&, unsigned int header, const unsigned int* words,
                         unsigned int count) {
        event();
        FUZZ_CHECK(header <= 0xFF && count <= kCapacity);
        wordsText(words, count);
    };
    c.wakeup = [event](const std::string&, unsigned int header, const unsigned char* bytes,
                       unsigned int count) {
        event();
        FUZZ_CHECK(header <= 0xFF && count <= kCapacity);
        for (unsigned int i = 0; i < count; ++i)
            (void)bytes[i];  // all readable
    };
    c.button = [event](const std::string&, int, int, int, int) { event(); };
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    koblib::setDebugOutputHook([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) return 0;
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);

    // The device's report length: the payload, 8 to 135 bytes, plus the
    // report-ID byte.
    const unsigned int payload = 8 + in.byte() % 128;
    koblib::HIDIdentity identity;
    identity.valid = true;
    identity.vendorId = koblib::kKobVendorId;
    identity.productId = koblib::kKobProductId;
    identity.inputReportLength = identity.outputReportLength = payload + 1;
    identity.serialKnown = true;
    identity.serial = "F";
    {
        koblib::KOB kob(std::make_shared<koblib::HIDDevice>(fds[0], fds[0], identity),
                        checkingCallbacks());
        FUZZ_CHECK(kob.serviceRead());
        while (!in.empty()) {
            // One report: its length (0 means the device's own), then its
            // bytes; short ones are dropped, long ones cut.
            unsigned int length = in.byte();
            if (length == 0xFF) {
                // A code to send: sent at once or queued behind the one on
                // the air, started by the next completion report.
                const unsigned int words[4] = {0, in.byte(), in.byte(), in.byte()};
                kob.sendIR(words, 1 + in.byte() % 3, in.byte(), in.byte());
                continue;
            }
            if (length == 0xFE) {
                // The device stops taking reports: every write fails from now on.
                shutdown(fds[1], SHUT_RD);
                continue;
            }
            if (length == 0) length = payload;
            const std::vector<std::uint8_t> bytes = in.bytes(length);
            if (bytes.empty()) break;
            if (send(fds[1], bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
                break;
            whole = bytes.size() >= payload;
            current.assign(bytes.begin(), bytes.begin() + (whole ? payload : bytes.size()));
            FUZZ_CHECK(kob.serviceRead());
            // What the object wrote (a queued code starts after a
            // completion) is drained so that its writes never block.
            char sink[2048];
            while (recv(fds[1], sink, sizeof sink, 0) > 0) {
            }
        }
        // Closing the device end makes the next read fail: the object is gone.
        close(fds[1]);
        FUZZ_CHECK(!kob.serviceRead());
    }
    return 0;
}
