#include <sys/stat.h>

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
