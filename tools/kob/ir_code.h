// IR codes as the tool reads them: hexadecimal word texts (a CCF code or
// received words), given inline or as @FILE, or a protocol code
// (PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION), and the timings they stand for.
// Every conversion between words and microseconds is KOBLIB_CODES'.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "koblib_codes.h"

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

// A CCF code as send, plot and compare take it (CODE, @FILE, a protocol
// code, which is encoded, or REMOTE/BUTTON, a button of the library of
// remotes): strict words, a known format word, a frequency
// word that is not 0 and pair counts that match its length. UsageError
// saying what is wrong.
std::vector<std::uint32_t> loadCode(const std::string& argument);

// Received words as hash and plot --words take them: strict words, the
// silence before the frame and at least one pulse.
std::vector<std::uint32_t> loadReceived(const std::string& argument);

// Words as the tool writes them: "%04X" joined by single spaces.
std::string wordText(const std::vector<std::uint32_t>& words);

// A code as signed microsecond timings (pulse positive, space negative).
struct Timings {
    long carrierHz = 0;
    std::vector<int> once;
    std::vector<int> repeat;
};

// The timings of a CCF code, by KOBLIB_CODES' reading. Throws UsageError
// with its message when the words are no CCF code.
Timings parseCCF(const std::vector<std::uint32_t>& words);

// A text "PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION" (numbers decimal or 0x
// hexadecimal) encoded: true and the CCF text in *ccf; false when the text
// does not have that form. Throws UsageError for an unknown protocol, a
// bad number or a field out of range.
bool encodeProtocolCode(const std::string& text, std::string* ccf);

// The CCF text of CODE, @FILE or a protocol code (UsageError when it holds
// no words).
std::string loadCodeText(const std::string& argument);

// The timings of CODE, @FILE or a protocol code.
Timings loadTimings(const std::string& argument);

// One number of the tool's arguments: decimal or 0x hexadecimal, nothing
// else (UsageError naming `what` otherwise).
long parseNumber(const std::string& text, const std::string& what);

// kobc_encode, its message as a UsageError.
Timings encodeProtocol(const std::string& protocol, long device, long subdevice, long function,
                       long toggle);

// The CCF text of timings (UsageError with the library's message).
std::string formatCCF(const Timings& timings);

// Received words (the silence, then the on and off times in ticks) as
// timings; UsageError when they hold no pulse.
std::vector<int> frameTimings(const std::vector<std::uint32_t>& words, long* gapUs = nullptr);

// The frames a receiver reports for a code sent (or a remote's button
// held): the once sequence, if any, then the repeat sequence, each as
// tick words: the silence before it, then every on and off time but the
// last off time, which is the silence before the next frame.
std::vector<std::vector<std::uint32_t>> receivedFrames(const Timings& code, std::size_t count);

// Every protocol reading of one frame, best first.
std::vector<kobc_match> decodeTimings(const std::vector<int>& durations, long carrierHz);

// "NEC1 device=4 subdevice=251 function=8 kernel=nec:0x04fb08" and the
// like: the fields a protocol has, "repeat" for a repeat frame.
std::string matchText(const kobc_match& match);

// Magnitudes of timings, for the plot: on, off, on, off ...
std::vector<double> magnitudes(const std::vector<int>& durations);

}  // namespace kob
