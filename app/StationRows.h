#pragma once
// The station window's table: one row per instrument serviced, as the station reports it.
// Port, USB serial number, device, firmware before -> after, progress, the state or result
// (green for ok, red for failed), and the instrument's own time.
#include <wx/dataview.h>

#include <chrono>
#include <vector>

#include "station/Station.h"

class StationRows : public wxDataViewVirtualListModel {
  public:
    enum Column { kPort, kSerial, kDevice, kFirmware, kProgress, kState, kTime, kColumns };

    StationRows() : wxDataViewVirtualListModel(0) {}

    // A unit as the station last reported it: a new row, or its row brought up to date.
    void show(const Unit& unit);
    // The running rows' times move on.
    void tick();
    void clear();
    size_t size() const { return rows_.size(); }
    struct Counts {
        size_t passed = 0, failed = 0, running = 0;
    };
    // The rows by how they stand: passed, failed (or interrupted), not yet ended.
    Counts counts() const;
    const Unit& unit(size_t row) const { return rows_[row].unit; }
    // The state column's text: what the instrument is doing, or how it ended.
    wxString stateText(size_t row) const;
    // What the row's tooltip says: the result's message and its hint.
    wxString tooltip(size_t row) const;

    unsigned GetColumnCount() const override { return kColumns; }
    wxString GetColumnType(unsigned column) const override;
    void GetValueByRow(wxVariant& value, unsigned row, unsigned column) const override;
    bool GetAttrByRow(unsigned row, unsigned column, wxDataViewItemAttr& attr) const override;
    bool SetValueByRow(const wxVariant&, unsigned, unsigned) override { return false; }

  private:
    struct Row {
        Unit unit;
        std::chrono::steady_clock::time_point seen;  // when the window first heard of it
    };
    std::vector<Row> rows_;  // by unit id
};
