#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "cli/Platform.h"
#include "link/FailureHint.h"
#include "support/Exception.h"

extern char** environ;

namespace {
class PosixChild : public ChildProgram {
  public:
    PosixChild(pid_t pid, int output) : pid_(pid), output_(output) {}
    ~PosixChild() override {
        if (output_ >= 0) {
            ::close(output_);
        }
        wait();
    }
    size_t readSome(char* bytes, size_t size) override {
        for (;;) {
            const ssize_t n = output_ < 0 ? 0 : ::read(output_, bytes, size);
            if (n >= 0 || errno != EINTR) {
                return n > 0 ? static_cast<size_t>(n) : 0;
            }
        }
    }
    int wait() override {
        if (pid_ > 0) {
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
            pid_ = -1;
        }
        return code_;
    }

  private:
    pid_t pid_;
    int output_;
    int code_ = 1;
};
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

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string selfPath() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("ostraloader-cli");
}

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
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (error != 0) {
        ::close(pipe[0]);
        throw Exception("cannot start %s, err: %d", program.c_str(), error);
    }
    return std::make_unique<PosixChild>(pid, pipe[0]);
}
