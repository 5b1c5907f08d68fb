// The main window against virtual instruments, in a real X server: the GTK form on Linux,
// the msw form under Wine. tests/gui/run starts the instruments of tests/gui/instruments
// and makes the images; OSTRA_GUI_DATA names their folder. Modal boxes are answered by a
// dialog hook instead of blocking.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>
#include <wx/stdpaths.h>
#include <wx/wx.h>

#include <chrono>
#include <cstdlib>
#include <set>

#include "app/BootloaderApp.h"
#include "app/MainFrame.h"
#include "app/RouteScanDialog.h"
#include "app/Translate.h"
#include "link/PortNames.h"
#include "support/Files.h"
#include "tests/gui/GuiSupport.h"
#include "tests/gui/WindowDriver.h"

namespace {
// Ports by role (tests/gui/instruments).
const char* const kPlain = "COM3";
const char* const kSilent = "COM4";
const char* const kRouter = "COM5";
const char* const kFaulty = "COM6";
const char* const kPaced = "COM7";
const char* const kLosesRoutedStatus = "COM8";
const char* const kLosesRefresh = "COM9";
const char* const kTamrik = "COM12";
const char* const kRoutes = "COM10";
const char* const kLateChild = "COM11";

class TestFrame : public MainFrame {
  public:
    using MainFrame::deviceStatus, MainFrame::engine, MainFrame::scanPorts,
        MainFrame::m_buttonBrowseFirmware, MainFrame::m_buttonConnect, MainFrame::m_buttonRoute,
        MainFrame::m_buttonUploadFirmware, MainFrame::m_checkRunAfterUpload, MainFrame::m_comboPort,
        MainFrame::m_gauge, MainFrame::m_menuItemRunFirmware, MainFrame::m_menuItemFindRoutes,
        MainFrame::m_menuItemStation, MainFrame::m_staticBootloaderVersion,
        MainFrame::m_staticDeviceType, MainFrame::m_staticFileBuild, MainFrame::m_staticFileLength,
        MainFrame::m_staticFileProduct, MainFrame::m_staticFileTimestamp,
        MainFrame::m_staticFileVersion, MainFrame::m_staticFirmwareLoaded,
        MainFrame::m_staticFirmwareSize, MainFrame::m_staticFirmwareStatus,
        MainFrame::m_staticFirmwareVersion, MainFrame::m_staticInfoCaption,
        MainFrame::m_textFirmwareFile, MainFrame::m_textRoutePath;

    std::string status() const { return utf8(GetStatusBar()->GetStatusText(0)); }
    // Every status set, in order: a slow machine may handle an operation's start and end
    // in one turn of the loop, and a poll would miss what stood between them.
    std::vector<std::string> statusesSet;
    void SetStatusText(const wxString& text, int field = 0) override {
        statusesSet.push_back(utf8(text));
        MainFrame::SetStatusText(text, field);
    }
    // The port list as it stands after the user opens it (and closes it again).
    std::vector<wxString> portsWhenOpened() {
        wxCommandEvent open(wxEVT_COMBOBOX_DROPDOWN, m_comboPort->GetId());
        m_comboPort->ProcessWindowEvent(open);
        const wxArrayString all = m_comboPort->GetStrings();
        wxCommandEvent closed(wxEVT_COMBOBOX_CLOSEUP, m_comboPort->GetId());
        m_comboPort->ProcessWindowEvent(closed);
        return std::vector<wxString>(all.begin(), all.end());
    }
    static std::vector<std::string> texts(std::initializer_list<wxStaticText*> labels) {
        std::vector<std::string> all;
        for (wxStaticText* label : labels)
            all.push_back(text(label));
        return all;
    }
    // Device type, bootloader and firmware version, loaded, size, status.
    std::vector<std::string> device() const {
        return texts({m_staticDeviceType, m_staticBootloaderVersion, m_staticFirmwareVersion,
                      m_staticFirmwareLoaded, m_staticFirmwareSize, m_staticFirmwareStatus});
    }
    // Product, version, build and length of the chosen image.
    std::vector<std::string> image() const {
        return texts(
            {m_staticFileProduct, m_staticFileVersion, m_staticFileBuild, m_staticFileLength});
    }
    // The controls a user can act on, in reading order.
    std::vector<wxWindow*> inputs() const {
        return {m_comboPort,           m_textRoutePath,       m_buttonRoute,
                m_buttonConnect,       m_textFirmwareFile,    m_buttonBrowseFirmware,
                m_checkRunAfterUpload, m_buttonUploadFirmware};
    }
    bool anyInputEnabled() const {
        const std::vector<wxWindow*> all = inputs();
        return GetMenuBar()->IsEnabledTop(0) ||
               std::any_of(all.begin(), all.end(), [](wxWindow* w) { return w->IsEnabled(); });
    }
};

class GuiTest : public ::testing::Test {
  protected:
    GuiTest() { open(); }
    ~GuiTest() override { close(); }

    void open() {
        frame = new TestFrame;
        frame->Show();
        wxYield();
    }
    void close() {
        if (frame != nullptr) {
            frame->engine.stop(true, Thread::kInfinite);
            frame->Destroy();
            frame = nullptr;
            wxYield();
        }
    }
    void connect(const char* port) {
        frame->m_comboPort->SetValue(port);
        ASSERT_EQ(utf8(frame->m_comboPort->GetValue()), port) << "the port is not listed";
        clickButton(frame->m_buttonConnect);
        ASSERT_TRUE(frame->engine.IsConnected())
            << (dialogs.boxes.empty() ? "" : dialogs.boxes.back());
    }
    void route(const char* path) {
        frame->m_textRoutePath->SetValue(path);
        clickButton(frame->m_buttonRoute);
    }
    void choose(const std::string& image) {
        frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(image));
    }

    DialogCapture dialogs;
    TestFrame* frame = nullptr;
};
}  // namespace

TEST_F(GuiTest, StartsDisconnectedWithTheFixedPortsFirstAndAFixedHeight) {
    EXPECT_EQ(
        (std::vector<wxString>{
            frame->GetTitle(), frame->m_comboPort->GetValue(), frame->m_buttonConnect->GetLabel(),
            frame->m_buttonRoute->GetLabel(), frame->status(), frame->m_textRoutePath->GetValue(),
            frame->m_textFirmwareFile->GetValue(), frame->m_staticInfoCaption->GetLabel()}),
        (std::vector<wxString>{"Ostraloader ver. 1.5.6", "COM2", "Connect", "Enable routing",
                               "Disconnected", "0", "", "Information"}));
    EXPECT_EQ(frame->device(), std::vector<std::string>(6));
    EXPECT_EQ(frame->image(), std::vector<std::string>(4));
    for (wxWindow* w : frame->inputs()) {
        EXPECT_EQ(w->IsEnabled(), w == frame->m_comboPort || w == frame->m_buttonConnect)
            << utf8(w->GetName());
    }
    EXPECT_FALSE(frame->m_menuItemRunFirmware->IsEnabled());
    EXPECT_FALSE(frame->m_menuItemFindRoutes->IsEnabled()) << "only while connected";
    // Operation > Station... opens the station window beside this one.
    wxCommandEvent station(wxEVT_COMMAND_MENU_SELECTED, frame->m_menuItemStation->GetId());
    frame->ProcessWindowEvent(station);
    wxWindow* opened = nullptr;
    for (wxWindow* window : wxTopLevelWindows)
        opened = window->GetLabel() == "Ostraloader Station" ? window : opened;
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(opened->IsShown());
    opened->Destroy();
    const wxArrayString ports = frame->m_comboPort->GetStrings();
    EXPECT_EQ(
        std::vector<wxString>(ports.begin(), ports.begin() + std::min<size_t>(9, ports.size())),
        (std::vector<wxString>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
                               "COM9"}))
        << "the system's other ports follow the fixed eight";

    frame->SetSize(900, 900);
    runEventsUntil([&] { return frame->GetSize().x == 900; }, std::chrono::seconds(2));
    EXPECT_EQ(frame->GetSize(), wxSize(900, 710));
    frame->SetSize(300, 300);
    runEventsUntil([&] { return frame->GetSize().x < 900; }, std::chrono::seconds(2));
    EXPECT_EQ(frame->GetSize(), wxSize(650, 710));
}

TEST_F(GuiTest, ConnectAndRoutingShowTheInstrumentReachedAndFailuresFallBack) {
    // Port, route (empty: direct), device type shown.
    const std::tuple<const char*, std::string, const char*> kReached[] = {
        {kPlain, "", "SOLVAR CU"},
        {kTamrik, "", "TAMRIK"},
        {kRouter, "2", "SOLVAR HS"},
        {kRouter, "7.7.7.7.7.7.7.7", "SOLVAR HS3"}};
    for (const auto& [port, path, deviceType] : kReached) {
        connect(port);
        const bool routed = !path.empty();
        if (routed)
            route(path.c_str());
        EXPECT_EQ(frame->device(), (std::vector<std::string>{deviceType, "1.2", "0.0", "",
                                                             "0 bytes", "Not loaded"}));
        EXPECT_EQ(text(frame->m_staticInfoCaption),
                  routed ? "Information - routed connection to '" + path + "'"
                         : "Information - direct USB connection");
        EXPECT_EQ(std::make_tuple(frame->status(), frame->m_buttonConnect->GetLabel(),
                                  frame->m_buttonRoute->GetLabel(), frame->m_comboPort->IsEnabled(),
                                  frame->m_textRoutePath->IsEnabled()),
                  std::make_tuple(std::string("Connected"), wxString("Disconnect"),
                                  wxString(routed ? "Disable routing" : "Enable routing"), false,
                                  !routed));
        if (routed) {
            clickButton(frame->m_buttonRoute);
            EXPECT_EQ(text(frame->m_staticDeviceType), "SOLVAR CU");
            EXPECT_TRUE(frame->m_textRoutePath->IsEnabled());
        }
        clickButton(frame->m_buttonConnect);
        EXPECT_EQ(frame->status(), "Disconnected");
        EXPECT_EQ(frame->device(), std::vector<std::string>(6));
    }
    // A silent port, and one that answers the connect but not the status refresh after it:
    // either way the window is left disconnected and the port released.
    const std::string silent = "Error: BPROT_MSG_STATUSINFO error, bootloader not responding";
    for (const char* port : {kSilent, kLosesRefresh}) {
        frame->m_comboPort->SetValue(port);
        clickButton(frame->m_buttonConnect);
        EXPECT_EQ(dialogs.boxes.back(), silent) << port;
        EXPECT_EQ(
            std::make_tuple(frame->engine.IsConnected(), frame->status(),
                            frame->m_buttonConnect->GetLabel(), frame->device()[0]),
            std::make_tuple(false, std::string("Disconnected"), wxString("Connect"), std::string()))
            << port;
    }
    connect(kRouter);
    route("4");  // nobody there
    EXPECT_EQ(dialogs.boxes, (std::vector<std::string>(3, silent)));
    EXPECT_FALSE(frame->engine.IsRouted());
    EXPECT_EQ(frame->m_buttonRoute->GetLabel(), "Enable routing");
    EXPECT_EQ(text(frame->m_staticInfoCaption), "Information - direct USB connection");
    EXPECT_EQ(text(frame->m_staticDeviceType), "SOLVAR CU") << "the direct instrument's status";

    clickButton(frame->m_buttonConnect);
    // No instrument registers COM2 and the test machines have no second UART: the box says
    // so under the message.
    frame->m_comboPort->SetValue("COM2");
    clickButton(frame->m_buttonConnect);
    EXPECT_EQ(
        dialogs.boxes.back().rfind("Error: open port 'COM2' failed\nThere is no port COM2", 0), 0u)
        << dialogs.boxes.back();
}

// An instrument pulled out while the window is open leaves the list, by the scan while
// nothing is connected or when the list is opened, and one plugged in appears there and
// can be reached. Either way the port the user chose stays chosen.
TEST_F(GuiTest, ThePortListFollowsTheMachineWhileTheWindowIsOpen) {
    PortPlug tamrik(kTamrik);
    const auto shown = [&] { return frame->m_comboPort->FindString(kTamrik) != wxNOT_FOUND; };
    const auto listed = [&] {
        const std::vector<wxString> ports = frame->portsWhenOpened();
        return std::find(ports.begin(), ports.end(), kTamrik) != ports.end();
    };
    frame->m_comboPort->SetValue(kRouter);
    ASSERT_TRUE(listed());
    ASSERT_TRUE(tamrik.set(false));
    frame->scanPorts();  // as its timer does
    EXPECT_FALSE(shown()) << "the scan saw the port go";
    EXPECT_EQ(frame->m_comboPort->GetValue(), kRouter) << "the scan kept the user's choice";
    EXPECT_FALSE(listed()) << "a port that went away";
    ASSERT_TRUE(tamrik.set(true));
    EXPECT_TRUE(listed()) << "a port that came";
    EXPECT_EQ(frame->m_comboPort->GetValue(), kRouter) << "the list kept the user's choice";
    connect(kTamrik);
    EXPECT_EQ(text(frame->m_staticDeviceType), "TAMRIK");
    EXPECT_EQ(utf8(frame->m_comboPort->GetToolTipText()), resolvePortName(kTamrik))
        << "the tooltip names the port's device";
    clickButton(frame->m_buttonConnect);
}

// The instruments behind the one connected, found in their dialog: the grandchild 2.5
// chosen and used as the routing button uses a path; a child that answers late is never
// credited to the port after it, as on the command line.
TEST_F(GuiTest, RoutedInstrumentsAreFoundInTheirDialogAndUsed) {
    // The port, the paths listed when the dialog ends, and the one used (empty: none).
    const std::tuple<const char*, std::vector<std::string>, std::string> kScans[] = {
        {kRoutes, {"2", "2.5"}, "2.5"},
        {kLateChild, {}, ""},
    };
    for (const auto& [port, paths, use] : kScans) {
        connect(port);
        ASSERT_TRUE(frame->m_menuItemFindRoutes->IsEnabled());
        wxDialog* scan = nullptr;
        dialogs.ownDialog = [&](wxDialog* dialog) {
            scan = dialog;
            return wxID_NONE;  // it runs, played by the user below
        };
        std::vector<std::string> listed;
        bool stopped = false;
        // The user: once the wanted path answers, Cancel stops the scan and the path is
        // chosen, then Use; wanting none, Cancel once every port was tried.
        const EveryFewMs user([&] {
            wxListCtrl* list = nullptr;
            for (wxWindow* child : scan ? scan->GetChildren() : wxWindowList())
                list = list ? list : dynamic_cast<wxListCtrl*>(child);
            if (list == nullptr)
                return;
            listed.clear();
            for (long row = 0; row < list->GetItemCount(); ++row)
                listed.push_back(utf8(list->GetItemText(row)));
            const auto press = [&](int id) {
                wxCommandEvent click(wxEVT_BUTTON, id);
                scan->FindWindow(id)->ProcessWindowEvent(click);
            };
            const auto wanted = std::find(listed.begin(), listed.end(), use);
            if (!use.empty() && wanted != listed.end() && !stopped) {
                stopped = true;
                press(wxID_CANCEL);
                list->SetItemState(wanted - listed.begin(), wxLIST_STATE_SELECTED,
                                   wxLIST_STATE_SELECTED);
            } else if (stopped && scan->FindWindow(wxID_OK)->IsEnabled()) {
                press(wxID_OK);
            } else if (use.empty()) {
                for (wxWindow* child : scan->GetChildren()) {
                    auto* gauge = dynamic_cast<wxGauge*>(child);
                    if (gauge && gauge->GetValue() == gauge->GetRange() && gauge->GetRange() >= 8)
                        press(wxID_CANCEL);
                }
            }
        });
        wxCommandEvent menu(wxEVT_COMMAND_MENU_SELECTED, frame->m_menuItemFindRoutes->GetId());
        frame->ProcessWindowEvent(menu);
        dialogs.ownDialog = nullptr;
        EXPECT_EQ(listed, paths) << port;
        EXPECT_EQ(frame->engine.IsRouted(), !use.empty());
        if (!use.empty()) {
            EXPECT_EQ(utf8(frame->m_textRoutePath->GetValue()), use);
            EXPECT_EQ(text(frame->m_staticInfoCaption),
                      "Information - routed connection to '" + use + "'");
            EXPECT_EQ(frame->device(),
                      (std::vector<std::string>{"TAMRIK 3", "1.2", "1.4", frame->device()[3],
                                                "65536 bytes", "Loaded"}));
            EXPECT_FALSE(frame->m_menuItemFindRoutes->IsEnabled()) << "only while direct";
            clickButton(frame->m_buttonRoute);
        }
        EXPECT_EQ(dialogs.boxes.size(), 0u) << dialogs.boxes.back();
        clickButton(frame->m_buttonConnect);
    }
}

TEST_F(GuiTest, DisablingARouteWhoseDirectLineIsSilentForgetsTheRoutedStatus) {
    connect(kLosesRoutedStatus);
    route("2");
    choose(data("hs.enc"));
    ASSERT_TRUE(frame->m_buttonUploadFirmware->IsEnabled()) << "a Solvar HS image, routed to one";
    clickButton(frame->m_buttonRoute);  // the direct status request is lost
    EXPECT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_FALSE(frame->engine.IsRouted());
    EXPECT_EQ(frame->deviceStatus.deviceType, 0);
    EXPECT_EQ(text(frame->m_staticDeviceType), "");
    EXPECT_FALSE(frame->m_buttonUploadFirmware->IsEnabled())
        << "Upload offered for the routed instrument's product on the direct line";
}

TEST_F(GuiTest, TheImageCheckDecidesWhetherUploadIsOffered) {
    connect(kPlain);
    using Texts = std::vector<std::string>;
    const Texts valid = {"Solvar CU", "2.1 ", "1974", "1000 bytes"};
    const Texts unknown = {"Unknown product or firmware corrupted", "", "", ""};
    // The file, the fields shown, whether Upload is offered.
    const std::tuple<std::string, Texts, bool> kImages[] = {
        {data("cu.enc"), valid, true},
        {data("Jiří/cu.enc"), valid, true},
        {data("tamrik.enc"), {"Tamrik", "2.1 ", "1974", "1000 bytes"}, false},
        {data("broken.enc"), {"Firmware corrupted", "", "", ""}, false},
        {data("random.bin"), unknown, false},
        {data("missing.enc"), unknown, false},
    };
    for (const auto& [file, fields, upload] : kImages) {
        choose(file);
        EXPECT_EQ(frame->image(), fields) << file;
        EXPECT_EQ(frame->m_buttonUploadFirmware->IsEnabled(), upload) << file;
        // Built at 14:30:00 on the local clock, shown as local time.
        EXPECT_EQ(text(frame->m_staticFileTimestamp).find("14:30:00") != std::string::npos,
                  !fields[2].empty())
            << text(frame->m_staticFileTimestamp);
    }
    clickButton(frame->m_buttonBrowseFirmware);
    EXPECT_EQ(dialogs.fileDialogs,
              std::vector<std::string>{"Select firmware|Encrypted files (*.enc)|*.enc|BIN files "
                                       "(*.bin)|*.bin"});
    EXPECT_EQ(utf8(frame->m_textFirmwareFile->GetValue()), data("missing.enc"))
        << "a cancelled dialog changes nothing";
}

// Files dropped on any part of the window, through the handler the toolkit calls.
TEST_F(GuiTest, AnImageDroppedOnTheWindowIsCheckedAtOnceOnlyWhileItsFieldTakesInput) {
    const auto drop = [](wxWindow* where, const std::vector<std::string>& files) {
        auto* target = dynamic_cast<wxFileDropTarget*>(where->GetDropTarget());
        EXPECT_NE(target, nullptr) << "no drop target on " << utf8(where->GetName());
        wxArrayString names;
        for (const std::string& file : files)
            names.Add(wxString::FromUTF8(file));
        return target != nullptr && target->OnDropFiles(10, 10, names);
    };
    EXPECT_FALSE(drop(frame, {data("cu.enc")})) << "disconnected";
    EXPECT_EQ(utf8(frame->m_textFirmwareFile->GetValue()), "");
    EXPECT_EQ(frame->image()[0], "");
    connect(kPlain);
    // The window part, the files, the product then shown, whether Upload is offered.
    const std::tuple<wxWindow*, std::vector<std::string>, std::string, bool> kDrops[] = {
        {frame->m_gauge, {data("tamrik.enc"), data("cu.enc")}, "Tamrik", false},
        {frame->m_staticDeviceType->GetParent(), {data("Jiří/cu.enc")}, "Solvar CU", true},
        {frame, {data("broken.enc")}, "Firmware corrupted", false},
    };
    for (const auto& [where, files, product, upload] : kDrops) {
        EXPECT_TRUE(drop(where, files)) << files[0];
        EXPECT_EQ(utf8(frame->m_textFirmwareFile->GetValue()), files[0]);
        EXPECT_EQ(frame->image()[0], product) << files[0];
        EXPECT_EQ(frame->m_buttonUploadFirmware->IsEnabled(), upload) << files[0];
    }
    EXPECT_FALSE(drop(frame, {})) << "nothing dropped";
}

// Each operation ends in one box. While the worker's operations run every input is locked
// and the gauge enabled (a disabled gauge is drawn without its fill), and they stay locked
// while its box is up; a paced upload moves the gauge with its pages.
// Afterwards the gauge is empty.
TEST_F(GuiTest, EachOperationEndsInOneBoxAndLeavesTheWindowReady) {
    const std::string vanishing = data("vanishing.enc"), dump = data("Jiří/dump.bin");
    enum Action { Upload, Run, Erase, Read };
    // Port, image chosen before the action (empty: none), action, its box, the busy status
    // of a long operation while it runs, the gauge's value and range when the box comes
    // (empty: any), and whether the window is still connected afterwards.
    struct Operation {
        const char* port;
        std::string image;
        Action action;
        std::string box, busyStatus, gaugeAtBox;
        bool connectedAfter = true;
    };
    const Operation kOperations[] = {
        {kFaulty, data("cu.enc"), Upload, "Error: Write flash firmware error", "", ""},
        {kFaulty, "", Run, "Error: BPROT_MSG_RUNFW - sendreceive packet failed", "", ""},
        {kPlain, vanishing, Upload, "Error: can't open file " + vanishing, "", ""},
        {kPaced, data("cu-25600.enc"), Upload, "OK: Firmware uploaded successfully",
         "Uploading firmware ver: 2.1  size: 25600 bytes, pages: 200", "100 of 100"},
        {kPlain, "", Erase, "OK: Firmware successfully erased", " Erasing flash ...", "20 of 20"},
        {kPlain, "", Read, "OK: Firmware successfully read",
         " Reading flash firmware size: 524288 bytes, pages: 4096", ""},
        {kPlain, data("Jiří/cu.enc"), Upload, "OK: Firmware uploaded and started", "", "", false},
        {kPlain, "", Run, "OK: Firmware running", "", "", false},
    };
    for (const auto& op : kOperations) {
        if (!frame->engine.IsConnected())
            connect(op.port);
        if (!op.image.empty()) {
            if (op.image == vanishing) {
                ASSERT_TRUE(
                    wxCopyFile(wxString::FromUTF8(data("cu.enc")), wxString::FromUTF8(vanishing)));
            }
            choose(op.image);
            ASSERT_TRUE(frame->m_buttonUploadFirmware->IsEnabled()) << op.image;
            std::remove(vanishing.c_str());
        }
        frame->m_checkRunAfterUpload->SetValue(!op.connectedAfter);
        bool lockedAtBox = false;
        std::string gaugeAtBox;
        dialogs.onBox = [&] {
            lockedAtBox = !frame->anyInputEnabled();
            gaugeAtBox = std::to_string(frame->m_gauge->GetValue()) + " of " +
                         std::to_string(frame->m_gauge->GetRange());
        };
        const size_t boxes = dialogs.boxes.size();
        if (op.action == Upload) {
            clickButton(frame->m_buttonUploadFirmware);
        } else if (op.action == Run) {
            wxCommandEvent menu(wxEVT_COMMAND_MENU_SELECTED, frame->m_menuItemRunFirmware->GetId());
            frame->ProcessWindowEvent(menu);
        } else if (op.action == Erase) {
            frame->engine.EraseFlash();
        } else {
            frame->engine.ReadFlash(dump);
        }
        const bool worker = op.action != Run, failed = op.box.rfind("Error: ", 0) == 0;
        EXPECT_EQ(op.action == Upload && frame->anyInputEnabled(), false) << op.box;
        EXPECT_EQ(frame->m_gauge->IsEnabled(), true) << op.box;
        std::string statusSeen;
        std::vector<int> gauge;
        frame->statusesSet.clear();
        ASSERT_TRUE(runEventsUntil([&] {
            for (const std::string& set : frame->statusesSet)
                if (statusSeen.empty() && set != "Connected" && set != "Disconnected")
                    statusSeen = set;
            if (gauge.empty() || frame->m_gauge->GetValue() != gauge.back())
                gauge.push_back(frame->m_gauge->GetValue());
            if (dialogs.boxes.size() > boxes)
                return true;
            EXPECT_FALSE(worker && !statusSeen.empty() && frame->anyInputEnabled()) << op.box;
            return false;
        })) << op.box;
        EXPECT_EQ(dialogs.boxes.size(), boxes + 1);
        EXPECT_EQ(dialogs.boxes.back(), op.box);
        EXPECT_EQ(op.busyStatus.empty() ? "" : statusSeen, op.busyStatus);
        EXPECT_EQ(op.gaugeAtBox.empty() ? "" : gaugeAtBox, op.gaugeAtBox) << op.box;
        if (op.port == kPaced) {
            EXPECT_GE(std::set<int>(gauge.begin(), gauge.end()).size(), 10u) << "moved with pages";
            EXPECT_TRUE(std::is_sorted(gauge.begin(), gauge.end() - 1)) << "grew until the end";
            EXPECT_EQ(frame->device()[4] + ", " + frame->device()[5], "25600 bytes, Loaded");
        }
        // A successful upload unlocks the window with the status read again before its box.
        EXPECT_EQ(lockedAtBox, worker && (failed || op.action != Upload)) << op.box;
        EXPECT_EQ(frame->m_gauge->GetValue(), 0) << op.box;
        EXPECT_EQ(frame->status(), op.connectedAfter ? "Connected" : "Disconnected") << op.box;
        EXPECT_TRUE(frame->m_buttonConnect->IsEnabled()) << op.box;
        if (op.connectedAfter && worker)
            clickButton(frame->m_buttonConnect);
    }
    uint64_t size = 0;
    EXPECT_TRUE(fileSize(dump, size));
    EXPECT_EQ(size, 524288u);
}

TEST_F(GuiTest, CloseIsRefusedDuringAnUploadAndAForcedCloseLetsItFinish) {
    connect(kPaced);
    choose(data("cu-12800.enc"));
    clickButton(frame->m_buttonUploadFirmware);
    EXPECT_FALSE(frame->Close(false));
    EXPECT_TRUE(frame->IsShown());
    EXPECT_TRUE(frame->Close(true)) << "a close that cannot be refused";
    EXPECT_FALSE(frame->engine.IsBusy()) << "it waited for the worker";
    frame = nullptr;  // the toolkit destroys it
    wxYield();
    open();
    connect(kPaced);
    EXPECT_EQ(text(frame->m_staticFirmwareSize), "12800 bytes") << "the upload was not cut off";
    EXPECT_TRUE(dialogs.boxes.empty()) << "no reaction ran after the close";
}

TEST_F(GuiTest, EveryTextFitsAtTheDefaultSizeInEnglishAndCzech) {
    for (const char* language : {"en", "cs"}) {
        std::unique_ptr<wxLocale> locale;
        if (std::string(language) == "cs") {
            locale = czech();
            close();
            open();
            EXPECT_EQ(frame->m_buttonConnect->GetLabel(), wxString::FromUTF8("Připojit"));
            EXPECT_EQ(frame->status(), "Odpojeno");
            EXPECT_EQ(text(frame->m_staticInfoCaption), "Informace");
        }
        connect(kRouter);
        route("7.7.7.7.7.7.7.7");
        choose(data("random.bin"));  // the longest verdict
        // The longest value of each device field.
        frame->m_staticFirmwareSize->SetLabel(wxString::Format(tr("%u bytes"), 4294967295u));
        frame->m_staticFirmwareLoaded->SetLabel(
            wxDateTime(28, wxDateTime::Nov, 2026, 23, 58, 58).Format(wxDefaultDateTimeFormat));
        frame->Layout();
        wxYield();
        // Exactly 650 x 710 at the normal text size; larger text makes only more room.
        const wxSize least = frame->FromDIP(wxSize(650, 710));
        const char* textScale = std::getenv("GDK_DPI_SCALE");
        const double scale = textScale ? std::atof(textScale) : 1.0;
        if (scale == 1.0) {
            EXPECT_EQ(frame->GetSize(), least) << language;
        } else if (scale >= 2.0) {
            EXPECT_GT(frame->GetSize().x, least.x) << language;
        }
        EXPECT_GE(frame->GetSize().x, least.x) << language;
        EXPECT_GE(frame->GetSize().y, least.y) << language;
        EXPECT_EQ(frame->GetSize().y, frame->GetMinSize().y) << language << ": the height is fixed";
        EXPECT_EQ(frame->GetMaxSize().y, frame->GetMinSize().y) << language;
        expectEveryTextWhole(frame, language);
        {
            RouteScanDialog scan(frame, frame->engine);  // as it opens, before its scan
            scan.Show();
            wxYield();
            expectEveryTextWhole(&scan, language);
        }
        clickButton(frame->m_buttonConnect);
    }
    // Moved to a monitor of another DPI, the window takes its size from its contents again.
    const wxSize fitted = frame->GetMinSize();
    frame->SetSizeHints(wxSize(100, 100));
    wxDPIChangedEvent moved(wxSize(96, 96), wxSize(96, 96));
    moved.SetEventObject(frame);
    frame->ProcessWindowEvent(moved);
    EXPECT_TRUE(
        runEventsUntil([&] { return frame->GetMinSize() == fitted; }, std::chrono::seconds(5)))
        << frame->GetMinSize().x << " x " << frame->GetMinSize().y;
    EXPECT_EQ(frame->GetMaxSize().y, fitted.y);
}

// A toolkit assertion (a fault in how the window uses the toolkit) is a failure of the
// test at hand, reported at once.
TEST_F(GuiTest, AToolkitAssertionFailsTheTestAtOnce) {
    EXPECT_NONFATAL_FAILURE(
        wxFAIL_MSG("a planted assertion"),
        "toolkit assertion in TestBody: \"Assert failure\" a planted assertion");
}

// A message box the test never looks at (a failure it did not expect) fails it.
TEST_F(GuiTest, ABoxNobodyExpectedFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            DialogCapture looking;
            wxMessageBox("planted", "Box");
        },
        "a box nobody expected: Box: planted");
}

// A toolkit assertion fails the test at hand at once, where the toolkit's own box would
// wait for nobody until the suite's time ran out.
void failOnAssert(const wxString& file, int line, const wxString& function,
                  const wxString& condition, const wxString& message) {
    const std::string where = utf8(file);
    ADD_FAILURE_AT(where.c_str(), line) << "toolkit assertion in " << utf8(function) << ": "
                                        << utf8(condition) << " " << utf8(message);
}

int main(int argc, char** argv) {
    // GoogleTest takes its own flags out first: wxApp would refuse them in a message box.
    ::testing::InitGoogleTest(&argc, argv);
    const WindowSession session(argv);
    wxSetAssertHandler(failOnAssert);
    return RUN_ALL_TESTS();
}
