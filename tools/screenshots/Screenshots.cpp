// ostraloader-screenshots STEM: draws the README's pictures of the windows, in an X server
// with the virtual instruments and images of tests/gui/run (OSTRA_GUI_DATA names the
// images' folder): connected to the paced instrument on COM7 with a valid image chosen
// (STEM.png), during an upload with the gauge part way (STEM-upload.png), and the station
// window servicing a tray, with instruments passed, failed and uploading
// (STEM-station.png), the station on a job of slots with its tiles (STEM-station-job.png),
// the routed instruments found behind COM10 (STEM-routes.png), and the records view of
// today's shift (STEM-records.png).
#include <wx/ffile.h>
#include <wx/modalhook.h>
#include <wx/stdpaths.h>
#include <wx/textdlg.h>

#include <cstdlib>
#include <random>

#include "support/Files.h"
#include "support/UtcTime.h"

#include "app/MainFrame.h"
#include "app/RecordsFrame.h"
#include "app/RouteScanDialog.h"
#include "app/StationFrame.h"
#include "tests/gui/WindowDriver.h"

namespace {
class ShotFrame : public MainFrame {
  public:
    using MainFrame::engine, MainFrame::m_buttonConnect, MainFrame::m_buttonUploadFirmware,
        MainFrame::m_comboPort, MainFrame::m_gauge, MainFrame::m_textFirmwareFile;
};

class ShotRoutes : public RouteScanDialog {
  public:
    using RouteScanDialog::RouteScanDialog, RouteScanDialog::found, RouteScanDialog::m_buttonCancel,
        RouteScanDialog::scanning;
};

// A tray under way: the quick ones done, the silent one failed, the paced one uploading.
bool trayUnderWay(const StationRows& rows) {
    size_t ended = 0;
    bool uploading = false;
    for (size_t row = 0; row < rows.size(); ++row) {
        ended += rows.unit(row).ended() ? 1 : 0;
        uploading = uploading || (rows.unit(row).port == "COM7" && rows.unit(row).done > 60);
    }
    return ended == 3 && uploading;
}

class ShotStation : public StationFrame {
  public:
    explicit ShotStation(const std::string& folder)
        : StationFrame(nullptr, commandLineBeside(wxStandardPaths::Get().GetExecutablePath())) {
        reportPath = folder + "/station.jsonl";
        addImages({folder + "/station", folder + "/cu-25600.enc"});
        for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
            const wxString port = m_listPorts->GetString(i).BeforeFirst(' ');
            m_listPorts->Check(
                i, port == "COM7" || port == "COM13" || port == "COM14" || port == "COM16");
        }
        m_checkVerify->SetValue(true);
    }
    bool underWay() const { return trayUnderWay(*rows); }
    using StationFrame::m_buttonStart, StationFrame::running;
};

// A station on a job of four slots with labels and a batch, part way: the quick ones done,
// the silent one failed, the paced one uploading.
class ShotJobStation : public StationFrame {
  public:
    explicit ShotJobStation(const std::string& folder)
        : StationFrame(nullptr, commandLineBeside(wxStandardPaths::Get().GetExecutablePath())) {
        const std::string job = folder + "/line.ostrajob";
        appendToFile(job,
                     "{\"ostrajob\": 1, \"images\": [\"cu-25600.enc\"], \"instruments\": "
                     "\"slots\", \"slots\": [{\"name\": \"Slot 1\", \"port\": \"COM13\"}, "
                     "{\"name\": \"Slot 2\", \"port\": \"COM14\"}, {\"name\": \"Slot 3\", "
                     "\"port\": \"COM16\"}, {\"name\": \"Slot 4\", \"port\": \"COM7\"}], "
                     "\"report\": \"line.jsonl\", \"batch\": {\"workOrder\": \"WO-2026-0042\", "
                     "\"quantity\": 200}, \"labels\": true, \"locked\": true}");
        openJob(job);
    }
    bool underWay() const { return trayUnderWay(*rows); }
    using StationFrame::m_buttonStart, StationFrame::running;
};

// Answers the job's questions as an operator with a scanner would: the operator's name,
// then each slot's label.
class Answers : public wxModalDialogHook {
  public:
    Answers() { Register(); }

  protected:
    int Enter(wxDialog* dialog) override {
        if (auto* entry = dynamic_cast<wxTextEntryDialog*>(dialog)) {
            entry->SetValue("Jana");
            return wxID_OK;
        }
        int n = 40;
        for (wxWindow* child : dialog->GetChildren()) {
            if (auto* field = dynamic_cast<wxTextCtrl*>(child))
                field->SetValue(wxString::Format("SN-%06d", ++n));
        }
        return wxID_OK;
    }
    void Exit(wxDialog*) override {}
};

// Saves the window's screen area as STEM.png, read from the X server: neither GTK 3's nor
// Wine's screen device context reads back what the windows drew.
bool saveWindow(wxWindow* frame, const wxString& stem) {
    // Drawing happens when the toolkit gets round to it: let it catch up first.
    frame->Refresh();
    frame->Update();
    runEventsUntil([] { return false; }, std::chrono::milliseconds(150));
    const wxRect rect = frame->GetScreenRect();
    const wxString crop = wxString::Format("%dx%d+%d+%d", rect.width, rect.height, rect.x, rect.y);
#ifdef __WXMSW__
    // A Windows program cannot start the X tool: the harness takes the picture while the
    // window waits, asked by STEM.ready holding the crop, and removes that file when done.
    const wxString ready = stem + ".ready";
    wxFFile(ready, "w").Write(crop);
    return runEventsUntil([&] { return !wxFileExists(ready); }) && wxFileExists(stem + ".png");
#else
    // NODISABLE: a synchronous run otherwise disables every window while the picture is
    // taken, and a disabled gauge is drawn without its fill.
    return wxExecute("import -window root -crop " + crop + " +repage " + stem + ".png",
                     wxEXEC_SYNC | wxEXEC_NODISABLE) == 0;
#endif
}
// A report of today's shift so far: two products, a few failures, now and then a second
// attempt, hour by hour from six in the morning.
std::string todaysShift(const std::string& folder) {
    const std::string report = folder + "/shift.jsonl";
    std::mt19937 rng(7);
    const char* const kFailures[] = {"BPROT_MSG_STATUSINFO error, bootloader not responding",
                                     "BPROT_MSG_WRITE_PAGE error",
                                     "verify failed: the flash differs from fw.enc at body "
                                     "offset 1500 (0x5dc)"};
    std::string lines;
    const int64_t start = localDayStart(secondsNow()) + 6 * 3600;
    for (int64_t t = start; t < start + 8 * 3600; t += 60 + static_cast<int64_t>(rng() % 120)) {
        const bool failed = rng() % 12 == 0;
        lines += "{\"time\":\"" + isoUtc(t) + "\",\"port\":\"COM" + std::to_string(11 + rng() % 4) +
                 "\",\"deviceType\":\"" + (rng() % 3 ? "SOLVAR CU" : "TAMRIK 3") +
                 "\",\"serial\":\"A" + std::to_string(t) + "\",\"attempt\":1,\"result\":\"" +
                 (failed ? kFailures[rng() % 3] : "ok") + "\",\"exit\":" + (failed ? "1" : "0") +
                 ",\"seconds\":" + std::to_string(40 + rng() % 20) + ".5}\n";
    }
    appendToFile(report, lines);
    return report;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ostraloader-screenshots STEM\n");
        return 2;
    }
    const wxString stem = wxString::FromUTF8(argv[1]);
    const char* folder = std::getenv("OSTRA_GUI_DATA");
    const WindowSession session(argv);
    auto* frame = new ShotFrame;
    frame->Show();
    frame->m_comboPort->SetValue("COM7");
    clickButton(frame->m_buttonConnect);
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(folder ? folder : ".") +
                                        "/cu-25600.enc");
    bool saved = frame->engine.IsConnected() && saveWindow(frame, stem);
    clickButton(frame->m_buttonUploadFirmware);
    runEventsUntil([&] { return frame->m_gauge->GetValue() >= 40; });
    saved = saveWindow(frame, stem + "-upload") && saved;
    frame->Close(true);  // waits for the upload; no box is shown after a close
    wxYield();
    frame = new ShotFrame;  // one engine at a time
    frame->Show();
    frame->m_comboPort->SetValue("COM10");
    clickButton(frame->m_buttonConnect);
    {
        // The scan behind COM10 part way: its child on port 2 found, its grandchild not yet.
        auto* routes = new ShotRoutes(frame, frame->engine);
        routes->start();
        routes->Show();
        saved = runEventsUntil([&] { return routes->found.size() == 1; }) && saved;
        runEventsUntil([] { return false; }, std::chrono::seconds(2));  // more ports tried
        saved = saveWindow(routes, stem + "-routes") && saved;
        clickButton(routes->m_buttonCancel);
        runEventsUntil([&] { return !routes->scanning(); });
        routes->Destroy();
    }
    frame->Close(true);  // waits for the upload; no box is shown after a close
    wxYield();
    auto* station = new ShotStation(folder ? folder : ".");
    station->Show();
    clickButton(station->m_buttonStart);
    saved = runEventsUntil([&] { return station->underWay(); }) &&
            saveWindow(station, stem + "-station") && saved;
    runEventsUntil([&] { return !station->running(); });
    station->Close(true);
    wxYield();
    {
        Answers answers;
        auto* jobStation = new ShotJobStation(folder ? folder : ".");
        jobStation->Show();
        clickButton(jobStation->m_buttonStart);
        saved = runEventsUntil([&] { return jobStation->underWay(); }) &&
                saveWindow(jobStation, stem + "-station-job") && saved;
        runEventsUntil([&] { return !jobStation->running(); });
        jobStation->Close(true);
        wxYield();
    }
    auto* records = new RecordsFrame(nullptr, todaysShift(folder ? folder : "."), "");
    records->Show();
    saved = saveWindow(records, stem + "-records") && saved;
    records->Close(true);
    wxYield();
    if (!saved)
        std::fprintf(stderr, "ostraloader-screenshots: a picture could not be taken\n");
    return saved ? 0 : 1;
}
