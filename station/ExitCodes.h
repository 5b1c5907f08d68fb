#pragma once
// How a command ends, for the shell and for the station that runs copies of it.
#include <string>

enum ExitCode { kOk = 0, kDeviceFailed = 1, kUsage = 2, kImageRefused = 3 };

// A refusal made before anything is sent: its exit code and what to tell the user (a
// second line, when there is one, says what to do).
struct Refusal {
    int code;
    std::string message;
};
