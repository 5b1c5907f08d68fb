#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "link/PortNames.h"
#include "station/PortWatch.h"

namespace {
// Even with every folder watched, a full look this often: a folder that appears later (a
// first USB serial device makes /dev/serial) is covered too.
constexpr std::chrono::seconds kRescanEvery{2};

}  // namespace

PortWatch::PortWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    // The alias folder is made now if missing, so that instruments registered later are
    // seen at once.
    makePortAliasFolder();
    for (const std::string& folder :
         {std::string("/dev"), std::string("/dev/serial/by-id"), portAliasFolder()}) {
        const int wd = fd_ < 0 ? -1
                               : ::inotify_add_watch(fd_, folder.c_str(),
                                                     IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                                         IN_MOVED_TO | IN_ONLYDIR);
        if (wd >= 0) {
            folders_.emplace_back(wd, folder);
        }
    }
}

PortWatch::~PortWatch() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool PortWatch::changed(std::vector<std::string>& gone) {
    bool any = first_;
    first_ = false;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0) {
                continue;
            }
            any = true;
            if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                for (const auto& [wd, folder] : folders_) {
                    if (wd == event->wd) {
                        gone.push_back(folder + "/" + event->name);
                    }
                }
            }
        }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastRescan_ >= kRescanEvery) {
        any = true;
    }
    if (any) {
        lastRescan_ = now;
    }
    return any;
}
