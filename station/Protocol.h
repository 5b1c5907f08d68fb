#pragma once
// The conversation between the station and its copies of the command line, one copy per
// instrument (the engine is one per process by design): the arguments a copy is started
// with, and the events it reports, one JSON object a line on its standard output. The
// copies write their events with eventJson() and the station reads them with readEvent()
// alone, so the two sides cannot drift apart. The same events are what `--json` prints for
// tools.
//
// Each field has one meaning in every event: "port" the port as named, "device" the path
// of its device, "deviceType" the instrument's product as its status names it ("SOLVAR
// CU"), "deviceCode" that product's number (1 to 5), "product" an image's product
// ("Solvar CU"), "operation" one of operationName()'s words.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/Messages.h"
#include "image/FirmwareImage.h"
#include "station/ServiceOptions.h"
#include "support/Problem.h"

// What a command does to each instrument.
enum class Command { Status, Upload, Run, Read, Erase };
// "status", "upload", "run", "read", "erase".
const char* commandName(Command command);

// A step of a command that an instrument's row follows.
enum class Operation { Connect, Upload, Verify, Read, Erase, Run };
// "connect", "upload", "verify", "read", "erase", "run".
const char* operationName(Operation operation);

// What a copy is to do to its instrument, besides which port it is on: the settings whose
// options go to a copy (route, trace, the upload's switches), and these.
struct CopyOrder : ServiceSettings {
    Command command = Command::Upload;
    std::vector<std::string> images;  // upload: one image file per product, checked already
    std::string readFile;             // read: the file name, with {port} or {serial}
    bool probe = false;  // asks the bootloader for its status alone: whether one answers

    static CopyOrder probeOrder();
};

// The arguments of a copy doing `order` to the instrument on `port`.
std::vector<std::string> serviceArguments(const CopyOrder& order, const std::string& port);

// One event of a copy. Only the fields of its kind are filled in.
struct CopyEvent {
    enum class Kind {
        Connected,  // port, device, serial, route
        Status,     // status
        Image,      // file, image
        Started,    // operation, pages (< 0: a wait of unknown length)
        Progress,   // operation, done, pages
        Finished,   // operation
        Error,      // problem (its message and hint)
        Record,     // record: the service record of the attempt
        Retry,      // attempt: the one about to start
        Text,       // text: a line that is not an event
    };
    Kind kind = Kind::Text;
    std::string port, device, serial, route;
    StatusInfo status;
    std::string file;
    FirmwareImageInfo image;
    Operation operation = Operation::Connect;
    int done = 0, pages = 0;
    Problem problem;
    nlohmann::json record;
    int attempt = 0;
    std::string text;

    static CopyEvent connected(const std::string& port, const std::string& device,
                               const std::string& serial, const std::string& route);
    static CopyEvent statusOf(const StatusInfo& status);
    static CopyEvent imageOf(const std::string& file, const FirmwareImageInfo& image);
    static CopyEvent started(Operation operation, int pages);
    static CopyEvent progress(Operation operation, int done, int pages);
    static CopyEvent finished(Operation operation);
    static CopyEvent error(const Problem& problem);
    static CopyEvent recordOf(const nlohmann::json& record);
    static CopyEvent retry(int attempt);
};

// The event as a copy writes it: {"event": "connected", ...}.
nlohmann::json eventJson(const CopyEvent& event);
// A line of a copy's output as the station reads it; a line that is not an event is Text.
CopyEvent readEvent(const std::string& line);
CopyEvent readEvent(const nlohmann::json& object);

// A status record as a status event's fields, without "event" (the probe and the route
// scan print it so too).
nlohmann::json statusFields(const StatusInfo& status);
// The check of an image as an image event's fields, without "event" and "file" (the
// `inspect` command prints it so).
nlohmann::json imageFields(const FirmwareImageInfo& image);
