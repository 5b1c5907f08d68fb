#pragma once
// The station window: an operator services a tray of instruments, or every instrument
// plugged in, without a terminal. The settings (images, instruments, options, the report
// file) are locked while the station runs; each instrument serviced gets a row. The work
// is the station core's, on a thread of its own, through copies of the command line; its
// reports are handed to the window's thread, which alone touches the window.
#include <wx/checklst.h>
#include <wx/dataview.h>
#include <wx/listctrl.h>
#include <wx/spinctrl.h>
#include <wx/timer.h>
#include <wx/wx.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/StationRows.h"
#include "link/PortInfo.h"
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
    wxStaticText* m_staticCounts;
    wxDataViewCtrl* m_viewRows;
    StationRows* rows;  // owned by the view

    std::vector<std::string> imageSources;  // as the operator added them
    std::string reportPath;
    std::vector<PortInfo> ports;  // as listed

    void addImages(const std::vector<std::string>& sources);
    void refreshImages();
    void refreshPorts();
    void onStart();
    void onStop();
    void showDetails(size_t row);
    bool running() const { return worker.joinable(); }

  private:
    void layOut();
    void bindEvents();
    void updateControls();
    void updateCounts();
    void fitContent();
    void widenStateColumn();
    void onClose(wxCloseEvent& event);
    // The station's reports, on the window's thread.
    void unitChanged(const Unit& unit);
    void finished();
    // Asks the operator to confirm abandoning the running instruments.
    bool confirmAbandon();

    // Hands the station's reports to the window's thread.
    class Relay;
    const std::string commandLine;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<Station> station;
    std::thread worker;
    int stopsAsked = 0;
    wxTimer clock;     // the running rows' times
    wxTimer portScan;  // the port list follows the machine while stopped
    ImageSet images;
    bool imagesUsable = false;
    int columnLeast[StationRows::kColumns] = {};  // the table's, in pixels
};
