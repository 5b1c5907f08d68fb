#pragma once
// When an instrument is serviced again: a failure of the device or the line may pass (the
// instrument reset, a cable settled), so it is tried again a second later while attempts
// are left. A refusal (an image that does not fit, wrong usage) would fail the same way and
// is never tried again. The station and a run of one instrument both follow this rule.
#include <chrono>

#include "support/ExitCodes.h"

constexpr std::chrono::seconds kRetryAfter{1};

inline bool worthAnotherAttempt(int exitCode, int attempt, int attempts) {
    return exitCode == kDeviceFailed && attempt < attempts;
}
