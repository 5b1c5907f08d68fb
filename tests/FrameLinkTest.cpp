// The exchange over a line in memory that keeps its own clock: each read of an empty line
// lets one tick pass, so every deadline is exact to the tick and costs no real time. The
// clock starts just before the counter wraps.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>

#include "link/FrameLink.h"
#include "support/LittleEndian.h"
#include "support/TickClock.h"
#include "tests/TestHelpers.h"

namespace {
using Bytes = std::vector<uint8_t>;

std::atomic<uint32_t> g_now{0};
uint32_t lineTicks() {
    return g_now.load();
}

Bytes message(uint16_t code, uint16_t length, uint8_t fill = 0) {
    Bytes m(12 + length, fill);
    putLe32(m.data(), 0);
    putLe32(m.data() + 4, 0);
    putLe16(m.data() + 8, code);
    putLe16(m.data() + 10, length);
    return m;
}

// What the link writes is recorded; each written frame may be answered `answerAfter`
// ticks later.
struct MemoryLine {
    MemoryLine() {
        g_now = 0xFFFFFF00u;
        setTickSource(&lineTicks);
    }
    ~MemoryLine() { setTickSource(nullptr); }
    // Ticks a sendReceive took and its result.
    std::pair<int32_t, uint32_t> exchange(uint16_t timeout) {
        link.timeout = timeout;
        const uint32_t start = g_now;
        const int32_t result = link.sendReceive(0, 100, buffer, 0);
        return {result, g_now - start};
    }

    std::function<Bytes(const Bytes& written)> answer;
    uint32_t answerAfter = 0;
    uint32_t ticksPerRead = 0;  // what a read that brings bytes costs
    Bytes written;
    std::deque<std::pair<uint32_t, uint8_t>> pending;  // due tick, byte
    uint8_t buffer[kMessageBufferSize + 16] = {};
    FrameLink link{[this](const uint8_t* d, uint16_t n) -> uint32_t {
                       written.insert(written.end(), d, d + n);
                       for (uint8_t b : answer ? answer(Bytes(d, d + n)) : Bytes())
                           pending.emplace_back(g_now + answerAfter, b);
                       return n;
                   },
                   [this](uint8_t* out, uint16_t n) -> uint32_t {
                       uint32_t got = 0;
                       for (; got < n && !pending.empty() &&
                              static_cast<int32_t>(g_now - pending.front().first) >= 0;
                            ++got) {
                           out[got] = pending.front().second;
                           pending.pop_front();
                       }
                       g_now += got == 0 ? 1 : ticksPerRead;  // an empty read: one tick
                       return got;
                   }};
};
}  // namespace

TEST(FrameLink, StatusRequestOnTheWireAndItsAnswer) {
    MemoryLine line;
    line.answer = [](const Bytes&) { return encodeFrame(message(200, 20, 0x11)); };
    EXPECT_EQ(line.exchange(1000).first, 32);
    EXPECT_EQ(line.written, kStatusRequestFrame);
    EXPECT_EQ(Bytes(line.buffer + 8, line.buffer + 14), (Bytes{200, 0, 20, 0, 0x11, 0x11}));
}

TEST(FrameLink, AnAnswerCountsOnlyBeforeTheDeadlineAndOnlyWithItsTypeAndTag) {
    const Bytes right = encodeFrame(message(200, 0));
    const Bytes otherType = encodeFrame(message(200, 0), 75, 1974);
    const Bytes otherTag = encodeFrame(message(200, 0), 74, 1975);
    // Time-out, answer after so many ticks, the answer (none: silent), result, ticks taken.
    const std::tuple<uint16_t, uint32_t, Bytes, int32_t, uint32_t> kCases[] = {
        {1000, 0, {}, -1, 1000},
        {300, 0, {}, -1, 300},
        {4000, 0, {}, -1, 4000},
        {1000, 998, right, 12, 998},
        {1000, 999, right, 12, 999},
        {1000, 1000, right, -1, 1000},
        {1000, 5, otherType, -1, 1000},
        {1000, 5, otherTag, -1, 1000},
        {1000, 5, concat({otherType, otherTag, right}), 12, 5},
    };
    for (const auto& [timeout, answerAfter, answer, result, ticks] : kCases) {
        MemoryLine line;
        if (!answer.empty())
            line.answer = [a = answer](const Bytes&) { return a; };
        line.answerAfter = answerAfter;
        EXPECT_EQ(line.exchange(timeout), std::make_pair(result, ticks))
            << "time-out " << timeout << ", answer after " << answerAfter;
        EXPECT_EQ(line.written.size(), 24u) << "the request goes out exactly once";
    }
}

TEST(FrameLink, AnAnswerCompletedPastTheDeadlineIsATimeOut) {
    // Each read that brings bytes takes 5 ticks, so an answer whose first byte is due at
    // tick 999 is whole only after the deadline, within the pass that started before it.
    for (const auto& [answerAfter, result] : {std::pair{900u, 12}, std::pair{999u, -1}}) {
        MemoryLine line;
        line.answer = [](const Bytes&) { return encodeFrame(message(200, 0)); };
        line.answerAfter = answerAfter;
        line.ticksPerRead = 5;
        EXPECT_EQ(line.exchange(1000).first, result) << "answer after " << answerAfter;
    }
}

TEST(FrameLink, LongAnswerIsCutToTheBufferButReportsItsSize) {
    MemoryLine line;
    std::fill(std::begin(line.buffer), std::end(line.buffer), 0xEE);
    line.answer = [](const Bytes&) { return encodeFrame(message(200, 200, 0x5A)); };
    EXPECT_EQ(line.exchange(1000).first, 212);
    EXPECT_EQ(line.buffer[kMessageBufferSize - 1], 0x5A);
    EXPECT_EQ(line.buffer[kMessageBufferSize], 0xEE) << "nothing is written past 142 bytes";
}

TEST(FrameLink, LateAnswerIsTakenByTheNextRequest) {
    MemoryLine line;
    uint16_t served = 0;
    line.answer = [&](const Bytes&) { return encodeFrame(message(++served, 0)); };
    line.answerAfter = 400;
    EXPECT_EQ(line.exchange(200).first, -1);
    EXPECT_EQ(line.exchange(1000).first, 12);
    EXPECT_EQ(getLe16(line.buffer + 8), 1) << "the stale answer to the first request";
}

// After a time-out the line is drained until it has been quiet for a while: an answer that
// comes meanwhile is dropped, and so is what follows it closely, and the next request gets
// its own; one that comes later still goes to the next request (the route scan's second
// request on a route catches that).
TEST(FrameLink, ALateAnswerThatComesWhileTheLineIsDrainedIsDropped) {
    // The answer, and a stray frame (code 7), so many ticks after the request (0: none);
    // the code the next request gets, the bytes drained. Time-out 200 ticks, quiet 50.
    const std::tuple<uint32_t, uint32_t, uint16_t, uint32_t> kCases[] = {
        {240, 0, 2, 24},    // 40 ticks into the quiet wait
        {240, 280, 2, 48},  // and a stray 40 ticks after it: the wait starts again
        {280, 0, 1, 0},     // after the quiet wait
    };
    for (const auto& [answerAfter, strayAfter, code, drained] : kCases) {
        MemoryLine line;
        uint16_t served = 0;
        line.answer = [&](const Bytes&) { return encodeFrame(message(++served, 0)); };
        line.answerAfter = answerAfter;
        const uint32_t asked = g_now;
        EXPECT_EQ(line.exchange(200).first, -1);
        for (uint8_t b : strayAfter ? encodeFrame(message(7, 0)) : Bytes())
            line.pending.emplace_back(asked + strayAfter, b);
        EXPECT_EQ(line.link.drain(50, 2000), drained) << answerAfter;
        EXPECT_EQ(line.exchange(1000).first, 12) << answerAfter;
        EXPECT_EQ(getLe16(line.buffer + 8), code) << answerAfter;
    }
}
