#pragma once
// What went wrong, as the user is told it: the message, what to do about it when the
// system knows (the hint), and the exit code the command ends with. Thrown where a check
// refuses before anything is sent, returned where an operation goes on; never folded into
// one text, so that each front end shows the hint in its own place.
#include <string>

#include "support/ExitCodes.h"
#include "support/Exception.h"

struct Problem {
    int code = kDeviceFailed;
    std::string message;
    std::string hint;

    Problem() = default;
    Problem(int exitCode, std::string text, std::string what = "")
        : code(exitCode), message(std::move(text)), hint(std::move(what)) {}
    // An engine's or a port's failure, with the hint the system found for it.
    Problem(int exitCode, const Exception& e) : code(exitCode), message(e.message), hint(e.hint) {}
};
