#pragma once
// The service of one instrument, one attempt: connect (through the route), identify, choose
// the image for its product, refuse a downgrade, upload, verify by read-back, run, read or
// erase; each step told as it happens, and at the end the attempt's service record. A
// station's copy runs it in a process of its own; a run of one instrument in the station's.
#include <string>

#include <nlohmann/json.hpp>

#include "station/ImageSet.h"
#include "station/Protocol.h"

// Where a service tells what happens: the command line's reporter, or the station's inbox.
class ServiceOutput {
  public:
    virtual ~ServiceOutput() = default;
    // A finished fact: text for people (none when empty), its event for tools and the
    // station (eventJson()).
    virtual void event(const std::string& text, const nlohmann::json& object) = 0;
    // A failure, told once, before its error event.
    virtual void error(const Problem& problem) = 0;
    // A transfer of `total` pages (< 0: a wait of unknown length), its pages done, and the
    // ticks of a wait.
    virtual void started(Operation operation, int32_t total) = 0;
    virtual void progress(int32_t done) = 0;
    virtual void tick() = 0;
};

// Services the instrument on `port` as `order` says, with `images` loaded from the order's
// files; tells every step, then the attempt's record (a record event). The command's exit
// code. `program`: the command line, whose copies may probe to tell what a "usb:" name means.
int serviceInstrument(const CopyOrder& order, const ImageSet& images, const std::string& port,
                      const std::string& program, ServiceOutput& out);

// A read file name for one port: "{port}" and "{serial}" replaced by the port as typed and
// its USB serial number (the port when it has none), made safe for a file name.
std::string readFileFor(const std::string& pattern, const std::string& port,
                        const std::string& serial);
