// The window's reactions to the engine's events. The listener operations run on whatever
// thread the engine raises them on; each copies its arguments and queues its reaction for
// the window's thread, so reactions run there, one at a time, in the order issued.
#include "app/MainFrame.h"
#include "app/Translate.h"
#include "support/Exception.h"
#include "support/LittleEndian.h"

void MainFrame::react(std::function<void()> reaction) {
    CallAfter([this, reaction] {
        if (!closing) {
            reaction();
        }
    });
}

void MainFrame::OnUploadStarted(const char*, int32_t pages) {
    react([this, pages] { uploadStarted(pages); });
}
void MainFrame::OnUploadProgress(int32_t pagesDone) {
    react([this, pagesDone] { transferProgress(pagesDone); });
}
void MainFrame::OnUploadFinished() {
    react([this] { uploadFinished(); });
}
void MainFrame::OnReadStarted(const char*, int32_t size, int32_t pages) {
    react([this, size, pages] { readStarted(size, pages); });
}
void MainFrame::OnReadProgress(int32_t pagesDone) {
    react([this, pagesDone] { transferProgress(pagesDone); });
}
void MainFrame::OnReadFinished() {
    react([this] { readFinished(); });
}
void MainFrame::OnEraseStarted() {
    react([this] { eraseStarted(); });
}
void MainFrame::OnEraseTick() {
    react([this] { eraseTick(); });
}
void MainFrame::OnEraseFinished() {
    react([this] { eraseFinished(); });
}
void MainFrame::OnError(const char* message) {
    const wxString text = wxString::FromUTF8(message);
    react([this, text] { workFailed(text); });
}

void MainFrame::beginOperation() {
    // Read-back and erase are started by the engine's other callers; the window locks its
    // inputs as it does for its own upload.
    if (!operationRunning) {
        operationRunning = true;
        UpdateControls();
    }
}

void MainFrame::uploadStarted(int32_t pages) {
    beginOperation();
    pageCount = pages;
    m_gauge->SetValue(0);
    m_gauge->SetRange(100);
    const uint16_t version = getLe16(firmwareHeader + 2);
    setStatusText(wxString::Format(tr("Uploading firmware ver: %d.%d  size: %u bytes, pages: %d"),
                                   version >> 8, version & 0xFF, getLe32(firmwareHeader + 12),
                                   pages));
}

void MainFrame::transferProgress(int32_t pagesDone) {
    if (pageCount <= 0) {
        return;  // no transfer announced pages: nothing to measure against
    }
    const int value = static_cast<int>(pagesDone / (pageCount / 100.0));
    m_gauge->SetValue(std::min(value, m_gauge->GetRange()));
}

void MainFrame::uploadFinished() {
    endOperation();
    try {
        const bool run = m_checkRunAfterUpload->GetValue();
        if (run) {
            engine.RunFirmware();
            engine.Disconnect();
        } else {
            UpdateDeviceStatus();
        }
        UpdateControls();
        ShowInfo(run ? tr("Firmware uploaded and started") : tr("Firmware uploaded successfully"));
        m_gauge->SetValue(0);
    } catch (const Exception& e) {
        UpdateControls();
        ShowError(fromUtf8(e.report()));
    }
}

void MainFrame::readStarted(int32_t size, int32_t pages) {
    beginOperation();
    pageCount = pages;
    m_gauge->SetValue(0);
    m_gauge->SetRange(100);
    setStatusText(
        wxString::Format(tr(" Reading flash firmware size: %d bytes, pages: %d"), size, pages));
}

void MainFrame::readFinished() {
    endOperation();
    ShowInfo(tr("Firmware successfully read"));
    UpdateControls();
    m_gauge->SetValue(0);
}

void MainFrame::eraseStarted() {
    beginOperation();
    setStatusText(tr(" Erasing flash ..."));
    m_gauge->SetValue(0);
    m_gauge->SetRange(20);
}

void MainFrame::eraseTick() {
    // Ticks come many times a second for up to 20 s: the gauge starts over when full
    // instead of being pushed past its range.
    const int next = m_gauge->GetValue() + 1;
    m_gauge->SetValue(next > m_gauge->GetRange() ? 0 : next);
    Refresh();
}

void MainFrame::eraseFinished() {
    endOperation();
    try {
        m_gauge->SetValue(20);
        ShowInfo(tr("Firmware successfully erased"));
        UpdateDeviceStatus();
        UpdateControls();
        m_gauge->SetValue(0);
    } catch (const Exception& e) {
        UpdateControls();
        ShowError(fromUtf8(e.report()));
    }
}

void MainFrame::workFailed(const wxString& message) {
    endOperation();
    ShowError(message);
    UpdateControls();
    m_gauge->SetValue(0);
}
