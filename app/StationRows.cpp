#include "app/StationRows.h"

#include "app/Translate.h"

namespace {
// What an operation is called while it runs.
wxString doing(const std::string& operation) {
    if (operation == "connect") {
        return tr("connecting");
    }
    if (operation == "connected") {
        return tr("connected");
    }
    if (operation == "upload") {
        return tr("uploading");
    }
    if (operation == "verify" || operation == "read") {
        return tr("verifying");
    }
    return tr("starting the firmware");
}
}  // namespace

void StationRows::show(const Unit& unit) {
    if (unit.id < rows_.size()) {
        rows_[unit.id].unit = unit;
        RowChanged(static_cast<unsigned>(unit.id));
        return;
    }
    while (rows_.size() <= unit.id) {
        rows_.push_back({unit, std::chrono::steady_clock::now()});
        RowAppended();
    }
}

StationRows::Counts StationRows::counts() const {
    Counts c;
    for (const Row& row : rows_) {
        const Unit& u = row.unit;
        (u.phase == Unit::Phase::Passed ? c.passed : u.ended() ? c.failed : c.running) += 1;
    }
    return c;
}

void StationRows::tick() {
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (!rows_[row].unit.ended()) {
            RowValueChanged(static_cast<unsigned>(row), kTime);
        }
    }
}

void StationRows::clear() {
    rows_.clear();
    Reset(0);
}

wxString StationRows::stateText(size_t row) const {
    const Unit& u = rows_[row].unit;
    switch (u.phase) {
        case Unit::Phase::Passed:
            return tr("ok");
        case Unit::Phase::Failed:
            return fromUtf8(u.result);
        case Unit::Phase::Interrupted:
            return tr("interrupted");
        case Unit::Phase::Waiting:
            return wxString::Format(tr("failed, trying again (attempt %d)"), u.attempt + 1);
        case Unit::Phase::Running:
            break;
    }
    return doing(u.operation);
}

wxString StationRows::tooltip(size_t row) const {
    const Unit& u = rows_[row].unit;
    if (u.phase == Unit::Phase::Passed || u.result.empty()) {
        return wxString();
    }
    return fromUtf8(u.hint.empty() ? u.result : u.result + "\n" + u.hint);
}

wxString StationRows::GetColumnType(unsigned column) const {
    return column == kProgress ? "long" : "string";
}

void StationRows::GetValueByRow(wxVariant& value, unsigned row, unsigned column) const {
    const Unit& u = rows_[row].unit;
    switch (column) {
        case kPort:
            value = fromUtf8(u.port);
            break;
        case kSerial:
            value = fromUtf8(u.serial);
            break;
        case kDevice:
            value = fromUtf8(u.deviceType);
            break;
        case kFirmware:
            value = u.firmwareAfter.empty()
                        ? fromUtf8(u.firmwareBefore)
                        : fromUtf8(u.firmwareBefore + " \xE2\x86\x92 " + u.firmwareAfter);
            break;
        case kProgress:
            value = static_cast<long>(u.phase == Unit::Phase::Passed ? 100
                                      : u.pages > 0                  ? 100L * u.done / u.pages
                                                                     : 0);
            break;
        case kState:
            value = stateText(row);
            break;
        default: {
            const double seconds = u.ended()
                                       ? u.seconds
                                       : std::chrono::duration<double>(
                                             std::chrono::steady_clock::now() - rows_[row].seen)
                                             .count();
            value = wxString::Format(tr("%.1f s"), seconds);
        }
    }
}

bool StationRows::GetAttrByRow(unsigned row, unsigned column, wxDataViewItemAttr& attr) const {
    const Unit::Phase phase = rows_[row].unit.phase;
    if (column != kState || phase == Unit::Phase::Running) {
        return false;
    }
    // Green for ok, red for failed; a failure to be tried again in the colour of a warning.
    attr.SetColour(phase == Unit::Phase::Passed    ? wxColour(0, 128, 0)
                   : phase == Unit::Phase::Waiting ? wxColour(176, 96, 0)
                                                   : wxColour(192, 0, 0));
    attr.SetBold(phase != Unit::Phase::Waiting);
    return true;
}
