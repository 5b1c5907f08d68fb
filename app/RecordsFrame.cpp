#include "app/RecordsFrame.h"

#include <wx/dateevt.h>
#include <wx/filedlg.h>

#include "app/AppIcon.h"
#include "app/Layout.h"
#include "app/Translate.h"
#include "support/UtcTime.h"

namespace {
constexpr int kFollowMs = 2000;

// A wxDateTime's local day as seconds since 1970: its first second.
int64_t dayOf(const wxDateTime& date) {
    return localDayStart(static_cast<int64_t>(date.GetTicks()));
}

// The buckets from `from` to `to`, those without records empty: hours, or local days.
std::vector<TimelineBucket> dense(const std::vector<TimelineBucket>& sparse, int64_t from,
                                  int64_t to, int64_t bucket) {
    std::vector<TimelineBucket> all;
    size_t next = 0;
    for (int64_t start = from; start < to && all.size() < 24 * 400;) {
        TimelineBucket b;
        b.start = start;
        while (next < sparse.size() && sparse[next].start < start) {
            ++next;
        }
        if (next < sparse.size() && sparse[next].start == start) {
            b = sparse[next];
        }
        all.push_back(b);
        start = bucket >= 86400 ? localDayStart(start + bucket + 7200) : start + bucket;
    }
    return all;
}
}  // namespace

RecordsFrame::RecordsFrame(wxWindow* parent, const std::string& report,
                           const std::string& workOrder)
    : wxFrame(parent, wxID_ANY, tr("Records"), wxDefaultPosition,
              wxWindow::FromDIP(wxSize(760, 640), nullptr)),
      reports({report}),
      batch(workOrder),
      followTimer(this) {
    SetIcons(appIcons());
    layOut();
    bindEvents();
    rebuild();
    followTimer.Start(kFollowMs);
}

void RecordsFrame::layOut() {
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    const int gap = FromDIP(5);
    auto* spanRow = new wxBoxSizer(wxHORIZONTAL);
    m_choiceSpan = new wxChoice(this, wxID_ANY);
    m_choiceSpan->Append(tr("Today"), reinterpret_cast<void*>(kToday));
    if (!batch.empty()) {
        m_choiceSpan->Append(wxString::Format(tr("This batch (%s)"), fromUtf8(batch)),
                             reinterpret_cast<void*>(kBatch));
    }
    m_choiceSpan->Append(tr("Days from"), reinterpret_cast<void*>(kDays));
    m_choiceSpan->SetSelection(0);
    m_dateFrom = new wxDatePickerCtrl(this, wxID_ANY);
    m_dateTo = new wxDatePickerCtrl(this, wxID_ANY);
    spanRow->Add(m_choiceSpan, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    spanRow->Add(m_dateFrom, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    spanRow->Add(new wxStaticText(this, wxID_ANY, tr("to")), 0, wxALIGN_CENTER_VERTICAL | wxALL,
                 gap);
    spanRow->Add(m_dateTo, 0, wxALIGN_CENTER_VERTICAL | wxALL, gap);
    spanRow->AddStretchSpacer();
    m_buttonAddReport = new wxButton(this, wxID_ANY, tr("Add report..."));
    spanRow->Add(m_buttonAddReport, 0, wxALL, gap);
    m_staticReports = new wxStaticText(this, wxID_ANY, wxEmptyString);
    m_listSummary = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(-1, 130)),
                                   wxLC_REPORT | wxLC_SINGLE_SEL);
    appendColumns(m_listSummary, {{trLater("Product"), "SOLVAR HS3", 90},
                                  {trLater("Instruments"), "100000", 70},
                                  {trLater("First pass"), "100000", 70},
                                  {trLater("After attempts"), "100000", 70},
                                  {trLater("Failed"), "100000", 60},
                                  {trLater("First-pass yield"), "100.0 %", 70},
                                  {trLater("Final yield"), "100.0 %", 70},
                                  {trLater("Median time"), "999.9 s", 70}});
    m_plot = new RecordsPlot(this);
    m_listFailures = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(-1, 110)),
                                    wxLC_REPORT | wxLC_SINGLE_SEL);
    appendColumns(m_listFailures, {{trLater("Count"), "100000", 60},
                                   {trLater("Product"), "SOLVAR HS3", 90},
                                   {trLater("Failure"),
                                    "BPROT_MSG_STATUSINFO error, bootloader "
                                    "not responding",
                                    300}});
    m_staticSkipped = new wxStaticText(this, wxID_ANY, wxEmptyString);
    m_staticSkipped->SetForegroundColour(wxColour(192, 0, 0));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(spanRow, 0, wxEXPAND);
    sizer->Add(m_staticReports, 0, wxLEFT | wxRIGHT, gap);
    sizer->Add(m_listSummary, 0, wxEXPAND | wxALL, gap);
    sizer->Add(m_plot, 1, wxEXPAND | wxALL, gap);
    sizer->Add(m_listFailures, 0, wxEXPAND | wxALL, gap);
    sizer->Add(m_staticSkipped, 0, wxALL, gap);
    SetSizer(sizer);
    fitFrame(this, wxSize(760, 640), false);
}

void RecordsFrame::bindEvents() {
    m_choiceSpan->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { rebuild(); });
    for (wxDatePickerCtrl* date : {m_dateFrom, m_dateTo}) {
        date->Bind(wxEVT_DATE_CHANGED, [this](wxDateEvent&) {
            const void* span =
                m_choiceSpan->GetClientData(static_cast<unsigned>(m_choiceSpan->GetSelection()));
            if (span == reinterpret_cast<void*>(kDays)) {
                rebuild();
            }
        });
    }
    m_buttonAddReport->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxFileDialog dialog(this, tr("Service records"), wxEmptyString, wxEmptyString,
                            "JSON lines (*.jsonl)|*.jsonl", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        if (dialog.ShowModal() == wxID_OK) {
            reports.insert(reports.begin(), dialog.GetPath().utf8_string());
            rebuild();
        }
    });
    m_listSummary->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent& event) {
        if (event.GetIndex() >= 0 && static_cast<size_t>(event.GetIndex()) < rows.size()) {
            showFailuresOf(rows[static_cast<size_t>(event.GetIndex())].product);
        }
    });
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { follow(); }, followTimer.GetId());
}

SummaryFilter RecordsFrame::filter() const {
    SummaryFilter f;
    const void* span =
        m_choiceSpan->GetClientData(static_cast<unsigned>(m_choiceSpan->GetSelection()));
    if (span == reinterpret_cast<void*>(kToday)) {
        f.since = localDayStart(secondsNow());
    } else if (span == reinterpret_cast<void*>(kBatch)) {
        f.batch = batch;
    } else {
        f.since = dayOf(m_dateFrom->GetValue());
        f.until = localDayStart(dayOf(m_dateTo->GetValue()) + 86400 + 7200);
    }
    return f;
}

int64_t RecordsFrame::bucketSeconds() const {
    const SummaryFilter f = filter();
    const int64_t from = f.since ? *f.since : 0, to = f.until ? *f.until : secondsNow();
    return to - from > 2 * 86400 ? 86400 : 3600;
}

void RecordsFrame::rebuild() {
    for (wxDatePickerCtrl* date : {m_dateFrom, m_dateTo}) {
        date->Enable(m_choiceSpan->GetClientData(static_cast<unsigned>(
                         m_choiceSpan->GetSelection())) == reinterpret_cast<void*>(kDays));
    }
    today = localDayStart(secondsNow());
    summary = std::make_unique<RecordSummary>(GroupBy::None, filter());
    reader = std::make_unique<RecordReader>(reports, true);
    wxString names;
    for (const std::string& report : reports) {
        names += (names.empty() ? "" : ", ") + fromUtf8(report);
    }
    m_staticReports->SetLabel(wxString::Format(tr("Reports: %s"), names));
    follow();
}

void RecordsFrame::follow() {
    if (localDayStart(secondsNow()) != today && m_choiceSpan->GetSelection() == 0) {
        rebuild();  // a new day: today's view starts again
        return;
    }
    RecordLine record;
    bool added = false;
    while (reader->next(record)) {
        summary->add(record);
        added = true;
    }
    if (added || m_listSummary->GetItemCount() == 0) {
        show();
    }
}

void RecordsFrame::show() {
    rows = summary->rows();
    m_listSummary->DeleteAllItems();
    m_listFailures->DeleteAllItems();
    long at = 0;
    for (const SummaryRow& row : rows) {
        m_listSummary->InsertItem(at, fromUtf8(row.product));
        const wxString cells[] = {
            wxString::Format("%llu", static_cast<unsigned long long>(row.instruments)),
            wxString::Format("%llu", static_cast<unsigned long long>(row.passedFirst)),
            wxString::Format("%llu", static_cast<unsigned long long>(row.passedAfter)),
            wxString::Format("%llu", static_cast<unsigned long long>(row.failed)),
            wxString::Format("%.1f %%", row.firstPassYield()),
            wxString::Format("%.1f %%", row.finalYield()),
            row.medianSeconds < 0 ? wxString("-")
                                  : wxString::Format(tr("%.1f s"), row.medianSeconds)};
        for (int column = 1; column <= 7; ++column) {
            m_listSummary->SetItem(at, column, cells[column - 1]);
        }
        ++at;
    }
    long failure = 0;
    for (const SummaryRow& row : rows) {
        for (const auto& [text, count] : summary->failuresOf(row.product)) {
            m_listFailures->InsertItem(
                failure, wxString::Format("%llu", static_cast<unsigned long long>(count)));
            m_listFailures->SetItem(failure, 1, fromUtf8(row.product));
            m_listFailures->SetItem(failure, 2, fromUtf8(text));
            ++failure;
        }
    }
    if (failure > 0) {
        m_listFailures->SetColumnWidth(2, wxLIST_AUTOSIZE);  // each failure whole
    }
    const SummaryFilter f = filter();
    const int64_t bucket = bucketSeconds();
    const auto sparse = summary->timeline(bucket);
    const int64_t from = f.since ? *f.since : (sparse.empty() ? today : sparse.front().start);
    const int64_t to = f.until ? *f.until : (sparse.empty() ? from : sparse.back().start + bucket);
    m_plot->show(
        dense(sparse, from, std::max(to, from + (bucket < 86400 ? 86400 : bucket)), bucket),
        bucket);
    m_staticSkipped->SetLabel(
        reader->badCount() == 0
            ? wxString()
            : wxString::Format(tr("%llu lines that are not records were passed over"),
                               static_cast<unsigned long long>(reader->badCount())));
    Layout();
}

void RecordsFrame::showFailuresOf(const std::string& product) {
    const SummaryFilter f = filter();
    RecordReader failed(reports);
    RecordLine record;
    wxDialog box(this, wxID_ANY, wxString::Format(tr("Failures of %s"), fromUtf8(product)),
                 wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    auto* list = new wxListCtrl(&box, wxID_ANY, wxDefaultPosition, box.FromDIP(wxSize(720, 320)),
                                wxLC_REPORT);
    appendColumns(list, {{trLater("Time"), "2026-12-08 14:30:05", 130},
                         {trLater("Port"), "COM88", 60},
                         {trLater("Serial number"), "A7F3B2C9", 90},
                         {trLater("Attempt"), "9", 50},
                         {trLater("Failure"), "BPROT_MSG_STATUSINFO error", 300}});
    long at = 0;
    while (failed.next(record) && at < 1000) {
        if (record.ok() || !f.accepts(record) || productOf(record) != product) {
            continue;
        }
        list->InsertItem(at, fromUtf8(localTime(record.time)));
        list->SetItem(at, 1, fromUtf8(record.port));
        list->SetItem(at, 2, fromUtf8(record.label.empty() ? record.serial : record.label));
        list->SetItem(at, 3, wxString::Format("%d", record.attempt));
        list->SetItem(at, 4, fromUtf8(record.result));
        ++at;
    }
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list, 1, wxEXPAND | wxALL, box.FromDIP(8));
    sizer->Add(box.CreateStdDialogButtonSizer(wxCLOSE), 0, wxEXPAND | wxALL, box.FromDIP(8));
    box.SetSizerAndFit(sizer);
    box.SetEscapeId(wxID_CLOSE);
    box.ShowModal();
}
