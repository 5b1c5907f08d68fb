// The station window's job: its settings saved as a job file and opened again, the last
// jobs used, and a locked job's settings read-only until the job is unlocked for editing.
#include <wx/config.h>
#include <wx/filedlg.h>
#include <wx/filename.h>

#include "app/StationFrame.h"
#include "app/Translate.h"

namespace {
const char kWildcard[] = "Station jobs (*.ostrajob)|*.ostrajob";

// "Slot 1=usb-port:1-2.1" lines; a line without its "=" is left out.
std::vector<Slot> slotsOf(const wxString& text) {
    std::vector<Slot> slots;
    for (const wxString& line : wxSplit(text, '\n', '\0')) {
        const wxString name = line.BeforeFirst('=').Strip(wxString::both);
        const wxString port = line.AfterFirst('=').Strip(wxString::both);
        if (!name.empty() && !port.empty()) {
            slots.push_back({name.utf8_string(), port.utf8_string()});
        }
    }
    return slots;
}
}  // namespace

void StationFrame::layOutJobMenu() {
    auto* bar = new wxMenuBar;
    m_menuJob = new wxMenu;
    m_menuJob->Append(wxID_NEW, tr("&New"));
    m_menuJob->Append(wxID_OPEN, tr("&Open..."));
    m_menuJob->Append(wxID_SAVE, tr("&Save"));
    m_menuJob->Append(wxID_SAVEAS, tr("Save &as..."));
    m_menuJob->AppendSeparator();
    m_menuItemEditJob = m_menuJob->Append(wxID_ANY, tr("&Edit job"));
    m_menuJob->AppendSeparator();
    bar->Append(m_menuJob, tr("&Job"));
    SetMenuBar(bar);
    recentJobs.UseMenu(m_menuJob);
    recentJobs.Load(*wxConfigBase::Get());
    recentJobs.AddFilesToMenu();
}

void StationFrame::bindJobMenu() {
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent&) {
            if (!running()) {
                applyJob(JobFile());
                jobPath.clear();
                SetTitle(tr("Ostraloader Station"));
            }
        },
        wxID_NEW);
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent&) {
            wxFileDialog dialog(this, tr("Open a station job"), wxEmptyString, wxEmptyString,
                                kWildcard, wxFD_OPEN | wxFD_FILE_MUST_EXIST);
            if (dialog.ShowModal() == wxID_OK && !running()) {
                openJob(dialog.GetPath().utf8_string());
            }
        },
        wxID_OPEN);
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent& event) {
            if (!jobPath.empty() && event.GetId() == wxID_SAVE) {
                saveJobTo(jobPath);
                return;
            }
            wxFileDialog dialog(this, tr("Save the station job"), wxEmptyString, "line.ostrajob",
                                kWildcard, wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
            if (dialog.ShowModal() == wxID_OK) {
                saveJobTo(dialog.GetPath().utf8_string());
            }
        },
        wxID_SAVE, wxID_SAVEAS);
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent&) {
            if (wxMessageDialog(this, tr("Unlock the job's settings for editing?"), tr("Edit job"),
                                wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION)
                        .ShowModal() == wxID_YES &&
                !running()) {
                jobLocked = false;
                updateControls();
            }
        },
        m_menuItemEditJob->GetId());
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent& event) {
            const wxString path =
                recentJobs.GetHistoryFile(static_cast<size_t>(event.GetId() - wxID_FILE1));
            if (!running()) {
                openJob(path.utf8_string());
            }
        },
        wxID_FILE1, wxID_FILE9);
}

JobFile StationFrame::jobFromSettings() const {
    JobFile job;
    job.images = imageSources;
    job.instruments = m_radioSlots->GetValue()   ? JobFile::Instruments::Slots
                      : m_radioEvery->GetValue() ? JobFile::Instruments::Automatic
                                                 : JobFile::Instruments::Ticked;
    for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
        if (m_listPorts->IsChecked(i)) {
            job.ports.push_back(ports[i].name);
        }
    }
    job.slots = slotsOf(m_textSlots->GetValue());
    job.usbFilter = m_textUsbFilter->GetValue().Strip(wxString::both).utf8_string();
    job.verify = m_checkVerify->GetValue();
    job.runAfter = m_checkRunAfterUpload->GetValue();
    job.allowDowngrade = m_checkAllowDowngrade->GetValue();
    job.attempts = m_spinAttempts->GetValue();
    job.report = reportPath;
    job.batch = m_textWorkOrder->GetValue().Strip(wxString::both).utf8_string();
    job.quantity = m_spinQuantity->GetValue();
    job.labels = m_checkLabels->GetValue();
    job.repeatLabels = m_checkRepeatLabels->GetValue();
    job.locked = m_checkLocked->GetValue();
    return job;
}

void StationFrame::applyJob(const JobFile& job) {
    imageSources = job.images;
    refreshImages();
    m_radioTicked->SetValue(job.instruments == JobFile::Instruments::Ticked);
    m_radioSlots->SetValue(job.instruments == JobFile::Instruments::Slots);
    m_radioEvery->SetValue(job.instruments == JobFile::Instruments::Automatic);
    for (unsigned i = 0; i < m_listPorts->GetCount(); ++i) {
        m_listPorts->Check(
            i, std::find(job.ports.begin(), job.ports.end(), ports[i].name) != job.ports.end());
    }
    wxString slots;
    for (const Slot& slot : job.slots) {
        slots += fromUtf8(slot.name + "=" + slot.port) + "\n";
    }
    m_textSlots->SetValue(slots.Trim());
    m_textUsbFilter->SetValue(fromUtf8(job.usbFilter));
    m_checkVerify->SetValue(job.verify);
    m_checkRunAfterUpload->SetValue(job.runAfter);
    m_checkAllowDowngrade->SetValue(job.allowDowngrade);
    m_spinAttempts->SetValue(job.attempts);
    if (!job.report.empty()) {
        reportPath = job.report;
    }
    m_textWorkOrder->SetValue(fromUtf8(job.batch));
    m_spinQuantity->SetValue(job.quantity);
    m_checkLabels->SetValue(job.labels);
    m_checkRepeatLabels->SetValue(job.repeatLabels);
    m_checkLocked->SetValue(job.locked);
    jobLocked = job.locked;
    updateControls();
}

// The job's name in the title, and first among the last jobs.
void StationFrame::jobInUse(const std::string& path) {
    jobPath = path;
    SetTitle(tr("Ostraloader Station") + " - " + wxFileName(fromUtf8(path)).GetName());
    recentJobs.AddFileToHistory(fromUtf8(path));
    recentJobs.Save(*wxConfigBase::Get());
}

bool StationFrame::openJob(const std::string& path) {
    try {
        JobFile job = loadJob(path);
        const StationRequest resolved = requestOf(job, path);  // what is missing, refused
        job.images = resolved.images;
        job.report = resolved.report;
        applyJob(job);
    } catch (const Problem& refusal) {
        refuse(refusal);
        return false;
    }
    jobInUse(path);
    return true;
}

bool StationFrame::saveJobTo(const std::string& path) {
    try {
        saveJob(path, jobFromSettings());
    } catch (const Problem& refusal) {
        refuse(refusal);
        return false;
    }
    jobInUse(path);
    SetStatusText(wxString::Format(tr("Job saved: %s"), fromUtf8(path)));
    return true;
}
