// The table of code file formats, the guess of a file's format, and the
// small text tools every reader uses.
#include "code_file.h"

#include <cctype>
#include <cstdio>

#include "message.h"

namespace kobc {

namespace {

// Extensions longest first within a format; the guess tries every
// format's, so ".lircd.conf" is tried before ".conf".
const FileFormat kFormats[] = {
    {KOBC_FORMAT_FLIPPER, "flipper", ".ir", looksLikeFlipper, readFlipper, writeFlipper, false},
    {KOBC_FORMAT_IRDB, "irdb", ".csv", looksLikeIrdb, readIrdb, writeIrdb, false},
    {KOBC_FORMAT_LIRC, "lirc", ".lircd.conf,.lircd,.conf", looksLikeLirc, readLirc, writeLirc,
     true},
    {KOBC_FORMAT_PRONTO, "pronto", ".pronto", looksLikePronto, readPronto, writePronto, false},
    {KOBC_FORMAT_BROADLINK, "broadlink", ".broadlink,.b64", looksLikeBroadlink, readBroadlink,
     writeBroadlink, false},
    {KOBC_FORMAT_GC, "gc", ".sendir,.gc", looksLikeGlobalCache, readGlobalCache, writeGlobalCache,
     false},
    {KOBC_FORMAT_JSON, "json", ".json", looksLikeJson, readJson, writeJson, true},
};
constexpr std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];

// The order a text is tried in when its name does not tell: the formats
// with an unmistakable start first.
const int kGuessOrder[] = {KOBC_FORMAT_JSON,     KOBC_FORMAT_FLIPPER, KOBC_FORMAT_LIRC,
                           KOBC_FORMAT_IRDB,     KOBC_FORMAT_GC,      KOBC_FORMAT_PRONTO,
                           KOBC_FORMAT_BROADLINK};

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

const FileFormat* fileFormats(std::size_t& count) {
    count = kFormatCount;
    return kFormats;
}

const FileFormat* findFileFormat(int id) {
    for (const FileFormat& f : kFormats)
        if (f.id == id) return &f;
    return nullptr;
}

const FileFormat* findFileFormat(const char* name) {
    if (name == nullptr) return nullptr;
    for (const FileFormat& f : kFormats)
        if (equalIgnoringCase(name, f.name)) return &f;
    return nullptr;
}

int guessFileFormat(const char* fileName, std::string_view text) {
    if (fileName != nullptr) {
        const std::string_view name(fileName);
        const FileFormat* best = nullptr;
        std::size_t bestLength = 0;
        for (const FileFormat& f : kFormats)
            for (std::string_view ext : split(f.extensions, ','))
                if (ext.size() > bestLength && name.size() > ext.size() &&
                    endsWithIgnoringCase(name, ext)) {
                    best = &f;
                    bestLength = ext.size();
                }
        if (best != nullptr) return best->id;
    }
    for (int id : kGuessOrder) {
        const FileFormat* f = findFileFormat(id);
        if (f->looksLike(text)) return id;
    }
    return KOBC_FORMAT_GUESS;
}

bool Lines::next(std::string_view& line) {
    if (at_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(at_, end - at_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at_ = end + 1;
    ++number_;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalIgnoringCase(s.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoringCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           equalIgnoringCase(s.substr(s.size() - suffix.size()), suffix);
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t end = s.find(separator, at);
        if (end == std::string_view::npos) {
            parts.push_back(s.substr(at));
            return parts;
        }
        parts.push_back(s.substr(at, end - at));
        at = end + 1;
    }
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < s.size()) {
        while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at])))
            ++at;
        const std::size_t start = at;
        while (at < s.size() && !std::isspace(static_cast<unsigned char>(s[at])))
            ++at;
        if (at > start) out.push_back(s.substr(start, at - start));
    }
    return out;
}

bool parseNumber(std::string_view s, long min, long max, long& out, int base) {
    bool negative = false;
    if (!s.empty() && s.front() == '-' && min < 0 && base == 10) {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 12) return false;
    // Wide enough for 12 digits where long has 32 bits (Windows).
    long long value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && lower(c) >= 'a' && lower(c) <= 'f')
            digit = lower(c) - 'a' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFFFLL) return false;
    }
    if (negative) value = -value;
    if (value < min || value > max) return false;
    out = static_cast<long>(value);
    return true;
}

bool checkText(std::string_view text, FileError& error) {
    std::size_t line = 1;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n') ++line;
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t')
            return fileError(error, line, "binary data (a control character), not text");
    }
    return true;
}

bool fileError(FileError& error, std::size_t line, std::string what, int code) {
    error.error = code;
    error.line = line;
    error.what = std::move(what);
    return false;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s.substr(0, 40))
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    if (s.size() > 40) out += "...";
    return out + "\"";
}

void splitNamedLine(std::string_view line, std::string_view& name, std::string_view& code,
                    bool sendirCodes) {
    const std::size_t colon = line.find(':');
    // A sendir code holds "1:1": a name is followed by "sendir,".
    const bool sendir =
        sendirCodes && line.substr(0, 7) == "sendir," &&
        (colon == std::string_view::npos || trim(line.substr(colon + 1)).substr(0, 7) != "sendir,");
    if (colon == std::string_view::npos || sendir) {
        name = {};
        code = trim(line);
        return;
    }
    name = trim(line.substr(0, colon));
    code = trim(line.substr(colon + 1));
}

bool firstCodeLine(std::string_view text, std::string_view& name, std::string_view& code,
                   bool sendirCodes) {
    Lines lines(text);
    for (std::string_view line; lines.next(line);) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        splitNamedLine(line, name, code, sendirCodes);
        return true;
    }
    return false;
}

namespace {

// The button names of one-code-a-line files: no ':' (it ends the name), no
// '#' first (a comment).
bool checkLineName(const Button& button, const char* format, FileError& error) {
    if (button.name.find(':') != std::string::npos)
        return fileError(error, 0,
                         "button " + quoted(button.name) + ": a " + format +
                             " file cannot hold a name with ':' (it ends the name)",
                         KOBC_E_UNSUPPORTED);
    if (button.name.front() == '#')
        return fileError(error, 0,
                         "button " + quoted(button.name) + ": a " + format +
                             " file cannot hold a name starting with '#' (a comment)",
                         KOBC_E_UNSUPPORTED);
    return true;
}

}  // namespace

bool writeCodeLines(const std::vector<const Remote*>& remotes, const char* format,
                    CodeText codeText, std::string& out, FileError& error) {
    out.clear();
    if (remotes.empty()) return true;
    static thread_local kobc_code code;
    std::string text;
    for (const Button& b : remotes.front()->buttons) {
        if (!checkLineName(b, format, error) || !buttonTimings(b, code, error) ||
            !codeText(b, code, text, error))
            return false;
        out += b.name + ": " + text + "\n";
    }
    return true;
}

bool buttonTimings(const Button& button, kobc_code& code, FileError& error) {
    char message[200];
    if (buttonCode(button, code, message, sizeof message) == KOBC_OK) return true;
    return fileError(error, 0, "button " + quoted(button.name) + ": " + message,
                     KOBC_E_UNSUPPORTED);
}

}  // namespace kobc
