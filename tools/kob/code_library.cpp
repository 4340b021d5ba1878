#include "code_library.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "koblib.h"

namespace kob {

namespace {

std::string& chosenDir() {
    static std::string dir;
    return dir;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

void addLibraryOption(CLI::App& app) {
    app.add_option_function<std::string>(
           "--library", [](const std::string& dir) { setLibraryDir(dir); },
           "the folder of remotes (default $KOB_LIBRARY, else $XDG_DATA_HOME/kob/remotes, else "
           "~/.local/share/kob/remotes)")
        ->type_name("DIR");
}

void setLibraryDir(const std::string& dir) {
    chosenDir() = dir;
}

std::string libraryDir() {
    if (!chosenDir().empty()) return chosenDir();
    std::string path(4096, '\0');
    const int status = kobc_library_default_dir(&path[0], path.size());
    if (status == KOBC_E_NOT_FOUND)
        throw UsageError("no library folder: give --library DIR or set KOB_LIBRARY");
    if (status != KOBC_OK) throw UsageError(kobc_error_text(status));
    path.resize(std::strlen(path.c_str()));
    return path;
}

Remotes::Remotes() : set_(kobc_remotes_new()) {
    if (set_ == nullptr) throw std::bad_alloc();
}

Remotes::~Remotes() {
    kobc_remotes_free(set_);
}

std::size_t Remotes::count() const {
    return kobc_remotes_count(set_);
}

std::string Remotes::name(std::size_t remote) const {
    const char* name = kobc_remote_name(set_, remote);
    return name ? name : "";
}

std::size_t Remotes::find(const std::string& name, const std::string& where) const {
    const long at = kobc_remotes_find(set_, name.c_str());
    if (at < 0) throw UsageError("no remote \"" + name + "\" in " + where);
    return static_cast<std::size_t>(at);
}

std::size_t Remotes::buttonCount(std::size_t remote) const {
    return kobc_remote_button_count(set_, remote);
}

kobc_button Remotes::button(std::size_t remote, std::size_t index) const {
    kobc_button b{};
    const int status = kobc_remote_button(set_, remote, index, &b);
    if (status != KOBC_OK) throw UsageError(kobc_error_text(status));
    return b;
}

kobc_button Remotes::button(std::size_t remote, const std::string& name) const {
    const long at = kobc_remote_find_button(set_, remote, name.c_str());
    if (at < 0)
        throw UsageError("remote \"" + this->name(remote) + "\" has no button \"" + name + "\"");
    return button(remote, static_cast<std::size_t>(at));
}

std::unique_ptr<Library> loadLibrary() {
    return loadLibrary(libraryDir());
}

std::unique_ptr<Library> loadLibrary(const std::string& dir) {
    auto library = std::make_unique<Library>();
    library->dir = dir;
    char message[512] = "";
    const int status = kobc_library_load(
        library->dir.c_str(), library->remotes.get(),
        [](void* context, const char* file, const char* why) {
            // The message names the file already when it is about its text.
            const std::string text =
                std::strstr(why, file) == why ? why : std::string(file) + ": " + why;
            static_cast<Library*>(context)->problems.push_back(text);
        },
        library.get(), message, sizeof message);
    if (status != KOBC_OK) throw UsageError(message[0] ? message : kobc_error_text(status));
    return library;
}

std::string fileProblem(const Library& library, const std::string& name) {
    const std::string file =
        (std::filesystem::u8path(library.dir) / std::filesystem::u8path(name + ".ir")).u8string();
    for (const auto& problem : library.problems)
        if (problem.compare(0, file.size(), file) == 0) return problem;
    return {};
}

std::size_t findRemote(const Library& library, const std::string& name) {
    if (kobc_remotes_find(library.remotes.get(), name.c_str()) < 0) {
        const std::string problem = fileProblem(library, name);
        if (!problem.empty()) throw UsageError(problem);
    }
    return library.remotes.find(name, "the library " + library.dir);
}

Timings buttonTimings(const kobc_button& button) {
    auto code = std::make_unique<kobc_code>();
    char message[256] = "";
    const int status = kobc_button_code(&button, code.get(), message, sizeof message);
    if (status != KOBC_OK) throw UsageError(message[0] ? message : kobc_error_text(status));
    Timings t;
    t.carrierHz = code->carrier_hz;
    t.once.assign(code->durations, code->durations + code->once_count);
    t.repeat.assign(code->durations + code->once_count,
                    code->durations + code->once_count + code->repeat_count);
    return t;
}

std::string buttonText(const kobc_button& b) {
    if (b.kind == KOBC_BUTTON_PROTOCOL) {
        std::string text = lower(b.protocol ? b.protocol : "?") + ":" + std::to_string(b.device);
        if (b.subdevice != KOBC_NONE) text += ":" + std::to_string(b.subdevice);
        text += ":" + std::to_string(b.function);
        if (b.toggle != KOBC_NONE) text += " (toggle " + std::to_string(b.toggle) + ")";
        return text;
    }
    const std::size_t pairs = b.raw ? (b.raw->once_count + b.raw->repeat_count) / 2 : 0;
    const long hz = b.raw ? b.raw->carrier_hz : 0;
    char carrier[32];
    if (hz == 0)
        std::snprintf(carrier, sizeof carrier, "unmodulated");
    else if (hz % 1000 == 0)
        std::snprintf(carrier, sizeof carrier, "%ld kHz", hz / 1000);
    else
        std::snprintf(carrier, sizeof carrier, "%.1f kHz", hz / 1000.0);
    return "raw (" + std::to_string(pairs) + (pairs == 1 ? " pair, " : " pairs, ") + carrier + ")";
}

bool libraryButtonCode(const std::string& text, std::string* ccf) {
    // A remote name holds no '/', and neither CCF words nor a protocol code
    // do: the first '/' of one short line parts remote and button.
    const auto slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || text.size() > 2 * KOBC_MAX_NAME + 1 ||
        std::any_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return false;
    const std::string remote = text.substr(0, slash), button = text.substr(slash + 1);
    const auto library = loadLibrary();
    const std::size_t index = findRemote(*library, remote);
    *ccf = formatCCF(buttonTimings(library->remotes.button(index, button)));
    return true;
}

void checkButtonNames(const std::string& remote, const std::vector<std::string>& buttons) {
    Remotes names;
    char message[256] = "";
    std::size_t at = 0;
    int status = kobc_remotes_add(names.get(), remote.c_str(), &at, message, sizeof message);
    for (std::size_t n = 0; status == KOBC_OK && n < buttons.size(); ++n) {
        kobc_button probe{};
        probe.name = buttons[n].c_str();
        probe.kind = KOBC_BUTTON_PROTOCOL;
        probe.protocol = "NEC1";
        probe.subdevice = probe.toggle = KOBC_NONE;
        status = kobc_remote_put_button(names.get(), at, &probe, 1, message, sizeof message);
    }
    if (status == KOBC_E_MEMORY) throw std::bad_alloc();
    if (status != KOBC_OK) throw UsageError(message[0] ? message : kobc_error_text(status));
}

namespace {

// The first frame of a code (the once sequence, else the repeat sequence).
const std::vector<int>& firstFrame(const Timings& t) {
    return t.once.empty() ? t.repeat : t.once;
}

// A frame alone as a CCF text, its final silence replaced by lastSpace
// (the silence a learner measures is the gap to the next press, and a
// receiver reports none: neither is part of the frame). A frame ending on
// a pulse gets lastSpace added.
std::string frameText(long carrierHz, std::vector<int> frame, int lastSpace) {
    if (!frame.empty() && frame.back() < 0)
        frame.back() = lastSpace;
    else
        frame.push_back(lastSpace);
    Timings t;
    t.carrierHz = carrierHz;
    t.once = std::move(frame);
    return formatCCF(t);
}

// The protocol code a learned code stands for: a reading of its first frame
// that, encoded again, gives a frame KOBLIB calls equal to the one heard.
bool protocolOf(const Timings& learned, kobc_match& found) {
    const auto& heard = firstFrame(learned);
    for (const kobc_match& m : decodeTimings(heard, learned.carrierHz)) {
        if (m.repeat) continue;
        Timings again;
        try {
            again = encodeProtocol(m.protocol, m.device, m.subdevice, m.function, m.toggle);
        } catch (const UsageError&) {
            continue;
        }
        const auto& made = firstFrame(again);
        if (made.size() != heard.size() || made.back() > 0) continue;
        const std::string a = frameText(learned.carrierHz, heard, made.back());
        const std::string b = frameText(again.carrierHz, made, made.back());
        if (kob_ir_compare(a.c_str(), b.c_str())) {
            found = m;
            // A subdevice that is the protocol's default is left to it.
            if (m.subdevice != KOBC_NONE) {
                try {
                    const Timings plain =
                        encodeProtocol(m.protocol, m.device, KOBC_NONE, m.function, m.toggle);
                    if (firstFrame(plain) == made) found.subdevice = KOBC_NONE;
                } catch (const UsageError&) {
                }
            }
            return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<LearnedButton> learnedButton(const std::string& name, const std::string& ccf) {
    auto l = std::make_unique<LearnedButton>();
    l->name = name;
    l->button.name = l->name.c_str();
    const Timings t = parseCCF(loadCode(ccf));
    kobc_match m{};
    if (protocolOf(t, m)) {
        l->protocol = m.protocol;
        l->button.kind = KOBC_BUTTON_PROTOCOL;
        l->button.protocol = l->protocol.c_str();
        l->button.device = m.device;
        l->button.subdevice = m.subdevice;
        l->button.function = m.function;
        l->button.toggle = m.toggle;
        return l;
    }
    l->raw.carrier_hz = t.carrierHz;
    l->raw.once_count = t.once.size();
    l->raw.repeat_count = t.repeat.size();
    std::copy(t.once.begin(), t.once.end(), l->raw.durations);
    std::copy(t.repeat.begin(), t.repeat.end(), l->raw.durations + t.once.size());
    l->button.kind = KOBC_BUTTON_RAW;
    l->button.raw = &l->raw;
    return l;
}

ButtonMatcher::ButtonMatcher(const Remotes& remotes) {
    for (std::size_t r = 0; r < remotes.count(); ++r) {
        for (std::size_t n = 0; n < remotes.buttonCount(r); ++n) {
            kobc_button b{};
            if (kobc_remote_button(remotes.get(), r, n, &b) != KOBC_OK) continue;
            Entry e;
            e.name = names_.size();
            if (b.kind == KOBC_BUTTON_PROTOCOL) {
                e.protocol = kobc_protocol_find(b.protocol ? b.protocol : "");
                if (e.protocol == nullptr) continue;
                e.device = b.device;
                e.function = b.function;
                e.subdevice = b.subdevice;
                // A defaulted subdevice is the one its code decodes to.
                if (e.subdevice == KOBC_NONE) {
                    try {
                        const Timings t = buttonTimings(b);
                        for (const kobc_match& m : decodeTimings(firstFrame(t), t.carrierHz))
                            if (!m.repeat && kobc_protocol_find(m.protocol) == e.protocol &&
                                m.device == e.device && m.function == e.function) {
                                e.subdevice = m.subdevice;
                                break;
                            }
                    } catch (const UsageError&) {
                    }
                }
            } else {
                Timings t;
                try {
                    t = buttonTimings(b);
                } catch (const UsageError&) {
                    continue;
                }
                e.carrierHz = t.carrierHz;
                for (const auto* sequence : {&t.once, &t.repeat}) {
                    if (sequence->size() < 2) continue;
                    try {
                        e.texts.push_back(frameText(t.carrierHz, *sequence, sequence->back()));
                    } catch (const UsageError&) {
                        continue;
                    }
                    e.sequences.push_back(*sequence);
                }
                if (e.sequences.empty()) continue;
            }
            names_.push_back({remotes.name(r), b.name ? b.name : ""});
            entries_.push_back(std::move(e));
        }
    }
}

std::string ButtonMatcher::match(const int* durations, std::size_t count, const kobc_match* decodes,
                                 std::size_t decodeCount) const {
    // The frame without a final space: the receiver does not hear its end.
    std::size_t pulses = count;
    if (pulses > 0 && durations[pulses - 1] < 0) --pulses;
    // Each reading's protocol looked up once, not once per button.
    std::vector<const kobc_protocol_info*> protocols(decodeCount);
    for (std::size_t k = 0; k < decodeCount; ++k)
        protocols[k] = kobc_protocol_find(decodes[k].protocol);
    for (const Entry& e : entries_) {
        bool equal = false;
        if (e.protocol != nullptr) {
            for (std::size_t k = 0; k < decodeCount && !equal; ++k) {
                const kobc_match& m = decodes[k];
                equal = protocols[k] == e.protocol && m.device == e.device &&
                        m.function == e.function &&
                        (e.subdevice == KOBC_NONE || m.subdevice == e.subdevice);
            }
        } else {
            for (std::size_t s = 0; s < e.sequences.size() && !equal; ++s) {
                const auto& sequence = e.sequences[s];
                if (sequence.size() != pulses + 1) continue;
                try {
                    const std::string heard =
                        frameText(e.carrierHz, std::vector<int>(durations, durations + pulses),
                                  sequence.back());
                    equal = kob_ir_compare(heard.c_str(), e.texts[s].c_str()) != 0;
                } catch (const UsageError&) {
                }
            }
        }
        if (equal) return names_[e.name].remote + "/" + names_[e.name].button;
    }
    return {};
}

}  // namespace kob
