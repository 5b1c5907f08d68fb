#pragma once
// Programs run as children of this one and read line by line from their standard output:
// the station's copies of the command line, one per instrument (the engine is one per
// process by design). POSIX and Win32 files side by side.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// How a child ended.
struct ChildExit {
    int code = 1;    // its exit code; 1 when it did not exit by itself
    int signal = 0;  // POSIX: the signal that ended it; 0 when it exited
    // "ended by signal 9", "ended with exit code 1", "ended with status 0xc0000005".
    std::string text() const;
};

class ChildProgram {
  public:
    virtual ~ChildProgram() = default;
    // The next line without its end (nor a carriage return before it); false once the
    // child's output has ended.
    bool readLine(std::string& line);
    // Waits for the child to end.
    virtual ChildExit wait() = 0;
    // Ends the child now (POSIX: SIGTERM; Windows: TerminateProcess). Any thread may call
    // it while another reads or waits; a child already ended is left alone.
    virtual void terminate() = 0;

  protected:
    // Some of the child's output, at most `size` bytes; 0 once it has ended.
    virtual size_t readSome(char* bytes, size_t size) = 0;

  private:
    std::string buffer_;
};

// Starts `program` with `args` (UTF-8). Its standard error is this program's. The child
// gets no console signal of its own (POSIX: a process group of its own; Windows: a new
// process group), so a terminal's Ctrl-C reaches only this program, which decides what
// the children do. Throws Exception when it cannot be started.
std::unique_ptr<ChildProgram> startChild(const std::string& program,
                                         const std::vector<std::string>& args);
