// The library folder on POSIX systems: flock on the lock file, mkstemp,
// fsync and rename.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "library_folder.h"

namespace kobc {

namespace {

std::string errorText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

int fdOf(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)) - 1;
}

bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FolderLock::~FolderLock() {
    if (handle_ != nullptr) ::close(fdOf(handle_));  // closing lets go of the lock
}

bool FolderLock::lock(const std::string& dir, std::string& why) {
    const std::string path = dir + "/.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = errorText("cannot open " + path);
        return false;
    }
    int result;
    while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        why = errorText("cannot lock " + path);
        ::close(fd);
        return false;
    }
    handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
    return true;
}

bool replaceFile(const std::string& dir, const std::string& path, const std::string& text,
                 std::string& why) {
    std::string temp = dir + "/.new-XXXXXX";
    const int fd = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) {
        why = errorText("cannot make a file in " + dir);
        return false;
    }
    bool written = ::fchmod(fd, 0644) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    if (!written) why = errorText("cannot write " + temp);
    if (::close(fd) != 0 && written) {
        why = errorText("cannot write " + temp);
        written = false;
    }
    if (written && ::rename(temp.c_str(), path.c_str()) != 0) {
        why = errorText("cannot replace " + path);
        written = false;
    }
    if (!written) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder's entry.
    const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::string defaultLibraryDir() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && value[0] != '\0' ? std::string(value) : std::string();
    };
    if (!set("KOB_LIBRARY").empty()) return set("KOB_LIBRARY");
    if (!set("XDG_DATA_HOME").empty()) return set("XDG_DATA_HOME") + "/kob/remotes";
    if (!set("HOME").empty()) return set("HOME") + "/.local/share/kob/remotes";
    return {};
}

}  // namespace kobc
