#include <libserialport.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include <map>

#include "link/PortInfo.h"
#include "link/PortNames.h"

namespace {
std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

// The USB socket a terminal's device is plugged into, as the kernel names it by its path
// from the root hub ("1-2.3": bus 1, port 2, then port 3 of the hub there): the same
// whatever adapter is plugged in, unlike the device's address, which every plugging
// changes. Empty when the terminal is no USB device's.
std::string usbSocket(const std::string& real) {
    const std::string base = real.substr(real.rfind('/') + 1);
    char path[PATH_MAX];
    if (::realpath(("/sys/class/tty/" + base + "/device").c_str(), path) == nullptr) {
        return "";
    }
    // Up from the tty's device to the USB device: "1-2.3" has a bus, a dash and ports only.
    for (std::string folder = path; folder.size() > 1;
         folder = folder.substr(0, folder.rfind('/'))) {
        const std::string name = folder.substr(folder.rfind('/') + 1);
        const size_t dash = name.find('-');
        if (dash != std::string::npos && dash > 0 &&
            name.find_first_not_of("0123456789.-") == std::string::npos) {
            return name;
        }
    }
    return "";
}

// The ports the system enumerates, by their real device path. libserialport leaves out a
// platform port whose UART the kernel did not find.
std::map<std::string, PortInfo> enumerated() {
    std::map<std::string, PortInfo> found;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK) {
        return found;
    }
    for (sp_port** p = list; *p != nullptr; ++p) {
        PortInfo info;
        info.present = true;
        if (sp_get_port_transport(*p) == SP_TRANSPORT_USB) {
            info.usb = true;
            sp_get_port_usb_vid_pid(*p, &info.vid, &info.pid);
            info.manufacturer = text(sp_get_port_usb_manufacturer(*p));
            info.product = text(sp_get_port_usb_product(*p));
            info.serial = text(sp_get_port_usb_serial(*p));
            info.location = usbSocket(realPath(sp_get_port_name(*p)));
        }
        found[realPath(sp_get_port_name(*p))] = info;
    }
    sp_free_port_list(list);
    return found;
}

// A terminal the kernel made for hardware (it has a device in sysfs) is there only when
// enumerated; one without (a pseudo-terminal) is there when its node is.
bool hardwareTerminal(const std::string& real) {
    struct stat st;
    const std::string base = real.substr(real.rfind('/') + 1);
    return ::stat(("/sys/class/tty/" + base + "/device").c_str(), &st) == 0;
}
}  // namespace

std::vector<PortInfo> describePorts(bool) {
    const std::map<std::string, PortInfo> system = enumerated();
    std::vector<PortInfo> ports;
    for (const std::string& name : listPorts()) {
        const std::string device = resolvePortName(name);
        const std::string real = realPath(device);
        const auto it = system.find(real);
        PortInfo info = it != system.end() ? it->second : PortInfo{};
        struct stat st;
        info.present =
            ::stat(device.c_str(), &st) == 0 && (it != system.end() || !hardwareTerminal(real));
        info.name = name;
        info.device = device;
        ports.push_back(info);
    }
    return ports;
}
