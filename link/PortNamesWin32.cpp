#include <windows.h>

#include <algorithm>

#include "link/PortNames.h"

std::string portAliasFolder() {
    return std::string();
}

void makePortAliasFolder() {}

std::string realPath(const std::string& path) {
    std::string upper = path;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string resolvePortName(const std::string& name) {
    // Only COM1 to COM9 are names in every folder; from COM10 on the system knows a port
    // only by its device name.
    return comPortNumber(name) >= 10 ? "\\\\.\\" + name : name;
}

std::vector<std::string> serialMapNames() {
    // The serial map: one value per port a driver has registered, its data the port name.
    std::vector<std::string> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return found;
    }
    for (DWORD i = 0;; ++i) {
        char value[256], data[256];
        DWORD valueSize = sizeof value, dataSize = sizeof data - 1, type = 0;
        const LONG rc = ::RegEnumValueA(key, i, value, &valueSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        data[dataSize] = '\0';
        const std::string name(data);
        if (!name.empty() && std::find(found.begin(), found.end(), name) == found.end()) {
            found.push_back(name);
        }
    }
    ::RegCloseKey(key);
    return found;
}

std::vector<std::string> listPorts() {
    std::vector<std::string> ports;
    for (int i = 1; i <= 8; ++i) {
        ports.push_back("COM" + std::to_string(i));
    }
    std::vector<std::string> found;
    for (const std::string& name : serialMapNames()) {
        if (std::find(ports.begin(), ports.end(), name) == ports.end()) {
            found.push_back(name);
        }
    }
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        const long na = comPortNumber(a), nb = comPortNumber(b);
        return na != nb ? (na == 0 ? false : nb == 0 ? true : na < nb) : a < b;
    });
    ports.insert(ports.end(), found.begin(), found.end());
    return ports;
}
