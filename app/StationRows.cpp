#include "app/StationRows.h"

#include "app/Translate.h"

namespace {
// What an operation is called while it runs.
wxString doing(Operation operation) {
    switch (operation) {
        case Operation::Connect:
            return tr("connecting");
        case Operation::Upload:
            return tr("uploading");
        case Operation::Verify:
            return tr("verifying");
        case Operation::Read:
            return tr("reading");
        case Operation::Erase:
            return tr("erasing");
        case Operation::Run:
            break;
    }
    return tr("starting the firmware");
}
}  // namespace

void StationRows::count(const Unit& unit, int by) {
    size_t& counter = unit.phase == Unit::Phase::Passed ? counts_.passed
                      : unit.ended()                    ? counts_.failed
                                                        : counts_.running;
    counter += static_cast<size_t>(by);
}

void StationRows::show(const Unit& unit) {
    if (unit.id < firstId_) {
        return;  // let go of already
    }
    const size_t row = unit.id - firstId_;
    if (row < rows_.size()) {
        count(rows_[row].unit, -1);
        rows_[row].unit = unit;
        count(unit, +1);
        RowChanged(static_cast<unsigned>(row));
        return;
    }
    if (row == rows_.size()) {  // the station numbers its units in the order it starts them
        rows_.push_back({unit, std::chrono::steady_clock::now()});
        count(unit, +1);
        RowAppended();
        letGoOfOldRows();
    }
}

void StationRows::letGoOfOldRows() {
    while (rows_.size() > kMostRows && rows_.front().unit.ended()) {
        rows_.pop_front();
        ++firstId_;
        RowDeleted(0);
    }
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
    firstId_ = 0;
    counts_ = Counts();
    Reset(0);
}

wxString StationRows::stateText(size_t row) const {
    return unitStateText(rows_[row].unit);
}

wxString unitStateText(const Unit& u) {
    switch (u.step()) {
        case Unit::Step::Passed:
            return u.servicedBefore.empty() ? tr("ok")
                                            : wxString::Format(tr("ok, serviced before (%s)"),
                                                               fromUtf8(u.servicedBefore));
        case Unit::Step::Failed:
            return fromUtf8(u.result);
        case Unit::Step::Interrupted:
            return tr("interrupted");
        case Unit::Step::TryingAgain:
            return wxString::Format(tr("failed, trying again (attempt %d)"), u.attempt + 1);
        case Unit::Step::Connected:
            return tr("connected");
        case Unit::Step::Starting:
        case Unit::Step::Working:
        case Unit::Step::WaitingOnIt:
        case Unit::Step::StepDone:
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
            value = fromUtf8(u.slot.empty() ? u.port : u.slot + " (" + u.port + ")");
            break;
        case kSerial:
            value = fromUtf8(u.serial);
            break;
        case kLabel:
            value = fromUtf8(u.label);
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
            value = static_cast<long>(u.percent());
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
