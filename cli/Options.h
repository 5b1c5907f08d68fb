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
};

// Parses the program's arguments. False when the program ends here (help, version or wrong
// usage, already told), with its exit code in `exitCode`.
bool parseOptions(int argc, char** argv, CliOptions& options, int& exitCode);
