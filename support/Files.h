#pragma once
// Files named by UTF-8 paths, as the window and the command line hand them over. On
// Windows a name is opened by its wide form, so folders such as "Jiří" work whatever the
// ANSI code page; sizes are 64-bit on every platform. Every path the program opens goes
// through here.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// A C stream that is closed on every way out of the scope that opened it.
struct StdioFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using StdioFile = std::unique_ptr<FILE, StdioFileCloser>;

// fopen with a UTF-8 path; empty when the file cannot be opened. Opening to read never
// waits: a pipe nobody writes to reads as empty.
StdioFile openFile(const std::string& path, const char* mode);
// The size of the file at `path`; false when it cannot be examined.
bool fileSize(const std::string& path, uint64_t& size);
// Bytes from the stream's position to its end, or -1 when that cannot be told.
int64_t bytesLeft(FILE* file);
// Appends `text` to the file at `path` (created when missing) in one write, so that texts
// appended by several processes at once never interleave. With `durable`, returns only once
// the system has put the text on the disk (a cut of power after it keeps it). A pipe (which
// would block) is refused. Empty on success, otherwise
// why it failed.
std::string appendToFile(const std::string& path, const std::string& text, bool durable = false);
// Makes `text` the whole content of the file at `path`: written to a scratch file beside it,
// put on the disk, then put in its place in one step, so that a cut of power leaves either
// the old content or the new. Empty on success, otherwise why it failed.
std::string replaceFile(const std::string& path, const std::string& text);
// Removes the file; false when it is still there.
bool removeFile(const std::string& path);

// A lock on a file that lasts as long as this object and this process: another process can
// tell a holder that is alive from one that ended, however it ended (the system drops the
// lock of a process that crashed or was killed).
class FileLock {
  public:
    // Takes the lock on the file at `path` (created when missing) if no other holder has it.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return held_; }

  private:
    intptr_t handle_ = -1;
    bool held_ = false;
};
#ifdef _WIN32
// The wide form of a UTF-8 text; empty when the text is not UTF-8.
std::wstring widen(const std::string& text);
#endif
