// Pronto hex: one code (its words may run over several lines), or one
// "NAME: code" a line. Learned codes (0000, 0100) become raw buttons; the
// short forms 5000 (RC5), 5001 (RC5x), 6000 (RC6) and 900A (NEC1) become
// protocol buttons. Every button is written as a learned code.
#include <string>

#include "code_file.h"

namespace kobc {

namespace {

// The single code of a file that names none.
const char kSingleName[] = "code";

bool parseWords(std::string_view text, std::vector<unsigned>& out, std::size_t line,
                FileError& error) {
    for (std::string_view w : words(text)) {
        long v = 0;
        if (w.size() != 4 || !parseNumber(w, 0, 0xFFFF, v, 16))
            return fileError(error, line, "word " + quoted(w) + " is not 4 hexadecimal digits");
        if (out.size() == KOBC_MAX_CCF_WORDS)
            return fileError(
                error, line,
                "the code has more than " + std::to_string(KOBC_MAX_CCF_WORDS) + " words");
        out.push_back(static_cast<unsigned>(v));
    }
    return true;
}

// A short form: its fields from the words after the 4-word header.
bool shortForm(const std::vector<unsigned>& w, Button& b, std::size_t line, FileError& error) {
    struct Form {
        unsigned type;
        std::size_t words;
        const char* protocol;
    } const forms[] = {
        {0x5000, 6, "RC5"}, {0x5001, 8, "RC5x"}, {0x6000, 6, "RC6"}, {0x900A, 6, "NEC1"}};
    for (const Form& f : forms) {
        if (w[0] != f.type) continue;
        if (w.size() != f.words || w[2] != 0 || w[3] != (f.words - 4) / 2)
            return fileError(error, line,
                             "a " + std::string(f.protocol) + " short code has " +
                                 std::to_string(f.words) + " words with 0 once and " +
                                 std::to_string((f.words - 4) / 2) + " repeat pairs");
        b.kind = KOBC_BUTTON_PROTOCOL;
        b.protocol = f.protocol;
        if (f.type == 0x900A) {
            const unsigned function = w[5] >> 8;
            if ((w[5] & 0xFF) != 255 - function)
                return fileError(error, line, "the NEC1 function's check byte is wrong");
            b.device = w[4] >> 8;
            b.subdevice = w[4] & 0xFF;
            b.function = function;
        } else {
            b.device = w[4];
            if (f.type == 0x5001) {
                b.subdevice = w[5];
                b.function = w[6];
            } else {
                b.function = w[5];
            }
        }
        return true;
    }
    return false;
}

bool readCode(std::string_view text, std::string name, std::size_t line, Remote& remote,
              FileError& error) {
    std::vector<unsigned> w;
    if (!parseWords(text, w, line, error)) return false;
    if (w.size() < 4)
        return fileError(error, line,
                         "a code starts with 4 words (format, frequency, once and repeat pair "
                         "counts); this one has " +
                             std::to_string(w.size()));
    Button b;
    b.name = std::move(name);
    if (!shortForm(w, b, line, error)) {
        if (!error.what.empty()) return false;
        static thread_local kobc_code code;
        char message[200];
        if (kobc_ccf_parse_words(w.data(), w.size(), &code, message, sizeof message) != KOBC_OK)
            return fileError(error, line, message);
        std::vector<int> once(code.durations, code.durations + code.once_count);
        std::vector<int> repeat(code.durations + code.once_count,
                                code.durations + code.once_count + code.repeat_count);
        b = rawButton(b.name, code.carrier_hz, 0, once, repeat);
    }
    return addReadButton(remote, std::move(b), line, error);
}

bool isCodeLine(std::string_view line) {
    const std::vector<std::string_view> w = words(line);
    long v = 0;
    return !w.empty() && w.front().size() == 4 && parseNumber(w.front(), 0, 0xFFFF, v, 16);
}

}  // namespace

bool looksLikePronto(std::string_view text) {
    std::string_view name, code;
    if (!firstCodeLine(text, name, code)) return false;
    const std::vector<std::string_view> w = words(code);
    if (w.size() < 4) return false;
    long v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        if (w[i].size() != 4 || !parseNumber(w[i], 0, 0xFFFF, v, 16)) return false;
    return true;
}

bool readPronto(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
                FileError& error) {
    if (!checkText(text, error)) return false;
    Remote remote;
    remote.name = defaultName;
    Lines lines(text);
    std::string_view line;
    // Without names, every line together is one code.
    std::string single;
    std::size_t singleLine = 0;
    bool named = false;
    while (lines.next(line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        std::string_view name, code;
        splitNamedLine(line, name, code);
        if (line.find(':') == std::string_view::npos && !named) {
            if (singleLine == 0) singleLine = lines.number();
            single += std::string(line) + " ";
            continue;
        }
        if (singleLine != 0)
            return fileError(
                error, lines.number(),
                "a named code after the unnamed one of line " + std::to_string(singleLine));
        named = true;
        if (name.empty() && !isCodeLine(code))
            return fileError(error, lines.number(), "a line that is not \"NAME: code\"");
        if (!readCode(code, std::string(name), lines.number(), remote, error)) return false;
    }
    if (singleLine != 0 && !readCode(single, kSingleName, singleLine, remote, error)) return false;
    out.push_back(std::move(remote));
    return true;
}

namespace {

// One code as its Pronto text.
bool prontoText(const Button& b, const kobc_code& code, std::string& text, FileError& error) {
    // A carrier far above the usual ones has a frequency word that
    // stands for another carrier, one a reader refuses.
    if (code.carrier_hz != 0) {
        const double back = kobc_word_frequency(kobc_frequency_word(code.carrier_hz));
        std::string why;
        Button heard = b;
        heard.carrierHz = static_cast<long>(back + 0.5);
        if (heard.kind == KOBC_BUTTON_RAW && !checkButton(heard, why))
            return fileError(error, 0,
                             "button " + quoted(b.name) + ": carrier " +
                                 std::to_string(code.carrier_hz) +
                                 " Hz has no Pronto frequency word that reads back",
                             KOBC_E_UNSUPPORTED);
    }
    char ccf[5 * KOBC_MAX_CCF_WORDS + 1];
    const int status = kobc_ccf_format(&code, ccf, sizeof ccf);
    if (status != KOBC_OK)
        return fileError(error, 0, "button " + quoted(b.name) + ": " + kobc_error_text(status),
                         KOBC_E_UNSUPPORTED);
    text = ccf;
    return true;
}

}  // namespace

bool writePronto(const std::vector<const Remote*>& remotes, std::string& out, FileError& error) {
    return writeCodeLines(remotes, "Pronto", prontoText, out, error);
}

}  // namespace kobc
