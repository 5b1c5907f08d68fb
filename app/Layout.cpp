#include "app/Layout.h"

#include <algorithm>

#include "app/Translate.h"

wxFlexGridSizer* flexGrid(int rows, int cols) {
    auto* sizer = new wxFlexGridSizer(rows, cols, 0, 0);
    sizer->SetFlexibleDirection(wxBOTH);
    return sizer;
}

void finishPanel(wxPanel* panel, wxSizer* sizer) {
    panel->SetSizer(sizer);
    panel->Layout();
    sizer->Fit(panel);
}

Group makeGroup(wxWindow* parent, const char* caption, bool holdsInputs) {
    Group g;
    g.panel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                          wxSIMPLE_BORDER | wxTAB_TRAVERSAL);
    g.sizer = flexGrid(0, 1);
    g.sizer->AddGrowableCol(0);
    g.sizer->AddGrowableRow(1);
    g.sizer->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    auto* strip = new PassivePanel(g.panel, 0);
    strip->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_INACTIVECAPTION));
    auto* stripSizer = new wxBoxSizer(wxVERTICAL);
    g.caption = new wxStaticText(strip, wxID_ANY, tr(caption), wxDefaultPosition, wxDefaultSize, 0);
    g.caption->Wrap(-1);
    g.caption->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_CAPTIONTEXT));
    stripSizer->Add(g.caption, 0, wxALL, parent->FromDIP(5));
    finishPanel(strip, stripSizer);
    g.sizer->Add(strip, 1, wxEXPAND | wxALL, parent->FromDIP(1));

    g.content = holdsInputs ? new wxPanel(g.panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                          wxTAB_TRAVERSAL)
                            : new PassivePanel(g.panel, wxTAB_TRAVERSAL);
    g.sizer->Add(g.content, 1, wxEXPAND | wxALL, parent->FromDIP(5));
    return g;
}

int columnWidth(wxWindow* list, const wxString& title, const wxString& sample, int dip) {
    const int margin = list->FromDIP(24);  // the cell's padding and the header's sort mark
    return std::max({list->FromDIP(dip), list->GetTextExtent(title).x + margin,
                     list->GetTextExtent(sample).x + margin});
}

void fitFrame(wxFrame* frame, const wxSize& leastDip, bool fixedHeight) {
    const wxSize least = frame->FromDIP(leastDip);
    const wxSize need = frame->ClientToWindowSize(frame->GetSizer()->GetMinSize());
    const wxSize fitting(std::max(least.x, need.x), std::max(least.y, need.y));
    frame->SetSizeHints(fitting, wxSize(-1, fixedHeight ? fitting.y : -1));
    const wxSize now = frame->GetSize();
    const int height = fixedHeight ? fitting.y : std::max(now.y, fitting.y);
    if (now.x < fitting.x || now.y != height) {
        frame->SetSize(std::max(now.x, fitting.x), height);
    }
    frame->Layout();
}

int appendColumns(wxListCtrl* list, std::initializer_list<ListColumn> columns) {
    int width = list->FromDIP(8) + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X);
    for (const ListColumn& column : columns) {
        const int w = columnWidth(list, tr(column.title), column.sample, column.dip);
        list->AppendColumn(tr(column.title), wxLIST_FORMAT_LEFT, w);
        width += w;
    }
    list->SetMinSize(wxSize(width, list->GetMinSize().y));
    return width;
}
