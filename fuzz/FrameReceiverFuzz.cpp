// The frame receiver on arbitrary byte streams, handed over in arbitrary chunks. Every
// frame it delivers is a valid wire frame that ends exactly where the receiver stopped
// reading.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/FrameCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::vector<uint8_t> chunkSizes = input.ConsumeBytes<uint8_t>(16);
    const std::vector<uint8_t> stream = input.ConsumeRemainingBytes<uint8_t>();
    size_t position = 0;
    size_t call = 0;
    FrameReceiver receiver([&](uint8_t* out, uint16_t count) -> uint32_t {
        const size_t limit = chunkSizes.empty() ? count : chunkSizes[call++ % chunkSizes.size()];
        const size_t n = std::min<size_t>({limit, count, stream.size() - position});
        if (n > 0) {
            std::memcpy(out, stream.data() + position, n);
        }
        position += n;
        return static_cast<uint32_t>(n);
    });
    for (int idle = 0; idle < 64 && position <= stream.size();) {
        const size_t before = position;
        receiver.step();
        if (receiver.isReady()) {
            uint16_t length;
            uint8_t type;
            uint16_t tag;
            receiver.header(length, type, tag);
            uint8_t payload[kFrameMaxPayload];
            receiver.take(payload, sizeof payload);
            // The bytes just consumed are a valid frame with this header and payload: sync
            // pair, a checksum that holds over head and payload, the reported fields. (The
            // marker byte is carried by the checksum but not otherwise checked.)
            const size_t frameSize = kFrameHeadSize + length;
            if (frameSize > position) {
                std::abort();
            }
            const uint8_t* wire = stream.data() + position - frameSize;
            uint8_t sum[4];
            frameChecksum(sum, wire + 6, static_cast<uint16_t>(length + 6));
            const bool valid = wire[0] == 0xAA && wire[1] == 0xAA &&
                               std::memcmp(sum, wire + 2, 4) == 0 &&
                               (wire[6] | wire[7] << 8) == length && wire[9] == type &&
                               (wire[10] | wire[11] << 8) == tag &&
                               std::memcmp(wire + kFrameHeadSize, payload, length) == 0;
            if (!valid) {
                std::abort();
            }
        }
        idle = position == before ? idle + 1 : 0;
    }
    return 0;
}
