#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "station/ChildProgram.h"
#include "support/Exception.h"

extern char** environ;

namespace {
class PosixChild : public ChildProgram {
  public:
    PosixChild(pid_t pid, int output) : pid_(pid), output_(output) {}
    ~PosixChild() override {
        ::close(output_);
        wait();
    }
    size_t readSome(char* bytes, size_t size) override {
        for (;;) {
            const ssize_t n = ::read(output_, bytes, size);
            if (n >= 0 || errno != EINTR) {
                return n > 0 ? static_cast<size_t>(n) : 0;
            }
        }
    }
    ChildExit wait() override {
        // Waited for without reaping first: until it is reaped, the process id cannot be
        // given to another process, so terminate() never signals a stranger.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!reaped_) {
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            exit_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
            exit_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            reaped_ = true;
        }
        return exit_;
    }
    void terminate() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!reaped_) {
            ::kill(pid_, SIGTERM);
        }
    }

  private:
    const pid_t pid_;
    const int output_;
    std::mutex mutex_;  // between the reaping and terminate()
    bool reaped_ = false;
    ChildExit exit_;
};
}  // namespace

std::unique_ptr<ChildProgram> startChild(const std::string& program,
                                         const std::vector<std::string>& args) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        throw Exception("cannot start %s: no pipe, err: %d", program.c_str(), errno);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    // Its own process group: a terminal's Ctrl-C goes to this program alone. No signal
    // blocked: the caller's thread may block some, and the child must still end on SIGTERM.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (error != 0) {
        ::close(pipe[0]);
        throw Exception("cannot start %s, err: %d", program.c_str(), error);
    }
    return std::make_unique<PosixChild>(pid, pipe[0]);
}
