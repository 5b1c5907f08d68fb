// The station window under a full tray: automatic mode with 32 paced instruments (115200
// baud, 32 KiB each) plugged in at once, against one alone. It prints the tray's time over
// one instrument's (the goal: at most 1.2) and the longest the window's event loop was
// kept from its work during the run, as a 10 ms timer's lateness (the goal: at most 50 ms).
// Run in an X server: scripts/bench runs it under xvfb-run.
#include <wx/evtloop.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/StationFrame.h"
#include "sim/VirtualInstrument.h"
#include "tests/gui/WindowDriver.h"
#include "tools/ImageSigner.h"

namespace {
using Clock = std::chrono::steady_clock;

class BenchStation : public StationFrame {
  public:
    BenchStation() : StationFrame(nullptr, OSTRA_CLI) {}
    using StationFrame::addImages, StationFrame::m_buttonStart, StationFrame::m_radioEvery,
        StationFrame::reportPath, StationFrame::rows;
};

// The event loop's lateness: how much later than its 10 ms each tick of a timer came.
class Lateness : public wxTimer {
  public:
    Lateness() { Start(kEvery); }
    void Notify() override {
        const auto now = Clock::now();
        if (last_ != Clock::time_point()) {
            worst_ = std::max(worst_, now - last_ - std::chrono::milliseconds(kEvery));
        }
        last_ = now;
    }
    double worstMs() const { return std::chrono::duration<double, std::milli>(worst_).count(); }

  private:
    static constexpr int kEvery = 10;
    Clock::time_point last_;
    Clock::duration worst_{};
};

struct Run {
    double seconds = 0;
    double worstLateMs = 0;
};

// Starts automatic mode, plugs `count` instruments in at once and runs the window's own
// event loop until every one has passed.
Run tray(int count, const std::string& image, const std::string& folder) {
    auto* station = new BenchStation;
    station->reportPath = folder + "/report-" + std::to_string(count) + ".jsonl";
    station->addImages({image});
    station->m_radioEvery->SetValue(true);
    station->Show();
    clickButton(station->m_buttonStart);
    std::vector<std::unique_ptr<VirtualInstrument>> instruments;
    for (int i = 0; i < count; ++i) {
        instruments.push_back(std::make_unique<VirtualInstrument>(SimConfig{}));
        instruments.back()->setBaud(115200);
        instruments.back()->start();
    }
    Run run;
    wxEventLoop loop;
    Lateness late;
    const auto begun = Clock::now();
    wxTimer check;
    check.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (station->rows->counts().passed + station->rows->counts().failed >=
                static_cast<size_t>(count) ||
            Clock::now() - begun > std::chrono::minutes(5)) {
            run.seconds = std::chrono::duration<double>(Clock::now() - begun).count();
            check.Stop();
            loop.ScheduleExit();
        }
    });
    check.Start(20);
    for (int i = 0; i < count; ++i)  // plugged in, all at once
        instruments[static_cast<size_t>(i)]->registerAlias("COM" + std::to_string(200 + i));
    loop.Run();
    run.worstLateMs = late.worstMs();
    if (station->rows->counts().passed < static_cast<size_t>(count))
        run.seconds = -1;
    station->Close(true);
    runEventsUntil([] { return false; }, std::chrono::milliseconds(200));
    return run;
}
}  // namespace

int main(int, char** argv) {
    char folder[] = "/tmp/ostra-window-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    ::setenv("XDG_RUNTIME_DIR", folder, 1);  // the instruments' COM aliases stay private
    WindowSession session(argv);
    std::vector<uint8_t> body(32 * 1024);
    std::mt19937 rng(7);
    for (auto& b : body)
        b = static_cast<uint8_t>(rng());
    const std::string image = std::string(folder) + "/fw.enc";
    writeFileBytes(image,
                   makeFirmwareImage(std::string(OSTRA_SOURCE_DIR) +
                                         "/keys/development-only/product1.pem",
                                     body, ImageSpec{}));
    const Run one = tray(1, image, folder);
    const Run full = tray(32, image, folder);
    std::printf("StationWindowFullTray  one_s %.2f  tray_s %.2f  ratio %.3f (goal at most 1.2)"
                "  loop_late_ms %.1f (goal at most 50)\n",
                one.seconds, full.seconds, full.seconds / one.seconds,
                std::max(one.worstLateMs, full.worstLateMs));
    std::system(("rm -rf " + std::string(folder)).c_str());
    return one.seconds > 0 && full.seconds > 0 ? 0 : 1;
}
