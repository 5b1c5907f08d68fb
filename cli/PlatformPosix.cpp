#include <sys/stat.h>
#include <unistd.h>

#include "cli/Platform.h"
#include "link/FailureHint.h"

PortAccess portAccess(const std::string& device) {
    PortAccess access;
    struct stat st;
    access.present = ::stat(device.c_str(), &st) == 0;
    access.accessible = access.present && ::access(device.c_str(), R_OK | W_OK) == 0;
    access.note = !access.present     ? "not present"
                  : access.accessible ? "available"
                                      : "no permission";
    if (access.present && !access.accessible) {
        access.note += ": " + permissionAdvice(device);
    }
    return access;
}

bool outputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}
