#include <windows.h>

#include "link/FailureHint.h"

bool connectionLost(int error) {
    switch (error) {
        case ERROR_BAD_COMMAND:
        case ERROR_ACCESS_DENIED:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
            return true;
        default:
            return false;
    }
}

OpenError classifyOpenError(int error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return OpenError::Missing;
        case ERROR_ACCESS_DENIED:  // what Windows says of a port another program has open
        case ERROR_SHARING_VIOLATION:
            return OpenError::Held;
        default:
            return OpenError::Other;
    }
}

std::vector<std::string> portHolders(const std::string&) {
    return {};
}

std::string permissionAdvice(const std::string&) {
    return std::string();
}
