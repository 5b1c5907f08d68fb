#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/FrameCodec.h"
#include "tests/TestHelpers.h"

namespace {
using Bytes = std::vector<uint8_t>;

// The documented wire vectors of the protocol.
const Bytes kStatusRequestMessage = {0, 0, 0, 0, 0, 0, 0, 0, 0x64, 0, 0, 0};
const Bytes kStatusRequestFrame = {0xAA, 0xAA, 0x78, 0x1D, 0x47, 0x91, 0x0C, 0x00,
                                   0x01, 0x4A, 0xB6, 0x07, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00};

Bytes encode(const Bytes& payload, uint8_t type = 74, uint16_t tag = 1974) {
    return encodeFrame(payload, type, tag);
}

Bytes randomBytes(std::mt19937& rng, size_t size) {
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

// A stream source that hands out at most `chunk(...)` bytes per call.
struct StreamSource {
    Bytes data;
    size_t position = 0;
    std::function<uint16_t(uint16_t)> chunk = [](uint16_t n) { return n; };
    ByteSource source() {
        return [this](uint8_t* out, uint16_t n) -> uint32_t {
            const size_t take = std::min<size_t>({chunk(n), n, data.size() - position});
            std::copy_n(data.begin() + static_cast<long>(position), take, out);
            position += take;
            return static_cast<uint32_t>(take);
        };
    }
};

std::vector<Bytes> receiveAll(StreamSource& stream, std::vector<size_t>* endPositions = nullptr) {
    std::vector<Bytes> frames;
    FrameReceiver rx(stream.source());
    for (int idle = 0; idle < 200;) {
        const size_t before = stream.position;
        rx.step();
        if (rx.isReady()) {
            uint16_t length;
            uint8_t type;
            uint16_t tag;
            rx.header(length, type, tag);
            Bytes payload(length);
            rx.take(payload.data(), length);
            frames.push_back(payload);
            if (endPositions) {
                endPositions->push_back(stream.position);
            }
        }
        idle = stream.position == before && !rx.isReady() ? idle + 1 : 0;
    }
    return frames;
}
}  // namespace

TEST(FrameCodec, ChecksumAndStatusRequestMatchTheDocumentedBytes) {
    uint8_t sum[4];
    frameChecksum(sum, reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(Bytes(sum, sum + 4), (Bytes{0x26, 0x4A, 0xCF, 0xB5}));
    frameChecksum(sum, nullptr, 0);
    EXPECT_EQ(Bytes(sum, sum + 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(encode(kStatusRequestMessage), kStatusRequestFrame);
}

TEST(FrameCodec, LengthLimitsOnBothSides) {
    EXPECT_EQ(encode(Bytes()).size(), 12u);
    EXPECT_EQ(encode(Bytes(256, 7)).size(), 268u);
    EXPECT_TRUE(encode(Bytes(257, 7)).empty()) << "an oversize queue is ignored";

    StreamSource empty{encode(Bytes())};
    EXPECT_EQ(receiveAll(empty), std::vector<Bytes>{Bytes()});

    // A head announcing 257 bytes is dropped after its 12 bytes; a frame hidden in the
    // following payload bytes is then found.
    Bytes bad = encode(Bytes(4, 1));
    bad[6] = 0x01;
    bad[7] = 0x01;  // length 257
    bad.resize(12);
    const Bytes good = encode(Bytes{9, 8, 7});
    StreamSource stream{concat({bad, good})};
    EXPECT_EQ(receiveAll(stream), std::vector<Bytes>{(Bytes{9, 8, 7})});
}

TEST(FrameCodec, TransmitterResumesAfterStallingSink) {
    Bytes wire;
    int calls = 0;
    FrameTransmitter tx([&](const uint8_t* d, uint16_t n) -> uint32_t {
        if (++calls % 2 == 0) {
            return 0;  // no progress this time
        }
        const uint16_t take = std::min<uint16_t>(n, 5);
        wire.insert(wire.end(), d, d + take);
        return take;
    });
    tx.queue(kStatusRequestMessage.data(), 12, 74, 1974);
    EXPECT_TRUE(tx.isIdle()) << "the idle flag changes only when the frame starts";
    tx.step();
    while (wire.size() < kStatusRequestFrame.size()) {
        EXPECT_FALSE(tx.isIdle());
        tx.step();
    }
    EXPECT_TRUE(tx.isIdle());
    EXPECT_EQ(wire, kStatusRequestFrame);
}

TEST(FrameCodec, ResynchronisationFollowsTheRules) {
    const Bytes frame = encode(Bytes{1, 2, 3});
    // 00 AA 55: two sync errors, then the frame.
    StreamSource a{concat({{0x00, 0xAA, 0x55}, frame})};
    EXPECT_EQ(receiveAll(a), std::vector<Bytes>{(Bytes{1, 2, 3})});

    // One surplus 0xAA shifts the frame by a byte: it is lost, as intended.
    StreamSource b{concat({{0xAA}, frame})};
    EXPECT_TRUE(receiveAll(b).empty());
}

TEST(FrameCodec, TakeCopiesAtMostTheMaximumAndReadyBlocksReading) {
    const Bytes payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    StreamSource s{concat({encode(payload), encode(Bytes{42})})};
    FrameReceiver rx(s.source());
    rx.step();
    ASSERT_TRUE(rx.isReady());
    const size_t position = s.position;
    rx.step();
    EXPECT_EQ(s.position, position) << "nothing is read while a frame waits";
    uint8_t out[20] = {};
    rx.take(out, 10);
    EXPECT_EQ(Bytes(out, out + 10), Bytes(payload.begin(), payload.begin() + 10));
    EXPECT_EQ(out[10], 0);
    rx.step();
    ASSERT_TRUE(rx.isReady());
    uint16_t length;
    uint8_t type;
    uint16_t tag;
    rx.header(length, type, tag);
    EXPECT_EQ(std::make_tuple(length, type, tag), std::make_tuple(1, 74, 1974));
}

// Random streams: valid frames, frames with a damaged byte, and noise that cannot start a
// frame, cut into random chunks. Every valid frame arrives whole, once, in order; no
// damaged frame arrives; and nothing past a frame is read before it is delivered.
TEST(FrameCodec, RandomStreamsDeliverExactlyTheValidFrames) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 300; ++round) {
        StreamSource stream;
        std::vector<Bytes> expected;
        std::vector<size_t> expectedEnds;
        const int pieces = 1 + static_cast<int>(rng() % 12);
        for (int p = 0; p < pieces; ++p) {
            // Noise: no two 0xAA in a row and never ending in 0xAA.
            const size_t noise = rng() % 20;
            for (size_t i = 0; i < noise; ++i) {
                uint8_t b = static_cast<uint8_t>(rng());
                const bool afterSync = !stream.data.empty() && stream.data.back() == 0xAA;
                if (b == 0xAA && (afterSync || i + 1 == noise)) {
                    b = 0x55;
                }
                stream.data.push_back(b);
            }
            if (!stream.data.empty() && stream.data.back() == 0xAA) {
                stream.data.push_back(0x00);
            }
            const Bytes payload = randomBytes(rng, rng() % 257);
            Bytes wire = encode(payload, static_cast<uint8_t>(rng()), static_cast<uint16_t>(rng()));
            const bool damage = rng() % 4 == 0;
            if (damage) {
                const size_t at = 2 + rng() % (wire.size() - 2);
                if (at != 6 && at != 7) {
                    wire[at] ^= static_cast<uint8_t>(1 + rng() % 255);
                } else {
                    wire[2] ^= 0x01;
                }
            }
            stream.data.insert(stream.data.end(), wire.begin(), wire.end());
            if (!damage) {
                expected.push_back(payload);
                expectedEnds.push_back(stream.data.size());
            }
        }
        const int mode = round % 3;
        stream.chunk = [&rng, mode](uint16_t n) -> uint16_t {
            if (mode == 0)
                return 1;
            if (mode == 1)
                return n;
            return static_cast<uint16_t>(rng() % (n + 2));  // sometimes 0: no progress
        };
        std::vector<size_t> ends;
        EXPECT_EQ(receiveAll(stream, &ends), expected) << "round " << round;
        EXPECT_EQ(ends, expectedEnds) << "round " << round;
    }
}
