#pragma once
// Port names a user types or picks, and the device each one means.
#include <string>
#include <vector>

// Where virtual instruments register COMn aliases on this machine (POSIX):
// $XDG_RUNTIME_DIR/ostraloader/ports, or /tmp/ostraloader-<uid>/ports without it.
std::string portAliasFolder();

// The device path to open for a port name. On Windows the name is used as it is. On
// POSIX a name with a slash is a path; COMn is the alias in portAliasFolder() when one
// exists, /dev/ttyS(n-1) otherwise; any other name is looked up in /dev.
std::string resolvePortName(const std::string& name);

// The ports a user can pick: "COM1" to "COM8", then the USB and platform serial devices
// present (POSIX: /dev/serial/by-id entries, /dev/ttyACM*, /dev/ttyUSB*), no duplicates.
std::vector<std::string> listPorts();
