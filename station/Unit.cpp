#include "station/Unit.h"

Unit::Step Unit::step() const {
    switch (phase) {
        case Phase::Passed:
            return Step::Passed;
        case Phase::Failed:
            return Step::Failed;
        case Phase::Interrupted:
            return Step::Interrupted;
        case Phase::Waiting:
            return Step::TryingAgain;
        case Phase::Running:
            break;
    }
    if (operation == Operation::Connect) {
        return connected ? Step::Connected : Step::Starting;
    }
    if (pages < 0) {
        return Step::WaitingOnIt;
    }
    return pages > 0 && done >= pages ? Step::StepDone : Step::Working;
}

int Unit::percent() const {
    if (phase == Phase::Passed) {
        return 100;
    }
    return pages > 0 ? static_cast<int>(100LL * done / pages) : 0;
}
