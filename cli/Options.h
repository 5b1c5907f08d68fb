#pragma once
// What the command line was asked to do, as parsed. A service of instruments fills in the
// station's request, which the station checks as it checks the window's.
#include <string>

#include "station/Request.h"

// What `records` is asked of the reports.
struct RecordsOptions {
    std::vector<std::string> reports;
    std::string by;  // day, batch, operator or port; empty: per product alone
    std::string since, until, product, batch;
    std::string unit;  // a label or USB serial number: that instrument's records
    bool csv = false;
    std::string separator = ",";  // the CSV's
};

struct CliOptions {
    enum class What { Ports, Routes, Inspect, Records, Service };
    What what = What::Service;
    StationRequest request;    // Service: the command, its ports and options
    bool json = false;         // one JSON object per line for every event
    bool stationCopy = false;  // this process serves one port of a station
    bool probe = false;        // ports: ask each for a bootloader's status
    bool allPorts = false;     // ports --probe: every present port
    int depth = 8;             // routes: the hops to look behind
    std::string inspectFile;   // inspect: the image file
    RecordsOptions records;
    std::string job;                     // a station job to run, the options given overriding it
    std::string saveJob;                 // writes the job the options describe, and stops
    std::vector<std::string> given;      // the service's options given here, by name
    std::vector<std::string> slotTexts;  // --slot NAME=PORT, as given
};

// Parses the program's arguments. False when the program ends here (help, version or wrong
// usage, already told), with its exit code in `exitCode`.
bool parseOptions(int argc, char** argv, CliOptions& options, int& exitCode);
// The request to carry out: a job's (--job) with the options given here over it, or the
// options' alone (COM2 when no port is named). Throws a Problem for a job refused.
StationRequest requestToRun(const CliOptions& options);
