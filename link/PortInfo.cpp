#include "link/PortInfo.h"

#include <cstdio>

std::string usbId(int vid, int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vid & 0xFFFF, pid & 0xFFFF);
    return text;
}

std::string portSummary(const PortInfo& port) {
    if (!port.present) {
        return "not present";
    }
    if (!port.usb) {
        return port.device;
    }
    std::string text = port.product.empty() ? "USB device" : port.product;
    if (!port.manufacturer.empty()) {
        text += " (" + port.manufacturer + ")";
    }
    text += " " + usbId(port.vid, port.pid);
    if (!port.serial.empty()) {
        text += ", serial " + port.serial;
    }
    return text;
}
