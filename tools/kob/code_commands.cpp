// kob compare, hash, plot, decode, encode and protocols: codes from the
// command line, no device needed.
#include "code_commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "console.h"
#include "ir_code.h"
#include "koblib.h"
#include "session.h"
#include "timing_plot.h"

namespace kob {

namespace {

// The operation found nothing (exit code 1).
struct NothingFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

nlohmann::json orNull(long value) {
    return value == KOBC_NONE ? nlohmann::json(nullptr) : nlohmann::json(value);
}

// "+9000 -4500 560 ..." (white space or commas between): signed
// microseconds, an unsigned number taking the sign of its place (pulses at
// even places).
std::vector<int> parseTimings(const std::string& text) {
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ',') c = ' ';
    std::istringstream in(spaced);
    std::vector<int> durations;
    for (std::string token; in >> token;) {
        const bool pulse = durations.size() % 2 == 0;
        const char sign = token[0] == '+' || token[0] == '-' ? token[0] : 0;
        if (sign && (sign == '+') != pulse)
            throw UsageError("timing " + std::to_string(durations.size() + 1) + " (\"" + token +
                             "\"): pulses (+) and spaces (-) alternate, starting with a pulse");
        const long us = parseNumber(sign ? token.substr(1) : token, "timing");
        if (us <= 0 || us > 10000000)
            throw UsageError("timing \"" + token + "\" is outside 1..10000000 us");
        durations.push_back(static_cast<int>(pulse ? us : -us));
    }
    if (durations.empty()) throw UsageError("no timings");
    return durations;
}

std::string timingsText(const std::vector<int>& durations) {
    std::string text;
    for (const int d : durations)
        text += (text.empty() ? "" : " ") + std::string(d > 0 ? "+" : "-") +
                std::to_string(std::abs(d));
    return text;
}

struct DecodeArgs {
    std::string code;
    std::string timings;
    bool words = false;
    bool json = false;
    long carrier = 0;
};

int runDecode(const DecodeArgs& a) {
    // Each frame to decode, with the name of its sequence ("" alone).
    std::vector<std::pair<std::string, std::vector<int>>> frames;
    long carrier = a.carrier;
    if (!a.timings.empty()) {
        frames.emplace_back("", parseTimings(loadText(a.timings)));
    } else if (a.words) {
        frames.emplace_back("", frameTimings(loadReceived(a.code)));
    } else {
        const Timings code = loadTimings(a.code);
        if (!carrier) carrier = code.carrierHz;
        const bool both = !code.once.empty() && !code.repeat.empty();
        if (!code.once.empty()) frames.emplace_back(both ? "once" : "", code.once);
        if (!code.repeat.empty()) frames.emplace_back(both ? "repeat" : "", code.repeat);
    }
    nlohmann::json all = nlohmann::json::array();
    std::size_t found = 0;
    for (const auto& [sequence, durations] : frames) {
        for (const auto& match : decodeTimings(durations, carrier)) {
            ++found;
            if (a.json) {
                auto j = matchJson(match);
                if (!sequence.empty()) j["sequence"] = sequence;
                all.push_back(j);
            } else {
                std::fprintf(toolOut(), "%s%s\n", sequence.empty() ? "" : (sequence + ": ").c_str(),
                             matchText(match).c_str());
            }
        }
    }
    if (a.json) std::fprintf(toolOut(), "%s\n", all.dump().c_str());
    if (!found) throw NothingFound("no protocol matches");
    return 0;
}

struct EncodeArgs {
    std::string protocol;
    std::vector<std::string> numbers;
    std::string toggle;
    bool timings = false;
    bool json = false;
};

int runEncode(const EncodeArgs& a) {
    const bool sub = a.numbers.size() == 3;
    const long device = parseNumber(a.numbers[0], "device");
    const long subdevice = sub ? parseNumber(a.numbers[1], "subdevice") : KOBC_NONE;
    const long function = parseNumber(a.numbers.back(), "function");
    const long toggle = a.toggle.empty() ? KOBC_NONE : parseNumber(a.toggle, "toggle");
    const Timings code = encodeProtocol(a.protocol, device, subdevice, function, toggle);
    const std::string ccf = formatCCF(code);
    if (a.json) {
        const kobc_protocol_info* info = kobc_protocol_find(a.protocol.c_str());
        nlohmann::json j{{"protocol", info ? info->name : a.protocol},
                         {"carrier_hz", code.carrierHz},
                         {"once", code.once},
                         {"repeat", code.repeat},
                         {"ccf", ccf}};
        std::fprintf(toolOut(), "%s\n", j.dump().c_str());
    } else if (a.timings) {
        if (!code.once.empty()) std::fprintf(toolOut(), "%s\n", timingsText(code.once).c_str());
        if (!code.repeat.empty()) std::fprintf(toolOut(), "%s\n", timingsText(code.repeat).c_str());
    } else {
        std::fprintf(toolOut(), "%s\n", ccf.c_str());
    }
    return 0;
}

std::string range(long max) {
    return max == KOBC_NONE ? "-" : "0.." + std::to_string(max);
}

int runProtocols(bool json) {
    nlohmann::json all = nlohmann::json::array();
    for (std::size_t k = 0; k < kobc_protocol_count(); ++k) {
        const kobc_protocol_info* p = kobc_protocol_at(k);
        if (json) {
            std::vector<std::string> aliases;
            std::stringstream in(p->aliases ? p->aliases : "");
            for (std::string alias; std::getline(in, alias, ',');)
                if (!alias.empty()) aliases.push_back(alias);
            all.push_back(
                {{"name", p->name},
                 {"aliases", aliases},
                 {"kernel_protocol", p->kernel_protocol ? nlohmann::json(p->kernel_protocol)
                                                        : nlohmann::json(nullptr)},
                 {"carrier_hz", p->carrier_hz},
                 {"device_max", p->device_max},
                 {"subdevice_max", orNull(p->subdevice_max)},
                 {"function_max", p->function_max},
                 {"toggle_max", orNull(p->toggle_max)},
                 {"notes", p->notes ? p->notes : ""}});
            continue;
        }
        std::fprintf(toolOut(),
                     "%-12s %6ld Hz  device %-11s subdevice %-9s function %-9s toggle %-5s "
                     "kernel %-10s %s\n",
                     p->name, p->carrier_hz, range(p->device_max).c_str(),
                     range(p->subdevice_max).c_str(), range(p->function_max).c_str(),
                     range(p->toggle_max).c_str(), p->kernel_protocol ? p->kernel_protocol : "-",
                     p->notes ? p->notes : "");
    }
    if (json) std::fprintf(toolOut(), "%s\n", all.dump().c_str());
    return 0;
}

int runCompare(const std::string& first, const std::string& second) {
    const std::string a = wordText(loadCode(first)), b = wordText(loadCode(second));
    const bool equal = kob_ir_compare(a.c_str(), b.c_str()) != 0;
    std::fprintf(toolOut(), "%s\n", equal ? "equal" : "different");
    return equal ? 0 : 1;
}

int runHash(const std::string& words) {
    std::fprintf(toolOut(), "%s\n", digest(loadReceived(words)).c_str());
    return 0;
}

struct PlotArgs {
    std::string code;
    std::string output;
    bool words = false;
};

int runPlot(const PlotArgs& a) {
    const auto words = a.words ? loadReceived(a.code) : loadCode(a.code);
    std::string svg;
    if (a.words) {
        long gapUs = 0;
        const auto pulses = magnitudes(frameTimings(words, &gapUs));
        TimingPlot plot("Received words: " + std::to_string(pulses.size()) + " pulses after " +
                        std::to_string(gapUs) + " \u00b5s of silence");
        plot.addSequence("frame", pulses);
        svg = plot.svg();
    } else {
        const Timings code = parseCCF(words);
        char title[160];
        std::snprintf(title, sizeof title,
                      "CCF code: carrier %.0f Hz (word %04X), once %zu pairs, repeat %zu pairs",
                      kobc_word_frequency(words[1]), static_cast<unsigned>(words[1]),
                      code.once.size() / 2, code.repeat.size() / 2);
        TimingPlot plot(title);
        if (!code.once.empty())
            plot.addSequence("once (" + std::to_string(code.once.size() / 2) + ")",
                             magnitudes(code.once));
        if (!code.repeat.empty())
            plot.addSequence("repeat (" + std::to_string(code.repeat.size() / 2) + ")",
                             magnitudes(code.repeat));
        svg = plot.svg();
    }
    if (a.output == "-") {
        if (std::fwrite(svg.data(), 1, svg.size(), toolOut()) != svg.size() ||
            std::fflush(toolOut()) != 0)
            throw Failure("cannot write the plot to standard output");
        return 0;
    }
    std::ofstream out(a.output, std::ios::binary);
    if (!(out << svg) || !out.flush()) throw Failure("cannot write " + a.output);
    return 0;
}

}  // namespace

std::string digest(const std::vector<std::uint32_t>& words) {
    std::vector<unsigned int> copy(words.begin(), words.end());
    char out[33] = {};
    kob_hash(copy.data(), static_cast<unsigned int>(copy.size()), out, sizeof out);
    return out;
}

nlohmann::json matchJson(const kobc_match& m) {
    return {{"protocol", m.protocol ? m.protocol : ""},
            {"device", orNull(m.device)},
            {"subdevice", orNull(m.subdevice)},
            {"function", orNull(m.function)},
            {"toggle", orNull(m.toggle)},
            {"repeat", m.repeat != 0},
            {"kernel_protocol",
             m.kernel_protocol ? nlohmann::json(m.kernel_protocol) : nlohmann::json(nullptr)},
            {"kernel_scancode", m.kernel_scancode}};
}

namespace {
std::vector<kobc_match> frameMatches(const std::vector<std::uint32_t>& words) {
    try {
        return decodeTimings(frameTimings(words), 0);
    } catch (const UsageError&) {
        return {};  // no pulse in it: nothing to decode
    }
}
}  // namespace

std::string frameDecodeText(const std::vector<std::uint32_t>& words) {
    std::string text;
    for (const auto& match : frameMatches(words))
        text += " | " + matchText(match);
    return text;
}

nlohmann::json frameDecodeJson(const std::vector<std::uint32_t>& words) {
    nlohmann::json all = nlohmann::json::array();
    for (const auto& match : frameMatches(words))
        all.push_back(matchJson(match));
    return all;
}

std::string learnedProtocolText(const std::string& ccf) {
    std::string text;
    try {
        const Timings code = parseCCF(readWords(ccf));
        for (const auto* sequence : {&code.once, &code.repeat}) {
            if (sequence->empty()) continue;
            const auto matches = decodeTimings(*sequence, code.carrierHz);
            if (!matches.empty()) text += (text.empty() ? "" : ", ") + matchText(matches[0]);
        }
    } catch (const UsageError&) {
    }
    return text.empty() ? "no known protocol" : text;
}

void addCodeCommands(CLI::App& app, std::function<int()>& run) {
    // The arguments live as long as the callbacks that fill and read them.
    const auto pair = std::make_shared<std::pair<std::string, std::string>>();
    auto* compare = app.add_subcommand("compare", "\"equal\" (exit 0) or \"different\" (exit 1)");
    compare->add_option("A", pair->first, "a code, or @FILE")->required();
    compare->add_option("B", pair->second, "a code, or @FILE")->required();
    compare->callback(
        [&run, pair] { run = [pair] { return runCompare(pair->first, pair->second); }; });

    const auto words = std::make_shared<std::string>();
    auto* hash = app.add_subcommand("hash", "the digest of received words");
    hash->add_option("WORDS", *words, "the words, or @FILE")->required();
    hash->callback([&run, words] { run = [words] { return runHash(*words); }; });

    const auto plot = std::make_shared<PlotArgs>();
    auto* plotCmd = app.add_subcommand("plot", "an SVG timing diagram of a code");
    plotCmd
        ->add_option("CODE", plot->code, "the code, @FILE, or PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION")
        ->required();
    plotCmd
        ->add_option("-o,--output", plot->output, "the SVG file to write (- for standard output)")
        ->required();
    plotCmd->add_flag("--words", plot->words, "the code is received words (4 us ticks), not CCF");
    plotCmd->callback([&run, plot] { run = [plot] { return runPlot(*plot); }; });

    const auto guarded = [](auto body) {
        return [body] {
            try {
                return body();
            } catch (const NothingFound& e) {
                std::fprintf(stderr, "kob: %s\n", e.what());
                return 1;
            }
        };
    };

    const auto decode = std::make_shared<DecodeArgs>();
    auto* decodeCmd = app.add_subcommand(
        "decode", "the protocol readings of a code, best first, one per line (exit 1: none)");
    decodeCmd->add_option("CODE", decode->code,
                          "a CCF code, @FILE, PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION, or with "
                          "--words received words");
    decodeCmd->add_option("--timings", decode->timings,
                          "signed microseconds instead (\"+9000 -4500 +560 ...\", or @FILE)");
    decodeCmd->add_flag("--words", decode->words, "CODE is received words (4 us ticks), not CCF");
    decodeCmd->add_option("--carrier", decode->carrier, "the carrier in Hz of --timings")
        ->check(CLI::Range(0L, 1000000L));
    decodeCmd->add_flag("--json", decode->json, "one JSON array of the matches");
    decodeCmd->callback([&run, guarded, decode] {
        if (decode->code.empty() == decode->timings.empty())
            throw CLI::ValidationError("CODE", "give CODE or --timings (one of them)");
        if (decode->words && decode->code.empty())
            throw CLI::ValidationError("--words", "--words needs CODE");
        run = guarded([decode] { return runDecode(*decode); });
    });

    const auto encode = std::make_shared<EncodeArgs>();
    auto* encodeCmd = app.add_subcommand(
        "encode",
        "the CCF code of a protocol code: once the first frame, repeated what a held "
        "button sends");
    encodeCmd->add_option("PROTOCOL", encode->protocol, "a protocol (kob protocols lists them)")
        ->required();
    encodeCmd
        ->add_option("NUMBERS", encode->numbers,
                     "DEVICE [SUBDEVICE] FUNCTION, decimal or 0x hexadecimal")
        ->expected(2, 3)
        ->required();
    encodeCmd->add_option("--toggle", encode->toggle, "the toggle value (default: the protocol's)");
    encodeCmd->add_flag("--timings", encode->timings,
                        "signed microseconds instead: the once sequence on one line, the "
                        "repeat sequence on the next");
    encodeCmd->add_flag("--json", encode->json, "one JSON object: carrier, timings and CCF");
    encodeCmd->callback([&run, encode] { run = [encode] { return runEncode(*encode); }; });

    const auto protocolsJson = std::make_shared<bool>(false);
    auto* protocols =
        app.add_subcommand("protocols", "the protocols and the ranges of their fields");
    protocols->add_flag("--json", *protocolsJson, "one JSON array of the protocols");
    protocols->callback(
        [&run, protocolsJson] { run = [protocolsJson] { return runProtocols(*protocolsJson); }; });
}

}  // namespace kob
