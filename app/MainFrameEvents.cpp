// The window's reactions to the engine's events. The listener operations run on whatever
// thread the engine raises them on; each copies its arguments and queues its reaction for
// the window's thread, so reactions run there, one at a time, in the order issued.
#include "app/MainFrame.h"
#include "app/Translate.h"
#include "support/Exception.h"
#include "support/LittleEndian.h"

void MainFrame::OnUploadStarted(const char*, int32_t pages) {
    CallAfter([this, pages] { uploadStarted(pages); });
}
void MainFrame::OnUploadProgress(int32_t pagesDone) {
    CallAfter([this, pagesDone] { transferProgress(pagesDone); });
}
void MainFrame::OnUploadFinished() {
    CallAfter([this] { uploadFinished(); });
}
void MainFrame::OnReadStarted(const char*, int32_t size, int32_t pages) {
    CallAfter([this, size, pages] { readStarted(size, pages); });
}
void MainFrame::OnReadProgress(int32_t pagesDone) {
    CallAfter([this, pagesDone] { transferProgress(pagesDone); });
}
void MainFrame::OnReadFinished() {
    CallAfter([this] { readFinished(); });
}
void MainFrame::OnEraseStarted() {
    CallAfter([this] { eraseStarted(); });
}
void MainFrame::OnEraseTick() {
    CallAfter([this] { eraseTick(); });
}
void MainFrame::OnEraseFinished() {
    CallAfter([this] { eraseFinished(); });
}
void MainFrame::OnError(const char* message) {
    const wxString text = wxString::FromUTF8(message);
    CallAfter([this, text] { workFailed(text); });
}

void MainFrame::uploadStarted(int32_t pages) {
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
        ShowError(wxString::FromUTF8(e.text()));
    }
}

void MainFrame::readStarted(int32_t size, int32_t pages) {
    pageCount = pages;
    m_gauge->SetValue(0);
    m_gauge->SetRange(100);
    setStatusText(
        wxString::Format(tr(" Reading flash firmware size: %d bytes, pages: %d"), size, pages));
}

void MainFrame::readFinished() {
    ShowInfo(tr("Firmware successfully read"));
    UpdateControls();
    m_gauge->SetValue(0);
}

void MainFrame::eraseStarted() {
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
    try {
        m_gauge->SetValue(20);
        ShowInfo(tr("Firmware successfully erased"));
        UpdateDeviceStatus();
        UpdateControls();
        m_gauge->SetValue(0);
    } catch (const Exception& e) {
        UpdateControls();
        ShowError(wxString::FromUTF8(e.text()));
    }
}

void MainFrame::workFailed(const wxString& message) {
    ShowError(message);
    UpdateControls();
    m_gauge->SetValue(0);
}
