#include "app/PortWatcher.h"

#include "link/PortNames.h"

namespace {
constexpr int kLookEveryMs = 3000;
}  // namespace

PortWatcher::PortWatcher(wxWindow* owner, std::function<bool()> ready,
                         std::function<void(const std::vector<std::string>&)> changed)
    : timer_(owner), ready_(std::move(ready)), changed_(std::move(changed)) {
    owner->Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { look(); }, timer_.GetId());
    timer_.Start(kLookEveryMs);
}

void PortWatcher::look() {
    if (!ready_()) {
        return;
    }
    std::vector<std::string> names = listPorts();
    if (names != seen_) {
        seen_ = std::move(names);
        changed_(seen_);
    }
}
