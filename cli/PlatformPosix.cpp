#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <thread>

#include "cli/Platform.h"
#include "link/FailureHint.h"

namespace {
// The signal handler only writes the signal's number here; a thread of its own reads it
// and calls the handler, where anything may be done.
int interruptPipe[2] = {-1, -1};
std::atomic<int> lastSignal{SIGINT};
std::mutex handlerMutex;
std::function<void(bool)> interruptHandler;

void onSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &number, 1);
    errno = saved;
}

void readInterrupts() {
    for (;;) {
        unsigned char number = 0;
        const ssize_t n = ::read(interruptPipe[0], &number, 1);
        if (n == 1) {
            lastSignal = number;
            std::lock_guard<std::mutex> lock(handlerMutex);
            if (interruptHandler) {
                interruptHandler(number == SIGQUIT || number == SIGPWR);
            }
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}
}  // namespace

PortAccess portAccess(const std::string& device) {
    PortAccess access;
    struct stat st;
    access.present = ::stat(device.c_str(), &st) == 0;
    access.accessible = access.present && ::access(device.c_str(), R_OK | W_OK) == 0;
    access.note = !access.present     ? "not present"
                  : access.accessible ? "available"
                                      : "no permission";
    if (access.present && !access.accessible) {
        access.note += ": " + permissionAdvice(device);
    }
    return access;
}

bool outputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

bool inputIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string selfPath() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("ostraloader-cli");
}

void onInterrupt(std::function<void(bool sessionEnds)> handler) {
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        interruptHandler = std::move(handler);
        if (interruptPipe[0] >= 0) {
            return;
        }
        if (::pipe2(interruptPipe, O_CLOEXEC) != 0) {
            return;  // an interrupt then ends the program as it always did
        }
    }
    std::thread(readInterrupts).detach();
    // A terminal that hangs up makes writes to it fail: the program goes on without it.
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // Signals that leave no time to wait: the power failing (a UPS's daemon), a user who
    // wants out at once. They end as a session does.
    for (const int signal : {SIGQUIT, SIGPWR}) {
        ::sigaction(signal, &action, nullptr);
    }
}

void endAsInterrupted() {
    const int signal = lastSignal.load();
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

void ignoreInterrupts() {}

void endWithStation() {
    ::signal(SIGTERM, SIG_DFL);  // ends the copy as the station's second stop does
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // A station that ended before that call has closed the other end of the copy's output.
    pollfd output = {STDOUT_FILENO, 0, 0};
    if (::poll(&output, 1, 0) == 1 && (output.revents & POLLERR) != 0) {
        ::_exit(1);
    }
}
