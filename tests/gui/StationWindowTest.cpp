// The station window against virtual instruments, in the same X server and Wine runs as
// the main window's tests: a tray ticked, automatic mode (its instruments alone, from
// tests/gui/station-instruments), Stop during an upload, and every text whole.
#include <gtest/gtest.h>
#include <wx/stdpaths.h>
#include <wx/textdlg.h>
#include <wx/weakref.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/StationFrame.h"
#include "station/JobFile.h"
#include "support/Files.h"
#include "tests/gui/GuiSupport.h"
#include "tests/gui/WindowDriver.h"

namespace {
// Each record's result, in the report's order.
std::vector<std::string> results(const std::string& report) {
    std::vector<std::string> all;
    StdioFile file = openFile(report, "rb");
    char line[4096];
    while (file && std::fgets(line, sizeof line, file.get()))
        all.push_back(nlohmann::json::parse(line)["result"]);
    return all;
}

class TestStation : public StationFrame {
  public:
    TestStation()
        : StationFrame(nullptr, commandLineBeside(wxStandardPaths::Get().GetExecutablePath())) {
        reportPath = data("Jiří/service-" + std::to_string(++opened) + ".jsonl");
        Show();
    }
    using StationFrame::addImages, StationFrame::m_buttonStart, StationFrame::m_buttonStop,
        StationFrame::m_listImages, StationFrame::portWatcher, StationFrame::m_checkVerify,
        StationFrame::m_listPorts, StationFrame::m_radioEvery, StationFrame::m_staticCounts,
        StationFrame::m_viewRows, StationFrame::reportPath, StationFrame::rows,
        StationFrame::running, StationFrame::jobFromSettings, StationFrame::saveJobTo,
        StationFrame::m_checkLabels, StationFrame::m_textWorkOrder, StationFrame::m_spinQuantity,
        StationFrame::m_checkLocked, StationFrame::m_spinAttempts, StationFrame::m_textLabel,
        StationFrame::m_tiles, StationFrame::m_menuItemEditJob, StationFrame::m_textUsbFilter,
        StationFrame::m_buttonAddFiles, StationFrame::m_buttonAddFolder, StationFrame::ports,
        StationFrame::showPorts;

    void tick(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            int found = 0;
            for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
                if (m_listPorts->GetString(i).StartsWith(wxString(name) + "  ") && ++found)
                    m_listPorts->Check(i);
            }
            EXPECT_EQ(found, 1) << name << " is not listed";
        }
    }
    std::string counts() const { return text(m_staticCounts); }
    // Each row: port, device, state and its colour ("green", "red" or "").
    std::vector<std::string> table() const {
        std::vector<std::string> all;
        for (unsigned row = 0; row < rows->size(); ++row) {
            wxVariant device;
            rows->GetValueByRow(device, row, StationRows::kDevice);
            wxDataViewItemAttr attr;
            const bool coloured = rows->GetAttrByRow(row, StationRows::kState, attr);
            const bool green = attr.GetColour().Green() > attr.GetColour().Red();
            all.push_back(rows->unit(row).port + " " + utf8(device.GetString()) + " " +
                          utf8(rows->stateText(row)) +
                          (coloured ? green ? " (green)" : " (red)" : ""));
        }
        std::sort(all.begin(), all.end());
        return all;
    }
    bool allEnded() const { return !running(); }
    // The report's lines: port, result, and the image's file name.
    std::vector<std::string> records() const {
        std::vector<std::string> lines;
        StdioFile file = openFile(reportPath, "rb");
        char line[4096];
        while (file && std::fgets(line, sizeof line, file.get())) {
            const nlohmann::json j = nlohmann::json::parse(line);
            const std::string image = j["image"]["file"];
            lines.push_back(j["port"].get<std::string>() + " " + j["result"].get<std::string>() +
                            " " + image.substr(image.find_last_of("/\\") + 1));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    void activate(size_t row) {
        wxDataViewEvent event(wxEVT_DATAVIEW_ITEM_ACTIVATED, m_viewRows, rows->GetItem(row));
        m_viewRows->ProcessWindowEvent(event);
    }
    void select(size_t row) {
        m_viewRows->Select(rows->GetItem(static_cast<unsigned>(row)));
        wxDataViewEvent event(wxEVT_DATAVIEW_SELECTION_CHANGED, m_viewRows,
                              rows->GetItem(static_cast<unsigned>(row)));
        m_viewRows->ProcessWindowEvent(event);
    }
    static int opened;
};
int TestStation::opened = 0;

// The station window alone: the main window would look at the ports the copies use.
class StationTest : public ::testing::Test {
  protected:
    ~StationTest() override {
        if (station != nullptr) {
            station->Destroy();
            wxYield();
        }
    }
    void start() {
        clickButton(station->m_buttonStart);
        ASSERT_TRUE(station->running()) << (dialogs.boxes.empty() ? "" : dialogs.boxes.back());
    }
    // The paced instrument on COM7 part way through an upload of `image`.
    void uploading(const char* image) {
        station->addImages({data(image)});
        station->tick({"COM7"});
        start();
        ASSERT_TRUE(runEventsUntil(
            [&] { return station->rows->size() == 1 && station->rows->unit(0).done > 10; }));
    }
    DialogCapture dialogs;
    TestStation* station = new TestStation;
};
}  // namespace

// Start refuses what it cannot run, in a box that says what to do, and starts nothing: no
// image, a USB filter that is not VID:PID, no port ticked; each mended in turn.
TEST_F(StationTest, StartRefusesWhatItCannotRunAndSaysWhatToDo) {
    const struct {
        const char* image;  // added before Start, if any
        const char* filter;
        const char* box;
    } kRefused[] = {
        {nullptr, "", "Error: Add the images to upload: files or a folder"},
        {"cu.enc", "0403", "Error: The USB filter '0403' is not a VID:PID such as 0403:6001"},
        {nullptr, "", "Error: Tick the ports of the instruments to service"},
    };
    for (const auto& refused : kRefused) {
        if (refused.image != nullptr) {
            station->addImages({data(refused.image)});
            EXPECT_EQ(utf8(station->m_listImages->GetItemText(0)), refused.image) << "listed";
        }
        station->m_textUsbFilter->ChangeValue(refused.filter);
        dialogs.boxes.clear();
        clickButton(station->m_buttonStart);
        EXPECT_FALSE(station->running()) << refused.box;
        EXPECT_EQ(dialogs.boxes, std::vector<std::string>{refused.box});
        EXPECT_EQ(station->rows->size(), 0u);
    }
}

// A file dialog cancelled adds nothing. A second Start that comes while the first one's
// labels box is open (a double click) starts the station once: the first Start finds it
// running and leaves it.
TEST_F(StationTest, ACancelledDialogAddsNothingAndADoubleStartStartsOnce) {
    for (wxButton* add : {station->m_buttonAddFiles, station->m_buttonAddFolder})
        clickButton(add);
    EXPECT_EQ(station->m_listImages->GetItemCount(), 0);
    station->addImages({data("cu.enc")});
    station->tick({"COM13"});
    station->m_checkLabels->SetValue(true);
    int boxes = 0;
    dialogs.ownDialog = [&](wxDialog* box) {
        for (wxWindow* child : box->GetChildren()) {
            if (auto* field = dynamic_cast<wxTextCtrl*>(child))
                field->SetValue("SN-1");
        }
        if (++boxes == 1)
            clickButton(station->m_buttonStart);
        return wxID_OK;
    };
    start();
    ASSERT_TRUE(runEventsUntil([&] { return station->allEnded(); }));
    EXPECT_EQ(boxes, 2);
    EXPECT_EQ(station->records(), std::vector<std::string>{"COM13 ok cu.enc"});
}

// Counts the times a running row's time is told to change: the rows' clock at work.
class TimeTold : public wxDataViewModelNotifier {
  public:
    explicit TimeTold(int& told) : told_(told) {}
    bool ValueChanged(const wxDataViewItem&, unsigned int column) override {
        told_ += column == StationRows::kTime;
        return true;
    }
    bool ItemAdded(const wxDataViewItem&, const wxDataViewItem&) override { return true; }
    bool ItemDeleted(const wxDataViewItem&, const wxDataViewItem&) override { return true; }
    bool ItemChanged(const wxDataViewItem&) override { return true; }
    bool Cleared() override { return true; }
    void Resort() override {}

  private:
    int& told_;
};

// Four ticked ports, one silent: three green rows, one red with the engine's text, the
// silent one's time going on while it waits, the counts, four records; the settings
// locked while it runs; the row's tooltip and its box.
TEST_F(StationTest, ATrayOfTickedPortsGetsARowAndARecordEach) {
    station->addImages({data("cu.enc")});
    station->tick({"COM13", "COM14", "COM15", "COM16"});
    start();
    int told = 0;
    station->rows->AddNotifier(new TimeTold(told));
    EXPECT_FALSE(station->m_buttonStart->IsEnabled());
    EXPECT_FALSE(station->m_checkVerify->IsEnabled()) << "the settings are locked";
    EXPECT_FALSE(station->m_listPorts->IsEnabled());
    ASSERT_TRUE(runEventsUntil([&] { return station->allEnded(); }));
    EXPECT_GE(told, 1) << "the silent port's time goes on while it waits a second";
    const std::string silent = "BPROT_MSG_STATUSINFO error, bootloader not responding";
    EXPECT_EQ(station->table(), (std::vector<std::string>{
                                    "COM13 SOLVAR CU ok (green)", "COM14 SOLVAR CU ok (green)",
                                    "COM15 SOLVAR CU ok (green)", "COM16 - " + silent + " (red)"}));
    EXPECT_EQ(station->counts(), "3 passed, 1 failed, 0 running");
    EXPECT_EQ(station->records(),
              (std::vector<std::string>{"COM13 ok cu.enc", "COM14 ok cu.enc", "COM15 ok cu.enc",
                                        "COM16 " + silent + " cu.enc"}));
    EXPECT_TRUE(station->m_buttonStart->IsEnabled()) << "unlocked at the end";
    // The state column takes the room a wider window gives: the message shows whole.
    int need = 0;
    const wxFont bold = station->m_viewRows->GetFont().Bold();
    station->m_viewRows->GetTextExtent(wxString(silent), &need, nullptr, nullptr, nullptr, &bold);
    station->SetSize(station->GetSize().x + need, station->GetSize().y);
    const auto stateWidth = [&] {
        return station->m_viewRows->GetColumn(StationRows::kState)->GetWidth();
    };
    EXPECT_TRUE(runEventsUntil([&] { return stateWidth() > need; }))
        << stateWidth() << " pixels for " << need;
    size_t red = 0;
    while (station->rows->unit(red).port != "COM16")
        ++red;
    station->select(red);
    EXPECT_EQ(utf8(station->m_viewRows->GetToolTipText()), silent);
    station->activate(red);
    ASSERT_EQ(dialogs.ownBoxes.size(), 1u);
    EXPECT_EQ(dialogs.ownBoxes[0].rfind("Instrument on COM16: Port: COM16 (", 0), 0u)
        << dialogs.ownBoxes[0];
    EXPECT_NE(dialogs.ownBoxes[0].find("Result: " + silent + "\n"), std::string::npos);
    EXPECT_NE(dialogs.ownBoxes[0].find("\"event\":\"error\""), std::string::npos);
}

// A row as the station reports it: its progress is the share of its pages done, its
// label's control characters shown as U+FFFD, an ended row's state is bold, one to be
// tried again names the attempt to come and counts as running, and a failed row's tooltip
// carries the message and its hint.
TEST_F(StationTest, ARowShowsTheShareOfItsPagesAndItsFailuresHint) {
    Unit uploading;
    uploading.port = "COM9";
    uploading.operation = Operation::Upload;
    uploading.done = 50;
    uploading.pages = 200;
    uploading.label = "SN-\x1b[2J";  // a scanner's escape sequence
    Unit failed = uploading;
    failed.id = 1;
    failed.phase = Unit::Phase::Failed;
    failed.result = "read data failed, err: 5";
    failed.hint = "The connection to the instrument on COM9 was lost.";
    Unit again = failed;
    again.id = 2;
    again.phase = Unit::Phase::Waiting;
    station->rows->show(uploading);
    station->rows->show(failed);
    station->rows->show(again);
    wxVariant progress;
    station->rows->GetValueByRow(progress, 0, StationRows::kProgress);
    EXPECT_EQ(progress.GetLong(), 25);
    wxVariant label;
    station->rows->GetValueByRow(label, 0, StationRows::kLabel);
    EXPECT_EQ(utf8(label.GetString()), "SN-\xEF\xBF\xBD[2J") << "shown, harmless";
    EXPECT_EQ(utf8(station->rows->stateText(0)), "uploading");
    EXPECT_EQ(utf8(station->rows->stateText(2)), "failed, trying again (attempt 2)");
    const StationRows::Counts counts = station->rows->counts();
    EXPECT_EQ(std::vector<size_t>({counts.passed, counts.failed, counts.running}),
              std::vector<size_t>({0, 1, 2}))
        << "one to be tried again is still running";
    // An ended row's state in bold; one to be tried again in plain type.
    wxDataViewItemAttr ended, waiting;
    ASSERT_TRUE(station->rows->GetAttrByRow(1, StationRows::kState, ended));
    ASSERT_TRUE(station->rows->GetAttrByRow(2, StationRows::kState, waiting));
    EXPECT_TRUE(ended.GetBold());
    EXPECT_FALSE(waiting.GetBold());
    // Before its first operation: connecting, then connected.
    for (const bool connected : {false, true}) {
        Unit arriving;
        arriving.id = connected ? 4 : 3;
        arriving.port = "COM10";
        arriving.connected = connected;
        station->rows->show(arriving);
    }
    EXPECT_EQ(utf8(station->rows->stateText(3)), "connecting");
    EXPECT_EQ(utf8(station->rows->stateText(4)), "connected");
    station->select(1);
    EXPECT_EQ(utf8(station->m_viewRows->GetToolTipText()),
              "read data failed, err: 5\nThe connection to the instrument on COM9 was lost.");
}

// The checklist follows the machine's ports in place: a port pulled out leaves it, one
// plugged in again comes back where the machine lists it, unticked, and the ticks and the
// chosen line of the others stay.
TEST_F(StationTest, ThePortChecklistFollowsTheMachineKeepingItsTicks) {
    station->tick({"COM14", "COM16"});
    const auto shown = [&] {
        std::vector<std::string> lines;
        for (unsigned i = 0; i < station->m_listPorts->GetCount(); ++i) {
            const std::string line = utf8(station->m_listPorts->GetString(i));
            if (line.rfind("COM1", 0) == 0 && line.size() > 5 && line[4] >= '3' && line[5] == ' ')
                lines.push_back(line.substr(0, 5) +
                                (station->m_listPorts->IsChecked(i) ? " x" : ""));
        }
        return lines;
    };
    station->m_listPorts->SetSelection(station->m_listPorts->FindString(
        station->m_listPorts->GetString(station->m_listPorts->GetCount() - 1)));
    const wxString chosen = station->m_listPorts->GetStringSelection();
    PortPlug com15("COM15");
    ASSERT_TRUE(com15.set(false));
    station->portWatcher->look();
    EXPECT_EQ(shown(), (std::vector<std::string>{"COM13", "COM14 x", "COM16 x"}));
    ASSERT_TRUE(com15.set(true));
    station->portWatcher->look();
    EXPECT_EQ(shown(), (std::vector<std::string>{"COM13", "COM14 x", "COM15", "COM16 x"}));
    EXPECT_EQ(station->m_listPorts->GetStringSelection(), chosen) << "the chosen line stays";
    // Another adapter under the same name between two looks: its line tells the new one.
    std::vector<PortInfo> now = station->ports;
    for (PortInfo& port : now) {
        if (port.name == "COM16") {
            port.usb = true;
            port.product = "USB-Serial";
            port.manufacturer = "FTDI";
            port.vid = 0x0403;
            port.pid = 0x6001;
            port.serial = "A7F3";
        }
    }
    station->showPorts(now);
    const int line =
        station->m_listPorts->FindString("COM16  USB-Serial (FTDI) 0403:6001, serial A7F3");
    ASSERT_NE(line, wxNOT_FOUND);
    EXPECT_TRUE(station->m_listPorts->IsChecked(static_cast<unsigned>(line))) << "its tick stays";
}

// Automatic mode's instruments, each pulled out until a test plugs it in, and all plugged
// in again at its end for the next test.
struct AutomaticTray {
    AutomaticTray() {
        for (PortPlug* plug : {&cu, &paced})
            EXPECT_TRUE(plug->set(false));
    }
    ~AutomaticTray() {
        for (PortPlug* plug : {&cu, &paced})
            plug->set(true);  // those still in stay
    }
    PortPlug cu{"COM17"}, paced{"COM19"};
};

// Automatic mode with labels and a batch: the label field's scan reaches the station (which
// instrument gets it: the station's test), and the batch's target ends the run.
TEST_F(StationTest, AutomaticModeGivesAScannedLabelToTheNextInstrument) {
    AutomaticTray tray;
    station->addImages({data("station")});
    station->m_radioEvery->SetValue(true);
    station->m_checkLabels->SetValue(true);
    station->m_textWorkOrder->SetValue("WO-A");
    station->m_spinQuantity->SetValue(1);
    dialogs.ownDialog = [](wxDialog*) { return wxID_OK; };
    start();
    station->m_textLabel->SetValue("SN-2");
    wxCommandEvent enter(wxEVT_TEXT_ENTER, station->m_textLabel->GetId());
    station->m_textLabel->ProcessWindowEvent(enter);
    ASSERT_TRUE(tray.cu.set(true));
    ASSERT_TRUE(runEventsUntil([&] { return station->allEnded(); })) << "the target ends it";
    EXPECT_EQ(station->counts(), "1 of 1 passed, 0 failed, 0 running");
    ASSERT_EQ(station->rows->size(), 1u);
    EXPECT_EQ(station->rows->unit(0).label, "SN-2");
}

// Closing while only watching never holds up the window's thread, even when a copy started
// a moment before (its row not yet shown): the window goes once that instrument has ended,
// with its record.
TEST_F(StationTest, AutomaticModeClosesWithoutHoldingUpTheWindow) {
    AutomaticTray tray;
    station->addImages({data("cu-25600.enc")});
    station->m_radioEvery->SetValue(true);
    start();
    runEventsUntil([] { return false; }, std::chrono::milliseconds(500));  // watching by now
    ASSERT_TRUE(tray.paced.set(true));
    // The window's thread busy elsewhere while the station finds the instrument and starts
    // its copy: its report waits in the queue.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string report = station->reportPath;
    wxWeakRef<wxFrame> window(station);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(station->Close(false)) << "it closes once the station has ended";
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1500))
        << "the window's thread waited for the station's";
    ASSERT_TRUE(runEventsUntil([&] { return !window; }));
    station = nullptr;
    EXPECT_EQ(results(report), std::vector<std::string>{"ok"}) << "the upload begun was finished";
}

// Stop during an upload lets it finish, and it is recorded; Stop twice, confirmed,
// abandons it, recorded as interrupted. A close refused meanwhile changes nothing.
TEST_F(StationTest, StopLetsTheUploadFinishAndASecondStopAbandonsIt) {
    station->addImages({data("cu-25600.enc")});
    station->tick({"COM7"});
    for (const int stops : {1, 2}) {
        start();
        ASSERT_TRUE(runEventsUntil(
            [&] { return station->rows->size() == 1 && station->rows->unit(0).done > 20; }));
        dialogs.answer = wxID_NO;
        EXPECT_FALSE(station->Close(false)) << "not closed while an upload runs";
        EXPECT_EQ(dialogs.boxes.back(),
                  "Close: Close the window once the 1 instruments being serviced have ended?");
        dialogs.answer = wxID_YES;
        dialogs.boxes.clear();
        for (int i = 0; i < stops; ++i)
            clickButton(station->m_buttonStop);
        ASSERT_TRUE(runEventsUntil([&] { return station->allEnded(); }));
        EXPECT_EQ(station->table(),
                  std::vector<std::string>{stops == 1 ? "COM7 SOLVAR CU ok (green)"
                                                      : "COM7 SOLVAR CU interrupted (red)"});
        EXPECT_EQ(dialogs.boxes.size(), stops == 1 ? 0u : 1u) << "the second Stop asks first";
    }
    EXPECT_EQ(station->records(),
              (std::vector<std::string>{"COM7 interrupted cu-25600.enc", "COM7 ok cu-25600.enc"}));
}

// The instrument ends while the question to abandon it is open: the answer finds nothing
// left to abandon, and the instrument keeps its ok. The station ended meanwhile stays
// harmless until the next Start, which works as the first.
TEST_F(StationTest, AnAbandonConfirmedAfterTheInstrumentsEndedChangesNothing) {
    uploading("cu-12800.enc");
    clickButton(station->m_buttonStop);
    dialogs.onBox = [&] { EXPECT_TRUE(runEventsUntil([&] { return station->allEnded(); })); };
    clickButton(station->m_buttonStop);
    dialogs.onBox = nullptr;
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"Stop: Abandon the 1 instruments still "
                                                      "running? Each is recorded as interrupted."});
    clickButton(station->m_buttonStop);  // a late Stop: nothing runs
    EXPECT_EQ(station->table(), std::vector<std::string>{"COM7 SOLVAR CU ok (green)"});
    start();
    ASSERT_TRUE(runEventsUntil([&] { return station->allEnded(); }));
    EXPECT_EQ(station->records(),
              (std::vector<std::string>{"COM7 ok cu-12800.enc", "COM7 ok cu-12800.enc"}));
}

// An instrument uploading when the window goes: a close asked for waits for its end and
// its ok (Yes to the box); a close that cannot be refused (the session ends) and a window
// destroyed without a close (the program ending under it) abandon it as interrupted.
TEST_F(StationTest, AWindowThatGoesLeavesItsUploadingInstrumentsRecord) {
    const std::tuple<const char*, const char*, const char*> kGoings[] = {
        {"asked", "cu-12800.enc", "ok"},
        {"forced", "cu-25600.enc", "interrupted"},
        {"destroyed", "cu-25600.enc", "interrupted"},
    };
    for (const auto& [how, image, result] : kGoings) {
        if (station == nullptr)
            station = new TestStation;
        uploading(image);
        const std::string report = station->reportPath;
        wxWeakRef<wxFrame> window(station);
        if (how == std::string("asked")) {
            EXPECT_FALSE(station->Close(false));
            EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"Close: Close the window once the "
                                                              "1 instruments being serviced have "
                                                              "ended?"});
            EXPECT_TRUE(window) << "still there while the upload runs";
        } else if (how == std::string("forced")) {
            EXPECT_TRUE(station->Close(true));
        } else {
            delete station;
        }
        ASSERT_TRUE(runEventsUntil([&] { return !window; })) << how;
        station = nullptr;
        EXPECT_EQ(results(report), std::vector<std::string>{result}) << how;
    }
}

// A job saved from the window opens again the same; saved locked, its settings are
// read-only until "Edit job" is confirmed; a file that is no job is refused with a box.
TEST_F(StationTest, AJobSavedOpensAgainTheSameAndALockedOneIsReadOnly) {
    station->addImages({data("cu.enc")});
    station->tick({"COM13", "COM14"});
    station->m_checkVerify->SetValue(true);
    station->m_spinAttempts->SetValue(2);
    station->m_textWorkOrder->SetValue("WO-5");
    station->m_spinQuantity->SetValue(10);
    station->m_checkLabels->SetValue(true);
    station->m_checkLocked->SetValue(true);
    const std::string job = data("Jiří/line.ostrajob");
    ASSERT_TRUE(station->saveJobTo(job));
    EXPECT_EQ(utf8(station->GetStatusBar()->GetStatusText()), "Job saved: " + job);
    const JobFile saved = station->jobFromSettings();
    auto* opened = new TestStation;  // opens it as the last job used, from its Job menu
    wxCommandEvent last(wxEVT_MENU, wxID_FILE1);
    opened->ProcessWindowEvent(last);
    EXPECT_EQ(utf8(opened->GetTitle()), "Ostraloader Station - line");
    const auto samePaths = [](JobFile j) {  // "Z:/a/b" and "Z:\\a\\b" are one on Windows
        for (std::string* path : {&j.report, &j.images[0]})
            *path = std::filesystem::u8path(*path).lexically_normal().u8string();
        return j;
    };
    EXPECT_EQ(samePaths(opened->jobFromSettings()), samePaths(saved));
    EXPECT_FALSE(opened->m_checkVerify->IsEnabled()) << "a locked job's settings";
    EXPECT_FALSE(opened->m_listPorts->IsEnabled());
    EXPECT_TRUE(opened->m_buttonStart->IsEnabled()) << "anyone may run it";
    EXPECT_TRUE(opened->m_menuItemEditJob->IsEnabled());
    EXPECT_FALSE(station->m_menuItemEditJob->IsEnabled()) << "nothing to unlock";
    wxCommandEvent edit(wxEVT_MENU, opened->m_menuItemEditJob->GetId());
    opened->ProcessWindowEvent(edit);
    EXPECT_EQ(dialogs.boxes.back(), "Edit job: Unlock the job's settings for editing?");
    EXPECT_TRUE(opened->m_checkVerify->IsEnabled()) << "unlocked once confirmed";
    EXPECT_FALSE(opened->m_menuItemEditJob->IsEnabled());
    const std::string damaged = data("damaged.ostrajob");
    ASSERT_TRUE(appendToFile(damaged, "{\"ostrajob\": 1, \"images\": [").empty());
    EXPECT_FALSE(opened->openJob(damaged));
    EXPECT_EQ(dialogs.boxes.back(), "Error: the job " + damaged +
                                        " is not an Ostraloader station job\nOpen a file that "
                                        "Ostraloader saved.");
    opened->Destroy();
}

// A job of slots shows a tile per slot: its name, the label scanned for it, and how it
// ended, green or red with the reason, every text whole; each record carries its slot,
// label, the job's batch and the operator asked for. The window, made as small as it
// goes, keeps room for the table under the tiles while the tray runs.
TEST_F(StationTest, EachSlotsTileShowsItsLabelAndOutcomeWhole) {
    const std::string job = data("tiles.ostrajob");
    ASSERT_TRUE(
        appendToFile(job,
                     "{\"ostrajob\": 1, \"images\": [\"cu-25600.enc\"], \"instruments\": "
                     "\"slots\", \"slots\": [{\"name\": \"Slot 1\", \"port\": "
                     "\"COM13\"}, {\"name\": \"Slot 2\", \"port\": \"COM16\"}, "
                     "{\"name\": \"Slot 3\", \"port\": \"COM7\"}], "
                     "\"report\": \"tiles.jsonl\", \"labels\": true, \"batch\": {\"workOrder\": "
                     "\"WO-8\", \"quantity\": 0}}")
            .empty());
    ASSERT_TRUE(station->openJob(job)) << (dialogs.boxes.empty() ? "" : dialogs.boxes.back());
    int scanned = 0;
    dialogs.ownDialog = [&](wxDialog* box) {  // the tray's labels, as a scanner types them
        auto* entry = dynamic_cast<wxTextEntryDialog*>(box);
        if (entry != nullptr)
            entry->SetValue("Jana");  // the operator
        for (wxWindow* child : entry ? wxWindowList() : box->GetChildren()) {
            if (auto* field = dynamic_cast<wxTextCtrl*>(child))
                field->SetValue(wxString::Format("SN-%d", ++scanned));
        }
        return wxID_OK;
    };
    const auto roomForTheTable = [&] {
        return !station->m_viewRows->GetRect().Intersects(station->GetStatusBar()->GetRect());
    };
    start();
    station->SetSize(station->GetMinSize());  // as small as the operator may make it
    const std::string silent = "BPROT_MSG_STATUSINFO error, bootloader not responding";
    ASSERT_TRUE(runEventsUntil([&] { return station->m_tiles->tileText(1) != "Slot 2|SN-2||"; }));
    // The window grows on a later turn of the loop (the toolkit's own); the paced
    // instrument is still uploading for seconds.
    EXPECT_TRUE(runEventsUntil(roomForTheTable, std::chrono::milliseconds(1500)));
    EXPECT_TRUE(station->running()) << "the paced instrument ended too soon to tell";
    ASSERT_TRUE(runEventsUntil([&] { return station->allEnded(); }));
    EXPECT_EQ(station->m_tiles->tileText(0), "Slot 1|SN-1|ok|");
    EXPECT_EQ(station->m_tiles->tileText(1), "Slot 2|SN-2|failed|" + silent);
    EXPECT_EQ(station->m_tiles->tileText(2), "Slot 3|SN-3|ok|");
    EXPECT_EQ(station->m_tiles->tileColour(0), wxColour(0, 128, 0));
    EXPECT_EQ(station->m_tiles->tileColour(1), wxColour(192, 0, 0));
    std::vector<std::string> records;
    StdioFile file = openFile(data("tiles.jsonl"), "rb");
    char line[4096];
    while (file && std::fgets(line, sizeof line, file.get())) {
        const nlohmann::json j = nlohmann::json::parse(line);
        records.push_back(j.value("slot", "-") + " " + j.value("label", "-") + " " +
                          j.value("batch", "-") + " " + j.value("operator", "-"));
    }
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, (std::vector<std::string>{"Slot 1 SN-1 WO-8 Jana", "Slot 2 SN-2 WO-8 Jana",
                                                 "Slot 3 SN-3 WO-8 Jana"}));
    EXPECT_TRUE(runEventsUntil(roomForTheTable));
    expectEveryTextWhole(station, "en");
    EXPECT_GT(station->m_staticCounts->GetFont().GetPointSize(),
              station->m_buttonStart->GetFont().GetPointSize())
        << "the counts in large type";
    // The state column takes the table's spare width, and no more: nothing to scroll to.
    EXPECT_TRUE(runEventsUntil(
        [&] {
            int columns = 0;
            for (unsigned column = 0; column < station->m_viewRows->GetColumnCount(); ++column)
                columns += station->m_viewRows->GetColumn(column)->GetWidth();
            return columns <= station->m_viewRows->GetClientSize().x;
        },
        std::chrono::seconds(5)));
}

TEST_F(StationTest, EveryTextFitsInTheStationWindowInEnglishAndCzech) {
    for (const char* language : {"en", "cs"}) {
        std::unique_ptr<wxLocale> locale;
        if (std::string(language) == "cs") {
            locale = czech();
            station->Destroy();
            station = new TestStation;
            EXPECT_EQ(station->m_buttonStart->GetLabel(), wxString::FromUTF8("Spustit"));
        }
        station->addImages({data("station"), data("broken.enc")});  // the longest verdicts
        wxYield();
        const wxSize least = station->FromDIP(wxSize(900, 700));
        EXPECT_GE(station->GetSize().x, least.x) << language;
        EXPECT_GE(station->GetSize().y, least.y) << language;
        expectEveryTextWhole(station, language);
    }
}
