#pragma once
// What the system tells of each port a user can pick: listing and description only;
// opening and driving a port stays SerialPort's.
#include <string>
#include <vector>

struct PortInfo {
    std::string name;      // as the user picks it: COMn or a device path
    std::string device;    // what SerialPort opens for it
    bool present = false;  // a device is really behind it (a /dev/ttyS* without a UART is not)
    // USB ports: numbers and the strings of the device's descriptors, empty when unknown;
    // `location` the socket it is plugged into, the same whatever adapter is there (Linux:
    // its path from the root hub, "1-2.3"; Windows: its location path).
    bool usb = false;
    int vid = 0;
    int pid = 0;
    std::string manufacturer, product, serial, location;
};

// listPorts(), each described. Windows: a COM name the system does not enumerate is
// opened to see whether a serial port is behind it, unless `mayOpen` is false (a watch
// that looks often must not take a port from under the program using it); it then counts
// as present when the serial map names it.
std::vector<PortInfo> describePorts(bool mayOpen = true);
// The port described for a person: "Solvar USB (Vantor) 0525:a4a7, serial 1234" for a USB
// port, otherwise its device, or "not present".
std::string portSummary(const PortInfo& port);
// "0525:a4a7": four lower-case hexadecimal digits each.
std::string usbId(int vid, int pid);
