#pragma once
// What the command line was asked to do, as parsed.
#include <string>
#include <vector>

struct CliOptions {
    std::vector<std::string> ports;  // as typed; several make a station
    std::string route;
    std::string report;  // service record file, appended to
    bool json = false;
    bool trace = false;
    std::string command;  // status, upload, run, read or erase
    std::string file;     // upload's image; read's file (a pattern in a station)
    bool runAfter = false, forceProduct = false, allowDowngrade = false, verify = false;
    bool stationCopy = false;  // this process serves one port of a station
};
