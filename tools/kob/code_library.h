// The library of remotes as the tools use it: the folder (--library, else
// KOB_LIBRARY and the default of KOBLIB_CODES), its remotes, a button's
// code, and a REMOTE/BUTTON word as a code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ir_code.h"
#include "koblib_codes.h"

namespace CLI {
class App;
}

namespace kob {

// The global option --library DIR.
void addLibraryOption(CLI::App& app);

// The folder in use: the one given, else KOBLIB_CODES' default
// (UsageError when there is none).
void setLibraryDir(const std::string& dir);
std::string libraryDir();

// A kobc_remotes, freed with this.
class Remotes {
  public:
    Remotes();
    ~Remotes();
    Remotes(const Remotes&) = delete;
    Remotes& operator=(const Remotes&) = delete;
    kobc_remotes* get() const { return set_; }

    std::size_t count() const;
    std::string name(std::size_t remote) const;
    // The index of a remote; UsageError naming where it was looked for.
    std::size_t find(const std::string& name, const std::string& where) const;
    std::size_t buttonCount(std::size_t remote) const;
    kobc_button button(std::size_t remote, std::size_t index) const;
    // A button by name; UsageError when the remote has none of that name.
    kobc_button button(std::size_t remote, const std::string& name) const;

  private:
    kobc_remotes* set_;
};

// The remotes of the library folder; files that cannot be read are left
// out, each as "FILE: what is wrong" in problems.
struct Library {
    std::string dir;
    Remotes remotes;
    std::vector<std::string> problems;
};
std::unique_ptr<Library> loadLibrary();

// The index of a remote of the library; UsageError when there is none of
// that name (naming its file and what is wrong with it when that file
// cannot be read).
std::size_t findRemote(const Library& library, const std::string& name);

// What is wrong with the file of remote name ("" when nothing is).
std::string fileProblem(const Library& library, const std::string& name);

// The timings a button sends (UsageError with the library's message).
Timings buttonTimings(const kobc_button& button);

// A button's code for a person: "nec:4:8" (the form send takes, with the
// subdevice where it has one) or "raw (34 pairs, 38 kHz)".
std::string buttonText(const kobc_button& button);

// Whether text is a REMOTE/BUTTON word (one word holding a '/'), and then
// the CCF text of that library button in *ccf. UsageError when the library
// has no such remote or button, or the remote's file cannot be read.
bool libraryButtonCode(const std::string& text, std::string* ccf);

}  // namespace kob
