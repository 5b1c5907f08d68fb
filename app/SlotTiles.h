#pragma once
// A fixture's slots as tiles readable at arm's length (two metres): each slot's name, the
// label of the instrument in it, its progress, and how it ended as a large green or red
// field with the reason.
#include <wx/gauge.h>
#include <wx/wrapsizer.h>
#include <wx/wx.h>

#include <string>
#include <vector>

#include "station/Unit.h"

class SlotTiles : public wxPanel {
  public:
    explicit SlotTiles(wxWindow* parent);
    // One tile per slot, empty, in this order.
    void setSlots(const std::vector<std::string>& names);
    // The tile of the unit's slot brought up to date; a unit in no slot changes nothing.
    void show(const Unit& unit);
    // A tile's texts: "name|label|state|reason" (for tests), and its result field's colour.
    std::string tileText(size_t slot) const;
    wxColour tileColour(size_t slot) const;
    size_t size() const { return tiles_.size(); }

  private:
    struct Tile {
        std::string name;
        wxStaticText* title;
        wxStaticText* label;
        wxGauge* progress;
        wxPanel* field;
        wxStaticText* state;   // large: "ok", "failed", or what it is doing
        wxStaticText* reason;  // why it failed, wrapped
    };
    Tile makeTile(const std::string& name);

    std::vector<Tile> tiles_;
    wxWrapSizer* sizer_;
};
