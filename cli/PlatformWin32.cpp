#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/PortAccess.h"

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
