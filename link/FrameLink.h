#pragma once
// One request/response exchange over the frame codec.
//
// Every frame sent has type 74 and tag 1974, and only such frames are taken as answers.
// The message in the caller's buffer is a 12-byte header (reserved, route, code, length;
// little-endian) and its payload; the exchange fills the header. The buffer serves both
// directions and MUST hold at least kMessageBufferSize bytes (and 12 + n for a longer
// request). Results: -1 time-out, 0 no answer yet, otherwise 12 + the answer's length.
// All waiting polls on the calling thread; bytes are read only inside these calls.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/FrameCodec.h"

constexpr uint8_t kLinkFrameType = 74;
constexpr uint16_t kLinkFrameTag = 1974;
constexpr uint16_t kMessageHeaderSize = 12;
constexpr uint16_t kMessageBufferSize = 142;

class FrameLink {
  public:
    FrameLink(ByteSink sink, ByteSource source);

    int32_t waitTxIdle();
    int32_t send(uint32_t route, uint16_t code, uint8_t* buffer, uint16_t n);
    int32_t receive(uint8_t* buffer);
    int32_t sendReceive(uint32_t route, uint16_t code, uint8_t* buffer, uint16_t n);
    // Reads and drops whatever comes until the line has been quiet for `quietMs` (or
    // `limitMs` have passed): an answer that came too late for its request is not left for
    // the next request to take as its own. The number of bytes dropped.
    uint32_t drain(uint16_t quietMs, uint16_t limitMs);

    // Milliseconds a wait lasts; read when each wait starts.
    uint16_t timeout = 1000;

    // Optional observer of every frame queued (outgoing) and every checked frame received,
    // whatever its type, as wire images.
    std::function<void(bool outgoing, const uint8_t* wire, size_t size)> trace;

  private:
    // Queues the message whose header is already filled in buffer.
    void queueMessage(const uint8_t* buffer, uint16_t n);

    uint32_t bytesIn_ = 0;  // every byte the source delivered
    FrameReceiver receiver_;
    FrameTransmitter transmitter_;
};
