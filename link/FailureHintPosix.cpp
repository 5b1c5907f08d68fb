#include <dirent.h>
#include <errno.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "link/FailureHint.h"

bool connectionLost(int error) {
    return error == EIO || error == ENODEV || error == ENXIO || error == EPERM || error == EPIPE;
}

OpenError classifyOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenError::Missing;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenError::Held;
        case EACCES:
        case EPERM:
            return OpenError::Forbidden;
        default:
            return OpenError::Other;
    }
}

std::vector<std::string> portHolders(const std::string& device) {
    std::vector<std::string> holders;
    struct stat target;
    if (::stat(device.c_str(), &target) != 0) {
        return holders;
    }
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return holders;
    }
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) {
            continue;
        }
        const std::string fds = "/proc/" + pid + "/fd";
        DIR* dir = ::opendir(fds.c_str());
        if (dir == nullptr) {
            continue;  // another user's process: the system does not tell
        }
        bool holds = false;
        while (const dirent* fd = ::readdir(dir)) {
            struct stat st;
            if (fd->d_name[0] != '.' && ::stat((fds + "/" + fd->d_name).c_str(), &st) == 0 &&
                st.st_rdev == target.st_rdev && S_ISCHR(st.st_mode)) {
                holds = true;
                break;
            }
        }
        ::closedir(dir);
        if (holds) {
            std::string name;
            std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
            holders.push_back((name.empty() ? "a program" : name) + " (process " + pid + ")");
        }
    }
    ::closedir(proc);
    return holders;
}

std::string permissionAdvice(const std::string& device) {
    struct stat st;
    if (::stat(device.c_str(), &st) != 0) {
        return std::string();
    }
    const group* g = ::getgrgid(st.st_gid);
    const std::string name = g ? g->gr_name : std::to_string(st.st_gid);
    return "join the group '" + name + "' (sudo usermod -aG " + name + " $USER) and log in again";
}
