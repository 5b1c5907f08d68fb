#pragma once
// The service record: one JSON line per instrument and command, appended to the report
// file with one write, so that a station's processes can share the file and a reader never
// sees half a line.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/Messages.h"
#include "image/FirmwareImage.h"

struct ServiceRecord {
    int64_t startedAt = 0;  // seconds since 1970, UTC
    int attempt = 1;        // the how-manieth time this instrument is serviced in a row
    std::string port;       // as typed
    std::string device;     // what it resolved to
    std::string serial;     // USB serial number, when there is one
    std::optional<StatusInfo> before, after;
    std::string command;
    std::string imageFile;
    std::optional<FirmwareImageInfo> image;
    std::string error, hint;  // empty: the command succeeded
    int exitCode = 0;
    double seconds = 0;

    nlohmann::json toJson() const;
};

// A status record as a copy of the command line reports it in JSON ("status" event), and
// back; the station reads its copies' status events so.
nlohmann::json statusJson(const StatusInfo& s);
StatusInfo statusFromJson(const nlohmann::json& event);

// "2.1": a version as every output of the command line shows it.
std::string versionText(int major, int minor);
// "2026-12-08T03:14:07Z".
std::string isoUtc(int64_t seconds);
// The file's SHA-256 in lower-case hexadecimal; empty when it cannot be read.
std::string fileSha256(const std::string& path);
// Whether the report file can be appended to: empty when it can, otherwise what is wrong
// and what to do. Creates the file when missing.
std::string checkReportFile(const std::string& path);
// Appends a record's line; empty on success, otherwise what failed.
std::string appendToReport(const std::string& path, const nlohmann::json& record);
