#pragma once
// A station job, set up once and run by anyone: a JSON file (".ostrajob") holding the
// images, the instruments (ticked ports, a fixture's slots, or every instrument plugged in
// with an optional USB filter), the options, the report, the batch, and whether labels are
// asked for. Paths are kept relative to the job's own folder, so a folder of job, images
// and report can move. A job can be locked: a window opened on it shows its settings
// read-only until the job is unlocked for editing.
//
//   {"ostrajob": 1, "images": ["images"], "instruments": "slots",
//    "slots": [{"name": "Slot 1", "port": "usb-port:1-2.1"}], "verify": true,
//    "runAfterUpload": false, "allowDowngrade": false, "attempts": 2,
//    "report": "service.jsonl", "batch": {"workOrder": "WO-1234", "quantity": 200},
//    "labels": true, "repeatLabels": false, "locked": true}
#include <string>
#include <vector>

#include "station/Request.h"

// The options a job keeps (their keys in the option tables), and these.
struct JobFile : ServiceSettings {
    static constexpr int kVersion = 1;
    enum class Instruments { Ticked, Slots, Automatic };

    std::vector<std::string> images;  // files and folders, as written (relative or absolute)
    Instruments instruments = Instruments::Ticked;
    std::vector<std::string> ports;  // ticked
    std::vector<Slot> slots;         // slots
    std::string usbFilter;           // automatic: "0403:6001", empty for every instrument
    std::string report;              // as written
    bool locked = false;

    bool operator==(const JobFile& other) const;
};

// Reads a job. Throws a Problem (exit code 2) for a file that cannot be read, is not a job,
// is of a newer version, holds a field this version does not know, or a value of the wrong
// kind: never half-read.
JobFile loadJob(const std::string& path);
// Writes the job, its paths relative to the job's folder where they can be. Throws a
// Problem when it cannot be written.
void saveJob(const std::string& path, JobFile job);
// What the job asks of the station, its paths resolved from the job's folder. Throws a
// Problem naming everything that is missing: an image file or folder, the report's folder.
StationRequest requestOf(const JobFile& job, const std::string& jobPath);
// The job a request describes (the command line's --save-job).
JobFile jobOf(const StationRequest& request);
