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

// The most words a device takes in one code, and in one received frame.
constexpr std::size_t kMaxCodeWords = 256;
constexpr std::size_t kMaxFrameWords = 255;
// The longest text read from a file: room for the longest code with
// generous spacing; a longer file holds no code.
constexpr std::size_t kMaxCodeText = 16 * 1024;

// The words of a text that holds nothing but 4-digit hexadecimal words
// separated by white space, at most limit of them; UsageError saying
// what is wrong otherwise (what names the text).
std::vector<std::uint32_t> strictWords(const std::string& text, std::size_t limit,
                                       const std::string& what);

// A CCF code as send, plot and compare take it: strict words, a known
// format word, a frequency word that is not 0 and pair counts that match
// its length. UsageError saying what is wrong.
std::vector<std::uint32_t> loadCode(const std::string& argument);

// Received words as hash and plot --words take them: strict words, the
// silence before the frame and at least one pulse.
std::vector<std::uint32_t> loadReceived(const std::string& argument);

// Words as the tool writes them: "%04X" joined by single spaces.
std::string wordText(const std::vector<std::uint32_t>& words);

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
