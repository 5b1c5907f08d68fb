#pragma once
// What the station is asked to do. Each front end fills one in (the command line from its
// options, the window from its settings) and the station checks it, once, before anything
// is sent to any instrument.
#include <map>
#include <string>
#include <vector>

#include "station/ImageSet.h"
#include "station/Protocol.h"

// A socket of a fixture, by the port identity of where it is ("usb-port:1-2.3"), and its
// name in rows and records ("Slot 1").
struct Slot {
    std::string name, port;
    bool operator==(const Slot& other) const { return name == other.name && port == other.port; }
};

// The options (ServiceSettings) and what the station is to service. Labels: each
// instrument's is taken before it is serviced (a tray's here, by port; while watching,
// scanned as they come); one that passed in this batch is serviced again only with
// `repeatLabels`.
struct StationRequest : ServiceSettings {
    Command command = Command::Upload;
    std::vector<std::string> ports;   // a tray: its instruments; watching: which ports count
    bool watch = false;               // service every instrument plugged in
    std::string report;               // service records appended here; empty: none
    std::vector<std::string> images;  // upload: image files and folders
    std::string readFile;     // read: the file (a pattern holding {port} or {serial} for several)
    std::vector<Slot> slots;  // a fixture's sockets: its instruments, by socket, named
    std::map<std::string, std::string> labelsByPort;

    // Several instruments, each by a copy of its own.
    bool several() const { return ports.size() + slots.size() > 1 || watch; }
    // The slot a port is, or empty.
    std::string slotOf(const std::string& port) const;
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
