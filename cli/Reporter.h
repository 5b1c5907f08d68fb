#pragma once
// How the command-line front end tells what happens: plain text for people (a progress
// bar on a terminal, plain lines otherwise), or one JSON object per line for tools.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/Messages.h"
#include "station/InstrumentService.h"
#include "station/Protocol.h"
#include "support/Problem.h"

// The text padded with blanks to `width` characters, for columns.
std::string pad(const std::string& text, size_t width);
// "SOLVAR CU  bootloader 1.2  firmware 1.5  65536 bytes": the device in a column of
// `width` (0: just wide enough), then the versions and the firmware size.
std::string statusLine(const StatusInfo& s, size_t width = 0);

class Reporter : public ServiceOutput {
  public:
    Reporter(bool json, bool terminal) : json_(json), terminal_(terminal) {}

    // A finished fact: text for people (none when empty), the object for tools (none when
    // null).
    void event(const std::string& text, const nlohmann::json& object) override;
    // The closing object, for tools only.
    void result(const nlohmann::json& object);
    // Progress of a transfer of `total` pages of 128 bytes (< 0: a wait of unknown length).
    void started(Operation operation, int32_t total) override;
    void progress(int32_t done) override;
    // One tick of a wait of unknown length.
    void tick() override;
    // A line of progress redrawn in place on a terminal; nothing elsewhere.
    void status(const std::string& text);
    void endLine();
    // An error on standard error, prefixed with the program's name: the message, then its
    // hint, if any, on a line of its own.
    void error(const Problem& problem) override;
    bool json() const { return json_; }
    // Errors only in JSON, not on standard error: a station copy, whose station shows them.
    void errorsInJsonOnly() { stderr_ = false; }

  private:
    void emit(const nlohmann::json& object);

    std::mutex mutex_;
    bool json_;
    bool terminal_;
    bool stderr_ = true;
    Operation operation_ = Operation::Connect;
    int32_t total_ = 0;
    int lastPercent_ = -1;
    bool lineOpen_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastTick_;
    int spinner_ = 0;
};
