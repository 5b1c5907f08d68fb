#include <windows.h>
// After windows.h, whose types they use.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "link/PortInfo.h"
#include "link/PortNames.h"

namespace {
std::string property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD which) {
    char value[512];
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(
            set, device, which, &type, reinterpret_cast<BYTE*>(value), sizeof value - 1, nullptr) ||
        type != REG_SZ) {
        return std::string();
    }
    value[sizeof value - 1] = '\0';
    return value;
}

// "USB\VID_0403&PID_6001\A7F3": the numbers, and the serial number when the last part is
// the device's own (Windows makes one with '&' in it for a device that has none).
void parseInstanceId(const std::string& id, PortInfo& info) {
    const size_t vid = id.find("VID_"), pid = id.find("PID_");
    if (vid == std::string::npos || pid == std::string::npos) {
        return;
    }
    info.usb = true;
    info.vid = static_cast<int>(std::strtol(id.c_str() + vid + 4, nullptr, 16));
    info.pid = static_cast<int>(std::strtol(id.c_str() + pid + 4, nullptr, 16));
    const std::string last = id.substr(id.rfind('\\') + 1);
    if (id.rfind("USB\\", 0) == 0 && last.find('&') == std::string::npos) {
        info.serial = last;
    }
}

// The ports Windows' device manager knows, by their COM name.
std::map<std::string, PortInfo> enumerated() {
    std::map<std::string, PortInfo> found;
    HDEVINFO set = ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return found;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        char name[64];
        DWORD size = sizeof name - 1, type = 0;
        const LONG rc = ::RegQueryValueExA(key, "PortName", nullptr, &type,
                                           reinterpret_cast<BYTE*>(name), &size);
        ::RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        name[size] = '\0';
        PortInfo info;
        info.present = true;
        char id[512];
        if (::SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr)) {
            parseInstanceId(id, info);
        }
        if (info.usb) {
            info.manufacturer = property(set, &device, SPDRP_MFG);
            info.product = property(set, &device, SPDRP_DEVICEDESC);
            // The socket it is plugged into, the same whatever adapter is: its location path
            // ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)", the first of them), or the
            // hub and port the driver tells.
            info.location = property(set, &device, SPDRP_LOCATION_PATHS);
            if (info.location.empty()) {
                info.location = property(set, &device, SPDRP_LOCATION_INFORMATION);
            }
        }
        found[name] = info;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

// A name that opens to a device whose line state can be read is a serial port; one held
// by another program is there too. (A COM name can lead to a file with no UART behind it.)
bool answersAsSerialPort(const std::string& device) {
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool ok = ::GetCommState(h, &dcb) != 0;
    ::CloseHandle(h);
    return ok;
}
}  // namespace

std::vector<PortInfo> describePorts(bool mayOpen) {
    const std::map<std::string, PortInfo> system = enumerated();
    const std::vector<std::string> registered = serialMapNames();
    std::vector<PortInfo> ports;
    for (const std::string& name : listPorts()) {
        const auto it = system.find(name);
        PortInfo info = it != system.end() ? it->second : PortInfo{};
        info.name = name;
        info.device = resolvePortName(name);
        const bool inMap =
            std::find(registered.begin(), registered.end(), name) != registered.end();
        info.present = info.present || inMap || (mayOpen && answersAsSerialPort(info.device));
        ports.push_back(info);
    }
    return ports;
}
