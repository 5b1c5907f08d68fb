#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "link/PortNames.h"

namespace {
bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> folderEntries(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name.compare(0, prefix.size(), prefix) == 0) {
                names.push_back(folder + "/" + name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string portAliasFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/ostraloader/ports";
    }
    return "/tmp/ostraloader-" + std::to_string(::getuid()) + "/ports";
}

void makePortAliasFolder() {
    const std::string path = portAliasFolder();
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(path.c_str(), 0700);
}

std::string resolvePortName(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    if (const long n = comPortNumber(name)) {
        const std::string alias = portAliasFolder() + "/COM" + std::to_string(n);
        if (exists(alias)) {
            return alias;
        }
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + name;
}

std::vector<std::string> listPorts() {
    std::vector<std::string> ports;
    for (int i = 1; i <= 8; ++i) {
        ports.push_back("COM" + std::to_string(i));
    }
    std::set<std::string> seen;  // devices already listed, by their real path
    auto add = [&](const std::string& path) {
        if (seen.insert(realPath(path)).second) {
            ports.push_back(path);
        }
    };
    // Virtual instruments registered beyond the eight fixed names, in numeric order.
    std::vector<long> aliases;
    for (const std::string& path : folderEntries(portAliasFolder(), "COM")) {
        const long n = comPortNumber(path.substr(path.rfind('/') + 1));
        if (n > 8) {
            aliases.push_back(n);
        }
    }
    std::sort(aliases.begin(), aliases.end());
    for (const long n : aliases) {
        ports.push_back("COM" + std::to_string(n));
    }
    for (const std::string& path : folderEntries("/dev/serial/by-id", "")) {
        add(path);
    }
    for (const std::string& path : folderEntries("/dev", "ttyACM")) {
        add(path);
    }
    for (const std::string& path : folderEntries("/dev", "ttyUSB")) {
        add(path);
    }
    return ports;
}
