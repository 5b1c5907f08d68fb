#pragma once
// The main window: turns every user action into engine calls, keeps the controls in step
// with the engine's state, and shows the results. Engine events that come on the worker
// thread are handed to the window's thread with their arguments copied and handled there,
// in the order issued; nothing on the worker touches a control.
//
// The window counts an operation as running from the moment it starts it (or hears it
// start) until that operation's finished or error reaction has run; the engine alone
// turns idle earlier, while the reaction is still queued. While either is busy no input
// can be used, and the gauge stays live to show the progress.
#include <wx/timer.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrameBase.h"
#include "app/PortWatcher.h"
#include "engine/VantorBootloader.h"
#include "link/PortInfo.h"

class MainFrame : public MainFrameBase, public VantorBootloaderEventListener {
  public:
    explicit MainFrame(wxWindow* parent = nullptr);
    ~MainFrame() override;

    // Files dropped on the window; whether the first was taken as the image to check.
    bool dropImage(const wxArrayString& files);

  protected:
    void OnQuit(wxCommandEvent& event) override;
    void OnRunFirmware(wxCommandEvent& event) override;
    void OnAbout(wxCommandEvent& event) override;
    void OnRoute(wxCommandEvent& event) override;
    void OnConnect(wxCommandEvent& event) override;
    void OnFirmwareFileChanged(wxCommandEvent& event) override;
    void OnBrowseFirmware(wxCommandEvent& event) override;
    void OnUploadFirmware(wxCommandEvent& event) override;
    void OnStation(wxCommandEvent& event) override;
    void OnFindRoutes(wxCommandEvent& event) override;

    // Listener: each one hands its reaction to the window's thread.
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnUploadStarted(const char* path, int32_t pages) override;
    void OnUploadProgress(int32_t pagesDone) override;
    void OnUploadFinished() override;
    void OnReadStarted(const char* path, int32_t size, int32_t pages) override;
    void OnReadProgress(int32_t pagesDone) override;
    void OnReadFinished() override;
    void OnEraseStarted() override;
    void OnEraseTick() override;
    void OnEraseFinished() override;
    void OnError(const char* message) override;

    void UpdateControls();
    void UpdateDeviceStatus();
    void ClearFirmwareInfo();
    void UpdateFirmwareInfo();
    void ShowError(const wxString& text);
    void ShowInfo(const wxString& text);

    VantorBootloader engine;
    int32_t pageCount = 0;
    StatusInfo deviceStatus;
    uint8_t firmwareHeader[128] = {};

    // Reactions, on the window's thread.
    void uploadStarted(int32_t pages);
    void transferProgress(int32_t pagesDone);
    void uploadFinished();
    void readStarted(int32_t size, int32_t pages);
    void readFinished();
    void eraseStarted();
    void eraseTick();
    void eraseFinished();
    void workFailed(const wxString& message);

    // No command may reach the engine: the window's operation or the engine's work item
    // is still under way.
    bool isBusy() const { return operationRunning || engine.IsBusy(); }

    // Compares the port list with the machine's ports, every 3 s while nothing is connected
    // and when Windows tells of a device arriving or leaving.
    void scanPorts();

  private:
    // Queues a reaction for the window's thread; none runs once the window is closing.
    void react(std::function<void()> reaction);
    // The operation's start, as the window sees it, and its end (its last reaction).
    void beginOperation();
    void endOperation() { operationRunning = false; }
    // Forgets the device status the window shows, when no status is known any more.
    void forgetDeviceStatus();
    void onClose(wxCloseEvent& event);
    // The port list: rebuilt when it opens and when the machine's ports change.
    void watchPorts();
    void refreshPorts();
    void describeChosenPort();
    void watchDrops();
#ifdef __WXMSW__
    WXLRESULT MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) override;
#endif
    std::vector<PortInfo> ports;               // as last described
    std::unique_ptr<PortWatcher> portWatcher;  // the port list follows the machine
    bool portListOpen = false;

    bool operationRunning = false;
    bool closing = false;
    void setStatusText(const wxString& text) {
        SetStatusText(text, 0);
    }
};
