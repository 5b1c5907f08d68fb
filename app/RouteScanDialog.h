#pragma once
// "Find routed instruments": scans behind the instrument the window is connected to,
// directly, with a gauge and Cancel, and lists what answers (path, device, versions). "Use"
// ends the dialog with the chosen path. The scan runs on a thread of its own with the
// window's engine, while the modal dialog keeps every other command away from it; its
// reports are handed to the dialog's thread.
#include <wx/listctrl.h>
#include <wx/wx.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/RouteScan.h"

class RouteScanDialog : public wxDialog {
  public:
    RouteScanDialog(wxWindow* parent, VantorBootloader& engine);
    // Stops a scan still running and waits for it.
    ~RouteScanDialog() override;

    // Starts the scan (before ShowModal).
    void start();
    // The path chosen with Use; empty when none.
    std::string chosen() const { return chosen_; }
    // Why the scan could not finish (the instrument connected directly stopped answering),
    // or empty.
    const std::string& error() const { return error_; }

  protected:
    wxStaticText* m_staticProgress;
    wxGauge* m_gauge;
    wxListCtrl* m_listFound;
    wxButton* m_buttonUse;
    wxButton* m_buttonCancel;
    std::vector<RoutedInstrument> found;
    bool scanning() const { return worker_.joinable(); }

  private:
    void hopStarted(int ports);
    void portTried(int tried);
    void instrumentFound(const RoutedInstrument& instrument);
    void finished(const std::string& error);
    void updateButtons();

    VantorBootloader& engine_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    bool closeWhenDone_ = false;
    int ports_ = 0;
    std::string chosen_, error_;
};
