// The remote model: names, the checks a button passes, and its timings.
#include "remote.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kobc {

namespace {

constexpr long kMinCarrierHz = 10000;
constexpr long kMaxCarrierHz = 500000;
// The longest duration a raw code holds: 10 s, far more than any gap, and
// more than any format's longest (a Pronto word at 10 kHz is 6.5 s), so
// that a duration a writer rounds still reads back.
constexpr int kMaxDurationUs = kMaxDurationSeconds * 1000000;

// The length of the UTF-8 sequence starting at s[i], 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned long value = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        value = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        value = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        value = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        value = value << 6 | (d & 0x3F);
    }
    static const unsigned long least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return n;
}

// UTF-8 without control characters (tabs included).
bool cleanText(const std::string& s, std::string& why) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) {
            why = "holds a control character";
            return false;
        }
        const std::size_t n = utf8Length(s, i);
        if (n == 0) {
            why = "is not UTF-8 text";
            return false;
        }
        i += n;
    }
    return true;
}

bool alternates(const std::vector<int>& d, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (d[i] == 0 || (d[i] > 0) != ((i - from) % 2 == 0)) return false;
    return true;
}

}  // namespace

Button* Remote::find(const std::string& buttonName) {
    for (Button& b : buttons)
        if (b.name == buttonName) return &b;
    return nullptr;
}

const Button* Remote::find(const std::string& buttonName) const {
    for (const Button& b : buttons)
        if (b.name == buttonName) return &b;
    return nullptr;
}

bool validName(const std::string& name, bool forFile, std::string& why) {
    if (name.empty()) {
        why = "a name may not be empty";
        return false;
    }
    if (name.size() > KOBC_MAX_NAME) {
        why = "the name has " + std::to_string(name.size()) + " bytes, more than " +
              std::to_string(KOBC_MAX_NAME);
        return false;
    }
    std::string problem;
    if (!cleanText(name, problem)) {
        why = "the name " + problem;
        return false;
    }
    if (name.front() == ' ' || name.back() == ' ') {
        why = "the name starts or ends with a space";
        return false;
    }
    if (forFile) {
        if (name.find_first_of("/\\:") != std::string::npos) {
            why = "a remote name may not hold '/', '\\' or ':'";
            return false;
        }
        if (name.front() == '.') {
            why = "a remote name may not start with '.'";
            return false;
        }
    }
    return true;
}

bool validField(const std::string& value, std::string& why) {
    if (value.size() > kMaxFieldBytes) {
        why = "the text has more than " + std::to_string(kMaxFieldBytes) + " bytes";
        return false;
    }
    std::string problem;
    if (!cleanText(value, problem)) {
        why = "the text " + problem;
        return false;
    }
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) {
        why = "the text starts or ends with a space";
        return false;
    }
    return true;
}

int buttonProblem(const Button& button, std::string& why) {
    std::string problem;
    if (!validName(button.name, false, problem)) {
        why = "button \"" + button.name.substr(0, KOBC_MAX_NAME) + "\": " + problem;
        return KOBC_E_NAME;
    }
    const std::string who = "button \"" + button.name + "\": ";
    if (button.kind == KOBC_BUTTON_PROTOCOL) {
        const kobc_protocol_info* info = kobc_protocol_find(button.protocol.c_str());
        if (info == nullptr) {
            why = who + "unknown protocol \"" + button.protocol.substr(0, 40) + "\"";
            return KOBC_E_PROTOCOL;
        }
        static thread_local kobc_code code;
        char message[160];
        const int status = kobc_encode(info->name, button.device, button.subdevice, button.function,
                                       button.toggle, &code, message, sizeof message);
        if (status != KOBC_OK) why = who + message;
        return status;
    }
    if (button.kind != KOBC_BUTTON_RAW) {
        why = who + "neither a protocol code nor raw timings";
        return KOBC_E_ARGUMENT;
    }
    const std::vector<int>& d = button.durations;
    if (d.empty()) {
        why = who + "the code holds no timings";
        return KOBC_E_DURATION;
    }
    if (d.size() > KOBC_MAX_DURATIONS) {
        why = who + "the code has " + std::to_string(d.size()) + " durations, more than " +
              std::to_string(KOBC_MAX_DURATIONS);
        return KOBC_E_TOO_LONG;
    }
    if (button.onceCount > d.size() || button.onceCount % 2 != 0 ||
        (d.size() - button.onceCount) % 2 != 0) {
        why = who + "the once and repeat sequences are not whole pulse/space pairs";
        return KOBC_E_DURATION;
    }
    if (!alternates(d, 0, button.onceCount) || !alternates(d, button.onceCount, d.size())) {
        why = who +
              "the timings do not alternate pulse (positive) and space (negative), "
              "starting with a pulse, without a 0";
        return KOBC_E_DURATION;
    }
    for (int v : d)
        if (v > kMaxDurationUs || v < -kMaxDurationUs) {
            why = who + "a duration of " + std::to_string(v) + " us is longer than " +
                  std::to_string(kMaxDurationSeconds) + " s";
            return KOBC_E_DURATION;
        }
    if (button.carrierHz != 0 &&
        (button.carrierHz < kMinCarrierHz || button.carrierHz > kMaxCarrierHz)) {
        why = who + "carrier " + std::to_string(button.carrierHz) +
              " Hz is neither 0 nor within 10000..500000";
        return KOBC_E_FREQUENCY;
    }
    if (button.dutyPercent < 0 || button.dutyPercent > 100) {
        why = who + "duty cycle " + std::to_string(button.dutyPercent) + "% is outside 1..100";
        return KOBC_E_RANGE;
    }
    return KOBC_OK;
}

bool checkButton(const Button& button, std::string& why) {
    return buttonProblem(button, why) == KOBC_OK;
}

int buttonCode(const Button& button, kobc_code& out, char* message, std::size_t messageSize) {
    if (button.kind == KOBC_BUTTON_PROTOCOL)
        return kobc_encode(button.protocol.c_str(), button.device, button.subdevice,
                           button.function, button.toggle, &out, message, messageSize);
    std::string why;
    const int status = buttonProblem(button, why);
    if (status != KOBC_OK) {
        if (message != nullptr && messageSize > 0)
            std::snprintf(message, messageSize, "%s", why.c_str());
        return status;
    }
    out.carrier_hz = button.carrierHz;
    out.once_count = button.onceCount;
    out.repeat_count = button.durations.size() - button.onceCount;
    std::memcpy(out.durations, button.durations.data(), button.durations.size() * sizeof(int));
    if (message != nullptr && messageSize > 0) message[0] = '\0';
    return KOBC_OK;
}

void endWithSpace(std::vector<int>& sequence) {
    if (sequence.size() % 2 == 1) sequence.push_back(-kFinalSpaceUs);
}

Button rawButton(std::string name, long carrierHz, int dutyPercent, std::vector<int> once,
                 std::vector<int> repeat) {
    Button b;
    b.name = std::move(name);
    b.kind = KOBC_BUTTON_RAW;
    b.carrierHz = carrierHz;
    b.dutyPercent = dutyPercent;
    endWithSpace(once);
    endWithSpace(repeat);
    b.onceCount = once.size();
    b.durations = std::move(once);
    b.durations.insert(b.durations.end(), repeat.begin(), repeat.end());
    return b;
}

bool addReadButton(Remote& remote, Button button, std::size_t line, FileError& error) {
    std::string why;
    if (button.kind == KOBC_BUTTON_PROTOCOL) {
        const kobc_protocol_info* info = kobc_protocol_find(button.protocol.c_str());
        if (info != nullptr) button.protocol = info->name;
    }
    int status = buttonProblem(button, why);
    if (status != KOBC_OK) {
        error.error = status == KOBC_E_MEMORY ? status : KOBC_E_FILE;
        error.line = line;
        error.what = why;
        return false;
    }
    if (remote.find(button.name) != nullptr) {
        const std::string base = button.name;
        for (int n = 2;; ++n) {
            const std::string suffix = " " + std::to_string(n);
            std::string candidate = base.substr(0, KOBC_MAX_NAME - suffix.size());
            std::string problem;
            while (!candidate.empty() && !cleanText(candidate, problem))
                candidate.pop_back();  // a character the cut broke
            candidate += suffix;
            if (remote.find(candidate) == nullptr && validName(candidate, false, why)) {
                button.name = candidate;
                break;
            }
        }
    }
    remote.buttons.push_back(std::move(button));
    return true;
}

bool checkReadRemotes(const std::vector<Remote>& remotes, FileError& error) {
    for (std::size_t i = 0; i < remotes.size(); ++i) {
        std::string why;
        if (!validName(remotes[i].name, true, why)) {
            error.error = KOBC_E_FILE;
            error.what = "remote \"" + remotes[i].name.substr(0, KOBC_MAX_NAME) + "\": " + why;
            return false;
        }
        for (std::size_t k = 0; k < i; ++k)
            if (remotes[k].name == remotes[i].name) {
                error.error = KOBC_E_FILE;
                error.what = "the file holds two remotes named \"" + remotes[i].name + "\"";
                return false;
            }
    }
    return true;
}

}  // namespace kobc
