#pragma once
// One instrument serviced by the station: a row of its table, from its first attempt to
// its end. Its state is a value each front end words in its own language.
#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/Protocol.h"

struct Unit {
    enum class Phase { Running, Waiting, Passed, Failed, Interrupted };
    // What the instrument is doing, or how it ended.
    enum class Step {
        Starting,     // its copy is connecting
        Connected,    // connected, nothing under way yet
        Working,      // `operation` under way: `done` of `pages`
        WaitingOnIt,  // `operation` under way, a wait of unknown length (the erase)
        StepDone,     // `operation` done, the next not yet started
        TryingAgain,  // failed (`result`); attempt `attempt + 1` follows
        Passed,       //
        Failed,       // `result`
        Interrupted,  // abandoned by a stop
    };

    size_t id = 0;
    std::string port;    // as named, or as found
    std::string slot;    // the fixture's socket it is in, when the station has slots
    std::string label;   // read from its case, when labels are asked for
    std::string servicedBefore;  // its label passed in this batch on this local date
    std::string device;  // what it resolved to
    std::string serial;  // USB serial number
    std::string deviceType = "-", firmwareBefore, firmwareAfter;
    std::string image;  // the image file used
    Phase phase = Phase::Running;
    bool connected = false;
    Operation operation = Operation::Connect;
    int done = 0, pages = 0;   // the operation's progress; pages < 0: a wait of unknown length
    std::string result, hint;  // once ended: "ok" or the error's message, and its hint
    int code = -1;             // once ended: the exit code
    int attempt = 1;
    double seconds = 0;                  // from its first attempt's start to its end
    std::vector<nlohmann::json> events;  // every event of every attempt but progress, in order

    bool ended() const { return phase >= Phase::Passed; }
    Step step() const;
    // The share of its pages done, 0 to 100 (100 once it passed).
    int percent() const;
};
