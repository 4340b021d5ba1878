// The remote model behind the kobc_remotes handle: remotes of named
// buttons, each a protocol code or raw timings. Readers and writers of the
// code file formats, the library folder and the C interface all work on
// these types.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "koblib_codes.h"

namespace kobc {

struct Button {
    std::string name;
    int kind = KOBC_BUTTON_RAW;
    // KOBC_BUTTON_PROTOCOL: kobc_protocol_info.name and its fields.
    std::string protocol;
    long device = 0;
    long subdevice = KOBC_NONE;
    long function = 0;
    long toggle = KOBC_NONE;
    // KOBC_BUTTON_RAW: the once sequence durations[0 .. onceCount), then
    // the repeat sequence; signed microseconds, pulse first.
    long carrierHz = 0;
    std::size_t onceCount = 0;
    std::vector<int> durations;
    int dutyPercent = 0;  // 0: not known
};

struct Remote {
    std::string name;
    std::string brand;
    std::string model;
    std::string notes;
    std::vector<Button> buttons;

    Button* find(const std::string& buttonName);
    const Button* find(const std::string& buttonName) const;
};

// What is wrong with a file: the line (1-based; 0 for the file as a whole)
// and a sentence. The C interface prefixes the file name.
struct FileError {
    int error = KOBC_E_FILE;
    std::size_t line = 0;
    std::string what;
};

// The checks every button passes before it enters a remote (a valid name,
// a known protocol with fields in range, or raw whole pairs with a sane
// carrier); false with the sentence in why.
bool checkButton(const Button& button, std::string& why);
// The same, giving the kobc_error that fits (KOBC_OK when the button is fine):
// KOBC_E_NAME, KOBC_E_PROTOCOL, KOBC_E_RANGE, KOBC_E_DURATION, KOBC_E_TOO_LONG
// or KOBC_E_FREQUENCY.
int buttonProblem(const Button& button, std::string& why);
// Whether a remote (forFile: also a file) name may be used.
bool validName(const std::string& name, bool forFile, std::string& why);

// The timings of a button (kobc_encode for a protocol code).
int buttonCode(const Button& button, kobc_code& out, char* message, std::size_t messageSize);

// Whether a value of "brand", "model" or "notes" may be stored: UTF-8 text
// of at most kMaxFieldBytes without control characters or a space first or
// last.
constexpr std::size_t kMaxFieldBytes = 1024;
bool validField(const std::string& value, std::string& why);

// The longest duration of a raw code.
constexpr int kMaxDurationSeconds = 10;

// A sequence a file gives that ends on a pulse (as captures do) gets this
// final space, so that every raw code is whole pairs.
constexpr int kFinalSpaceUs = 100000;
void endWithSpace(std::vector<int>& sequence);

// A raw button of a sequence sent once (repeat empty) or of both.
Button rawButton(std::string name, long carrierHz, int dutyPercent, std::vector<int> once,
                 std::vector<int> repeat = {});

// Adds a button a reader found at line: checked (FileError of the kind
// buttonProblem gives, or KOBC_E_FILE), its protocol name made the
// table's own. A name the remote already has gets " 2", " 3", ... (files
// such as Flipper's allow the same name twice).
bool addReadButton(Remote& remote, Button button, std::size_t line, FileError& error);
// Checks the remotes a reader produced as a whole: valid, distinct names.
bool checkReadRemotes(const std::vector<Remote>& remotes, FileError& error);

}  // namespace kobc

struct kobc_remotes {
    std::vector<kobc::Remote> remotes;
    // The codes kobc_remote_button lends out (button.raw), by remote and
    // button; emptied by every change.
    mutable std::map<std::pair<std::size_t, std::size_t>, std::unique_ptr<kobc_code>> codes;

    void changed() { codes.clear(); }
};
