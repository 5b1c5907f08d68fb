// ostraloader-cli: every capability of the engine from a shell, CI job or production line.
#include "cli/Commands.h"
#include "cli/ImageText.h"
#include "cli/Platform.h"
#include "cli/Routes.h"
#include "station/JobFile.h"

namespace {
// The closing object for tools, after the failure's text, if any.
int finish(Reporter& out, int code, const Problem* problem = nullptr) {
    if (problem != nullptr) {
        out.error(*problem);
    }
    out.result({{"event", "result"}, {"ok", code == kOk}, {"exit", code}});
    return code;
}

// One instrument or several: the request (a job's, or the options') checked as a whole
// before anything is sent; or the job the options describe, saved.
int serviceCommand(const CliOptions& o, Reporter& out) {
    CheckedRequest checked;
    try {
        StationRequest request = requestToRun(o);
        if (!o.saveJob.empty()) {
            checkRequest(request, selfPath());  // a job is saved only as it would run
            JobFile job = jobOf(request);
            job.locked = !o.job.empty() && loadJob(o.job).locked;  // saved again, still locked
            saveJob(o.saveJob, job);
            out.event("saved the station job " + o.saveJob,
                      {{"event", "saved"}, {"job", o.saveJob}});
            return finish(out, kOk);
        }
        if (request.labels && !request.watch) {
            askLabels(request, out);
        }
        checked = checkRequest(request, selfPath());
    } catch (const Problem& refusal) {
        return finish(out, refusal.code, &refusal);
    }
    if (o.request.command == Command::Upload) {
        showImages(checked.images, out);
    }
    return finish(out, stationCommand(checked, out));
}

// A station's copy: its request checked as the station's was, then one attempt, told in
// JSON alone (its errors too: the station shows them).
int copyEntry(const CliOptions& o) {
    Reporter out(true, false);
    out.errorsInJsonOnly();
    try {
        return finish(out, copyCommand(checkRequest(requestToRun(o), selfPath()), out));
    } catch (const Problem& refusal) {
        return finish(out, refusal.code, &refusal);
    }
}
}  // namespace

int main(int argc, char** argv) {
    CliOptions o;
    int code = kOk;
    if (!parseOptions(argc, argv, o, code)) {
        return code;
    }
    if (o.stationCopy) {
        return copyEntry(o);
    }
    Reporter out(o.json, outputIsTerminal());
    switch (o.what) {
        case CliOptions::What::Ports:
            return o.probe ? probeCommand(out, o.allPorts) : listPortsCommand(out);
        case CliOptions::What::Inspect:
            return finish(out, inspectCommand(o.inspectFile, out));
        case CliOptions::What::Records:
            try {
                return finish(out, recordsCommand(o.records, o.json, out));
            } catch (const Problem& refusal) {
                return finish(out, refusal.code, &refusal);
            }
        case CliOptions::What::Routes:
            try {
                return finish(out, routesCommand(o, out));
            } catch (const Problem& refusal) {
                return finish(out, refusal.code, &refusal);
            } catch (const Exception& e) {
                const Problem failure(kDeviceFailed, e);
                return finish(out, kDeviceFailed, &failure);
            }
        case CliOptions::What::Service:
            break;
    }
    return serviceCommand(o, out);
}
