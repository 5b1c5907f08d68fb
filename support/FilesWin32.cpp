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

std::string appendToFile(const std::string& path, const std::string& text) {
    // FILE_APPEND_DATA alone: every write goes to the end, as one piece.
    HANDLE h =
        ::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return "Windows error " + std::to_string(::GetLastError());
    }
    DWORD written = 0;
    const BOOL ok = ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (!ok) {
        return "Windows error " + std::to_string(error);
    }
    return written == text.size() ? "" : "only part of the text was written";
}
