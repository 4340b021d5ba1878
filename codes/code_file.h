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

// One reader and writer pair per format, each in its own file.
bool looksLikeFlipper(std::string_view text);
bool readFlipper(std::string_view, const std::string&, std::vector<Remote>&, FileError&);
bool writeFlipper(const std::vector<const Remote*>&, std::string&, FileError&);
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
