#include "engine/FrameTrace.h"

#include <cstdio>

#include "engine/Messages.h"
#include "link/FrameLink.h"
#include "support/LittleEndian.h"

namespace {
const char* codeName(uint16_t code) {
    switch (code) {
        case BPROT_MSG_STATUSINFO:
            return "BPROT_MSG_STATUSINFO";
        case BPROT_WRITE_FINISH_REQ:
            return "BPROT_WRITE_FINISH_REQ";
        case BPROT_MSG_READ_PAGE:
            return "BPROT_MSG_READ_PAGE";
        case BPROT_MSG_ERASE_FLASH:
            return "BPROT_MSG_ERASE_FLASH";
        case BPROT_MSG_RUNFW:
            return "BPROT_MSG_RUNFW";
        case BPROT_MSG_WRITE_START:
            return "BPROT_MSG_WRITE_START";
        case BPROT_MSG_WRITE_PAGE:
            return "BPROT_MSG_WRITE_PAGE";
        default:
            return nullptr;
    }
}
}  // namespace

std::string describeFrame(const uint8_t* wire, size_t size) {
    std::string text;
    char part[96];
    if (size >= kFrameHeadSize) {
        std::snprintf(part, sizeof part, "len=%u type=%u tag=%u", getLe16(wire + 6), wire[9],
                      getLe16(wire + 10));
        text += part;
        if (size >= kFrameHeadSize + kMessageHeaderSize) {
            const MessageHeader h = MessageHeader::decode(wire + kFrameHeadSize);
            const char* name = codeName(h.code);
            std::snprintf(part, sizeof part, " | route=0x%X code=%u%s%s length=%u", h.route, h.code,
                          name ? " " : "", name ? name : "", h.length);
            text += part;
        }
        text += " |";
    }
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(part, sizeof part, " %02X", wire[i]);
        text += part;
    }
    return text;
}
