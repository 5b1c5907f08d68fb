// The exchange facing a hostile instrument that answers with arbitrary bytes in arbitrary
// chunks. The tick counter is a test seam that moves one millisecond per empty read, so
// every wait ends. Results are -1 or 12 plus a length, and nothing is written past the
// 142-byte message buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "link/FrameLink.h"
#include "support/TickClock.h"

namespace {
uint32_t g_ticks = 0;
uint32_t fakeTicks() {
    return g_ticks;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setTickSource(&fakeTicks);
    FuzzedDataProvider input(data, size);
    const uint8_t chunk = input.ConsumeIntegralInRange<uint8_t>(1, 40);
    const std::vector<uint8_t> line = input.ConsumeRemainingBytes<uint8_t>();
    size_t position = 0;
    FrameLink link([](const uint8_t*, uint16_t count) -> uint32_t { return count; },
                   [&](uint8_t* out, uint16_t count) -> uint32_t {
                       const size_t n = std::min<size_t>({chunk, count, line.size() - position});
                       if (n == 0)
                           ++g_ticks;  // a silent read takes time
                       std::copy_n(line.begin() + static_cast<long>(position), n, out);
                       position += n;
                       return static_cast<uint32_t>(n);
                   });
    link.timeout = 50;
    // Exactly the documented size, on the heap, so any overrun is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kMessageBufferSize]());
    for (int request = 0; request < 4; ++request) {
        const int32_t result = link.sendReceive(0xDA, 100, buffer.get(), 0);
        if (result != -1 && (result < 12 || result > 12 + 65535)) {
            std::abort();
        }
    }
    setTickSource(nullptr);
    return 0;
}
