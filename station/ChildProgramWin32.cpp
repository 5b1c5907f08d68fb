#include <windows.h>

#include "station/ChildProgram.h"
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
    ChildExit wait() override {
        ::WaitForSingleObject(process_, INFINITE);
        DWORD code = 1;
        ::GetExitCodeProcess(process_, &code);
        ChildExit exit;
        exit.code = static_cast<int>(code);
        return exit;
    }
    // The handle stays open until the destructor, so this never reaches another process.
    void terminate() override { ::TerminateProcess(process_, 1); }

  private:
    HANDLE process_;
    HANDLE output_;
};

// The job every child is put in: when this program ends, however it ends, its handle
// closes and Windows ends the children, rather than leave them servicing instruments for
// nobody. Null where no job can be made: the children then outlive a killed station.
HANDLE childrenJob() {
    static const HANDLE job = [] {
        HANDLE made = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made != nullptr && !::SetInformationJobObject(made, JobObjectExtendedLimitInformation,
                                                          &limits, sizeof limits)) {
            ::CloseHandle(made);
            made = nullptr;
        }
        return made;
    }();
    return job;
}
}  // namespace

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
    // A new process group: the console's Ctrl-C is not delivered to it (its Ctrl-Break the
    // copy ignores itself), so the station alone decides what a running copy does. A parent
    // without a console (the window) gives it none either, rather than a console window.
    // Suspended until it is in the job: a station ended in between leaves nothing running.
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED |
                        (::GetConsoleWindow() == nullptr ? CREATE_NO_WINDOW : 0);
    const BOOL started = ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr,
                                          nullptr, &startup, &child);
    const DWORD error = ::GetLastError();
    ::CloseHandle(write);
    if (!started) {
        ::CloseHandle(read);
        throw Exception("cannot start %s, Windows error %lu", program.c_str(), error);
    }
    if (childrenJob() != nullptr) {
        ::AssignProcessToJobObject(childrenJob(), child.hProcess);
    }
    ::ResumeThread(child.hThread);
    ::CloseHandle(child.hThread);
    return std::make_unique<WinChild>(child.hProcess, read);
}
