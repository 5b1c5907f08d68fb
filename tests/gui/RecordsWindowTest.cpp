// The records view against the command line: for the same report and span of days it
// shows the same counts and yields as `ostraloader-cli records`, its plot holds every
// record, and a product's failures list that product's failed records.
#include <gtest/gtest.h>
#include <wx/stdpaths.h>

#include <nlohmann/json.hpp>

#include "app/RecordsFrame.h"
#include "app/StationFrame.h"
#include "support/Files.h"
#include "tests/gui/GuiSupport.h"
#include "tests/gui/WindowDriver.h"

namespace {
class TestRecords : public RecordsFrame {
  public:
    explicit TestRecords(const std::string& report) : RecordsFrame(nullptr, report, "") { Show(); }
    using RecordsFrame::follow, RecordsFrame::m_choiceSpan, RecordsFrame::m_dateFrom,
        RecordsFrame::m_dateTo, RecordsFrame::m_listSummary, RecordsFrame::m_plot,
        RecordsFrame::rebuild, RecordsFrame::showFailuresOf;
    // "PRODUCT instruments first after failed firstYield finalYield" per row.
    std::vector<std::string> table() const {
        std::vector<std::string> all;
        for (long row = 0; row < m_listSummary->GetItemCount(); ++row) {
            std::string line;
            for (int column = 0; column < 7; ++column)
                line += (column ? " " : "") + utf8(m_listSummary->GetItemText(row, column));
            all.push_back(line);
        }
        return all;
    }
};

std::string record(const char* time, const char* port, const char* result, const char* type,
                   int attempt = 1, const char* serial = "") {
    return std::string(R"({"time":")") + time + R"(","port":")" + port + R"(","result":")" +
           result + R"(","exit":)" + (std::string(result) == "ok" ? "0" : "1") +
           R"(,"deviceType":)" + (*type ? "\"" + std::string(type) + "\"" : "null") +
           R"(,"attempt":)" + std::to_string(attempt) + R"(,"serial":")" + serial +
           R"(","seconds":3.0})" + "\n";
}
}  // namespace

TEST(RecordsTest, TheViewShowsWhatTheCommandLineSays) {
    DialogCapture dialogs;
    const std::string report = data("records.jsonl");
    const std::string lines =
        record("2026-12-08T09:00:00Z", "COM11", "ok", "SOLVAR CU", 1, "A1") +
        record("2026-12-08T09:05:00Z", "COM12", "BPROT_MSG_WRITE_PAGE error", "SOLVAR CU", 1,
               "A2") +
        record("2026-12-08T09:06:00Z", "COM12", "ok", "SOLVAR CU", 2, "A2") +
        record("2026-12-08T10:00:00Z", "COM13",
               "BPROT_MSG_STATUSINFO error, bootloader not "
               "responding",
               "", 1) +
        record("2026-12-09T11:00:00Z", "COM14", "interrupted", "TAMRIK 3", 1, "T9") +
        record("2026-12-09T11:30:00Z", "COM15", "ok", "TAMRIK 3", 1, "T8") +
        record("2026-12-12T11:30:00Z", "COM15", "ok", "TAMRIK 3", 1, "T7");  // outside the span
    ASSERT_TRUE(appendToFile(report, lines).empty());
    auto* view = new TestRecords(report);
    view->m_choiceSpan->SetSelection(1);  // days from ... to ...
    view->m_dateFrom->SetValue(wxDateTime(8, wxDateTime::Dec, 2026));
    view->m_dateTo->SetValue(wxDateTime(9, wxDateTime::Dec, 2026));
    view->rebuild();
    wxArrayString out, errors;
    const wxString cli = wxString::FromUTF8(
        StationFrame::commandLineBeside(wxStandardPaths::Get().GetExecutablePath()).c_str());
    wxExecute("\"" + cli + "\" records --json --since 2026-12-08 --until 2026-12-09 \"" +
                  wxString::FromUTF8(report.c_str()) + "\"",
              out, errors, wxEXEC_SYNC);
    std::vector<std::string> said;
    for (const wxString& line : out) {
        const nlohmann::json j = nlohmann::json::parse(utf8(line), nullptr, false);
        if (j.is_object() && j.value("event", "") == "summary") {
            char yields[64];
            std::snprintf(yields, sizeof yields, "%.1f %% %.1f %%",
                          j["firstPassYield"].get<double>(), j["finalYield"].get<double>());
            said.push_back(j["product"].get<std::string>() + " " +
                           std::to_string(j["instruments"].get<int>()) + " " +
                           std::to_string(j["passedFirst"].get<int>()) + " " +
                           std::to_string(j["passedAfter"].get<int>()) + " " +
                           std::to_string(j["failed"].get<int>()) + " " + yields);
        }
    }
    EXPECT_EQ(view->table(), said);
    EXPECT_EQ(said,
              (std::vector<std::string>{"- 1 0 0 1 0.0 % 0.0 %", "SOLVAR CU 2 1 1 0 50.0 % 100.0 %",
                                        "TAMRIK 3 2 1 0 1 50.0 % 50.0 %"}));
    uint64_t passed = 0, failed = 0;
    for (const TimelineBucket& bucket : view->m_plot->buckets()) {
        passed += bucket.passed;
        failed += bucket.failed;
    }
    EXPECT_EQ(passed, 3u);
    EXPECT_EQ(failed, 3u);
    std::vector<std::string> listed;
    dialogs.ownDialog = [&](wxDialog* box) {
        for (wxWindow* child : box->GetChildren()) {
            if (auto* list = dynamic_cast<wxListCtrl*>(child)) {
                for (long row = 0; row < list->GetItemCount(); ++row)
                    listed.push_back(
                        utf8(list->GetItemText(row, 1) + " " + list->GetItemText(row, 4)));
            }
        }
        return wxID_CLOSE;
    };
    view->showFailuresOf("SOLVAR CU");
    EXPECT_EQ(listed, std::vector<std::string>{"COM12 BPROT_MSG_WRITE_PAGE error"});
    // It follows the report as the station adds to it: a Tamrik 3 more, passed.
    ASSERT_TRUE(
        appendToFile(report, record("2026-12-09T12:00:00Z", "COM16", "ok", "TAMRIK 3", 1, "T6"))
            .empty());
    view->follow();
    EXPECT_EQ(view->table().back(), "TAMRIK 3 3 2 0 1 66.7 % 66.7 %");
    view->Destroy();
    wxYield();
}
