#pragma once
// What the command line was asked to do, as parsed.
#include <string>
#include <vector>

struct CliOptions {
    std::vector<std::string> ports;  // as typed; several make a station, or with --watch
                                     // the ports that count
    std::string route;
    std::string report;  // service record file, appended to
    bool json = false;
    bool trace = false;
    std::string command;             // status, upload, run, read or erase
    std::vector<std::string> files;  // upload: image files and folders
    std::string file;                // read: the file (a pattern in a station)
    bool runAfter = false, forceProduct = false, allowDowngrade = false, verify = false;
    bool watch = false;        // service every instrument plugged in
    int count = 0;             // watching: end after this many instruments
    int attempts = 1;          // a device or line failure is tried again up to this
    int depth = 8;             // routes: the hops to look behind
    bool stationCopy = false;  // this process serves one port of a station
};
