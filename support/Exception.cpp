#include "support/Exception.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

Exception::Exception(const char* format, ...) {
    // Start with 1024 bytes and double until the whole text and its zero fit.
    std::vector<char> scratch(1024);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int needed = std::vsnprintf(scratch.data(), scratch.size(), format, args);
        va_end(args);
        if (needed < 0) {
            // An encoding error leaves no usable text; keep the format itself.
            message = format;
            return;
        }
        if (static_cast<size_t>(needed) < scratch.size()) {
            message.assign(scratch.data(), static_cast<size_t>(needed));
            return;
        }
        scratch.assign(scratch.size() * 2, '\0');
    }
}
