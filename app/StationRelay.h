#pragma once
// The station's reports to its window: each copied and queued for the window's thread,
// which alone touches the window.
#include <map>
#include <mutex>

#include "app/StationFrame.h"
#include "app/Translate.h"

// The station's reports, copied and queued for the window's thread. A unit's changes come
// at every page of every instrument: the window takes them together, each unit as it last
// stood, once per turn of its event loop.
class StationFrame::Relay : public StationListener {
  public:
    explicit Relay(StationFrame* frame) : frame_(frame) {}
    void unitChanged(const Unit& unit, const CopyEvent*) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const bool onItsWay = !changed_.empty();
            changed_[unit.id] = unit;
            if (onItsWay) {
                return;
            }
        }
        frame_->CallAfter([frame = frame_] { frame->unitsChanged(); });
    }
    // On the window's thread: the units changed since the last call, by id.
    std::map<size_t, Unit> takeChanged() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(changed_, {});
    }
    void portPassed(const std::string& port, const std::string& why) override {
        status(
            wxString::Format(tr("%s: no bootloader answers (%s)"), fromUtf8(port), fromUtf8(why)));
    }
    void stopping(size_t running) override {
        status(wxString::Format(tr("Stopping: %d still running; Stop again abandons them"),
                                static_cast<int>(running)));
    }
    void problem(const Problem& problem) override {
        const wxString text = fromUtf8(problem.message) +
                              (problem.hint.empty() ? wxString() : "\n" + fromUtf8(problem.hint));
        frame_->CallAfter([frame = frame_, text] {
            wxMessageDialog(frame, text, tr("Error"), wxOK | wxICON_ERROR).ShowModal();
        });
    }
    void reportRepaired(const std::string&, bool, size_t recovered) override {
        if (recovered > 0) {
            status(wxString::Format(tr("%d instruments left behind by a station that ended "
                                       "before them are recorded as interrupted"),
                                    static_cast<int>(recovered)));
        }
    }

    void batchChanged(size_t passed, int quantity) override {
        frame_->CallAfter([frame = frame_, passed, quantity] {
            frame->batchPassed = passed;
            frame->batchQuantity = quantity;
            frame->updateCounts();
        });
    }

  private:
    void status(const wxString& text) {
        frame_->CallAfter([frame = frame_, text] { frame->SetStatusText(text); });
    }
    StationFrame* frame_;
    std::mutex mutex_;
    std::map<size_t, Unit> changed_;
};
