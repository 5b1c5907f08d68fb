#pragma once
// The station's reports to its window: each copied and queued for the window's thread,
// which alone touches the window.
#include "app/StationFrame.h"
#include "app/Translate.h"

// The station's reports, copied and queued for the window's thread.
class StationFrame::Relay : public StationListener {
  public:
    explicit Relay(StationFrame* frame) : frame_(frame) {}
    void unitChanged(const Unit& unit, const CopyEvent*) override {
        frame_->CallAfter([frame = frame_, unit] { frame->unitChanged(unit); });
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

  private:
    void status(const wxString& text) {
        frame_->CallAfter([frame = frame_, text] { frame->SetStatusText(text); });
    }
    StationFrame* frame_;
};
