#pragma once
// Port names a user types or picks, and the device each one means. Messages always name a
// port as the user typed it; only the device opened may differ.
#include <string>
#include <vector>

// n for "COMn" (any case, n a positive decimal number), 0 for any other name.
long comPortNumber(const std::string& name);

// Where virtual instruments register COMn aliases on this machine (POSIX):
// $XDG_RUNTIME_DIR/ostraloader/ports, or /tmp/ostraloader-<uid>/ports without it.
std::string portAliasFolder();
// Makes that folder (private to the user) when it is missing.
void makePortAliasFolder();

// POSIX: the path with every link resolved, or the path itself when it cannot be. Windows:
// the name in capitals (device names are not case-sensitive).
std::string realPath(const std::string& path);

// The device to open for a port name. Windows: COM10 and up exist only in the device
// namespace (\\.\COM12), every other name is used as it is. POSIX: a name with a slash is
// a path; COMn is the alias in portAliasFolder() when one exists, /dev/ttyS(n-1)
// otherwise; any other name is looked up in /dev.
std::string resolvePortName(const std::string& name);

// The ports a user can pick: "COM1" to "COM8", then the other ports this machine has, no
// duplicates. Windows: the COM ports of the system's serial map beyond those eight, in
// numeric order. POSIX: COMn aliases beyond COM8, then /dev/serial/by-id entries,
// /dev/ttyACM*, /dev/ttyUSB*.
std::vector<std::string> listPorts();
#ifdef _WIN32
// Every port name the system's serial map holds: the ports drivers have registered.
std::vector<std::string> serialMapNames();
#endif
