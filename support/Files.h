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

// fopen with a UTF-8 path; empty when the file cannot be opened.
StdioFile openFile(const std::string& path, const char* mode);
// The size of the file at `path`; false when it cannot be examined.
bool fileSize(const std::string& path, uint64_t& size);
// Bytes from the stream's position to its end, or -1 when that cannot be told.
int64_t bytesLeft(FILE* file);
// Appends `text` to the file at `path` (created when missing) in one write, so that texts
// appended by several processes at once never interleave. Empty on success, otherwise why
// it failed.
std::string appendToFile(const std::string& path, const std::string& text);
#ifdef _WIN32
// The wide form of a UTF-8 text; empty when the text is not UTF-8.
std::wstring widen(const std::string& text);
#endif
