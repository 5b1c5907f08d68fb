#pragma once
// Ports named by what they are: "usb:SERIAL" (the USB serial number), "usb:VVVV:PPPP" or
// "usb:VVVV:PPPP:SERIAL" (hexadecimal VID and PID), "usb-port:LOCATION" (the socket it is
// plugged into, whatever adapter: Linux "1-2.3", Windows its location path), or "auto" (the
// one port where a bootloader answers). Resolved again at every connect, so an instrument
// that comes back under another COM number or ttyACM is still found.
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

// A port a probe may send bytes to unasked: a USB serial port, or a name a virtual
// instrument registered (POSIX: a COMn alias; Windows: the serial map beyond COM8).
bool isProbeCandidate(const PortInfo& port);
// Held open by another program. A pseudo-terminal's other end is always held, by the
// instrument that serves it, and does not count.
bool heldByAnother(const PortInfo& port);

// Sends one status request to every present port that may be probed, all at once (one
// copy of `program`, the command line, each): USB serial ports and the COM names virtual
// instruments registered, or every port with `allPorts`; never a port another program
// holds.
std::vector<ProbeAnswer> probePorts(const std::string& program, bool allPorts);
// The same for these ports.
std::vector<ProbeAnswer> probe(const std::string& program, const std::vector<PortInfo>& ports);

bool isPortIdentity(const std::string& typed);
// The ports of `ports` that "usb:" followed by SERIAL, VVVV:PPPP or VVVV:PPPP:SERIAL names
// (VID and PID in hexadecimal, any case; the serial number exactly), or "usb-port:" followed
// by a socket's location.
std::vector<PortInfo> matchUsbIdentity(const std::string& typed,
                                       const std::vector<PortInfo>& ports);
// The port a "usb:", "usb-port:" or "auto" name stands for now; throws Exception saying what was found
// when none or several match. "auto" probes through copies of `program`. Any other name
// comes back as it is, undescribed.
PortInfo resolvePortIdentity(const std::string& typed, const std::string& program);
// Empty when every name means an instrument of its own; otherwise a usage message naming
// the two names that lead to one device. Names that resolve to nothing are left to fail
// on their own.
std::string sameInstrumentTwice(const std::vector<std::string>& typed, const std::string& program);
