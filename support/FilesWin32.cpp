#include <sys/stat.h>
#include <windows.h>

#include <cwchar>

#include "support/Files.h"

std::wstring widen(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          &wide[0], n);
    return wide;
}

StdioFile openFile(const std::string& path, const char* mode) {
    const std::wstring wide = widen(path);
    if (wide.empty()) {
        // Not UTF-8: a name in the ANSI code page, as older callers give it.
        return StdioFile(std::fopen(path.c_str(), mode));
    }
    return StdioFile(::_wfopen(wide.c_str(), widen(mode).c_str()));
}

bool fileSize(const std::string& path, uint64_t& size) {
    const std::wstring wide = widen(path);
    struct _stat64 st;
    const int rc = wide.empty() ? ::_stat64(path.c_str(), &st) : ::_wstat64(wide.c_str(), &st);
    if (rc != 0) {
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

int64_t bytesLeft(FILE* file) {
    const int64_t here = ::_ftelli64(file);
    if (here < 0 || ::_fseeki64(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const int64_t end = ::_ftelli64(file);
    ::_fseeki64(file, here, SEEK_SET);
    return end < here ? -1 : end - here;
}

namespace {
std::string windowsError(DWORD error) {
    return "Windows error " + std::to_string(error);
}
}  // namespace

std::string appendToFile(const std::string& path, const std::string& text, bool durable) {
    // FILE_APPEND_DATA alone: every write goes to the end, as one piece.
    HANDLE h =
        ::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return windowsError(::GetLastError());
    }
    DWORD written = 0;
    const BOOL ok = ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    DWORD error = ::GetLastError();
    const bool flushed = !ok || !durable || ::FlushFileBuffers(h);
    error = flushed ? error : ::GetLastError();
    ::CloseHandle(h);
    if (!ok) {
        return windowsError(error);
    }
    if (written != text.size()) {
        return "only part of the text was written";
    }
    return flushed ? "" : "not put on the disk: " + windowsError(error);
}

std::string replaceFile(const std::string& path, const std::string& text) {
    const std::wstring target = widen(path), scratch = widen(path + ".new");
    HANDLE h = ::CreateFileW(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return windowsError(::GetLastError());
    }
    DWORD written = 0;
    const bool synced =
        ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && ::FlushFileBuffers(h);
    DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (synced && ::MoveFileExW(scratch.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return "";
    }
    error = synced ? ::GetLastError() : error;
    ::DeleteFileW(scratch.c_str());
    return windowsError(error);
}

bool removeFile(const std::string& path) {
    return ::DeleteFileW(widen(path).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

FileLock::FileLock(const std::string& path) {
    // Opened without sharing: nobody else opens it while it is held. Deleting is shared, so
    // that a holder may remove the file it holds.
    HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    held_ = h != INVALID_HANDLE_VALUE;
    handle_ = reinterpret_cast<intptr_t>(h);
}

FileLock::~FileLock() {
    if (held_) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}
