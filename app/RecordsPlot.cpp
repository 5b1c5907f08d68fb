#include "app/RecordsPlot.h"

#include <wx/dcbuffer.h>

#include <algorithm>

#include "app/Translate.h"
#include "support/UtcTime.h"

RecordsPlot::RecordsPlot(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, parent->FromDIP(wxSize(560, 200))) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &RecordsPlot::paint, this);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        Refresh();
        event.Skip();
    });
}

void RecordsPlot::show(std::vector<TimelineBucket> buckets, int64_t bucketSeconds) {
    buckets_ = std::move(buckets);
    bucketSeconds_ = bucketSeconds;
    Refresh();
}

void RecordsPlot::paint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
    dc.Clear();
    dc.SetFont(GetFont());
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
    const wxSize size = GetClientSize();
    const int line = dc.GetCharHeight();
    // The axes' room: the counts on the left, the hours or days below, the legend on top.
    const wxRect area(FromDIP(8) + dc.GetTextExtent("00000").x, line + FromDIP(8),
                      size.x - FromDIP(16) - dc.GetTextExtent("00000").x,
                      size.y - 2 * line - FromDIP(16));
    const wxColour passed(0, 128, 0), failed(192, 0, 0);
    dc.SetPen(*wxTRANSPARENT_PEN);
    int x = area.x;
    for (const auto& [colour, text] : {std::pair{passed, tr("passed")}, {failed, tr("failed")}}) {
        dc.SetBrush(wxBrush(colour));
        dc.DrawRectangle(x, FromDIP(2), line, line);
        dc.DrawText(text, x + line + FromDIP(4), FromDIP(2));
        x += line + FromDIP(16) + dc.GetTextExtent(text).x;
    }
    if (buckets_.empty() || area.width <= 0 || area.height <= 0) {
        dc.DrawText(tr("No records in this span"), area.x, area.y + area.height / 2);
        return;
    }
    uint64_t most = 1;
    for (const TimelineBucket& b : buckets_) {
        most = std::max(most, b.passed + b.failed);
    }
    dc.DrawText(wxString::Format("%llu", static_cast<unsigned long long>(most)), FromDIP(4),
                area.y);
    dc.DrawText("0", FromDIP(4), area.GetBottom() - line);
    const int slot = std::max(1, area.width / static_cast<int>(buckets_.size()));
    const int labelEvery = std::max(1, (dc.GetTextExtent("00-00").x + FromDIP(6)) / slot + 1);
    for (size_t i = 0; i < buckets_.size(); ++i) {
        const TimelineBucket& b = buckets_[i];
        const int left = area.x + static_cast<int>(i) * slot + slot / 8;
        const int width = std::max(1, slot - slot / 4);
        const int okHeight = static_cast<int>(area.height * b.passed / most);
        const int failHeight = static_cast<int>(area.height * b.failed / most);
        dc.SetBrush(wxBrush(passed));
        dc.DrawRectangle(left, area.GetBottom() - okHeight, width, okHeight);
        dc.SetBrush(wxBrush(failed));
        dc.DrawRectangle(left, area.GetBottom() - okHeight - failHeight, width, failHeight);
        if (i % static_cast<size_t>(labelEvery) == 0) {
            const std::string when = bucketSeconds_ >= 86400 ? localDay(b.start).substr(5)
                                                             : localHour(b.start).substr(11, 2);
            dc.DrawText(fromUtf8(when), left, area.GetBottom() + FromDIP(4));
        }
    }
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT)));
    dc.DrawLine(area.x, area.GetBottom(), area.GetRight(), area.GetBottom());
}
