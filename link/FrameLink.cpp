#include "link/FrameLink.h"

#include <utility>

#include "support/LittleEndian.h"
#include "support/TickClock.h"

FrameLink::FrameLink(ByteSink sink, ByteSource source)
    : receiver_([this, source = std::move(source)](uint8_t* data, uint16_t count) {
          const uint32_t n = source(data, count);
          bytesIn_ += n & 0xFFFF;
          return n;
      }),
      transmitter_(std::move(sink)) {}

int32_t FrameLink::waitTxIdle() {
    if (transmitter_.isIdle()) {
        return 0;
    }
    const Deadline deadline(timeout);
    for (;;) {
        receiver_.step();
        transmitter_.step();
        if (deadline.passed()) {
            return -1;
        }
        if (transmitter_.isIdle()) {
            return 0;
        }
    }
}

static void fillHeader(uint8_t* buffer, uint32_t route, uint16_t code, uint16_t n) {
    putLe32(buffer, 0);
    putLe32(buffer + 4, route);
    putLe16(buffer + 8, code);
    putLe16(buffer + 10, n);
}

void FrameLink::queueMessage(const uint8_t* buffer, uint16_t n) {
    // A message too long for one frame is ignored by the transmitter; nothing is sent.
    transmitter_.queue(buffer, static_cast<uint16_t>(kMessageHeaderSize + n), kLinkFrameType,
                       kLinkFrameTag);
    if (trace && kMessageHeaderSize + n <= kFrameMaxPayload) {
        uint8_t wire[kFrameMaxSize];
        trace(true, wire, transmitter_.wireImage(wire));
    }
}

int32_t FrameLink::send(uint32_t route, uint16_t code, uint8_t* buffer, uint16_t n) {
    fillHeader(buffer, route, code, n);
    if (waitTxIdle() != 0) {
        return -1;
    }
    queueMessage(buffer, n);
    return n;
}

int32_t FrameLink::receive(uint8_t* buffer) {
    receiver_.step();
    transmitter_.step();
    if (!receiver_.isReady()) {
        return 0;
    }
    uint16_t length = 0;
    uint8_t type = 0;
    uint16_t tag = 0;
    receiver_.header(length, type, tag);
    if (trace) {
        trace(false, receiver_.wireImage(), kFrameHeadSize + length);
    }
    if (type != kLinkFrameType || tag != kLinkFrameTag) {
        receiver_.take(nullptr, 0);
        return 0;
    }
    receiver_.take(buffer, kMessageBufferSize);
    // A frame shorter than its header claims holds no more than it brought: the rest of the
    // buffer is the request's, so the size reported must not reach into it.
    const uint32_t claimed = kMessageHeaderSize + getLe16(buffer + 10);
    return static_cast<int32_t>(claimed < length ? claimed : length);
}

int32_t FrameLink::sendReceive(uint32_t route, uint16_t code, uint8_t* buffer, uint16_t n) {
    fillHeader(buffer, route, code, n);
    if (waitTxIdle() == 0) {
        queueMessage(buffer, n);
        // Put the request on the wire now rather than after the first pass's receiver step,
        // which would otherwise spend a whole port read waiting before anything was asked.
        transmitter_.step();
    }
    const Deadline deadline(timeout);
    int32_t result = 0;
    while (result == 0 && !deadline.reached()) {
        result = receive(buffer);
    }
    if (deadline.passed() || result == 0) {
        return -1;
    }
    return result;
}

uint32_t FrameLink::drain(uint16_t quietMs, uint16_t limitMs) {
    const Deadline limit(limitMs);
    const uint32_t before = bytesIn_;
    uint32_t seen = bytesIn_;
    Deadline quiet(quietMs);
    uint8_t scratch[kMessageBufferSize];
    while (!quiet.passed() && !limit.passed()) {
        receive(scratch);  // a frame that completes here is dropped with the rest
        if (bytesIn_ != seen) {
            seen = bytesIn_;
            quiet = Deadline(quietMs);
        }
    }
    return bytesIn_ - before;
}
