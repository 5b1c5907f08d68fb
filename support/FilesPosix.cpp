#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Files.h"

StdioFile openFile(const std::string& path, const char* mode) {
    return StdioFile(std::fopen(path.c_str(), mode));
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

std::string appendToFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::strerror(errno);
    }
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int error = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        return n < 0 ? std::strerror(error) : "only part of the text was written";
    }
    return "";
}
