// The line-settings text and the route path text: any text either parses or fails with
// one of the documented messages, and a parsed route has one hop nibble (bit 3 set) for
// each of at most eight hops.
#include <cstdlib>
#include <string>

#include "engine/RoutePath.h"
#include "link/SerialSettings.h"
#include "support/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const LineSettings settings = parseLineSettings(text);
        if (settings.stopBits != 1 && settings.stopBits != 2) {
            std::abort();
        }
    } catch (const Exception&) {
    }
    uint32_t route = 0x5A5A5A5A;
    try {
        applyRoutePath(text, route);
        bool ended = false;
        for (int hop = 0; hop < 8; ++hop) {
            const uint32_t nibble = route >> (4 * hop) & 0xF;
            if (nibble == 0) {
                ended = true;
            } else if (ended || (nibble & 0x8) == 0) {
                std::abort();  // a gap in the hops, or a nibble that is no hop
            }
        }
        if ((route & 0xF) == 0) {
            std::abort();  // a parsed path has at least one hop
        }
    } catch (const Exception&) {
    }
    return 0;
}
