#pragma once
// What the station is asked to do. Each front end fills one in (the command line from its
// options, the window from its settings) and the station checks it, once, before anything
// is sent to any instrument.
#include <string>
#include <vector>

#include "station/ImageSet.h"
#include "station/Protocol.h"

struct StationRequest {
    Command command = Command::Upload;
    std::vector<std::string> ports;   // a tray: its instruments; watching: which ports count
    bool watch = false;               // service every instrument plugged in
    int count = 0;                    // watching: end after this many (0: until stopped)
    int attempts = 1;                 // a device or line failure is tried again up to this
    std::string report;               // service records appended here; empty: none
    std::string route;                // to a routed instrument behind each
    std::vector<std::string> images;  // upload: image files and folders
    std::string readFile;  // read: the file (a pattern holding {port} or {serial} for several)
    bool runAfter = false, forceProduct = false, allowDowngrade = false, verify = false;
    bool trace = false;

    // Several instruments, each by a copy of its own.
    bool several() const { return ports.size() > 1 || watch; }
};

// A request that passed its checks, with its images loaded.
struct CheckedRequest {
    StationRequest request;
    ImageSet images;
    // What a copy does to each instrument.
    CopyOrder order() const;
};

// Checks the request as a whole: the usage (a read pattern for several instruments, --count
// with --watch only, no "auto" in a watch, one image with --force-product, each instrument
// named once), the report file, and every image. Throws a Problem on the first refusal.
// `program`: the command line, whose copies may probe to tell what a name means.
CheckedRequest checkRequest(const StationRequest& request, const std::string& program);
