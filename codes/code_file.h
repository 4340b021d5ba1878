// The code file formats: each a reader (text into remotes) and a writer
// (remotes into text), found by kobc_format id. The readers never read
// past the text they are given, whatever it holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "remote.h"

namespace kobc {

struct FileFormat {
    int id;                  // kobc_format
    const char* name;        // "flipper", ...
    const char* extensions;  // ".ir" (several: ".conf,.lircd"), longest first
    // Whether the text looks like this format (used when guessing).
    bool (*looksLike)(std::string_view text);
    // Appends the file's remotes to out; defaultName names a remote the
    // file does not. false with error filled when the file is bad.
    bool (*read)(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
                 FileError& error);
    // Writes the remotes (one, or several where severalPerFile) to out;
    // false with error filled (KOBC_E_UNSUPPORTED, the button named) when
    // a code cannot be held.
    bool (*write)(const std::vector<const Remote*>& remotes, std::string& out, FileError& error);
    bool severalPerFile;
};

const FileFormat* findFileFormat(int id);
const FileFormat* fileFormats(std::size_t& count);
// By name, case-insensitively (null when unknown).
const FileFormat* findFileFormat(const char* name);
// kobc_format_guess: by the file name's extension, else by the text.
int guessFileFormat(const char* fileName, std::string_view text);

// ---- What the readers share.

// The lines of a text, numbered from 1, each without its "\n" or "\r\n".
class Lines {
  public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(std::string_view& line);
    std::size_t number() const { return number_; }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t number_ = 0;
};

std::string_view trim(std::string_view s);
bool equalIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view s, std::string_view prefix);
bool endsWithIgnoringCase(std::string_view s, std::string_view suffix);
// Splits s at every separator (empty parts kept).
std::vector<std::string_view> split(std::string_view s, char separator);
// Splits s at runs of white space (no empty parts).
std::vector<std::string_view> words(std::string_view s);
// A whole decimal (base 10, an optional '-' when min < 0) or hexadecimal
// (base 16, no prefix) number within min..max; false for anything else.
bool parseNumber(std::string_view s, long min, long max, long& out, int base = 10);
// Text, not binary data: no NUL or other control character but tab, CR
// and LF. false with the line of the first one in error.
bool checkText(std::string_view text, FileError& error);
// Fills error (KOBC_E_FILE unless told) and returns false.
bool fileError(FileError& error, std::size_t line, std::string what, int code = KOBC_E_FILE);
// A quoted name for messages, cut to a readable length.
std::string quoted(std::string_view s);
// Splits "NAME: code" (the name before the first ':'); a line without a
// name gives an empty name. Used by the formats of one code a line;
// sendirCodes: a line starting "sendir," is a code without a name unless
// "sendir," follows its first ':'.
void splitNamedLine(std::string_view line, std::string_view& name, std::string_view& code,
                    bool sendirCodes = false);
// The first line of a one-code-a-line file that is neither blank nor a
// comment, split as splitNamedLine splits it; false when there is none.
bool firstCodeLine(std::string_view text, std::string_view& name, std::string_view& code,
                   bool sendirCodes = false);
// The text of one code in a one-code-a-line format (code: the button's
// timings); false with the error naming the button.
using CodeText = bool (*)(const Button& button, const kobc_code& code, std::string& text,
                          FileError& error);
// The first remote's buttons as "NAME: code" lines of format, each code
// written by codeText; names the format cannot hold are refused.
bool writeCodeLines(const std::vector<const Remote*>& remotes, const char* format,
                    CodeText codeText, std::string& out, FileError& error);
// A remote's buttons as their timings (for the formats that hold only
// timings); false with KOBC_E_UNSUPPORTED naming the button when one
// cannot be encoded.
bool buttonTimings(const Button& button, kobc_code& code, FileError& error);

// One reader and writer pair per format, each in its own file.
bool looksLikeFlipper(std::string_view text);
bool readFlipper(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeFlipper(const std::vector<const Remote*>&, std::string&, FileError&);
// A remote as a file of the library folder: a Flipper file that also
// holds unmodulated codes.
bool writeLibraryFile(const Remote& remote, std::string& out, FileError& error);
bool looksLikeIrdb(std::string_view text);
bool readIrdb(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeIrdb(const std::vector<const Remote*>&, std::string&, FileError&);
bool looksLikeLirc(std::string_view text);
bool readLirc(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeLirc(const std::vector<const Remote*>&, std::string&, FileError&);
bool looksLikePronto(std::string_view text);
bool readPronto(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writePronto(const std::vector<const Remote*>&, std::string&, FileError&);
bool looksLikeBroadlink(std::string_view text);
bool readBroadlink(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeBroadlink(const std::vector<const Remote*>&, std::string&, FileError&);
bool looksLikeGlobalCache(std::string_view text);
bool readGlobalCache(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeGlobalCache(const std::vector<const Remote*>&, std::string&, FileError&);
bool looksLikeJson(std::string_view text);
bool readJson(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeJson(const std::vector<const Remote*>&, std::string&, FileError&);

}  // namespace kobc
