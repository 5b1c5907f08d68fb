#include "support/CInteger.h"

#include <cstdlib>

long readCInteger(const char* text) {
    return std::strtol(text, nullptr, 10);
}
