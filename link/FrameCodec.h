#pragma once
// Framing of blocks of up to 256 bytes on the serial wire, and finding them again.
//
// Wire image: AA AA, four running-sum checksum bytes, a six-byte head (length u16,
// marker 1, type, tag u16; little-endian) and the payload. The checksum covers the head
// and the payload.
//
// Both machines are resumable: a step moves as many bytes as the sink or source takes and
// returns when it gets 0, keeping state, cursor and remaining count, so that the next step
// continues inside the same field. Neither allocates. An exception thrown by the sink or
// source passes through and leaves the machine as it was before that call.
#include <cstdint>
#include <functional>

constexpr uint16_t kFrameMaxPayload = 256;
constexpr uint16_t kFrameHeadSize = 12;
constexpr uint32_t kFrameMaxSize = kFrameHeadSize + kFrameMaxPayload;

// Accepts up to `count` bytes, returns how many it took (0: no progress now).
using ByteSink = std::function<uint32_t(const uint8_t* data, uint16_t count)>;
// Stores up to `count` bytes, returns how many it stored (0: nothing available now).
using ByteSource = std::function<uint32_t(uint8_t* data, uint16_t count)>;

// Four 8-bit running sums, each fed by the one before it after that one's update.
void frameChecksum(uint8_t out[4], const uint8_t* data, uint16_t count);

class FrameTransmitter {
  public:
    explicit FrameTransmitter(ByteSink sink);

    // Copies the payload into the frame and arms a new frame. A length above 256 is
    // ignored entirely. A frame still in progress is abandoned.
    void queue(const uint8_t* payload, uint16_t length, uint8_t type, uint16_t tag);
    void step();
    bool isIdle() const { return idle_ != 0; }
    // The wire image of the frame last queued, as it goes out; returns its size.
    uint32_t wireImage(uint8_t out[kFrameMaxSize]) const;

  private:
    enum class State { Idle, Start, Sending };

    // Puts the sync bytes, the marker and the checksum around a queued head and payload.
    static void seal(uint8_t* frame);

    ByteSink sink_;
    State state_ = State::Idle;
    uint32_t remaining_ = 0;
    uint8_t frame_[kFrameMaxSize] = {};
    uint32_t cursor_ = 0;
    uint8_t idle_ = 1;
};

class FrameReceiver {
  public:
    explicit FrameReceiver(ByteSource source);

    void step();
    bool isReady() const { return ready_ != 0; }
    // Length, type and tag of the waiting frame; length and tag read 0 while none waits.
    void header(uint16_t& length, uint8_t& type, uint16_t& tag) const;
    // Copies min(length, maximum) payload bytes and re-arms; with no destination or a
    // maximum of 0 the frame is only discarded.
    void take(uint8_t* destination, uint16_t maximum);
    // The waiting frame's wire image (valid while isReady()).
    const uint8_t* wireImage() const { return frame_; }

  private:
    enum class State { Ready, Arm, Sync1, Sync2, Checksum, Head, Payload };

    // Reads the bytes still missing in the current field; false when the source ran dry.
    bool fill();
    // The state that follows the one whose bytes are all in.
    State filled();
    uint16_t frameLength() const;

    ByteSource source_;
    State state_ = State::Arm;
    uint32_t remaining_ = 0;
    uint8_t frame_[kFrameMaxSize] = {};
    uint32_t cursor_ = 0;
    uint8_t ready_ = 0;
};
