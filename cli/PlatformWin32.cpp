#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>

#include "cli/Platform.h"
#include "support/Exception.h"
#include "support/Files.h"

namespace {
// One argument as the child's command line parser (CommandLineToArgvW's rules) reads it
// back: quoted when it holds a space, tab or quote, backslashes doubled before a quote.
std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(2 * slashes, L'\\');
    return quoted + L"\"";
}

class WinChild : public ChildProgram {
  public:
    WinChild(HANDLE process, HANDLE output) : process_(process), output_(output) {}
    ~WinChild() override {
        ::CloseHandle(output_);
        wait();
        ::CloseHandle(process_);
    }
    size_t readSome(char* bytes, size_t size) override {
        DWORD n = 0;
        return ::ReadFile(output_, bytes, static_cast<DWORD>(size), &n, nullptr) ? n : 0;
    }
    int wait() override {
        ::WaitForSingleObject(process_, INFINITE);
        DWORD code = 1;
        ::GetExitCodeProcess(process_, &code);
        return static_cast<int>(code);
    }

  private:
    HANDLE process_;
    HANDLE output_;
};
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

std::unique_ptr<ChildProgram> startChild(const std::string& program,
                                         const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) {
        throw Exception("cannot start %s: no pipe, Windows error %lu", program.c_str(),
                        ::GetLastError());
    }
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);  // the child gets only its end
    std::wstring line = quoteArgument(widen(program));
    for (const std::string& arg : args) {
        line += L" " + quoteArgument(widen(arg));
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    const BOOL started = ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &child);
    const DWORD error = ::GetLastError();
    ::CloseHandle(write);
    if (!started) {
        ::CloseHandle(read);
        throw Exception("cannot start %s, Windows error %lu", program.c_str(), error);
    }
    ::CloseHandle(child.hThread);
    return std::make_unique<WinChild>(child.hProcess, read);
}
