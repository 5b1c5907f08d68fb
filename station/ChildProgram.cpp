#include "station/ChildProgram.h"

#include <cstdio>

std::string ChildExit::text() const {
    char text[64];
    if (signal != 0) {
        std::snprintf(text, sizeof text, "ended by signal %d", signal);
    } else if (code < 0 || code > 255) {
        std::snprintf(text, sizeof text, "ended with status 0x%x", static_cast<unsigned>(code));
    } else {
        std::snprintf(text, sizeof text, "ended with exit code %d", code);
    }
    return text;
}

bool ChildProgram::readLine(std::string& line) {
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
