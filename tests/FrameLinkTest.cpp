#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "link/FrameLink.h"
#include "support/LittleEndian.h"
#include "support/TickClock.h"
#include "tests/TestHelpers.h"

namespace {
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes frame(const Bytes& payload, uint8_t type = 74, uint16_t tag = 1974) {
    return encodeFrame(payload, type, tag);
}

Bytes message(uint16_t code, uint16_t length, uint8_t fill = 0) {
    Bytes m(12 + length, fill);
    putLe32(m.data(), 0);
    putLe32(m.data() + 4, 0);
    putLe16(m.data() + 8, code);
    putLe16(m.data() + 10, length);
    return m;
}

// An instrument in memory: what the link writes is recorded; each written frame may be
// answered with bytes that become readable after a delay. Reads of an empty line wait a
// little, as the port does.
class MemoryLine {
  public:
    std::function<Bytes(const Bytes& written)> answer;
    std::chrono::milliseconds answerDelay{0};

    ByteSink sink() {
        return [this](const uint8_t* d, uint16_t n) -> uint32_t {
            written.insert(written.end(), d, d + n);
            if (answer) {
                const Bytes reply = answer(Bytes(d, d + n));
                pending.push_back({Clock::now() + answerDelay, reply});
            }
            return n;
        };
    }
    ByteSource source() {
        return [this](uint8_t* out, uint16_t n) -> uint32_t {
            uint32_t got = 0;
            while (got < n && !pending.empty() && pending.front().due <= Clock::now()) {
                Bytes& b = pending.front().bytes;
                while (got < n && !b.empty()) {
                    out[got++] = b.front();
                    b.erase(b.begin());
                }
                if (b.empty()) {
                    pending.pop_front();
                }
            }
            if (got == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return got;
        };
    }
    Bytes written;

  private:
    struct Pending {
        Clock::time_point due;
        Bytes bytes;
    };
    std::deque<Pending> pending;
};

}  // namespace

TEST(FrameLink, StatusRequestOnTheWireAndItsAnswer) {
    MemoryLine line;
    line.answer = [](const Bytes&) { return frame(message(200, 20, 0x11)); };
    FrameLink link(line.sink(), line.source());
    uint8_t buffer[kMessageBufferSize] = {};
    EXPECT_EQ(link.sendReceive(0, 100, buffer, 0), 32);
    EXPECT_EQ(line.written,
              (Bytes{0xAA, 0xAA, 0x78, 0x1D, 0x47, 0x91, 0x0C, 0x00, 0x01, 0x4A, 0xB6, 0x07,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00}));
    EXPECT_EQ(getLe16(buffer + 8), 200);
    EXPECT_EQ(buffer[12], 0x11);
}

TEST(FrameLink, SilentInstrumentTimesOutOnceWritten) {
    MemoryLine line;
    FrameLink link(line.sink(), line.source());
    uint8_t buffer[kMessageBufferSize] = {};
    for (uint16_t timeout : {uint16_t(1000), uint16_t(300)}) {
        line.written.clear();
        link.timeout = timeout;
        const auto start = Clock::now();
        EXPECT_EQ(link.sendReceive(0, 100, buffer, 0), -1);
        const long ms = msSince(start);
        EXPECT_GE(ms, timeout - 5);
        EXPECT_LT(ms, timeout + 2000);
        EXPECT_EQ(line.written.size(), 24u) << "the request goes out exactly once";
    }
}

TEST(FrameLink, OtherTypesAndTagsNeverEndTheWait) {
    MemoryLine line;
    line.answer = [](const Bytes&) {
        return concat({frame(message(200, 0), 75, 1974), frame(message(200, 0), 74, 1975)});
    };
    FrameLink link(line.sink(), line.source());
    link.timeout = 200;
    uint8_t buffer[kMessageBufferSize] = {};
    EXPECT_EQ(link.sendReceive(0, 100, buffer, 0), -1);
}

TEST(FrameLink, LongAnswerIsCutToTheBufferButReportsItsSize) {
    MemoryLine line;
    line.answer = [](const Bytes&) { return frame(message(200, 200, 0x5A)); };
    FrameLink link(line.sink(), line.source());
    uint8_t buffer[kMessageBufferSize + 16];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(link.sendReceive(0, 100, buffer, 0), 212);
    EXPECT_EQ(buffer[kMessageBufferSize - 1], 0x5A);
    EXPECT_EQ(buffer[kMessageBufferSize], 0xEE) << "nothing is written past 142 bytes";
}

TEST(FrameLink, LateAnswerIsTakenByTheNextRequest) {
    MemoryLine line;
    int served = 0;
    line.answer = [&](const Bytes&) { return frame(message(static_cast<uint16_t>(++served), 0)); };
    line.answerDelay = std::chrono::milliseconds(400);
    FrameLink link(line.sink(), line.source());
    link.timeout = 200;
    uint8_t buffer[kMessageBufferSize] = {};
    EXPECT_EQ(link.sendReceive(0, 100, buffer, 0), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    link.timeout = 1000;
    EXPECT_EQ(link.sendReceive(0, 100, buffer, 0), 12);
    EXPECT_EQ(getLe16(buffer + 8), 1) << "the stale answer to the first request";
}

TEST(FrameLink, OversizeSendPutsNothingOnTheWire) {
    MemoryLine line;
    FrameLink link(line.sink(), line.source());
    link.timeout = 100;
    uint8_t buffer[12 + 245] = {};
    EXPECT_EQ(link.send(0, 110, buffer, 245), 245);
    EXPECT_EQ(link.receive(buffer), 0);
    EXPECT_TRUE(line.written.empty());
}

TEST(FrameLink, SendOnlyQueuesUntilTheNextPass) {
    MemoryLine line;
    FrameLink link(line.sink(), line.source());
    uint8_t buffer[kMessageBufferSize] = {};
    EXPECT_EQ(link.send(0x1234, 104, buffer, 0), 0);
    EXPECT_TRUE(line.written.empty());
    EXPECT_EQ(link.receive(buffer), 0);
    ASSERT_EQ(line.written.size(), 24u);
    EXPECT_EQ(getLe32(line.written.data() + 12 + 4), 0x1234u);
    EXPECT_EQ(getLe16(line.written.data() + 12 + 8), 104);
}

namespace {
std::atomic<uint32_t> g_ticks{0};
uint32_t frozenTicks() {
    return g_ticks.load();
}
}  // namespace

TEST(FrameLink, NeverReturnsZeroAndDeadlinesSurviveTheCounterWrap) {
    MemoryLine line;
    FrameLink link(line.sink(), line.source());
    link.timeout = 100;
    uint8_t buffer[kMessageBufferSize] = {};
    // The counter stands still right at a wrap: the wait must not end at once nor last
    // for days; with the counter moving past the deadline it ends with -1.
    g_ticks = 0xFFFFFFC0u;
    setTickSource(&frozenTicks);
    std::thread clock([] {
        for (int i = 0; i < 200; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            g_ticks.fetch_add(1);
        }
    });
    const int32_t result = link.sendReceive(0, 100, buffer, 0);
    const uint32_t endedAt = g_ticks.load();
    clock.join();
    setTickSource(nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_GE(static_cast<int32_t>(endedAt - 0xFFFFFFC0u), 100);
}
