#pragma once
// What the command line needs of its platform: whether a port's device is there and may be
// opened (for `ports`), whether output goes to a terminal, the arguments as UTF-8, and copies of
// itself run as child processes (a station runs one per instrument).
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct PortAccess {
    bool present = false;
    bool accessible = false;
    std::string note;  // "available", "not present", or what stands in the way and the cure
};

PortAccess portAccess(const std::string& device);
// Standard output is a terminal (progress bars) rather than a file or pipe (plain lines).
bool outputIsTerminal();
// The program's arguments in UTF-8, whatever the system's code page: on Windows a file
// under a folder such as "Jiří" reaches the program whole only through the wide command
// line.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// This program's own file, to run copies of it.
std::string selfPath();

// A child process whose standard output is read here, line by line; its standard error is
// this program's.
class ChildProgram {
  public:
    virtual ~ChildProgram() = default;
    // The next line without its end (nor a carriage return before it); false once the
    // child's output has ended.
    bool readLine(std::string& line) {
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                line = buffer_.substr(0, end > 0 && buffer_[end - 1] == '\r' ? end - 1 : end);
                buffer_.erase(0, end + 1);
                return true;
            }
            char chunk[4096];
            const size_t n = readSome(chunk, sizeof chunk);
            if (n == 0) {
                line.swap(buffer_);
                buffer_.clear();
                return !line.empty();
            }
            buffer_.append(chunk, n);
        }
    }
    // Waits for the child to end; its exit code (1 when it did not end normally).
    virtual int wait() = 0;

  protected:
    // Some of the child's output, at most `size` bytes; 0 once it has ended.
    virtual size_t readSome(char* bytes, size_t size) = 0;

  private:
    std::string buffer_;
};
// Starts `program` with `args` (UTF-8); throws Exception when it cannot be started.
std::unique_ptr<ChildProgram> startChild(const std::string& program,
                                         const std::vector<std::string>& args);
