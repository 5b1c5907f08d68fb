#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/FrameCodec.h"
#include "tests/TestHelpers.h"

namespace {
using Bytes = std::vector<uint8_t>;

using Chunk = std::function<uint16_t(uint16_t)>;
using Frame = std::tuple<uint8_t, uint16_t, Bytes>;  // type, tag, payload

// Runs a receiver over `stream`, at most chunk(n) bytes per read of n, until it stops
// moving: the frames delivered and the stream position at each delivery.
std::pair<std::vector<Frame>, std::vector<size_t>> receiveAll(
    const Bytes& stream, const Chunk& chunk = [](uint16_t n) { return n; }) {
    size_t position = 0;
    FrameReceiver rx([&](uint8_t* out, uint16_t n) -> uint32_t {
        const size_t take = std::min<size_t>({chunk(n), n, stream.size() - position});
        std::copy_n(stream.begin() + static_cast<long>(position), take, out);
        position += take;
        return static_cast<uint32_t>(take);
    });
    std::vector<Frame> frames;
    std::vector<size_t> ends;
    for (int idle = 0; idle < 200;) {
        const size_t before = position;
        rx.step();
        if (rx.isReady()) {
            uint16_t length, tag;
            uint8_t type;
            rx.header(length, type, tag);
            Bytes payload(length);
            rx.take(payload.data(), length);
            frames.emplace_back(type, tag, payload);
            ends.push_back(position);
        }
        idle = position == before && !rx.isReady() ? idle + 1 : 0;
    }
    return {frames, ends};
}
}  // namespace

TEST(FrameCodec, DocumentedBytesAndLengthLimits) {
    uint8_t sum[4];
    frameChecksum(sum, reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(Bytes(sum, sum + 4), (Bytes{0x26, 0x4A, 0xCF, 0xB5}));
    EXPECT_EQ(encodeFrame(kStatusRequestMessage), kStatusRequestFrame);
    EXPECT_EQ(encodeFrame(Bytes(256, 7)).size(), 268u);
    EXPECT_TRUE(encodeFrame(Bytes(257, 7)).empty()) << "an oversize queue is ignored";
    EXPECT_EQ(receiveAll(encodeFrame(Bytes())).first, (std::vector<Frame>{{74, 1974, Bytes()}}));

    // A head announcing 257 bytes is dropped after its 12 bytes, and a frame right after it
    // is found; one surplus 0xAA before a frame shifts it by a byte, and it is lost.
    Bytes oversize = encodeFrame(Bytes(4, 1));
    oversize[6] = oversize[7] = 0x01;
    oversize.resize(12);
    const Bytes frame = encodeFrame(Bytes{9, 8, 7});
    const std::vector<Frame> found = {{74, 1974, {9, 8, 7}}};
    EXPECT_EQ(receiveAll(concat({oversize, frame})).first, found);
    EXPECT_EQ(receiveAll(concat({{0x00, 0xAA, 0x55}, frame})).first, found);
    EXPECT_TRUE(receiveAll(concat({{0xAA}, frame})).first.empty());
}

TEST(FrameCodec, TransmitterResumesAfterAStallingSink) {
    Bytes wire;
    int calls = 0;
    FrameTransmitter tx([&](const uint8_t* d, uint16_t n) -> uint32_t {
        const uint16_t take = ++calls % 2 == 0 ? 0 : std::min<uint16_t>(n, 5);
        wire.insert(wire.end(), d, d + take);
        return take;
    });
    tx.queue(kStatusRequestMessage.data(), 12, 74, 1974);
    EXPECT_TRUE(tx.isIdle()) << "the idle flag changes only when the frame starts";
    for (tx.step(); wire.size() < kStatusRequestFrame.size(); tx.step()) {
        EXPECT_FALSE(tx.isIdle());
    }
    EXPECT_TRUE(tx.isIdle());
    EXPECT_EQ(wire, kStatusRequestFrame);
}

// Random streams: valid frames, frames with a damaged byte, and noise that cannot start a
// frame, cut into random chunks. Every valid frame arrives whole, once, in order; no
// damaged frame arrives; and nothing past a frame is read before it is delivered.
TEST(FrameCodec, RandomStreamsDeliverExactlyTheValidFrames) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 300; ++round) {
        Bytes stream;
        std::vector<Frame> expected;
        std::vector<size_t> expectedEnds;
        for (int piece = 1 + static_cast<int>(rng() % 12); piece > 0; --piece) {
            // Noise of any byte but 0xAA (a lone sync byte before a frame is a case of the
            // documented bytes' test).
            for (size_t i = 0, noise = rng() % 20; i < noise; ++i)
                stream.push_back(static_cast<uint8_t>(0xAB + rng() % 255));
            const Frame frame(static_cast<uint8_t>(rng()), static_cast<uint16_t>(rng()),
                              randomBody(rng() % 257, rng()));
            Bytes wire = encodeFrame(std::get<2>(frame), std::get<0>(frame), std::get<1>(frame));
            const bool damage = rng() % 4 == 0;
            if (damage) {
                // Any byte but a sync byte; the length only so that it stays in range.
                const size_t at = 2 + rng() % (wire.size() - 2);
                wire[at == 6 || at == 7 ? 2 : at] ^= static_cast<uint8_t>(1 + rng() % 255);
            }
            stream.insert(stream.end(), wire.begin(), wire.end());
            if (!damage) {
                expected.push_back(frame);
                expectedEnds.push_back(stream.size());
            }
        }
        const int mode = round % 3;  // one byte, all, or random chunks (sometimes none)
        const auto [frames, ends] = receiveAll(stream, [&rng, mode](uint16_t n) -> uint16_t {
            return mode == 0 ? 1 : mode == 1 ? n : static_cast<uint16_t>(rng() % (n + 2));
        });
        EXPECT_EQ(frames, expected) << "round " << round;
        EXPECT_EQ(ends, expectedEnds) << "round " << round;
    }
}
