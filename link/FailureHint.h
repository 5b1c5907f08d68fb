#pragma once
// The second line of a port failure: what the system knows of why, in a user's words, and
// what to do. The failure's own message stays the first line; this adds to it.
#include <string>
#include <vector>

#include "support/Exception.h"

enum class PortFailure {
    Open,      // the device could not be opened (error: the system's code)
    Settings,  // the driver refused the line settings
    Transfer,  // a read or write failed during an operation
};

// Empty when the system tells nothing more than the message. `name` is the port as the
// user typed it, `device` what was opened for it.
std::string portFailureHint(PortFailure what, const std::string& name, const std::string& device,
                            int error);

// Throws `e` with the hint for this failure.
[[noreturn]] void throwWithHint(Exception e, PortFailure what, const std::string& name,
                                const std::string& device, int error);

// Whether a read or write failure with this system code means the device went away
// (unplugged, reset, powered off).
bool connectionLost(int error);

// What an open's system error code means for the user.
enum class OpenError { Missing, Held, Forbidden, Other };
OpenError classifyOpenError(int error);

// The programs that hold `device` open, as "ModemManager (process 812)". POSIX: found
// through /proc; empty where the system does not tell.
std::vector<std::string> portHolders(const std::string& device);

// The advice for a device the user may not open: "join the group 'dialout' (...)", or
// empty where the system does not tell.
std::string permissionAdvice(const std::string& device);
