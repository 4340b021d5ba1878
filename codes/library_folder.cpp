// The library folder: one Flipper .ir file per remote, named after it.
// Every change reads the remote's file afresh under the folder's lock and
// replaces it in one step; a file that cannot be read is reported and
// left as it is.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "code_file.h"
#include "koblib_codes.h"
#include "library_folder.h"
#include "message.h"
#include "remote.h"

namespace kobc {

namespace {

namespace fs = std::filesystem;

constexpr const char* kExtension = ".ir";

// A kobc_remotes freed when it goes out of scope.
struct Remotes {
    kobc_remotes* set = kobc_remotes_new();
    ~Remotes() { kobc_remotes_free(set); }
    Remotes() {
        if (set == nullptr) throw std::bad_alloc();
    }
    Remotes(const Remotes&) = delete;
    Remotes& operator=(const Remotes&) = delete;
};

// What a failing step says: an error and its sentence.
struct Result {
    int error = KOBC_OK;
    std::string what;
    bool ok() const { return error == KOBC_OK; }
};

Result failed(int error, std::string what) {
    return {error, std::move(what)};
}

int report(const Result& result, char* message, std::size_t size) {
    if (result.ok()) {
        clearMessage(message, size);
        return KOBC_OK;
    }
    return fail(result.error, message, size, "%s", result.what.c_str());
}

std::string remotePath(const std::string& dir, const std::string& name) {
    return (fs::u8path(dir) / fs::u8path(name + kExtension)).u8string();
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

Result checkName(const std::string& name) {
    std::string why;
    if (!validName(name, true, why)) return failed(KOBC_E_NAME, why);
    return {};
}

Result readText(const std::string& path, std::string& text) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) return failed(KOBC_E_IO, "cannot read " + path);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return failed(KOBC_E_IO, "cannot read " + path);
    return {};
}

// Reads the file of remote `name` into remotes, under that name.
Result readRemote(const std::string& path, const std::string& name, kobc_remotes* remotes) {
    std::string text;
    Result result = readText(path, text);
    if (!result.ok()) return result;
    const std::size_t before = kobc_remotes_count(remotes);
    char message[512] = "";
    const int error = kobc_remotes_read(remotes, KOBC_FORMAT_FLIPPER, text.data(), text.size(),
                                        path.c_str(), message, sizeof message);
    if (error != KOBC_OK) return failed(error, message[0] ? message : kobc_error_text(error));
    const std::size_t added = kobc_remotes_count(remotes) - before;
    if (added != 1) {
        for (std::size_t n = added; n > 0; --n)
            kobc_remote_remove(remotes, before + n - 1, nullptr);
        return failed(KOBC_E_FILE, path + ": holds " + std::to_string(added) +
                                       " remotes; a library file holds one");
    }
    // The file's name is the remote's, whatever the file may say.
    const char* read = kobc_remote_name(remotes, before);
    if (read == nullptr || name != read) {
        const int renamed =
            kobc_remote_rename(remotes, before, nullptr, name.c_str(), message, sizeof message);
        if (renamed != KOBC_OK) {
            kobc_remote_remove(remotes, before, nullptr);
            return failed(renamed, path + ": " + message);
        }
    }
    return {};
}

// Writes remote index of remotes to path in one step.
Result writeRemote(const std::string& dir, const std::string& path, const kobc_remotes* remotes,
                   std::size_t index) {
    std::string text;
    FileError error;
    if (!writeLibraryFile(remotes->remotes.at(index), text, error))
        return failed(error.error, error.what);
    std::string why;
    if (!replaceFile(dir, path, text, why)) return failed(KOBC_E_IO, why);
    return {};
}

Result makeFolder(const std::string& dir) {
    std::error_code error;
    fs::create_directories(fs::u8path(dir), error);
    if (error) return failed(KOBC_E_IO, "cannot make the folder " + dir + ": " + error.message());
    return {};
}

Result lockFolder(FolderLock& lock, const std::string& dir) {
    std::string why;
    if (!lock.lock(dir, why)) return failed(KOBC_E_IO, why);
    return {};
}

Result notStored(const std::string& dir, const std::string& remote) {
    return failed(KOBC_E_NOT_FOUND, "no remote \"" + remote + "\" in the library " + dir);
}

// Runs body, turning what it throws into an error.
template <typename Body>
int guarded(char* message, std::size_t size, Body body) {
    try {
        return report(body(), message, size);
    } catch (const std::bad_alloc&) {
        return fail(KOBC_E_MEMORY, message, size, "out of memory");
    } catch (const std::exception& e) {
        return fail(KOBC_E_IO, message, size, "%s", e.what());
    } catch (...) {
        return fail(KOBC_E_IO, message, size, "the library folder could not be used");
    }
}

}  // namespace

}  // namespace kobc

using namespace kobc;

extern "C" KOBC_API int kobc_library_default_dir(char* path, size_t path_size) {
    try {
        const std::string dir = defaultLibraryDir();
        if (dir.empty()) return KOBC_E_NOT_FOUND;
        if (path == nullptr || path_size <= dir.size()) return KOBC_E_SPACE;
        std::memcpy(path, dir.c_str(), dir.size() + 1);
        return KOBC_OK;
    } catch (...) {
        return KOBC_E_MEMORY;
    }
}

extern "C" KOBC_API int kobc_library_load(const char* dir, kobc_remotes* remotes,
                                          kobc_library_problem_fn problem, void* context,
                                          char* message, size_t message_size) {
    if (dir == nullptr || remotes == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no folder or no remotes");
    return guarded(message, message_size, [&]() -> Result {
        const fs::path folder = fs::u8path(dir);
        std::error_code error;
        const auto status = fs::status(folder, error);
        if (status.type() == fs::file_type::not_found) return {};
        if (error || status.type() != fs::file_type::directory)
            return failed(KOBC_E_IO, std::string(dir) + " is not a folder");
        std::vector<std::string> names;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().u8string();
            const std::size_t n = std::strlen(kExtension);
            if (name.size() <= n || name[0] == '.' || name.compare(name.size() - n, n, kExtension))
                continue;
            std::error_code kind;
            if (it->is_directory(kind)) continue;
            names.push_back(name);
        }
        if (error)
            return failed(KOBC_E_IO, std::string("cannot list ") + dir + ": " + error.message());
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            const std::string remote = name.substr(0, name.size() - std::strlen(kExtension));
            const std::string path = remotePath(dir, remote);
            Result result = checkName(remote);
            if (result.ok()) {
                result = readRemote(path, remote, remotes);
            } else {
                result.what = path + ": the file's name is no remote name: " + result.what;
            }
            if (!result.ok() && problem != nullptr)
                problem(context, path.c_str(), result.what.c_str());
        }
        return {};
    });
}

extern "C" KOBC_API int kobc_library_store(const char* dir, const kobc_remotes* remotes,
                                           size_t remote, int replace, char* message,
                                           size_t message_size) {
    if (dir == nullptr || remotes == nullptr || remote >= kobc_remotes_count(remotes))
        return fail(KOBC_E_ARGUMENT, message, message_size, "no folder, or no such remote");
    return guarded(message, message_size, [&]() -> Result {
        const std::string name = kobc_remote_name(remotes, remote);
        Result result = checkName(name);
        if (result.ok()) result = makeFolder(dir);
        FolderLock lock;
        if (result.ok()) result = lockFolder(lock, dir);
        if (!result.ok()) return result;
        const std::string path = remotePath(dir, name);
        if (exists(path)) {
            if (!replace)
                return failed(KOBC_E_EXISTS,
                              "remote \"" + name + "\" is in the library " + dir + " already");
            // A file that cannot be read is not replaced unseen.
            Remotes stored;
            result = readRemote(path, name, stored.set);
            if (!result.ok()) return result;
        }
        return writeRemote(dir, path, remotes, remote);
    });
}

extern "C" KOBC_API int kobc_library_put_button(const char* dir, const char* remote,
                                                const kobc_button* button, int replace,
                                                char* message, size_t message_size) {
    if (dir == nullptr || remote == nullptr || button == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no folder, remote or button");
    return guarded(message, message_size, [&]() -> Result {
        Result result = checkName(remote);
        if (result.ok()) result = makeFolder(dir);
        FolderLock lock;
        if (result.ok()) result = lockFolder(lock, dir);
        if (!result.ok()) return result;
        const std::string path = remotePath(dir, remote);
        Remotes stored;
        if (exists(path)) {
            result = readRemote(path, remote, stored.set);
        } else {
            char why[256] = "";
            const int error = kobc_remotes_add(stored.set, remote, nullptr, why, sizeof why);
            if (error != KOBC_OK) result = failed(error, why);
        }
        if (!result.ok()) return result;
        char why[256] = "";
        const int error = kobc_remote_put_button(stored.set, 0, button, replace, why, sizeof why);
        if (error != KOBC_OK) return failed(error, why[0] ? why : kobc_error_text(error));
        return writeRemote(dir, path, stored.set, 0);
    });
}

extern "C" KOBC_API int kobc_library_rename(const char* dir, const char* remote, const char* button,
                                            const char* new_name, char* message,
                                            size_t message_size) {
    if (dir == nullptr || remote == nullptr || new_name == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no folder, remote or new name");
    return guarded(message, message_size, [&]() -> Result {
        Result result = checkName(remote);
        if (!result.ok()) return result;
        const std::string path = remotePath(dir, remote);
        if (!exists(path)) return notStored(dir, remote);
        FolderLock lock;
        result = lockFolder(lock, dir);
        if (!result.ok()) return result;
        if (!exists(path)) return notStored(dir, remote);
        Remotes stored;
        result = readRemote(path, remote, stored.set);
        if (!result.ok()) return result;
        char why[256] = "";
        if (button != nullptr) {
            const int error = kobc_remote_rename(stored.set, 0, button, new_name, why, sizeof why);
            if (error != KOBC_OK) return failed(error, why[0] ? why : kobc_error_text(error));
            return writeRemote(dir, path, stored.set, 0);
        }
        if (std::string(new_name) == remote) return {};
        result = checkName(new_name);
        if (!result.ok()) return result;
        const std::string target = remotePath(dir, new_name);
        if (exists(target))
            return failed(KOBC_E_EXISTS, "remote \"" + std::string(new_name) +
                                             "\" is in the library " + dir + " already");
        const int error = kobc_remote_rename(stored.set, 0, nullptr, new_name, why, sizeof why);
        if (error != KOBC_OK) return failed(error, why[0] ? why : kobc_error_text(error));
        // The new file first: a crash between the steps leaves both, not neither.
        result = writeRemote(dir, target, stored.set, 0);
        if (!result.ok()) return result;
        std::error_code removed;
        fs::remove(fs::u8path(path), removed);
        if (removed) return failed(KOBC_E_IO, "cannot remove " + path + ": " + removed.message());
        return {};
    });
}

extern "C" KOBC_API int kobc_library_remove(const char* dir, const char* remote, const char* button,
                                            char* message, size_t message_size) {
    if (dir == nullptr || remote == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no folder or remote");
    return guarded(message, message_size, [&]() -> Result {
        Result result = checkName(remote);
        if (!result.ok()) return result;
        const std::string path = remotePath(dir, remote);
        if (!exists(path)) return notStored(dir, remote);
        FolderLock lock;
        result = lockFolder(lock, dir);
        if (!result.ok()) return result;
        if (!exists(path)) return notStored(dir, remote);
        if (button == nullptr) {
            // Also the way to be rid of a file that cannot be read.
            std::error_code removed;
            fs::remove(fs::u8path(path), removed);
            if (removed)
                return failed(KOBC_E_IO, "cannot remove " + path + ": " + removed.message());
            return {};
        }
        Remotes stored;
        result = readRemote(path, remote, stored.set);
        if (!result.ok()) return result;
        const int error = kobc_remote_remove(stored.set, 0, button);
        if (error == KOBC_E_NOT_FOUND)
            return failed(
                error, "remote \"" + std::string(remote) + "\" has no button \"" + button + "\"");
        if (error != KOBC_OK) return failed(error, kobc_error_text(error));
        return writeRemote(dir, path, stored.set, 0);
    });
}
