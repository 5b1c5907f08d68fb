#pragma once
// The building blocks both windows are laid out with: bordered groups with a caption strip,
// flexible grids, and sizes in device-independent pixels.
#include <wx/listctrl.h>
#include <wx/wx.h>

#include <initializer_list>

// A panel that only shows: it never takes the focus, so Tab does not stop on it. (A panel
// without focusable children otherwise takes the focus itself and shows nothing focused.)
class PassivePanel : public wxPanel {
  public:
    PassivePanel(wxWindow* parent, long style)
        : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, style) {}
    bool AcceptsFocus() const override { return false; }
    bool AcceptsFocusFromKeyboard() const override { return false; }
};

// A flexible grid, flexible in both directions.
wxFlexGridSizer* flexGrid(int rows, int cols);
// Gives the panel its sizer, lays it out and fits the sizer to it.
void finishPanel(wxPanel* panel, wxSizer* sizer);

// A bordered group: caption strip, content panel with a flexible grid, and the group's
// own sizer (rows 0 and 1 filled) for the caller to finish. A group that holds no input is
// passed over by Tab.
struct Group {
    wxPanel* panel;
    wxPanel* content;
    wxFlexGridSizer* sizer;
    wxStaticText* caption;
};
Group makeGroup(wxWindow* parent, const char* caption, bool holdsInputs);

// A list column wide enough for its title and for a sample of its longest values at the
// list's font, and never below `dip` device-independent pixels.
int columnWidth(wxWindow* list, const wxString& title, const wxString& sample, int dip);

// Lays a frame out at least `leastDip` device-independent pixels large (the same at 96
// DPI, scaled with the monitor's DPI where the program is DPI-aware), or as large as its
// contents need at larger text or DPI. With `fixedHeight` only the width can be changed
// by hand.
void fitFrame(wxFrame* frame, const wxSize& leastDip, bool fixedHeight);

// A column of a report list: its title (for the catalog), a sample of its longest values
// and its least width in device-independent pixels.
struct ListColumn {
    const char* title;
    const char* sample;
    int dip;
};
// Appends the columns, each as wide as columnWidth() says, and makes the list at least
// wide enough to show them all beside a scroll bar. That width.
int appendColumns(wxListCtrl* list, std::initializer_list<ListColumn> columns);
