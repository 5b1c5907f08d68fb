#include "app/SlotTiles.h"

#include "app/StationRows.h"
#include "app/Translate.h"

namespace {
const wxColour kPassed(0, 128, 0), kFailed(192, 0, 0);

wxFont larger(const wxFont& font, double by, bool bold) {
    wxFont f = font;
    f.SetFractionalPointSize(font.GetFractionalPointSize() * by);
    return bold ? f.Bold() : f;
}
}  // namespace

SlotTiles::SlotTiles(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
    sizer_ = new wxWrapSizer(wxHORIZONTAL);
    SetSizer(sizer_);
}

SlotTiles::Tile SlotTiles::makeTile(const std::string& name) {
    auto* panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSIMPLE_BORDER);
    auto* column = new wxBoxSizer(wxVERTICAL);
    Tile tile{name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    tile.title = new wxStaticText(panel, wxID_ANY, fromUtf8(name));
    tile.title->SetFont(larger(GetFont(), 1.8, true));
    tile.label = new wxStaticText(panel, wxID_ANY, "-");
    tile.label->SetFont(larger(GetFont(), 1.4, false));
    tile.progress = new wxGauge(panel, wxID_ANY, 100, wxDefaultPosition, FromDIP(wxSize(200, 14)));
    tile.field = new wxPanel(panel, wxID_ANY);
    tile.state = new wxStaticText(tile.field, wxID_ANY, tr("waiting"));
    tile.state->SetFont(larger(GetFont(), 1.5, true));
    tile.reason = new wxStaticText(tile.field, wxID_ANY, wxEmptyString);
    auto* fieldSizer = new wxBoxSizer(wxVERTICAL);
    fieldSizer->Add(tile.state, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(8));
    fieldSizer->Add(tile.reason, 1, wxEXPAND | wxALL, FromDIP(8));
    tile.field->SetSizer(fieldSizer);
    for (wxWindow* part : {static_cast<wxWindow*>(tile.title), static_cast<wxWindow*>(tile.label),
                           static_cast<wxWindow*>(tile.progress)}) {
        column->Add(part, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, FromDIP(6));
    }
    column->Add(tile.field, 1, wxEXPAND | wxALL, FromDIP(6));
    panel->SetSizer(column);
    panel->SetMinSize(wxSize(FromDIP(220), -1));
    sizer_->Add(panel, 0, wxALL, FromDIP(4));
    return tile;
}

void SlotTiles::setSlots(const std::vector<std::string>& names) {
    DestroyChildren();
    sizer_->Clear();
    tiles_.clear();
    for (const std::string& name : names) {
        tiles_.push_back(makeTile(name));
    }
    Show(!names.empty());
    GetParent()->Layout();
}

void SlotTiles::show(const Unit& unit) {
    for (Tile& tile : tiles_) {
        if (tile.name != unit.slot) {
            continue;
        }
        tile.label->SetLabel(unit.label.empty() ? wxString("-") : fromUtf8(unit.label));
        tile.progress->SetValue(unit.percent());
        const bool passed = unit.phase == Unit::Phase::Passed;
        tile.field->SetBackgroundColour(passed         ? kPassed
                                        : unit.ended() ? kFailed
                                                       : GetBackgroundColour());
        for (wxStaticText* text : {tile.state, tile.reason}) {
            text->SetForegroundColour(unit.ended() ? *wxWHITE : GetForegroundColour());
        }
        // Large, the outcome; under it, in the normal size, why it failed.
        const bool failed = unit.ended() && !passed;
        tile.state->SetLabel(failed ? tr("failed") : unitStateText(unit));
        tile.reason->SetLabel(failed ? unitStateText(unit) : wxString());
        tile.reason->Wrap(FromDIP(200));
        tile.field->Refresh();
        Layout();
    }
}

std::string SlotTiles::tileText(size_t slot) const {
    const Tile& t = tiles_[slot];
    wxString reason = t.reason->GetLabel();
    reason.Replace("\n", " ");  // as read: the lines it was wrapped into, one after another
    const std::string reasonRead = reason.utf8_string();
    return t.name + "|" + t.label->GetLabel().utf8_string() + "|" +
           t.state->GetLabel().utf8_string() + "|" + reasonRead;
}

wxColour SlotTiles::tileColour(size_t slot) const {
    return tiles_[slot].field->GetBackgroundColour();
}
