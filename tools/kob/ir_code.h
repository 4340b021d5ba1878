// IR codes as the tool reads them: hexadecimal word texts (a CCF code or
// received words), given inline or as @FILE, and the timings they stand for.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kob {

// A usage error: bad input the user can fix (exit code 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text of CODE, or of FILE when the argument is @FILE. Throws
// UsageError when the file cannot be read.
std::string loadText(const std::string& argument);

// The words of a text as the library reads them: hexadecimal digits cut
// into groups of four, whatever stands between them.
std::vector<std::uint32_t> readWords(const std::string& text);

// readWords of loadText, and at least one whole word (else UsageError).
std::vector<std::uint32_t> loadWords(const std::string& argument);

// A CCF code read as timings.
struct CCFCode {
    double frequencyHz = 0;    // 0x400000 / frequency word
    std::vector<double> once;  // on, off, on, off ... in microseconds
    std::vector<double> repeat;
};

// Throws UsageError when the words are no CCF code with burst pairs.
CCFCode parseCCF(const std::vector<std::uint32_t>& words);

// The frames a receiver reports for a code sent (or a remote's button
// held): the once sequence, if any, then the repeat sequence, each as
// tick words (4 us): the silence before it, then every on and off time
// but the last off time, which is the silence before the next frame.
std::vector<std::vector<std::uint32_t>> receivedFrames(const CCFCode& code, std::size_t count);

// Microseconds per received tick.
constexpr double kTickMicroseconds = 4.0;

}  // namespace kob
