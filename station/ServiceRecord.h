#pragma once
// The service record: what was done to one instrument in one attempt, one JSON line in the
// report. It is filled in from the attempt's events, the same way by the copy that services
// the instrument and by the station for a copy that ended without sending its own.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "station/ImageSet.h"
#include "station/Protocol.h"

struct ServiceRecord {
    int64_t startedAt = 0;  // seconds since 1970, UTC
    int attempt = 1;        // the how-manieth time this instrument is serviced in a row
    std::string port;       // as named
    std::string device;     // what it resolved to
    std::string serial;     // USB serial number, when there is one
    std::optional<StatusInfo> before, after;
    Command command = Command::Status;
    std::string imageFile, imageSha256;
    std::optional<FirmwareImageInfo> image;
    std::string error, hint;  // empty: the command succeeded
    int exitCode = 0;
    double seconds = -1;  // < 0: not known (the record of an attempt the station lost)
    // The station's own words for the instrument, when it has them: its slot ("Slot 1"),
    // the label read from its case, its batch's work order and the operator.
    std::string slot, label, batch, operatorName;

    // The record of an attempt about to start: its time, port, command and number, and the
    // image when one file is named for every instrument.
    static ServiceRecord start(Command command, const std::string& port, int attempt,
                               const ImageSet& images);
    // What an event of the attempt tells: the port's device, the status before, the image
    // chosen, the failure.
    void take(const CopyEvent& event);
    // The record of an attempt whose copy ended without its own: how it ended ("interrupted",
    // "ended by signal 9"), never a success.
    ServiceRecord endedWithout(const std::string& how, double took) const;
    nlohmann::json toJson() const;
};

// The result of an attempt the station lost track of when it ended first (killed, crashed,
// the power cut): its journal's entry becomes a record with this result.
extern const char* const kStationEndedFirst;

// The file's SHA-256 in lower-case hexadecimal; empty when it cannot be read.
std::string fileSha256(const std::string& path);
