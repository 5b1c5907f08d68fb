#pragma once
// The records view: what the reports say of today, of this batch or of a chosen span of
// days, as the command line's `records` says it. A table per product (instruments, passed at
// the first attempt, after attempts, failed, the yields, the median time), the passed and
// failed records per hour (per day for longer spans) drawn below it, and every failure's
// cause with its count under that. A double-click on a product lists its failed records. It
// follows the report in use as the station adds to it.
#include <wx/datectrl.h>
#include <wx/listctrl.h>
#include <wx/timer.h>
#include <wx/wx.h>

#include <memory>
#include <string>
#include <vector>

#include "app/RecordsPlot.h"
#include "records/RecordSummary.h"

class RecordsFrame : public wxFrame {
  public:
    // `report`: the report in use (followed); `batch`: this batch's work order, empty for
    // none.
    RecordsFrame(wxWindow* parent, const std::string& report, const std::string& batch);

  protected:
    enum Span { kToday, kBatch, kDays };
    wxChoice* m_choiceSpan;
    wxDatePickerCtrl* m_dateFrom;
    wxDatePickerCtrl* m_dateTo;
    wxStaticText* m_staticReports;
    wxButton* m_buttonAddReport;
    wxListCtrl* m_listSummary;
    RecordsPlot* m_plot;
    wxListCtrl* m_listFailures;
    wxStaticText* m_staticSkipped;

    // Reads every report again from its start, for the span chosen.
    void rebuild();
    // What the report in use gained since the last look.
    void follow();
    // The failed records of a product, in a box.
    void showFailuresOf(const std::string& product);
    std::vector<SummaryRow> rows;  // as the table shows them

  private:
    void layOut();
    void bindEvents();
    void show();
    SummaryFilter filter() const;
    int64_t bucketSeconds() const;

    std::vector<std::string> reports;  // other reports first, the one in use last
    const std::string batch;
    std::unique_ptr<RecordSummary> summary;
    std::unique_ptr<RecordReader> reader;
    int64_t today = 0;  // the first second of the day the view was built on
    wxTimer followTimer;
};
