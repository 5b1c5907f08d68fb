#pragma once
// What the tests of the command-line program share: running it (at once, or in the
// background in a process group of its own as a terminal starts it), virtual instruments
// on COM aliases as a station's tray is wired, and the report's lines.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "link/FailureHint.h"
#include "link/PortNames.h"
#include "sim/VirtualInstrument.h"
#include "tests/TestSupport.h"

using Bytes = std::vector<uint8_t>;

// Exit code, and what the program wrote to its standard output and error.
inline std::pair<int, std::string> run(const TempDir& dir, const char* program,
                                       const std::string& args) {
    const std::string output = dir.path("output.txt");
    const int status =
        std::system((std::string(program) + " " + args + " >" + output + " 2>&1").c_str());
    const Bytes text = readFileBytes(output);
    return {WEXITSTATUS(status), std::string(text.begin(), text.end())};
}

inline SimConfig type(uint8_t deviceType) {
    SimConfig c;
    c.deviceType = deviceType;
    c.eraseDelayMs = 300;
    return c;
}

// Virtual instruments on COM aliases of a private folder, as a station's tray is wired;
// firmware 1.5 loaded in each.
struct Tray {
    explicit Tray(const TempDir& dir) { ::setenv("XDG_RUNTIME_DIR", dir.dir.c_str(), 1); }
    ~Tray() {
        instruments.clear();
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    VirtualInstrument& add(const std::string& com, const char* fault = nullptr,
                           uint8_t deviceType = 1, uint32_t baud = 0) {
        SimConfig c = type(deviceType);
        c.firmwareMajor = 1;
        c.firmwareMinor = 5;
        c.firmwareLoaded = true;
        c.firmwareSize = 65536;
        instruments.push_back(std::make_unique<VirtualInstrument>(c));
        if (fault != nullptr)
            instruments.back()->addFault(parseSimFault(fault));
        instruments.back()->setBaud(baud);
        instruments.back()->registerAlias(com);
        instruments.back()->start();
        return *instruments.back();
    }
    // Pulls the instrument on `com` out and plugs it in again: its alias goes and comes.
    static void replug(const std::string& com) {
        const std::string alias = portAliasFolder() + "/" + com;
        ASSERT_EQ(std::rename(alias.c_str(), (alias + ".away").c_str()), 0) << alias;
        ASSERT_EQ(std::rename((alias + ".away").c_str(), alias.c_str()), 0) << alias;
    }
    std::vector<std::unique_ptr<VirtualInstrument>> instruments;
};

// Waits up to 30 s for `done`.
inline bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// The command line at work in the background, in a process group of its own as a
// terminal starts it, so that a Ctrl-C (SIGINT to the group) or a copy's death can come
// while it works. Its output goes to a file.
class Background {
  public:
    // `shell`: run first by the shell that starts it (a limit, say).
    Background(const TempDir& dir, const std::string& args, const std::string& shell = "")
        : output_(dir.path("background.txt")) {
        writeFileBytes(output_, {});  // there to be read before the shell has opened it
        const std::string line = shell + "exec " OSTRA_CLI " " + args + " >" + output_ + " 2>&1";
        const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        EXPECT_EQ(
            posix_spawn(&pid_, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv), environ),
            0);
        posix_spawnattr_destroy(&attributes);
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            wait();
        }
    }
    // Ctrl-C, as a terminal sends it: to every process of the group.
    void interrupt() { ::kill(-pid_, SIGINT); }
    // A signal to the command line alone, not to its copies.
    void signal(int number) { ::kill(pid_, number); }
    pid_t pid() const { return pid_; }
    // The wait status, or -1 when it has not ended within a minute (it is then killed).
    int wait() {
        int status = -1;
        for (int i = 0; i < 6000 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            status = -1;
        }
        pid_ = -1;
        return status;
    }
    std::string output() const {
        const Bytes text = readFileBytes(output_);
        return std::string(text.begin(), text.end());
    }

  private:
    std::string output_;
    pid_t pid_ = -1;
};

// A wait status as a shell tells it: the exit code, or 128 + the signal that ended it.
inline int exitOf(int status) {
    return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The process of the station's copy that holds the instrument's line.
inline pid_t copyServing(const VirtualInstrument& sim) {
    for (const std::string& holder : portHolders(sim.devicePath())) {
        if (holder.rfind("ostraloader-cli (process ", 0) == 0)
            return static_cast<pid_t>(std::atol(holder.c_str() + 25));
    }
    return -1;
}

inline std::string sha256Hex(const Bytes& bytes) {
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    return hexBytes(digest, size);
}
