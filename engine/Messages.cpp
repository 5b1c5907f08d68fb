#include "engine/Messages.h"

#include "support/LittleEndian.h"

const char* deviceStatusName(uint8_t deviceType) {
    static const char* const kNames[] = {"Unknown",   "SOLVAR CU",  "TAMRIK",
                                         "SOLVAR HS", "SOLVAR HS3", "TAMRIK 3"};
    return deviceType <= 5 ? kNames[deviceType] : kNames[0];
}

MessageHeader MessageHeader::decode(const uint8_t* bytes) {
    MessageHeader h;
    h.reserved = getLe32(bytes);
    h.route = getLe32(bytes + 4);
    h.code = getLe16(bytes + 8);
    h.length = getLe16(bytes + 10);
    return h;
}

void MessageHeader::encode(uint8_t* bytes) const {
    putLe32(bytes, reserved);
    putLe32(bytes + 4, route);
    putLe16(bytes + 8, code);
    putLe16(bytes + 10, length);
}

StatusInfo StatusInfo::decode(const uint8_t* bytes) {
    StatusInfo s;
    s.bootloaderMinor = bytes[0];
    s.bootloaderMajor = bytes[1];
    s.firmwareMinor = bytes[2];
    s.firmwareMajor = bytes[3];
    s.firmwareSize = getLe32(bytes + 4);
    s.firmwareTime = static_cast<int32_t>(getLe32(bytes + 8));
    s.areaSize = getLe32(bytes + 12);
    s.reserved = getLe16(bytes + 16);
    s.deviceType = bytes[18];
    s.flags = bytes[19];
    return s;
}

void StatusInfo::encode(uint8_t* bytes) const {
    bytes[0] = bootloaderMinor;
    bytes[1] = bootloaderMajor;
    bytes[2] = firmwareMinor;
    bytes[3] = firmwareMajor;
    putLe32(bytes + 4, firmwareSize);
    putLe32(bytes + 8, static_cast<uint32_t>(firmwareTime));
    putLe32(bytes + 12, areaSize);
    putLe16(bytes + 16, reserved);
    bytes[18] = deviceType;
    bytes[19] = flags;
}
