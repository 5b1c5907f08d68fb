#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>

#include "cli/Platform.h"

PortAccess portAccess(const std::string& device) {
    PortAccess access;
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        access.present = access.accessible = true;
        access.note = "available";
        return access;
    }
    const DWORD error = ::GetLastError();
    access.present = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    access.note = !access.present ? "not present"
                  : error == ERROR_ACCESS_DENIED
                      ? "in use by another program"
                      : "cannot be opened, error " + std::to_string(error);
    return access;
}

bool outputIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
        if (n > 1) {
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], n, nullptr, nullptr);
        }
        args.push_back(arg);
    }
    ::LocalFree(wide);
    return args;
}
