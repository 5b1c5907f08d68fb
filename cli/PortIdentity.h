#pragma once
// Ports named by what they are: "usb:SERIAL" (the USB serial number), "usb:VVVV:PPPP" or
// "usb:VVVV:PPPP:SERIAL" (hexadecimal VID and PID), or "auto" (the one port where a
// bootloader answers). Resolved again at every connect, so an instrument that comes back
// under another COM number or ttyACM is still found.
#include <string>
#include <vector>

#include "engine/Messages.h"
#include "link/PortInfo.h"

// One probed port: whether a bootloader answered its status request, and what it said.
struct ProbeAnswer {
    PortInfo port;
    bool answered = false;
    StatusInfo status;
    std::string error;  // why it did not answer
};

// Sends one status request to every present port that may be probed, all at once (one
// process each): USB serial ports and the COM names virtual instruments registered, or every
// port with `allPorts`; never a port another program holds.
std::vector<ProbeAnswer> probePorts(bool allPorts);

bool isPortIdentity(const std::string& typed);
// The port a "usb:" or "auto" name stands for now; throws Exception saying what was found
// when none or several match. Any other name comes back as it is, undescribed.
PortInfo resolvePortIdentity(const std::string& typed);
