#include "station/PortWatch.h"

namespace {
// Windows tells a window of device changes, not a console program: the serial map is read
// again this often instead (it is small, and reading it opens no port).
constexpr std::chrono::milliseconds kRescanEvery{500};
}  // namespace

PortWatch::PortWatch() = default;
PortWatch::~PortWatch() = default;

bool PortWatch::changed(std::vector<std::string>&) {
    const auto now = std::chrono::steady_clock::now();
    if (!first_ && now - lastRescan_ < kRescanEvery) {
        return false;
    }
    first_ = false;
    lastRescan_ = now;
    return true;
}
