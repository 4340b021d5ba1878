// What the library folder needs of the operating system: a lock on the
// folder, a file replaced in one step, and the folder used by default.
// One file per system (library_folder_posix.cpp, library_folder_win32.cpp)
// implements these; paths are UTF-8.
#pragma once

#include <string>

namespace kobc {

// The lock on a folder (its file ".lock"), held from lock() until this is
// destroyed. Processes and threads that lock the same folder take turns.
class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Waits for the lock; false with the reason in why.
    bool lock(const std::string& dir, std::string& why);

  private:
    void* handle_ = nullptr;  // the open lock file
};

// Writes text to a new file of dir, flushes it to the disk and renames it
// over path: a reader sees the old file or the new one, never a part.
// false with the reason in why (path is then unchanged).
bool replaceFile(const std::string& dir, const std::string& path, const std::string& text,
                 std::string& why);

// The folder from the environment (see kobc_library_default_dir); "" when
// no variable gives one.
std::string defaultLibraryDir();

}  // namespace kobc
