#pragma once
// Whether a port's device is there and this user may open it, for `ports`.
#include <string>

struct PortAccess {
    bool present = false;
    bool accessible = false;
    std::string note;  // "available", "not present", or what stands in the way and the cure
};

PortAccess portAccess(const std::string& device);
// Standard output is a terminal (progress bars) rather than a file or pipe (plain lines).
bool outputIsTerminal();
