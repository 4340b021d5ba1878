#include "frame_report.h"

#include <vector>

#include "code_commands.h"
#include "code_library.h"
#include "koblib_codes.h"

namespace kobmqtt {

namespace {
// Decodes are few; more than this many readings of one frame are not sent.
constexpr std::size_t kMaxMatches = 8;
}  // namespace

nlohmann::json frameMessage(const unsigned* words, std::size_t count, long measuredHz, double time,
                            const kob::ButtonMatcher* buttons) {
    kobc_code code;
    long gap = 0;
    if (kobc_frame_to_code(words, count, &code, &gap) != KOBC_OK) return nullptr;
    const int* durations = code.durations;
    const std::size_t n = code.once_count;

    kobc_match matches[kMaxMatches];
    const std::size_t found = kobc_decode(durations, n, measuredHz, matches, kMaxMatches);
    nlohmann::json decoded = nlohmann::json::array();
    bool repeat = false;
    for (std::size_t k = 0; k < found && k < kMaxMatches; ++k) {
        decoded.push_back(kob::matchJson(matches[k]));
        repeat = repeat || matches[k].repeat != 0;
    }

    // The CCF text needs a carrier: the measured one, else the protocol's.
    code.carrier_hz = measuredHz;
    if (code.carrier_hz <= 0 && found > 0) {
        const kobc_protocol_info* info = kobc_protocol_find(matches[0].protocol);
        if (info) code.carrier_hz = info->carrier_hz;
    }
    if (kobc_frequency_word(code.carrier_hz) == 0) code.carrier_hz = kDefaultCarrierHz;
    std::vector<char> text(KOBC_MAX_CCF_WORDS * 5 + 1);
    nlohmann::json ccf = nullptr;
    if (kobc_ccf_format(&code, text.data(), text.size()) == KOBC_OK) ccf = text.data();

    nlohmann::json button = nullptr;
    if (buttons != nullptr) {
        const std::string name =
            buttons->match(durations, n, matches, found < kMaxMatches ? found : kMaxMatches);
        if (!name.empty()) button = name;
    }

    return {{"timings", std::vector<int>(durations, durations + n)},
            {"modulation", measuredHz > 0 ? nlohmann::json(measuredHz) : nlohmann::json(nullptr)},
            {"ccf", ccf},
            {"decoded", decoded},
            {"button", button},
            {"repeat", repeat},
            {"gap", gap},
            {"time", time}};
}

nlohmann::json codeDecode(const std::string& ccf) {
    kobc_code code;
    if (kobc_ccf_parse(ccf.c_str(), &code, nullptr, 0) != KOBC_OK) return nullptr;
    const auto decode = [&](const int* durations, std::size_t count) {
        nlohmann::json all = nlohmann::json::array();
        kobc_match matches[kMaxMatches];
        const std::size_t found =
            count ? kobc_decode(durations, count, code.carrier_hz, matches, kMaxMatches) : 0;
        for (std::size_t k = 0; k < found && k < kMaxMatches; ++k)
            all.push_back(kob::matchJson(matches[k]));
        return all;
    };
    return {{"once", decode(code.durations, code.once_count)},
            {"repeat", decode(code.durations + code.once_count, code.repeat_count)}};
}

}  // namespace kobmqtt
