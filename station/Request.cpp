#include "station/Request.h"

#include <algorithm>

#include "records/Report.h"
#include "station/PortIdentity.h"

namespace {
// What is wrong with the way the command was asked for, or nothing.
std::string usageProblem(const StationRequest& r, const std::string& program) {
    if (r.several() && r.command == Command::Read &&
        r.readFile.find("{port}") == std::string::npos &&
        r.readFile.find("{serial}") == std::string::npos) {
        return "read with several ports: the file name " + r.readFile +
               " needs {port} or {serial}, or every instrument would write the same file";
    }
    if (r.count > 0 && !r.watch) {
        return "--count goes with --watch";
    }
    if (r.watch && std::find(r.ports.begin(), r.ports.end(), "auto") != r.ports.end()) {
        return "--watch finds every instrument itself; --port auto does not go with it";
    }
    if (r.ports.size() > 1 && !r.watch) {
        return sameInstrumentTwice(r.ports, program);
    }
    return "";
}
}  // namespace

std::string StationRequest::slotOf(const std::string& port) const {
    for (const Slot& slot : slots) {
        if (slot.port == port) {
            return slot.name;
        }
    }
    return "";
}

CopyOrder CheckedRequest::order() const {
    CopyOrder order;
    static_cast<ServiceSettings&>(order) = request;
    order.command = request.command;
    for (const Image& image : images.images()) {
        order.images.push_back(image.file);
    }
    order.readFile = request.command == Command::Read ? request.readFile : "";
    return order;
}

CheckedRequest checkRequest(const StationRequest& asked, const std::string& program) {
    StationRequest request = asked;
    for (const Slot& slot : request.slots) {  // a slot's socket is one of the ports
        if (std::find(request.ports.begin(), request.ports.end(), slot.port) ==
            request.ports.end()) {
            request.ports.push_back(slot.port);
        }
    }
    if (request.quantity > 0 && request.batch.empty()) {
        throw Problem(kUsage, "--quantity is a batch's target: name the batch with --batch");
    }
    if (const std::string misuse = usageProblem(request, program); !misuse.empty()) {
        throw Problem(kUsage, misuse);
    }
    if (!request.report.empty()) {
        checkReportFile(request.report);
    }
    CheckedRequest checked{request, ImageSet()};
    if (request.command == Command::Upload) {
        checked.images = ImageSet::load(request.images);
        if (request.forceProduct && !checked.images.singleFile()) {
            throw Problem(kUsage, "--force-product takes one image file, not several");
        }
    }
    return checked;
}
