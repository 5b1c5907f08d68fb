// One instrument, in this process: its attempts, its record, and an interrupt.
#include <thread>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/Service.h"
#include "cli/StationText.h"
#include "station/Attempts.h"

int singleCommand(const CliOptions& o, const CheckedRequest& checked, Reporter& out) {
    const StationRequest& r = checked.request;
    const std::string report = o.stationCopy ? "" : r.report;  // a copy sends its records
    if (!report.empty()) {
        tellRepair(out, report, repairReport(report));
    }
    RecordKeeper keeper(checked, r.ports[0], report);
    if (o.stationCopy) {
        ignoreInterrupts();
    } else if (!report.empty()) {
        // The attempt's record says it was interrupted; the program then ends as the
        // interrupt would have ended it.
        onInterrupt([&keeper](bool) {
            keeper.write(true);
            endAsInterrupted();
        });
    }
    for (int attempt = 1;; ++attempt) {
        keeper.begin(attempt);
        int code = serviceInstrument(o, checked, out, keeper);
        if (o.stationCopy) {
            out.event("", eventJson(CopyEvent::recordOf(keeper.record().toJson())));
        } else if (const std::optional<Problem> lost = keeper.write()) {
            out.error(*lost);
            code = std::max(code, static_cast<int>(kDeviceFailed));
        }
        if (!worthAnotherAttempt(code, attempt, r.attempts)) {
            return code;
        }
        out.event("attempt " + std::to_string(attempt) + " failed; trying again in a second",
                  eventJson(CopyEvent::retry(attempt + 1)));
        std::this_thread::sleep_for(kRetryAfter);
    }
}
