#pragma once
// The station window's table: one row per instrument serviced, as the station reports it.
// Port (or slot), USB serial number, label, device, firmware before -> after, progress, the
// state or result (green for ok, red for failed), and the instrument's own time. A shift's table
// keeps its latest rows; the counts keep every instrument.
#include <wx/dataview.h>

#include <chrono>
#include <deque>

#include "station/Unit.h"

// What an instrument is doing, or how it ended, in the window's words.
wxString unitStateText(const Unit& unit);

class StationRows : public wxDataViewVirtualListModel {
  public:
    enum Column {
        kPort,  // its slot and port when the station has slots
        kSerial,
        kLabel,
        kDevice,
        kFirmware,
        kProgress,
        kState,
        kTime,
        kColumns
    };
    // Ended rows beyond these many are let go, oldest first.
    static constexpr size_t kMostRows = 1000;

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
    // Every instrument since the start by how it stands: passed, failed (or interrupted),
    // not yet ended.
    Counts counts() const { return counts_; }
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
    void count(const Unit& unit, int by);
    void letGoOfOldRows();

    std::deque<Row> rows_;  // by unit id, from firstId_
    size_t firstId_ = 0;
    Counts counts_;
};
