#include "code_library.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

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
    auto library = std::make_unique<Library>();
    library->dir = libraryDir();
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

}  // namespace kob
