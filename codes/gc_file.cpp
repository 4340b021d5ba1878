// Global Cache sendir commands: one, or one "NAME: sendir,..." a line.
//   sendir,MODULE:CONNECTOR,ID,FREQUENCY,REPEAT,OFFSET,ON1,OFF1,...
// On and off times count carrier periods. OFFSET is the 1-based position
// where the part repeated while a button is held starts: the durations
// before it are the once sequence. REPEAT (how often the sender sends it)
// is the sender's business and is read only to be checked. The
// compressed form is read too: the first 15 distinct pairs get the letters
// A..O, and a letter stands for its pair again. Written: the plain form,
// "sendir,1:1,1,FREQUENCY,1,OFFSET,...".
#include <cmath>
#include <string>

#include "code_file.h"

namespace kobc {

namespace {

const char kSingleName[] = "code";
constexpr long kMinFrequency = 15000;
constexpr long kMaxFrequency = 500000;
constexpr std::size_t kMaxWritePairs = 260;

// The on/off counts of the text after OFFSET, letters expanded.
bool readCounts(std::string_view s, std::vector<long>& counts, std::size_t line, FileError& error) {
    std::vector<std::pair<long, long>> lettered;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ',' || c == ' ') {
            ++i;
            continue;
        }
        if (c >= 'A' && c <= 'O') {
            const std::size_t k = static_cast<std::size_t>(c - 'A');
            if (k >= lettered.size() || counts.size() % 2 != 0)
                return fileError(error, line,
                                 std::string("letter ") + c + " stands for no pair before it");
            counts.push_back(lettered[k].first);
            counts.push_back(lettered[k].second);
            ++i;
        } else {
            std::size_t end = i;
            while (end < s.size() && s[end] >= '0' && s[end] <= '9')
                ++end;
            long v = 0;
            if (end == i || !parseNumber(s.substr(i, end - i), 1, 65535, v))
                return fileError(error, line,
                                 "on/off time " + std::to_string(counts.size() + 1) + " " +
                                     quoted(s.substr(i, end == i ? 1 : end - i)) +
                                     " is not 1..65535 periods");
            counts.push_back(v);
            i = end;
            if (counts.size() % 2 == 0 && lettered.size() < 15) {
                const std::pair<long, long> pair(counts[counts.size() - 2], v);
                bool seen = false;
                for (const auto& q : lettered)
                    seen = seen || q == pair;
                if (!seen) lettered.push_back(pair);
            }
        }
        if (counts.size() > KOBC_MAX_DURATIONS)
            return fileError(error, line,
                             "more than " + std::to_string(KOBC_MAX_DURATIONS) + " on/off times");
    }
    return true;
}

bool readCommand(std::string_view text, std::string name, std::size_t line, Remote& remote,
                 FileError& error) {
    std::vector<std::string_view> f = split(text, ',');
    if (f.size() < 7 || trim(f[0]) != "sendir")
        return fileError(error, line,
                         "not \"sendir,MODULE:CONNECTOR,ID,FREQUENCY,REPEAT,OFFSET,ON,OFF,...\"");
    long frequency = 0, repeat = 0, offset = 0, id = 0;
    if (!parseNumber(trim(f[3]), kMinFrequency, kMaxFrequency, frequency))
        return fileError(error, line, "frequency " + quoted(trim(f[3])) + " is not 15000..500000");
    if (!parseNumber(trim(f[4]), 1, 50, repeat))
        return fileError(error, line, "repeat " + quoted(trim(f[4])) + " is not 1..50");
    if (!parseNumber(trim(f[5]), 1, KOBC_MAX_DURATIONS, offset) || offset % 2 == 0)
        return fileError(error, line, "offset " + quoted(trim(f[5])) + " is not an odd position");
    if (!parseNumber(trim(f[2]), 0, 65535, id))
        return fileError(error, line, "ID " + quoted(trim(f[2])) + " is not 0..65535");
    const std::size_t from = static_cast<std::size_t>(f[6].data() - text.data());
    std::vector<long> counts;
    if (!readCounts(text.substr(from), counts, line, error)) return false;
    if (counts.size() % 2 != 0)
        return fileError(error, line, "the on/off times are not whole pairs");
    if (static_cast<std::size_t>(offset) > counts.size())
        return fileError(error, line,
                         "offset " + std::to_string(offset) + " is past the " +
                             std::to_string(counts.size()) + " on/off times");
    std::vector<int> once, held;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const long us = std::lround(static_cast<double>(counts[i]) * 1e6 / frequency);
        (i + 1 < static_cast<std::size_t>(offset) ? once : held)
            .push_back(static_cast<int>(i % 2 == 0 ? us : -us));
    }
    return addReadButton(remote, rawButton(std::move(name), frequency, 0, once, held), line, error);
}

}  // namespace

bool looksLikeGlobalCache(std::string_view text) {
    std::string_view name, code;
    return firstCodeLine(text, name, code, true) && code.substr(0, 7) == "sendir,";
}

bool readGlobalCache(std::string_view text, const std::string& defaultName,
                     std::vector<Remote>& out, FileError& error) {
    if (!checkText(text, error)) return false;
    Remote remote;
    remote.name = defaultName;
    Lines lines(text);
    std::string_view line;
    std::size_t codes = 0;
    bool unnamed = false;
    while (lines.next(line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        std::string_view name, code;
        splitNamedLine(line, name, code, true);
        if (unnamed || (name.empty() && codes > 0))
            return fileError(error, lines.number(),
                             "a line that is not \"NAME: sendir,...\" (an unnamed code stands "
                             "alone)");
        unnamed = name.empty();
        ++codes;
        if (!readCommand(code, unnamed ? kSingleName : std::string(name), lines.number(), remote,
                         error))
            return false;
    }
    out.push_back(std::move(remote));
    return true;
}

namespace {

// One code as its Global Cache text.
bool sendirText(const Button& b, const kobc_code& code, std::string& text, FileError& error) {
    const long f = code.carrier_hz;
    if (f < kMinFrequency || f > kMaxFrequency)
        return fileError(error, 0,
                         "button " + quoted(b.name) + ": sendir takes 15000..500000 Hz, not " +
                             std::to_string(f),
                         KOBC_E_UNSUPPORTED);
    const std::size_t count = code.once_count + code.repeat_count;
    if (count > 2 * kMaxWritePairs)
        return fileError(error, 0,
                         "button " + quoted(b.name) + ": sendir takes 260 pairs, not " +
                             std::to_string(count / 2),
                         KOBC_E_UNSUPPORTED);
    // A code without a repeat sequence repeats whole (offset 1).
    const std::size_t offset = code.repeat_count > 0 ? code.once_count + 1 : 1;
    std::string line = "sendir,1:1,1," + std::to_string(f) + ",1," + std::to_string(offset);
    for (std::size_t i = 0; i < count; ++i) {
        const int d = code.durations[i];
        long periods = std::lround(static_cast<double>(d < 0 ? -d : d) * f / 1e6);
        if (periods < 1) periods = 1;
        if (periods > 65535)
            return fileError(error, 0,
                             "button " + quoted(b.name) + ": a duration of " +
                                 std::to_string(d < 0 ? -d : d) + " us is more than 65535 periods",
                             KOBC_E_UNSUPPORTED);
        line += "," + std::to_string(periods);
    }
    text = line;
    return true;
}

}  // namespace

bool writeGlobalCache(const std::vector<const Remote*>& remotes, std::string& out,
                      FileError& error) {
    return writeCodeLines(remotes, "Global Cache", sendirText, out, error);
}

}  // namespace kobc
