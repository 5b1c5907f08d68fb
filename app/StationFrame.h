#pragma once
// The station window: an operator services a tray of instruments, or every instrument
// plugged in, without a terminal. The settings (images, instruments, options, the report
// file) are locked while the station runs; each instrument serviced gets a row. The work
// is the station core's, on a thread of its own, through copies of the command line; its
// reports are handed to the window's thread, which alone touches the window and never
// waits for the station's.
#include <wx/checklst.h>
#include <wx/dataview.h>
#include <wx/listctrl.h>
#include <wx/spinctrl.h>
#include <wx/timer.h>
#include <wx/wx.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/PortWatcher.h"
#include "app/StationRows.h"
#include "link/PortInfo.h"
#include "station/CopyProcesses.h"
#include "station/ImageSet.h"
#include "station/Station.h"

class StationFrame : public wxFrame {
  public:
    // `commandLine`: the ostraloader-cli whose copies service the instruments.
    StationFrame(wxWindow* parent, const std::string& commandLine);
    ~StationFrame() override;

    // The command line beside the window program (or, in a build tree, in its cli folder).
    static std::string commandLineBeside(const wxString& windowProgram);

  protected:
    // The station's run, as every handler reads it again after a dialog returns: the world
    // moved on while the dialog was open.
    enum class RunState {
        Idle,        // settings open; Start
        Running,     // Stop asks the running instruments to finish
        Stopping,    // they finish; Stop again, confirmed, abandons them
        Abandoning,  // they are being ended, each recorded as interrupted
    };

    // Images: files or folders, each image shown as the main window shows it.
    wxListCtrl* m_listImages;
    wxStaticText* m_staticImagesProblem;
    wxButton* m_buttonAddFiles;
    wxButton* m_buttonAddFolder;
    wxButton* m_buttonClearImages;
    // Instruments: ticked ports, or every instrument plugged in.
    wxRadioButton* m_radioTicked;
    wxCheckListBox* m_listPorts;
    wxRadioButton* m_radioEvery;
    wxTextCtrl* m_textUsbFilter;
    // Options.
    wxCheckBox* m_checkVerify;
    wxCheckBox* m_checkRunAfterUpload;
    wxCheckBox* m_checkAllowDowngrade;
    wxSpinCtrl* m_spinAttempts;
    // The report file.
    wxStaticText* m_staticReport;
    wxButton* m_buttonChangeReport;
    // Running.
    wxButton* m_buttonStart;
    wxButton* m_buttonStop;
    wxButton* m_buttonRecords;
    wxStaticText* m_staticCounts;
    wxDataViewCtrl* m_viewRows;
    StationRows* rows;  // owned by the view

    std::vector<std::string> imageSources;  // as the operator added them
    std::string reportPath;
    std::vector<PortInfo> ports;  // as listed, in the checklist's order

    void addImages(const std::vector<std::string>& sources);
    void refreshImages();
    // The checklist brought up to the machine's ports, changed in place: the ticks, the
    // chosen line and the scroll position stay.
    void refreshPorts();
    void onStart();
    void onStop();
    void onClose(wxCloseEvent& event);
    void showDetails(size_t row);
    bool running() const { return state != RunState::Idle; }
    RunState state = RunState::Idle;
    std::unique_ptr<PortWatcher> portWatcher;

  private:
    void layOut();
    wxWindow* layOutImages();
    wxWindow* layOutInstruments();
    wxWindow* layOutOptions();
    wxWindow* layOutReport();
    wxSizer* layOutControls();
    void layOutRows();
    void bindEvents();
    void bindSettings();
    void bindRows();
    void updateControls();
    void updateCounts();
    void fitContent();
    void widenStateColumn();
    // The station's request as the settings say, or a refusal in the window's words.
    bool requestFromSettings(StationRequest& request);
    void refuse(const wxString& why);
    // The station's reports, on the window's thread.
    void unitsChanged();
    void finished();
    // Asks the operator to confirm abandoning the running instruments.
    bool confirmAbandon();
    // Ends the station now and waits for it: the window is closed by force.
    void abandonAndWait();

    // Hands the station's reports to the window's thread.
    class Relay;
    const std::string commandLine;
    std::unique_ptr<Relay> relay;
    // The last run's, kept until the next Start, so that a late Stop finds them.
    std::unique_ptr<CopyProcesses> copies;
    std::unique_ptr<SystemPorts> watchedPorts;
    std::unique_ptr<Station> station;
    std::thread worker;
    bool closeWhenEnded = false;
    wxTimer clock;  // the running rows' times
    ImageSet images;
    bool imagesUsable = false;
    int columnLeast[StationRows::kColumns] = {};  // the table's, in pixels
};
