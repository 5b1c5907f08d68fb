#include "sim/SimDevice.h"

#include <algorithm>
#include <cstring>

#include "engine/Crc16.h"
#include "image/FirmwareImage.h"
#include "link/FrameLink.h"
#include "support/LittleEndian.h"

SimDevice::SimDevice(const SimConfig& config)
    : config_(config),
      flash_(config.flashSize, 0xFF),
      written_((config.flashSize + kPageSize - 1) / kPageSize) {
    if (config.firmwareLoaded) {
        firmwareSize_ = std::min(config.firmwareSize, config.flashSize);
        firmwareTime_ = config.firmwareTime;
        loaded_ = true;
    }
}

void SimDevice::damageFlash(int64_t at) {
    const uint64_t where = at < 0 ? firmwareSize_ / 2 : static_cast<uint64_t>(at);
    if (where < firmwareSize_ && where < flash_.size()) {
        flash_[where] ^= 0xFF;
    }
}

SimDevice& SimDevice::child(int port, const SimConfig& config) {
    auto& slot = children_[port];
    if (!slot) {
        slot = std::make_unique<SimDevice>(config);
    }
    return *slot;
}

SimDevice* SimDevice::findChild(int port) const {
    const auto it = children_.find(port);
    return it == children_.end() ? nullptr : it->second.get();
}

StatusInfo SimDevice::status() const {
    StatusInfo s;
    s.bootloaderMajor = config_.bootloaderMajor;
    s.bootloaderMinor = config_.bootloaderMinor;
    s.firmwareMajor = config_.firmwareMajor;
    s.firmwareMinor = config_.firmwareMinor;
    s.firmwareSize = firmwareSize_;
    s.firmwareTime = firmwareTime_;
    s.areaSize = config_.flashSize;
    s.deviceType = config_.deviceType;
    s.flags = loaded_ ? kStatusFlagLoaded : 0;
    return s;
}

std::optional<SimDevice::Reply> SimDevice::handle(const uint8_t* message, size_t size) {
    if (size < kMessageHeaderSize) {
        return std::nullopt;
    }
    MessageHeader request = MessageHeader::decode(message);
    const uint8_t* payload = message + kMessageHeaderSize;
    const size_t available = size - kMessageHeaderSize;
    if (request.length > available) {
        request.length = static_cast<uint16_t>(available);
    }
    if (request.route == 0) {
        return inBootloader_ ? handleHere(request, payload) : std::nullopt;
    }
    // Lowest nibble: 8 + the port of the next hop; the rest travels on with the request.
    const uint32_t hop = request.route & 0xF;
    SimDevice* next = hop >= 8 ? findChild(static_cast<int>(hop - 8)) : nullptr;
    if (next == nullptr) {
        return std::nullopt;
    }
    std::vector<uint8_t> forwarded(message, message + kMessageHeaderSize + request.length);
    putLe32(forwarded.data() + 4, request.route >> 4);
    return next->handle(forwarded.data(), forwarded.size());
}

SimDevice::Reply SimDevice::reply(const MessageHeader& request, uint16_t code,
                                  const uint8_t* payload, uint16_t length) const {
    Reply r;
    r.message.resize(kMessageHeaderSize + length);
    MessageHeader h;
    h.route = request.route;
    h.code = code;
    h.length = length;
    h.encode(r.message.data());
    if (length > 0) {
        std::memcpy(r.message.data() + kMessageHeaderSize, payload, length);
    }
    return r;
}

std::optional<SimDevice::Reply> SimDevice::handleHere(const MessageHeader& request,
                                                      const uint8_t* payload) {
    switch (request.code) {
        case BPROT_MSG_STATUSINFO: {
            uint8_t record[kStatusInfoSize];
            status().encode(record);
            return reply(request, kReplyAccepted, record, kStatusInfoSize);
        }
        case BPROT_MSG_WRITE_START:
            return reply(request, writeStart(payload, request.length));
        case BPROT_MSG_WRITE_PAGE:
            return reply(request, writePage(payload, request.length));
        case BPROT_WRITE_FINISH_REQ:
            return reply(request, finish(payload, request.length));
        case BPROT_MSG_READ_PAGE: {
            if (request.length != 2) {
                return reply(request, simcode::kMalformed);
            }
            uint8_t data[2 + kPageSize];
            std::memcpy(data, payload, 2);
            std::memset(data + 2, 0xFF, kPageSize);
            const uint64_t offset = static_cast<uint64_t>(getLe16(payload)) * kPageSize;
            if (offset < flash_.size()) {
                const size_t n = std::min<size_t>(kPageSize, flash_.size() - offset);
                std::memcpy(data + 2, flash_.data() + offset, n);
            }
            return reply(request, kReplyAccepted, data, sizeof data);
        }
        case BPROT_MSG_ERASE_FLASH: {
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            firmwareSize_ = 0;
            firmwareTime_ = 0;
            loaded_ = false;
            uploading_ = false;
            Reply r = reply(request, kReplyAccepted);
            r.delayMs = config_.eraseDelayMs;
            return r;
        }
        case BPROT_MSG_RUNFW:
            if (!config_.stayAfterRun) {
                inBootloader_ = false;
            }
            return reply(request, kReplyAccepted);
        default:
            return reply(request, simcode::kMalformed);
    }
}

uint16_t SimDevice::writeStart(const uint8_t* payload, uint16_t length) {
    if (length != kImageHeaderSize) {
        return simcode::kMalformed;
    }
    // Judge the header as a bootloader does: it must open with this product's key.
    uint8_t block[kFirmwareHeaderSize];
    std::memcpy(block, payload, sizeof block);
    DeviceType type = 0;
    VerifyFirmwareHeader(block, type);
    if (type != config_.deviceType) {
        return kReplyIncompatible;
    }
    uploading_ = true;
    std::fill(written_.begin(), written_.end(), false);
    // The version it will report once the upload is accepted.
    uploadMajor_ = block[header::kVersion + 1];
    uploadMinor_ = block[header::kVersion];
    return kReplyAccepted;
}

uint16_t SimDevice::writePage(const uint8_t* payload, uint16_t length) {
    if (length != 2 + kPageSize) {
        return simcode::kMalformed;
    }
    if (!uploading_) {
        return simcode::kNoUpload;
    }
    const uint32_t page = getLe16(payload);
    const uint64_t offset = static_cast<uint64_t>(page) * kPageSize;
    if (offset + kPageSize > flash_.size()) {
        return simcode::kOutOfRange;
    }
    std::memcpy(flash_.data() + offset, payload + 2, kPageSize);
    written_[page] = true;
    return kReplyAccepted;
}

uint16_t SimDevice::finish(const uint8_t* payload, uint16_t length) {
    if (length != kFinishPayloadSize || payload[0] != kFinishMarker) {
        return simcode::kMalformed;
    }
    if (!uploading_) {
        return simcode::kNoUpload;
    }
    const uint32_t total = getLe32(payload + 1);
    const uint16_t crc = getLe16(payload + 5);
    const uint32_t time = getLe32(payload + 7);
    if (total > flash_.size()) {
        return simcode::kCheckFailed;
    }
    const uint32_t pages = (total + kPageSize - 1) / kPageSize;
    const bool complete =
        std::all_of(written_.begin(), written_.begin() + pages, [](bool w) { return w; });
    if (!complete || crc16ArcUpdate(0, flash_.data(), total) != crc) {
        return simcode::kCheckFailed;
    }
    uploading_ = false;
    firmwareSize_ = total;
    firmwareTime_ = static_cast<int32_t>(time);
    loaded_ = true;
    config_.firmwareMajor = uploadMajor_;
    config_.firmwareMinor = uploadMinor_;
    return kReplyAccepted;
}
