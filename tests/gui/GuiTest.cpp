// The main window in a real X server (CTest runs this program under Xvfb), against virtual
// instruments. Modal boxes are captured by a dialog hook instead of blocking.
#include <gtest/gtest.h>
#include <wx/filedlg.h>
#include <wx/modalhook.h>
#include <wx/wx.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/MainFrame.h"
#include "app/Translate.h"
#include "sim/VirtualInstrument.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

// Answers every modal dialog at once: message boxes are recorded ("caption: text") and
// closed with OK; file dialogs are recorded ("title|wildcard") and cancelled. (GTK's native
// chooser cannot be given a path without being shown, so choosing is not simulated.)
class DialogCapture : public wxModalDialogHook {
  public:
    DialogCapture() { Register(); }
    std::vector<std::string> boxes;
    std::vector<std::string> fileDialogs;

  protected:
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            boxes.push_back((box->GetTitle() + ": " + box->GetMessage()).utf8_string());
            return wxID_OK;
        }
        if (auto* files = dynamic_cast<wxFileDialog*>(dialog)) {
            fileDialogs.push_back((files->GetMessage() + "|" + files->GetWildcard()).utf8_string());
        }
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

// The window with its controls in reach of the tests.
class TestFrame : public MainFrame {
  public:
    using MainFrame::deviceStatus;
    using MainFrame::engine;
    using MainFrame::m_buttonBrowseFirmware;
    using MainFrame::m_buttonConnect;
    using MainFrame::m_buttonRoute;
    using MainFrame::m_buttonUploadFirmware;
    using MainFrame::m_checkRunAfterUpload;
    using MainFrame::m_comboPort;
    using MainFrame::m_gauge;
    using MainFrame::m_menuItemRunFirmware;
    using MainFrame::m_staticBootloaderVersion;
    using MainFrame::m_staticDeviceType;
    using MainFrame::m_staticFileBuild;
    using MainFrame::m_staticFileLength;
    using MainFrame::m_staticFileProduct;
    using MainFrame::m_staticFileTimestamp;
    using MainFrame::m_staticFileVersion;
    using MainFrame::m_staticFirmwareLoaded;
    using MainFrame::m_staticFirmwareSize;
    using MainFrame::m_staticFirmwareStatus;
    using MainFrame::m_staticFirmwareVersion;
    using MainFrame::m_staticInfoCaption;
    using MainFrame::m_textFirmwareFile;
    using MainFrame::m_textRoutePath;
    using MainFrame::pageCount;
    using MainFrame::transferProgress;

    void click(wxButton* button) {
        wxCommandEvent event(wxEVT_COMMAND_BUTTON_CLICKED, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }
    void menu(wxMenuItem* item) {
        wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, item->GetId());
        ProcessWindowEvent(event);
    }
    std::string status() const { return GetStatusBar()->GetStatusText(0).utf8_string(); }
};

std::string text(wxStaticText* label) {
    return label->GetLabel().utf8_string();
}

// Runs the event loop until `done` holds or the limit passes.
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        wxTheApp->ProcessPendingEvents();
        wxYield();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class GuiTest : public ::testing::Test {
  protected:
    GuiTest() : sim(SimConfig{}) {
        sim.registerAlias("COM5");
        sim.start();
        frame = new TestFrame;
        frame->Show();
        wxYield();
    }
    ~GuiTest() override {
        frame->Destroy();
        wxYield();
    }

    void connect() {
        frame->m_comboPort->SetValue("COM5");
        frame->click(frame->m_buttonConnect);
        ASSERT_TRUE(frame->engine.IsConnected())
            << (dialogs.boxes.empty() ? "" : dialogs.boxes.back());
    }
    std::string image(int type, const Bytes& body, const std::string& name = "fw.enc") {
        ImageSpec spec;
        spec.versionMajor = 2;
        spec.versionMinor = 1;
        spec.build = 1974;
        const std::string path = dir.path(name);
        writeFile(path, makeFirmwareImage(developmentKey(type), body, spec));
        return path;
    }
    bool waitForBox() {
        const size_t before = dialogs.boxes.size();
        return pumpUntil([&] { return dialogs.boxes.size() > before; });
    }

    TempDir dir;
    DialogCapture dialogs;
    VirtualInstrument sim;
    TestFrame* frame = nullptr;
};
}  // namespace

TEST_F(GuiTest, StartsDisconnectedWithEmptyFieldsAndAFixedHeight) {
    EXPECT_EQ(frame->GetTitle(), "Ostraloader ver. 1.5.6");
    EXPECT_EQ(frame->m_comboPort->GetValue(), "COM2");
    EXPECT_EQ(frame->m_buttonConnect->GetLabel(), "Connect");
    EXPECT_EQ(frame->m_buttonRoute->GetLabel(), "Enable routing");
    EXPECT_EQ(frame->status(), "Disconnected");
    EXPECT_EQ(frame->m_textFirmwareFile->GetValue(), "");
    EXPECT_EQ(frame->m_textRoutePath->GetValue(), "0");
    for (wxStaticText* field : {frame->m_staticDeviceType, frame->m_staticBootloaderVersion,
                                frame->m_staticFirmwareStatus, frame->m_staticFileProduct,
                                frame->m_staticFileVersion, frame->m_staticFileLength}) {
        EXPECT_EQ(text(field), "");
    }
    EXPECT_FALSE(frame->m_buttonUploadFirmware->IsEnabled());
    EXPECT_FALSE(frame->m_menuItemRunFirmware->IsEnabled());
    EXPECT_EQ(frame->m_staticInfoCaption->GetLabel(), "Information");

    const std::vector<std::string> kPorts = {"COM1", "COM2", "COM3", "COM4",
                                             "COM5", "COM6", "COM7", "COM8"};
    for (unsigned i = 0; i < 8; ++i) {
        EXPECT_EQ(frame->m_comboPort->GetString(i).utf8_string(), kPorts[i]);
    }
    EXPECT_EQ(frame->GetMinSize(), wxSize(650, 710));
    EXPECT_EQ(frame->GetMaxSize(), wxSize(-1, 710));
    frame->SetSize(900, 900);
    pumpUntil([&] { return frame->GetSize().x == 900; }, std::chrono::seconds(2));
    EXPECT_EQ(frame->GetSize().y, 710);
    frame->SetSize(300, 300);
    pumpUntil([&] { return frame->GetSize().x < 900; }, std::chrono::seconds(2));
    EXPECT_GE(frame->GetSize().x, 650);
    EXPECT_EQ(frame->GetSize().y, 710);
}

TEST_F(GuiTest, ConnectShowsTheDeviceAndASilentPortShowsTheError) {
    connect();
    EXPECT_EQ(text(frame->m_staticDeviceType), "SOLVAR CU");
    EXPECT_EQ(text(frame->m_staticBootloaderVersion), "1.2");
    EXPECT_EQ(text(frame->m_staticFirmwareVersion), "0.0");
    EXPECT_EQ(text(frame->m_staticFirmwareStatus), "Not loaded");
    EXPECT_EQ(text(frame->m_staticFirmwareLoaded), "");
    EXPECT_EQ(text(frame->m_staticFirmwareSize), "0 bytes");
    EXPECT_EQ(frame->status(), "Connected");
    EXPECT_EQ(frame->m_buttonConnect->GetLabel(), "Disconnect");
    EXPECT_EQ(text(frame->m_staticInfoCaption), "Information - direct USB connection");
    EXPECT_FALSE(frame->m_comboPort->IsEnabled());

    frame->click(frame->m_buttonConnect);  // disconnect
    EXPECT_EQ(frame->status(), "Disconnected");
    EXPECT_EQ(text(frame->m_staticDeviceType), "");

    sim.setInBootloader(false);
    frame->click(frame->m_buttonConnect);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0], "Error: BPROT_MSG_STATUSINFO error, bootloader not responding");
    EXPECT_FALSE(frame->engine.IsConnected());
    EXPECT_EQ(frame->status(), "Disconnected");
}

TEST_F(GuiTest, RoutingThroughAChildAndFallingBackToDirect) {
    SimConfig child;
    child.deviceType = 3;
    sim.addChild("2", child);
    connect();
    frame->m_textRoutePath->SetValue("2");
    frame->click(frame->m_buttonRoute);
    EXPECT_EQ(text(frame->m_staticInfoCaption), "Information - routed connection to '2'");
    EXPECT_EQ(text(frame->m_staticDeviceType), "SOLVAR HS");
    EXPECT_FALSE(frame->m_textRoutePath->IsEnabled());
    EXPECT_EQ(frame->m_buttonRoute->GetLabel(), "Disable routing");

    frame->click(frame->m_buttonRoute);  // off again
    EXPECT_EQ(text(frame->m_staticDeviceType), "SOLVAR CU");
    EXPECT_TRUE(frame->m_textRoutePath->IsEnabled());

    frame->m_textRoutePath->SetValue("4");  // nobody there
    frame->click(frame->m_buttonRoute);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0], "Error: BPROT_MSG_STATUSINFO error, bootloader not responding");
    EXPECT_FALSE(frame->engine.IsRouted());
    EXPECT_EQ(frame->m_buttonRoute->GetLabel(), "Enable routing");
    EXPECT_EQ(text(frame->m_staticInfoCaption), "Information - direct USB connection");
}

TEST_F(GuiTest, ImageChoiceDecidesWhetherUploadIsOffered) {
    connect();
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(image(1, randomBody(1000, 1))));
    EXPECT_EQ(text(frame->m_staticFileProduct), "Solvar CU");
    EXPECT_EQ(text(frame->m_staticFileVersion), "2.1 ");
    EXPECT_EQ(text(frame->m_staticFileBuild), "1974");
    EXPECT_EQ(text(frame->m_staticFileLength), "1000 bytes");
    EXPECT_FALSE(text(frame->m_staticFileTimestamp).empty());
    EXPECT_TRUE(frame->m_buttonUploadFirmware->IsEnabled());

    frame->m_textFirmwareFile->SetValue(
        wxString::FromUTF8(image(2, randomBody(1000, 2), "tamrik.enc")));
    EXPECT_EQ(text(frame->m_staticFileProduct), "Tamrik");
    EXPECT_EQ(text(frame->m_staticFileLength), "1000 bytes");
    EXPECT_FALSE(frame->m_buttonUploadFirmware->IsEnabled()) << "intact, but for another product";

    Bytes broken = readFile(image(1, randomBody(1000, 3), "broken.enc"));
    broken[400] ^= 1;
    writeFile(dir.path("broken.enc"), broken);
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(dir.path("broken.enc")));
    EXPECT_EQ(text(frame->m_staticFileProduct), "Firmware corrupted");
    EXPECT_EQ(text(frame->m_staticFileVersion), "");
    EXPECT_FALSE(frame->m_buttonUploadFirmware->IsEnabled());

    frame->m_textFirmwareFile->SetValue("/no/such/file.bin");
    EXPECT_EQ(text(frame->m_staticFileProduct), "Unknown product or firmware corrupted");

    // Browse offers the image files; a cancelled dialog changes nothing.
    frame->click(frame->m_buttonBrowseFirmware);
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs[0],
              "Select firmware|Encrypted files (*.enc)|*.enc|BIN files (*.bin)|*.bin");
    EXPECT_EQ(frame->m_textFirmwareFile->GetValue(), "/no/such/file.bin");
}

TEST_F(GuiTest, GaugeArithmeticForTwoHundredPages) {
    frame->pageCount = 200;
    frame->transferProgress(1);
    EXPECT_EQ(frame->m_gauge->GetValue(), 0);
    frame->transferProgress(199);
    EXPECT_EQ(frame->m_gauge->GetValue(), 99);
    frame->transferProgress(200);
    EXPECT_EQ(frame->m_gauge->GetValue(), 100);
}

TEST_F(GuiTest, UploadDisablesTheWindowAndReportsTheResult) {
    connect();
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(image(1, randomBody(200 * 128, 5))));
    ASSERT_TRUE(frame->m_buttonUploadFirmware->IsEnabled());
    frame->click(frame->m_buttonUploadFirmware);
    EXPECT_FALSE(frame->IsEnabled()) << "the window is disabled while the upload runs";
    ASSERT_TRUE(waitForBox());
    EXPECT_EQ(dialogs.boxes.back(), "OK: Firmware uploaded successfully");
    EXPECT_EQ(frame->m_gauge->GetValue(), 0);
    EXPECT_TRUE(frame->IsEnabled());
    EXPECT_EQ(text(frame->m_staticFirmwareStatus), "Loaded");
    EXPECT_EQ(text(frame->m_staticFirmwareSize), "25600 bytes");
    EXPECT_NE(frame->status().find("Connected"), std::string::npos);

    frame->m_checkRunAfterUpload->SetValue(true);
    frame->click(frame->m_buttonUploadFirmware);
    ASSERT_TRUE(waitForBox());
    EXPECT_EQ(dialogs.boxes.back(), "OK: Firmware uploaded and started");
    EXPECT_FALSE(frame->engine.IsConnected());
    EXPECT_EQ(frame->status(), "Disconnected");
}

TEST_F(GuiTest, FailedUploadShowsTheErrorAndEnablesTheWindowAgain) {
    connect();
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(image(1, randomBody(1000, 6))));
    sim.addFault(SimFault{SimFault::Kind::ReplyCode, BPROT_WRITE_FINISH_REQ, 1, 0, 403});
    frame->click(frame->m_buttonUploadFirmware);
    ASSERT_TRUE(waitForBox());
    EXPECT_EQ(dialogs.boxes.back(), "Error: Write flash firmware error");
    EXPECT_EQ(frame->m_gauge->GetValue(), 0);
    EXPECT_TRUE(frame->IsEnabled());
    EXPECT_TRUE(frame->engine.IsConnected()) << "the connection stays as it was";
}

TEST_F(GuiTest, RunFirmwareDisconnectsOrOnlyShowsTheError) {
    connect();
    frame->menu(frame->m_menuItemRunFirmware);
    EXPECT_EQ(dialogs.boxes.back(), "OK: Firmware running");
    EXPECT_FALSE(frame->engine.IsConnected());

    sim.setInBootloader(true);
    connect();
    sim.setInBootloader(false);
    frame->menu(frame->m_menuItemRunFirmware);
    EXPECT_EQ(dialogs.boxes.back(), "Error: BPROT_MSG_RUNFW - sendreceive packet failed");
    EXPECT_TRUE(frame->engine.IsConnected());
    EXPECT_EQ(frame->status(), "Connected");
}

TEST_F(GuiTest, EraseAndReadBackDriveTheGaugeAndBoxes) {
    connect();
    frame->engine.EraseFlash();
    frame->Enable(false);
    ASSERT_TRUE(pumpUntil([&] { return frame->status() == " Erasing flash ..."; }));
    EXPECT_EQ(frame->m_gauge->GetRange(), 20);
    ASSERT_TRUE(waitForBox());
    EXPECT_EQ(dialogs.boxes.back(), "OK: Firmware successfully erased");
    EXPECT_EQ(frame->m_gauge->GetValue(), 0);
    EXPECT_TRUE(frame->IsEnabled());

    frame->engine.ReadFlash(dir.path("dump.bin"));
    ASSERT_TRUE(pumpUntil([&] { return frame->status().rfind(" Reading flash", 0) == 0; }));
    EXPECT_EQ(frame->status(), " Reading flash firmware size: 524288 bytes, pages: 4096");
    ASSERT_TRUE(waitForBox());
    EXPECT_EQ(dialogs.boxes.back(), "OK: Firmware successfully read");
    EXPECT_EQ(readFile(dir.path("dump.bin")).size(), 524288u);
}

TEST_F(GuiTest, ClosingIsRefusedWhileAnOperationRuns) {
    connect();
    sim.addFault(SimFault{SimFault::Kind::Late, BPROT_MSG_WRITE_START, 1, 1500, 0});
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(image(1, randomBody(1000, 7))));
    frame->click(frame->m_buttonUploadFirmware);
    EXPECT_FALSE(frame->Close(false)) << "the engine must not be destroyed under its worker";
    EXPECT_TRUE(frame->IsShown());
    ASSERT_TRUE(waitForBox());
    EXPECT_EQ(dialogs.boxes.back(), "OK: Firmware uploaded successfully");
}

namespace {
// Saves the screen area of the window connected to a virtual instrument with a valid image
// chosen, for the README.
int screenshot(const std::string& path) {
    TempDir dir;
    VirtualInstrument sim(SimConfig{});
    sim.registerAlias("COM3");
    sim.start();
    DialogCapture dialogs;
    auto* frame = new TestFrame;
    frame->Show();
    frame->m_comboPort->SetValue("COM3");
    frame->click(frame->m_buttonConnect);
    ImageSpec spec;
    spec.versionMajor = 2;
    spec.versionMinor = 1;
    spec.flags = 1;
    spec.build = 1974;
    spec.timestamp = 848500200;  // 2026-11-20 14:30
    const std::string image = dir.path("solvar-cu-2.1.enc");
    writeFile(image, makeFirmwareImage(developmentKey(1), randomBody(24000, 1), spec));
    frame->m_textFirmwareFile->SetValue(wxString::FromUTF8(image));
    pumpUntil([] { return false; }, std::chrono::milliseconds(800));
    const wxRect rect = frame->GetScreenRect();
    wxBitmap bitmap(rect.width, rect.height);
    wxMemoryDC memory(bitmap);
    wxScreenDC screen;
    memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    memory.SelectObject(wxNullBitmap);
    const bool saved = bitmap.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
    frame->Destroy();
    return saved ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    // COM aliases of the virtual instruments stay private to this run.
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path("").c_str(), 1);
    const bool shoot = argc == 3 && std::string(argv[1]) == "--screenshot";
    int wxArgc = 1;
    wxApp::SetInstance(new wxApp);
    wxEntryStart(shoot ? wxArgc : argc, argv);
    wxTheApp->OnInit();
    wxInitAllImageHandlers();
    int rc = 0;
    if (shoot) {
        rc = screenshot(argv[2]);
    } else {
        ::testing::InitGoogleTest(&argc, argv);
        rc = RUN_ALL_TESTS();
    }
    wxEntryCleanup();
    return rc;
}
