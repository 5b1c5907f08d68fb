#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>
#include <mutex>

#include "cli/Platform.h"

namespace {
std::mutex handlerMutex;
std::function<void(bool)> interruptHandler;

bool sessionEnds(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !sessionEnds(event)) {
        return FALSE;
    }
    // Windows runs this on a thread of its own, and ends the program once it returns from
    // a session's end.
    std::lock_guard<std::mutex> lock(handlerMutex);
    if (interruptHandler) {
        interruptHandler(sessionEnds(event));
    }
    return TRUE;
}

// A station's copy: its station ends it, and records it, when the console goes.
BOOL WINAPI ignoreConsoleControl(DWORD event) {
    if (sessionEnds(event)) {
        ::Sleep(10000);
    }
    return TRUE;
}
}  // namespace

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

bool inputIsTerminal() {
    return ::_isatty(::_fileno(stdin)) != 0;
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

std::string selfPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), &utf8[0], size, nullptr,
                              nullptr);
    }
    return utf8;
}

void onInterrupt(std::function<void(bool sessionEnds)> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    if (!interruptHandler) {
        ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    interruptHandler = std::move(handler);
}

void endAsInterrupted() {
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

void ignoreInterrupts() {
    ::SetConsoleCtrlHandler(ignoreConsoleControl, TRUE);
}

void endWithStation() {}  // the station's job object does it
