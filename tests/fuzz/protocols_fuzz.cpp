// KOBLIB_CODES on any input: decodes of any durations and lengths (every
// reading re-encodes to a frame that reads the same), the strict CCF
// reader (parse, format, parse again is stable), the receiver-frame
// conversions, and encodes of any fields. Nothing is written past the
// buffers given: each has a guard after its capacity.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "koblib_codes.h"

using koblib::fuzz::FuzzInput;

namespace {

constexpr unsigned kGuard = 0xA5A5A5A5u;

bool sameReading(const kobc_match& a, const kobc_match& b) {
    return std::strcmp(a.protocol, b.protocol) == 0 && a.device == b.device &&
           a.subdevice == b.subdevice && a.function == b.function && a.toggle == b.toggle;
}

// The first frame of an encode of m reads as m again (or, where another
// protocol writes the same frame, as a reading that encodes identically).
void checkReencodes(const kobc_match& m) {
    if (m.repeat && m.device == KOBC_NONE) return;  // a repeat frame has no fields
    static kobc_code code;
    char message[128];
    const int status = kobc_encode(m.protocol, m.device, m.subdevice, m.function, m.toggle, &code,
                                   message, sizeof message);
    FUZZ_CHECK(status == KOBC_OK);
    kobc_match again[32];
    const std::size_t n = kobc_decode(code.durations, code.once_count, 0, again, 32);
    FUZZ_CHECK(n > 0);
    for (std::size_t i = 0; i < n && i < 32; ++i)
        if (std::strcmp(again[i].protocol, m.protocol) == 0) {
            FUZZ_CHECK(sameReading(again[i], m) || m.repeat);
            return;
        }
}

void checkDecode(const std::vector<int>& durations, long carrier, std::size_t capacity) {
    std::vector<kobc_match> matches(capacity + 1);
    std::memset(&matches[capacity], 0x5A, sizeof(kobc_match));
    const std::size_t n = kobc_decode(durations.data(), durations.size(), carrier,
                                      capacity ? matches.data() : nullptr, capacity);
    const unsigned char* guard = reinterpret_cast<const unsigned char*>(&matches[capacity]);
    for (std::size_t i = 0; i < sizeof(kobc_match); ++i)
        FUZZ_CHECK(guard[i] == 0x5A);
    for (std::size_t i = 0; i < n && i < capacity; ++i) {
        FUZZ_CHECK(kobc_protocol_find(matches[i].protocol) != nullptr);
        checkReencodes(matches[i]);
    }
}

// parse -> format -> parse: the second reading formats to the same text.
void checkCcf(const std::string& text) {
    static kobc_code first, second;
    char message[64];
    if (kobc_ccf_parse(text.c_str(), &first, message, sizeof message) != KOBC_OK) {
        FUZZ_CHECK(std::strlen(message) > 0);
        return;
    }
    FUZZ_CHECK(first.once_count + first.repeat_count <= KOBC_MAX_CCF_WORDS);
    char once[KOBC_MAX_CCF_WORDS * 5], twice[KOBC_MAX_CCF_WORDS * 5];
    if (kobc_ccf_format(&first, once, sizeof once) != KOBC_OK) return;  // a burst past 0xFFFF
    FUZZ_CHECK(kobc_ccf_parse(once, &second, nullptr, 0) == KOBC_OK);
    FUZZ_CHECK(kobc_ccf_format(&second, twice, sizeof twice) == KOBC_OK);
    FUZZ_CHECK(std::strcmp(once, twice) == 0);
}

void checkWords(const std::vector<unsigned>& words, std::size_t capacity) {
    static kobc_code code;
    if (kobc_ccf_parse_words(words.data(), words.size(), &code, nullptr, 0) == KOBC_OK)
        FUZZ_CHECK(code.once_count + code.repeat_count + 4 == words.size());
    long gap = 0;
    if (kobc_frame_to_code(words.data(), words.size(), &code, &gap) != KOBC_OK) return;
    FUZZ_CHECK(code.once_count + 1 == words.size());
    std::vector<unsigned> back(capacity + 1, kGuard);
    std::size_t written = 0;
    const int status = kobc_frame_from_timings(code.durations, code.once_count, gap, back.data(),
                                               capacity, &written);
    FUZZ_CHECK(back[capacity] == kGuard);
    if (status != KOBC_OK) return;
    // A frame of ticks comes back as the same ticks.
    const std::size_t kept = code.once_count % 2 ? words.size() : words.size() - 1;
    FUZZ_CHECK(written == kept);
    for (std::size_t i = 0; i < written; ++i)
        FUZZ_CHECK(back[i] == words[i] || (i == 0 && !words[0]));
}

void checkEncode(FuzzInput& in) {
    const kobc_protocol_info* p = kobc_protocol_at(in.byte() % (kobc_protocol_count() + 1));
    const char* name = p ? p->name : "no such protocol";
    auto field = [&in] { return static_cast<long>(in.word()) - 2; };
    const long d = field(), s = in.byte() % 2 ? KOBC_NONE : field(), f = field();
    const long t = in.byte() % 2 ? KOBC_NONE : static_cast<long>(in.byte() % 3);
    static kobc_code code;
    char message[96];
    const int status = kobc_encode(name, d, s, f, t, &code, message, sizeof message);
    if (status != KOBC_OK) {
        FUZZ_CHECK(status == KOBC_E_RANGE || status == KOBC_E_PROTOCOL);
        FUZZ_CHECK(std::strlen(message) > 0);
        return;
    }
    kobc_match m[32];
    FUZZ_CHECK(kobc_decode(code.durations, code.once_count, code.carrier_hz, m, 32) > 0);
    char text[KOBC_MAX_CCF_WORDS * 5];
    FUZZ_CHECK(kobc_ccf_format(&code, text, sizeof text) == KOBC_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const unsigned mode = in.byte() % 4;
    if (mode == 0) {
        // Durations of any length: 16-bit magnitudes on a chosen scale,
        // signs alternating (or, now and then, as they come).
        const bool anySigns = in.byte() % 8 == 0;
        const int scale = 1 + in.byte() % 4;
        const long carrier = static_cast<long>(in.byte()) * 300;
        const std::size_t capacity = in.byte() % 10;
        std::vector<int> durations;
        while (!in.empty() && durations.size() < 2000) {
            const int us = static_cast<int>(in.word()) * scale / 2 + 1;
            const bool pulse = durations.size() % 2 == 0;
            durations.push_back(anySigns ? (in.byte() % 2 ? us : -us) : (pulse ? us : -us));
        }
        checkDecode(durations, carrier, capacity);
    } else if (mode == 1) {
        checkCcf(in.rest());
    } else if (mode == 2) {
        const std::size_t capacity = in.word() % 1100;
        std::vector<unsigned> words;
        while (!in.empty() && words.size() < 1100)
            words.push_back(in.word());
        checkWords(words, capacity);
    } else {
        checkEncode(in);
    }
    return 0;
}
