#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Files.h"

namespace {
constexpr int kWithoutWaiting = O_NONBLOCK;
}  // namespace

StdioFile openFile(const std::string& path, const char* mode) {
    if (mode[0] != 'r' || std::strchr(mode, '+') != nullptr) {
        return StdioFile(std::fopen(path.c_str(), mode));
    }
    // Opened without waiting (a pipe nobody writes to would hold the reader at its open
    // for ever), then read as usual.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | kWithoutWaiting);
    if (fd < 0) {
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        ::close(fd);
    }
    return StdioFile(file);
}

bool fileSize(const std::string& path, uint64_t& size) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

int64_t bytesLeft(FILE* file) {
    const off_t here = ::ftello(file);
    if (here < 0 || ::fseeko(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const off_t end = ::ftello(file);
    ::fseeko(file, here, SEEK_SET);
    return end < here ? -1 : static_cast<int64_t>(end - here);
}

namespace {
const char kNotAFile[] = "it is a pipe, not a file";

// Waits until the system has put the file's data on the disk.
bool putOnDisk(int fd) {
    return ::fdatasync(fd) == 0;
}
}  // namespace

std::string appendToFile(const std::string& path, const std::string& text, bool durable) {
    // Not blocking: a pipe nobody reads would hold the station at its open for ever.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        return errno == ENXIO ? std::string(kNotAFile) : std::strerror(errno);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        return kNotAFile;
    }
    ssize_t n = ::write(fd, text.data(), text.size());
    int error = errno;
    if (n > 0 && n != static_cast<ssize_t>(text.size())) {
        // Only part went in (the disk is full): cut it off again, so that the text is in
        // the file whole or not at all and what is appended next starts a line of its own.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= n && ::ftruncate(fd, end - n) == 0) {
            n = 0;
        }
    }
    const bool synced = n < 0 || !durable || putOnDisk(fd);
    error = synced ? error : errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        return n < 0    ? std::strerror(error)
               : n == 0 ? std::string("only part of the text could be written (the disk is full?)")
                        : "only part of the text was written, and it could not be cut off";
    }
    return synced ? "" : std::string("not put on the disk: ") + std::strerror(error);
}

namespace {
// The folder of a path, for its entry to be put on the disk too.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

std::string replaceFile(const std::string& path, const std::string& text) {
    const std::string scratch = path + ".new";
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::strerror(errno);
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool synced = written && putOnDisk(fd);
    const int error = errno;
    ::close(fd);
    if (!synced || ::rename(scratch.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(synced ? errno : error);
        ::unlink(scratch.c_str());
        return why;
    }
    // The new name itself on the disk.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return "";
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

FileLock::FileLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    handle_ = fd;
    held_ = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

FileLock::~FileLock() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));  // drops the lock
    }
}
