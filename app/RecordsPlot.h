#pragma once
// Passed and failed records per hour (or per day), drawn as stacked bars: green passed
// below, red failed above, the hours or days under them and the largest count beside.
#include <wx/wx.h>

#include <vector>

#include "records/RecordSummary.h"

class RecordsPlot : public wxPanel {
  public:
    explicit RecordsPlot(wxWindow* parent);
    // The bars to draw, each `bucketSeconds` long (3600: hours; 86400: days).
    void show(std::vector<TimelineBucket> buckets, int64_t bucketSeconds);
    const std::vector<TimelineBucket>& buckets() const { return buckets_; }

  private:
    void paint(wxPaintEvent&);

    std::vector<TimelineBucket> buckets_;
    int64_t bucketSeconds_ = 3600;
};
