// The firmware panel: the chosen image file's check and what it shows.
#include <cstring>

#include "app/ImageLabel.h"
#include "app/MainFrame.h"
#include "app/Translate.h"
#include "image/FirmwareImage.h"

void MainFrame::ClearFirmwareInfo() {
    for (wxStaticText* field : {m_staticFileProduct, m_staticFileVersion, m_staticFileBuild,
                                m_staticFileTimestamp, m_staticFileLength}) {
        field->SetLabel(wxEmptyString);
    }
}

void MainFrame::UpdateFirmwareInfo() {
    const FirmwareImageInfo info =
        examineFirmwareImage(m_textFirmwareFile->GetValue().utf8_string());
    std::memcpy(firmwareHeader, info.header, sizeof firmwareHeader);
    const bool intact = info.verdict == FirmwareImageInfo::Verdict::Intact;
    if (!intact) {
        ClearFirmwareInfo();
        m_staticFileProduct->SetLabel(info.verdict == FirmwareImageInfo::Verdict::Corrupted
                                          ? tr("Firmware corrupted")
                                          : tr("Unknown product or firmware corrupted"));
    } else {
        const CalendarTime t = firmwareBuildTime(info.timestamp);
        wxDateTime built;
        built.Set(static_cast<wxDateTime::wxDateTime_t>(t.day),
                  static_cast<wxDateTime::Month>(t.month - 1), t.year,
                  static_cast<wxDateTime::wxDateTime_t>(t.hour),
                  static_cast<wxDateTime::wxDateTime_t>(t.minute),
                  static_cast<wxDateTime::wxDateTime_t>(t.second));
        m_staticFileProduct->SetLabel(tr(productName(info.deviceType)));
        m_staticFileVersion->SetLabel(imageVersionLabel(info));
        m_staticFileBuild->SetLabel(wxString::Format("%u", info.build));
        m_staticFileTimestamp->SetLabel(
            built.Format(wxDefaultDateTimeFormat, wxDateTime::TimeZone(wxDateTime::Local)));
        m_staticFileLength->SetLabel(wxString::Format(tr("%u bytes"), info.length));
    }
    m_buttonUploadFirmware->Enable(!isBusy() && intact &&
                                   info.deviceType == deviceStatus.deviceType);
}
