// kob remote: the library of remotes from the command line. Each remote is
// a file of the library folder; KOBLIB_CODES reads, writes and locks them.
#include "remote_commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "code_library.h"
#include "code_runs.h"
#include "console.h"
#include "ir_code.h"
#include "koblib.h"
#include "number_checks.h"
#include "session.h"
#include "simulation.h"

namespace kob {

namespace {

// A library call that failed: what the user can fix is a usage error
// (exit 2), the rest a failure (exit 1).
[[noreturn]] void libraryFailed(int status, const char* message) {
    const std::string text = message != nullptr && message[0] ? message : kobc_error_text(status);
    if (status == KOBC_E_EXISTS || status == KOBC_E_IO || status == KOBC_E_MEMORY)
        throw Failure(text);
    throw UsageError(text);
}

void check(int status, const char* message) {
    if (status != KOBC_OK) libraryFailed(status, message);
}

nlohmann::json orNull(long value) {
    return value == KOBC_NONE ? nlohmann::json(nullptr) : nlohmann::json(value);
}

nlohmann::json buttonJson(const kobc_button& b) {
    nlohmann::json j = {{"name", b.name}, {"code", buttonText(b)}};
    if (b.kind == KOBC_BUTTON_PROTOCOL) {
        j["kind"] = "protocol";
        j["protocol"] = b.protocol;
        j["device"] = b.device;
        j["subdevice"] = orNull(b.subdevice);
        j["function"] = b.function;
        j["toggle"] = orNull(b.toggle);
    } else {
        const Timings t = buttonTimings(b);
        j["kind"] = "raw";
        j["carrier_hz"] = t.carrierHz;
        j["once"] = t.once;
        j["repeat"] = t.repeat;
        j["duty_percent"] = b.duty_percent ? nlohmann::json(b.duty_percent) : nullptr;
    }
    return j;
}

// The files that cannot be read, as the one line a failure prints.
std::string problemLine(const Library& library) {
    std::string line = library.problems.front();
    if (library.problems.size() > 1)
        line += " (and " + std::to_string(library.problems.size() - 1) +
                " more files that cannot be read)";
    return line;
}

int runList(const std::string& remote, bool json) {
    const auto library = loadLibrary();
    const Remotes& remotes = library->remotes;
    if (!remote.empty()) {
        const std::size_t at = findRemote(*library, remote);
        nlohmann::json buttons = nlohmann::json::array();
        for (std::size_t n = 0; n < remotes.buttonCount(at); ++n) {
            const kobc_button b = remotes.button(at, n);
            if (json)
                buttons.push_back(buttonJson(b));
            else
                std::fprintf(toolOut(), "%s %s\n", b.name, buttonText(b).c_str());
        }
        if (json) {
            nlohmann::json j = {{"name", remote}, {"buttons", buttons}};
            for (const char* field : {"brand", "model", "notes"}) {
                const char* value = kobc_remote_field(remotes.get(), at, field);
                j[field] = value ? nlohmann::json(value) : nullptr;
            }
            std::fprintf(toolOut(), "%s\n", j.dump().c_str());
        }
        return 0;
    }
    nlohmann::json all = nlohmann::json::array();
    for (std::size_t n = 0; n < remotes.count(); ++n) {
        const std::size_t count = remotes.buttonCount(n);
        if (json)
            all.push_back({{"name", remotes.name(n)}, {"buttons", count}});
        else
            std::fprintf(toolOut(), "%s %zu %s\n", remotes.name(n).c_str(), count,
                         count == 1 ? "button" : "buttons");
    }
    if (json) std::fprintf(toolOut(), "%s\n", all.dump().c_str());
    // What could be read is listed; a file that could not is an error.
    if (!library->problems.empty()) throw UsageError(problemLine(*library));
    return 0;
}

struct LearnArgs {
    std::string remote;
    std::vector<std::string> buttons;
    bool all = false;
    bool force = false;
    int frequency = 0;
    double timeout = 30;
};

int runLearn(Simulation& sim, const Options& o, const LearnArgs& a) {
    if (!a.all && a.buttons.size() != 1)
        throw UsageError("remote learn REMOTE BUTTON learns one button (--all BUTTON... several)");
    std::set<std::string> seen;
    for (const auto& button : a.buttons)
        if (!seen.insert(button).second)
            throw UsageError("button \"" + button + "\" is named twice");
    // Said before the buttons are pressed, not after: names that may not
    // be used, buttons that exist, a file that cannot be read.
    checkButtonNames(a.remote, a.buttons);
    const auto library = loadLibrary();
    const std::string dir = library->dir;
    const long at = kobc_remotes_find(library->remotes.get(), a.remote.c_str());
    const std::string problem = fileProblem(*library, a.remote);
    if (!problem.empty()) throw UsageError(problem);
    if (at >= 0 && !a.force)
        for (const auto& button : a.buttons)
            if (kobc_remote_find_button(library->remotes.get(), static_cast<std::size_t>(at),
                                        button.c_str()) >= 0)
                throw Failure("button \"" + button + "\" of remote \"" + a.remote +
                              "\" exists (--force replaces it)");

    sim.pressWhenLearning();
    Session session(sim);
    const std::string target = session.oneDevice(o.serial, o.wait);
    for (std::size_t n = 0; n < a.buttons.size(); ++n) {
        const std::string& name = a.buttons[n];
        std::fprintf(stderr, "press and hold %s on the remote (%zu of %zu)\n", name.c_str(), n + 1,
                     a.buttons.size());
        const std::string ccf = learnCode(session, sim, target, a.frequency, a.timeout);
        const auto learned = learnedButton(name, ccf);
        char message[512] = "";
        check(kobc_library_put_button(dir.c_str(), a.remote.c_str(), &learned->button, a.force,
                                      message, sizeof message),
              message);
        std::fprintf(toolOut(), "%s/%s %s\n", a.remote.c_str(), name.c_str(),
                     buttonText(learned->button).c_str());
        std::fflush(toolOut());
    }
    return 0;
}

struct ImportArgs {
    std::string file;
    std::string format;
    std::string as;
    bool force = false;
};

int formatNamed(const std::string& name) {
    const int format = kobc_format_find(name.c_str());
    if (format == KOBC_FORMAT_GUESS)
        throw UsageError("unknown format \"" + name +
                         "\" (flipper, irdb, lirc, pronto, broadlink, gc, json)");
    return format;
}

int runImport(const ImportArgs& a) {
    std::error_code kind;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(a.file), kind))
        throw UsageError("cannot read " + a.file);
    std::ifstream in(std::filesystem::u8path(a.file), std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in || in.bad()) throw UsageError("cannot read " + a.file);
    const int format = a.format.empty()
                           ? kobc_format_guess(a.file.c_str(), text.data(), text.size())
                           : formatNamed(a.format);
    if (format == KOBC_FORMAT_GUESS)
        throw UsageError("cannot tell the format of " + a.file + " (give --format)");
    Remotes remotes;
    char message[512] = "";
    const int read = kobc_remotes_read(remotes.get(), format, text.data(), text.size(),
                                       a.file.c_str(), message, sizeof message);
    if (read != KOBC_OK) throw UsageError(message[0] ? message : kobc_error_text(read));
    if (remotes.count() == 0) throw UsageError(a.file + " holds no remote");
    if (!a.as.empty()) {
        if (remotes.count() > 1)
            throw UsageError(a.file + " holds " + std::to_string(remotes.count()) +
                             " remotes; --as names one");
        check(kobc_remote_rename(remotes.get(), 0, nullptr, a.as.c_str(), message, sizeof message),
              message);
    }
    const auto library = loadLibrary();
    if (!a.force)
        for (std::size_t n = 0; n < remotes.count(); ++n)
            if (kobc_remotes_find(library->remotes.get(), remotes.name(n).c_str()) >= 0)
                throw Failure("remote \"" + remotes.name(n) +
                              "\" exists (--force replaces it, --as NAME stores it as another)");
    for (std::size_t n = 0; n < remotes.count(); ++n) {
        check(kobc_library_store(library->dir.c_str(), remotes.get(), n, a.force, message,
                                 sizeof message),
              message);
        const std::size_t count = remotes.buttonCount(n);
        std::fprintf(toolOut(), "%s %zu %s\n", remotes.name(n).c_str(), count,
                     count == 1 ? "button" : "buttons");
    }
    return 0;
}

// Writes text to path in one step: a new file beside it, renamed over it.
void replaceFile(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    const fs::path target = fs::u8path(path);
    fs::path temp = target;
    temp += ".new-" + std::to_string(std::random_device{}());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!(out << text) || !out.flush()) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            throw Failure("cannot write " + path);
        }
    }
    std::error_code error;
    fs::rename(temp, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw Failure("cannot write " + path + ": " + error.message());
    }
}

struct ExportArgs {
    std::string remote;
    std::string format;
    std::string output;
};

int runExport(const ExportArgs& a) {
    const int format = formatNamed(a.format);
    const auto library = loadLibrary();
    const std::size_t at = findRemote(*library, a.remote);
    char message[512] = "";
    std::size_t needed = 0;
    const long remote = static_cast<long>(at);
    const int sized = kobc_remotes_write(library->remotes.get(), remote, format, nullptr, 0,
                                         &needed, message, sizeof message);
    if (sized != KOBC_E_SPACE) check(sized, message);
    std::string text(needed, '\0');
    check(kobc_remotes_write(library->remotes.get(), remote, format, &text[0], text.size(), &needed,
                             message, sizeof message),
          message);
    text.resize(std::char_traits<char>::length(text.c_str()));
    if (a.output.empty() || a.output == "-") {
        if (std::fwrite(text.data(), 1, text.size(), toolOut()) != text.size())
            throw Failure("cannot write to standard output");
        return 0;
    }
    replaceFile(a.output, text);
    return 0;
}

int runRename(const std::vector<std::string>& names) {
    if (names.size() < 2 || names.size() > 3) throw UsageError("remote rename REMOTE [BUTTON] NEW");
    const std::string dir = libraryDir();
    const char* button = names.size() == 3 ? names[1].c_str() : nullptr;
    char message[512] = "";
    check(kobc_library_rename(dir.c_str(), names[0].c_str(), button, names.back().c_str(), message,
                              sizeof message),
          message);
    return 0;
}

int runRemove(const std::string& remote, const std::string& button) {
    const std::string dir = libraryDir();
    char message[512] = "";
    check(kobc_library_remove(dir.c_str(), remote.c_str(),
                              button.empty() ? nullptr : button.c_str(), message, sizeof message),
          message);
    return 0;
}

}  // namespace

void addRemoteCommands(CLI::App& app, Simulation& sim, Options& o, std::function<int()>& run) {
    auto* remote = app.add_subcommand(
        "remote", "the library of remotes: list, learn, send, import, export, rename, remove");
    remote->require_subcommand(1);

    struct ListArgs {
        std::string remote;
        bool json = false;
    };
    auto list = std::make_shared<ListArgs>();
    auto* listCmd = remote->add_subcommand(
        "list", "the remotes and their button counts, or a remote's buttons");
    listCmd->add_option("REMOTE", list->remote, "list this remote's buttons and their codes");
    listCmd->add_flag("--json", list->json, "JSON instead of lines");
    listCmd->callback([&, list] { run = [list] { return runList(list->remote, list->json); }; });

    auto learn = std::make_shared<LearnArgs>();
    auto* learnCmd = remote->add_subcommand(
        "learn", "learn a button (--all: several, one after another) and store it");
    learnCmd->add_option("REMOTE", learn->remote, "the remote (made when missing)")->required();
    learnCmd->add_option("BUTTON", learn->buttons, "the button (with --all: every button)")
        ->required();
    learnCmd->add_flag("--all", learn->all, "learn each BUTTON in turn");
    learnCmd->add_flag("--force", learn->force, "replace buttons that exist");
    learnCmd
        ->add_option("--frequency", learn->frequency,
                     "carrier in Hz, 10000 to 500000 (default: measured)")
        ->check(wholeFrom(10000, 500000, "Hz"));
    learnCmd
        ->add_option("--timeout", learn->timeout, "seconds per button until giving up (default 30)")
        ->check(secondsFrom(0, 86400, false));
    learnCmd->callback([&, learn] { run = [&, learn] { return runLearn(sim, o, *learn); }; });

    struct RemoteSendArgs {
        std::string remote, button;
        int emitters = 1;
        int repeat = 0;
    };
    auto send = std::make_shared<RemoteSendArgs>();
    auto* sendCmd = remote->add_subcommand("send", "send a button and wait for \"IR Sent\"");
    sendCmd->add_option("REMOTE", send->remote, "the remote")->required();
    sendCmd->add_option("BUTTON", send->button, "its button")->required();
    sendCmd->add_option("--repeat", send->repeat, "repeats of the repeat sequence (default 0)")
        ->check(wholeFrom(0, 255));
    sendCmd->add_option("--emitters", send->emitters, "bitmask of the emitters (default 1)")
        ->check(wholeFrom(1, 255));
    sendCmd->add_option("--timeout", o.timeout, "seconds to wait for \"IR Sent\" (default 10)")
        ->check(secondsFrom(0, 86400, false));
    sendCmd->callback([&, send] {
        run = [&, send] {
            return sendCode(sim, o, send->remote + "/" + send->button, send->emitters,
                            send->repeat);
        };
    });

    auto import = std::make_shared<ImportArgs>();
    auto* importCmd =
        remote->add_subcommand("import", "store every remote of a code file in the library");
    importCmd->add_option("FILE", import->file, "the code file")->required();
    importCmd->add_option("--format", import->format,
                          "flipper, irdb, lirc, pronto, broadlink, gc or json (default: from the "
                          "file's name, else its text)");
    importCmd->add_option("--as", import->as, "store the file's one remote under this name");
    importCmd->add_flag("--force", import->force, "replace remotes that exist");
    importCmd->callback([&, import] { run = [import] { return runImport(*import); }; });

    auto exportArgs = std::make_shared<ExportArgs>();
    auto* exportCmd = remote->add_subcommand("export", "write a remote as a code file");
    exportCmd->add_option("REMOTE", exportArgs->remote, "the remote")->required();
    exportCmd
        ->add_option("--format", exportArgs->format,
                     "flipper, irdb, lirc, pronto, broadlink, gc or json")
        ->required();
    exportCmd->add_option("-o,--output", exportArgs->output,
                          "the file to write (replaced in one step; default standard output)");
    exportCmd->callback([&, exportArgs] { run = [exportArgs] { return runExport(*exportArgs); }; });

    auto names = std::make_shared<std::vector<std::string>>();
    auto* renameCmd = remote->add_subcommand("rename", "rename a remote, or one of its buttons");
    renameCmd->add_option("NAMES", *names, "REMOTE [BUTTON] NEW")->required()->expected(2, 3);
    renameCmd->callback([&, names] { run = [names] { return runRename(*names); }; });

    auto removed = std::make_shared<std::pair<std::string, std::string>>();
    auto* removeCmd = remote->add_subcommand("remove", "remove a remote, or one of its buttons");
    removeCmd->add_option("REMOTE", removed->first, "the remote")->required();
    removeCmd->add_option("BUTTON", removed->second, "only this button");
    removeCmd->callback(
        [&, removed] { run = [removed] { return runRemove(removed->first, removed->second); }; });
}

}  // namespace kob
