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
// The same of a folder given (a folder that does not exist holds none).
std::unique_ptr<Library> loadLibrary(const std::string& dir);

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

// UsageError with KOBLIB_CODES' message when remote, or one of buttons, is
// a name the library does not take.
void checkButtonNames(const std::string& remote, const std::vector<std::string>& buttons);

// A learned code as the button it is stored as (button points into it).
struct LearnedButton {
    std::string name;
    std::string protocol;
    kobc_code raw{};
    kobc_button button{};
};

// The button a learned CCF code is stored as: the protocol code it stands
// for when a reading of its first frame, encoded again, gives a frame
// KOBLIB calls equal to the one heard; else the code as it is (raw).
// UsageError when ccf is no code.
std::unique_ptr<LearnedButton> learnedButton(const std::string& name, const std::string& ccf);

// Which button of a library a received frame is: a protocol button when a
// reading of the frame has its protocol, device, subdevice and function
// (the toggle is not looked at), a raw button when KOBLIB calls the frame
// equal to its once or its repeat sequence. The buttons are read when it
// is made; it does not change with the library.
class ButtonMatcher {
  public:
    explicit ButtonMatcher(const Remotes& remotes);

    struct Named {
        std::string remote;
        std::string button;
    };
    // Every button, in the library's order.
    const std::vector<Named>& buttons() const { return names_; }

    // The first button the frame is, "remote/BUTTON"; "" when none.
    // durations: the frame as the receiver gives it (pulse first, no
    // final space); decodes: its readings.
    std::string match(const int* durations, std::size_t count, const kobc_match* decodes,
                      std::size_t decodeCount) const;

  private:
    struct Entry {
        std::size_t name;  // into names_
        const kobc_protocol_info* protocol = nullptr;
        long device = 0, subdevice = 0, function = 0;  // subdevice KOBC_NONE: any
        // A raw button: the carrier and, for each sequence, its durations
        // and CCF text.
        long carrierHz = 0;
        std::vector<std::vector<int>> sequences;
        std::vector<std::string> texts;
    };
    std::vector<Named> names_;
    std::vector<Entry> entries_;
};

}  // namespace kob
