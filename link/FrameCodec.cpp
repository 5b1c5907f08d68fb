#include "link/FrameCodec.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/LittleEndian.h"

namespace {
constexpr uint8_t kSync = 0xAA;
constexpr uint32_t kChecksumOffset = 2;
constexpr uint32_t kHeadOffset = 6;
constexpr uint32_t kHeadSize = 6;
constexpr uint32_t kPayloadOffset = 12;
}  // namespace

void frameChecksum(uint8_t out[4], const uint8_t* data, uint16_t count) {
    uint8_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (uint16_t i = 0; i < count; ++i) {
        s0 = static_cast<uint8_t>(s0 + data[i]);
        s1 = static_cast<uint8_t>(s1 + s0);
        s2 = static_cast<uint8_t>(s2 + s1);
        s3 = static_cast<uint8_t>(s3 + s2);
    }
    out[0] = s0;
    out[1] = s1;
    out[2] = s2;
    out[3] = s3;
}

// ---- transmitter ----

FrameTransmitter::FrameTransmitter(ByteSink sink) : sink_(std::move(sink)) {}

void FrameTransmitter::queue(const uint8_t* payload, uint16_t length, uint8_t type, uint16_t tag) {
    if (length > kFrameMaxPayload) {
        return;
    }
    if (payload != nullptr && length > 0) {
        std::memcpy(frame_ + kPayloadOffset, payload, length);
    }
    putLe16(frame_ + kHeadOffset, length);
    frame_[kHeadOffset + 3] = type;
    putLe16(frame_ + kHeadOffset + 4, tag);
    state_ = State::Start;
}

void FrameTransmitter::seal(uint8_t* frame) {
    const uint16_t length = getLe16(frame + kHeadOffset);
    frame[0] = kSync;
    frame[1] = kSync;
    frame[kHeadOffset + 2] = 1;  // marker
    frameChecksum(frame + kChecksumOffset, frame + kHeadOffset,
                  static_cast<uint16_t>(length + kHeadSize));
}

uint32_t FrameTransmitter::wireImage(uint8_t out[kFrameMaxSize]) const {
    const uint32_t size = getLe16(frame_ + kHeadOffset) + kFrameHeadSize;
    std::memcpy(out, frame_, size);
    seal(out);
    return size;
}

void FrameTransmitter::step() {
    for (;;) {
        switch (state_) {
            case State::Idle:
                return;
            case State::Start:
                seal(frame_);
                remaining_ = getLe16(frame_ + kHeadOffset) + kFrameHeadSize;
                cursor_ = 0;
                idle_ = 0;
                state_ = State::Sending;
                break;
            case State::Sending:
                while (remaining_ > 0) {
                    const uint16_t moved = static_cast<uint16_t>(
                        sink_(frame_ + cursor_, static_cast<uint16_t>(remaining_)));
                    if (moved == 0) {
                        return;
                    }
                    remaining_ -= std::min<uint32_t>(moved, remaining_);
                    cursor_ += moved;
                }
                idle_ = 1;
                state_ = State::Idle;
                break;
        }
    }
}

// ---- receiver ----

FrameReceiver::FrameReceiver(ByteSource source) : source_(std::move(source)) {}

uint16_t FrameReceiver::frameLength() const {
    return getLe16(frame_ + kHeadOffset);
}

bool FrameReceiver::fill() {
    while (remaining_ > 0) {
        const uint16_t got =
            static_cast<uint16_t>(source_(frame_ + cursor_, static_cast<uint16_t>(remaining_)));
        if (got == 0) {
            return false;
        }
        // A source never stores more than asked; clamp so a faulty one cannot run us
        // past the field.
        const uint32_t taken = std::min<uint32_t>(got, remaining_);
        remaining_ -= taken;
        cursor_ += taken;
    }
    return true;
}

void FrameReceiver::step() {
    while (state_ != State::Ready) {
        if (state_ == State::Arm) {
            ready_ = 0;
            cursor_ = 0;
            remaining_ = 1;
            state_ = State::Sync1;
        }
        if (!fill()) {
            return;
        }
        state_ = filled();
    }
}

FrameReceiver::State FrameReceiver::filled() {
    switch (state_) {
        case State::Sync1:
            remaining_ = 1;
            return frame_[0] == kSync ? State::Sync2 : State::Arm;
        case State::Sync2:
            remaining_ = 4;
            // A second byte that is no sync is dropped, not retried as a first sync.
            return frame_[1] == kSync ? State::Checksum : State::Arm;
        case State::Checksum:
            remaining_ = kHeadSize;
            return State::Head;
        case State::Head:
            if (frameLength() > kFrameMaxPayload) {
                return State::Arm;
            }
            remaining_ = frameLength();
            return State::Payload;
        case State::Payload: {
            uint8_t sum[4];
            frameChecksum(sum, frame_ + kHeadOffset,
                          static_cast<uint16_t>(frameLength() + kHeadSize));
            if (std::memcmp(sum, frame_ + kChecksumOffset, 4) == 0) {
                ready_ = 1;
                return State::Ready;
            }
            return State::Arm;
        }
        case State::Arm:
        case State::Ready:
            break;
    }
    return state_;
}

void FrameReceiver::header(uint16_t& length, uint8_t& type, uint16_t& tag) const {
    type = frame_[kHeadOffset + 3];
    if (ready_ == 0) {
        length = 0;
        tag = 0;
        return;
    }
    length = frameLength();
    tag = getLe16(frame_ + kHeadOffset + 4);
}

void FrameReceiver::take(uint8_t* destination, uint16_t maximum) {
    // Only a checked frame has a trustworthy length; anything else copies nothing.
    if (ready_ != 0 && destination != nullptr && maximum > 0) {
        std::memcpy(destination, frame_ + kPayloadOffset, std::min(frameLength(), maximum));
    }
    state_ = State::Arm;
}
