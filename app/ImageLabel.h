#pragma once
// An image's version as every window shows it: "2.1 Beta".
#include <wx/string.h>

#include "image/FirmwareImage.h"

inline wxString imageVersionLabel(const FirmwareImageInfo& info) {
    return wxString::Format("%d.%d %s", info.versionMajor, info.versionMinor,
                            firmwareFlagsText(info.flags));
}
