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

#include <wx/filehistory.h>

#include "app/PortWatcher.h"
#include "app/SlotTiles.h"
#include "app/StationRows.h"
#include "link/PortInfo.h"
#include "station/CopyProcesses.h"
#include "station/ImageSet.h"
#include "station/JobFile.h"
#include "station/Station.h"

class StationFrame : public wxFrame {
  public:
    // `commandLine`: the ostraloader-cli whose copies service the instruments.
    StationFrame(wxWindow* parent, const std::string& commandLine);
    ~StationFrame() override;

    // The command line beside the window program (or, in a build tree, in its cli folder).
    static std::string commandLineBeside(const wxString& windowProgram);
    // Opens a job file: its settings in place of the window's; false (and said why) when it
    // is refused.
    bool openJob(const std::string& path);

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
    // Instruments: ticked ports, a fixture's slots, or every instrument plugged in.
    wxRadioButton* m_radioTicked;
    wxCheckListBox* m_listPorts;
    wxRadioButton* m_radioSlots;
    wxTextCtrl* m_textSlots;  // "Slot 1=usb-port:1-2.1", a line each
    wxButton* m_buttonSlotsFromTicked;
    wxRadioButton* m_radioEvery;
    wxTextCtrl* m_textUsbFilter;
    // Options.
    wxCheckBox* m_checkVerify;
    wxCheckBox* m_checkRunAfterUpload;
    wxCheckBox* m_checkAllowDowngrade;
    wxSpinCtrl* m_spinAttempts;
    wxCheckBox* m_checkLocked;  // the job saved locked
    // The batch, and labels.
    wxTextCtrl* m_textWorkOrder;
    wxSpinCtrl* m_spinQuantity;
    wxCheckBox* m_checkLabels;
    wxCheckBox* m_checkRepeatLabels;
    // The report file.
    wxStaticText* m_staticReport;
    wxButton* m_buttonChangeReport;
    // Running.
    wxButton* m_buttonStart;
    wxButton* m_buttonStop;
    wxButton* m_buttonRecords;
    wxTextCtrl* m_textLabel;  // automatic mode: the next instrument's label (a scanner's)
    wxStaticText* m_staticNextLabel;
    wxStaticText* m_staticCounts;
    SlotTiles* m_tiles;
    wxDataViewCtrl* m_viewRows;
    // The job.
    wxMenu* m_menuJob;
    wxMenuItem* m_menuItemEditJob;
    StationRows* rows;  // owned by the view

    std::vector<std::string> imageSources;  // as the operator added them
    std::string reportPath;
    std::vector<PortInfo> ports;  // as listed, in the checklist's order

    // The settings as a job, and back; a job opened from a file, and saved.
    JobFile jobFromSettings() const;
    void applyJob(const JobFile& job);
    bool saveJobTo(const std::string& path);
    std::string jobPath;       // the job's file, empty for a new one
    bool jobLocked = false;    // its settings read-only until "Edit job"
    std::string operatorName;  // asked at a batch's start, remembered
    size_t batchPassed = 0;
    int batchQuantity = 0;

    void addImages(const std::vector<std::string>& sources);
    void refreshImages();
    // The checklist brought up to the machine's ports, changed in place: the ticks, the
    // chosen line and the scroll position stay; a line whose port's description changed
    // (another adapter under the same name) is written anew.
    void refreshPorts();
    void showPorts(const std::vector<PortInfo>& now);
    void onStart();
    void onStop();
    void onClose(wxCloseEvent& event);
    void showDetails(size_t row);
    bool running() const { return state != RunState::Idle; }
    RunState state = RunState::Idle;
    std::unique_ptr<PortWatcher> portWatcher;

  private:
    void layOut();
    wxWindow* layOutBatch();
    void layOutJobMenu();
    void bindJobMenu();
    // A tray's labels before the start, one per slot or port; false when cancelled.
    bool askTrayLabels(StationRequest& request);
    // The operator of a batch, asked at its start; false when cancelled.
    bool askOperator();
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
    void refuse(const Problem& refusal);  // its message, and its hint under it
    void jobInUse(const std::string& path);
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
    wxFileHistory recentJobs;
    ImageSet images;
    bool imagesUsable = false;
    int columnLeast[StationRows::kColumns] = {};  // the table's, in pixels
};
