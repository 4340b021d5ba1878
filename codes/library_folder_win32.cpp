// The library folder on Windows: LockFileEx on the lock file, a new file
// flushed and moved over the old one, %APPDATA%.
#include <windows.h>

#include <string>

#include "library_folder.h"

namespace kobc {

namespace {

std::wstring wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

std::string errorText(const std::string& what) {
    return what + " (Windows error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

FolderLock::~FolderLock() {
    if (handle_ != nullptr) CloseHandle(handle_);  // closing lets go of the lock
}

bool FolderLock::lock(const std::string& dir, std::string& why) {
    const std::string path = dir + "\\.lock";
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = errorText("cannot open " + path);
        return false;
    }
    OVERLAPPED at = {};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        why = errorText("cannot lock " + path);
        CloseHandle(file);
        return false;
    }
    handle_ = file;
    return true;
}

bool replaceFile(const std::string& dir, const std::string& path, const std::string& text,
                 std::string& why) {
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; n < 100 && file == INVALID_HANDLE_VALUE; ++n) {
        temp = wide(dir + "\\.new-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(GetTickCount() + n));
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        why = errorText("cannot make a file in " + dir);
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    if (!ok) why = errorText("cannot write a file in " + dir);
    CloseHandle(file);
    if (ok && !MoveFileExW(temp.c_str(), wide(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = errorText("cannot replace " + path);
        ok = false;
    }
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

std::string defaultLibraryDir() {
    const wchar_t* library = _wgetenv(L"KOB_LIBRARY");
    if (library != nullptr && library[0] != L'\0') return utf8(library);
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (appData != nullptr && appData[0] != L'\0') return utf8(appData) + "\\kob\\remotes";
    return {};
}

}  // namespace kobc
