#include "engine/VantorBootloader.h"

#include <algorithm>
#include <exception>

#include "engine/RoutePath.h"
#include "support/Exception.h"

std::atomic<VantorBootloader*> theBootloader{nullptr};

namespace {
constexpr uint16_t kSinkPiece = 64;
}

uint32_t VantorBootloader::sinkToPort(const uint8_t* data, uint16_t count) {
    VantorBootloader* engine = theBootloader.load();
    uint32_t written = 0;
    while (written < count) {
        const uint16_t piece =
            std::min<uint16_t>(kSinkPiece, static_cast<uint16_t>(count - written));
        written += engine->port.write(data + written, piece, 0);
    }
    return written;
}

uint32_t VantorBootloader::sourceFromPort(uint8_t* data, uint16_t count) {
    return theBootloader.load()->port.read(data, count, 0);
}

VantorBootloader::VantorBootloader(VantorBootloaderEventListener* eventListener)
    : listener(eventListener),
      link(&VantorBootloader::sinkToPort, &VantorBootloader::sourceFromPort) {
    theBootloader.store(this);
    link.timeout = kLinkTimeoutMs;
}

VantorBootloader::~VantorBootloader() {
    // A worker may still be on its way out after its last event; let it leave before the
    // members it runs on go away.
    if (Thread::current() != this) {
        stop(true, kInfinite);
    }
    VantorBootloader* self = this;
    theBootloader.compare_exchange_strong(self, nullptr);
}

void VantorBootloader::Connect(const std::string& portName) {
    Disconnect();
    port.open(portName, kLineSettings, 0);
    try {
        RequestStatus();
    } catch (...) {
        port.close();
        throw;
    }
    connected.store(true);
    listener->OnConnected();
}

void VantorBootloader::Disconnect() {
    if (!connected.load()) {
        return;
    }
    route = 0;
    port.close();
    connected.store(false);
    listener->OnDisconnected();
}

int32_t VantorBootloader::exchange(uint16_t code, uint8_t* buffer, uint16_t n, const char* failure,
                                   int32_t least) {
    const int32_t result = link.sendReceive(route, code, buffer, n);
    if (result < 0 || result < least) {
        throw Exception("%s", failure);
    }
    return result;
}

StatusInfo VantorBootloader::RequestStatus() {
    uint8_t buffer[kMessageBufferSize] = {};
    exchange(BPROT_MSG_STATUSINFO, buffer, 0, msg::kStatusFailed,
             kMessageHeaderSize + kStatusInfoSize);
    status = StatusInfo::decode(buffer + kMessageHeaderSize);
    return status;
}

void VantorBootloader::RunFirmware() {
    uint8_t buffer[kMessageBufferSize] = {};
    exchange(BPROT_MSG_RUNFW, buffer, 0, msg::kRunFailed);
}

void VantorBootloader::SetRoutePath(const std::string& text) {
    if (!connected.load()) {
        throw Exception("Bootloader is not connected to any device");
    }
    applyRoutePath(text, route);
}

void VantorBootloader::startWork(int32_t code) {
    workCode.store(code);
    try {
        start(false, kInfinite);
    } catch (...) {
        workCode.store(kWorkNone);
        throw;
    }
}

void VantorBootloader::UploadFirmware(const std::string& path) {
    uploadPath = path;
    startWork(kWorkUpload);
}

void VantorBootloader::ReadFlash(const std::string& path) {
    readPath = path;
    startWork(kWorkRead);
}

void VantorBootloader::EraseFlash() {
    startWork(kWorkErase);
}

void VantorBootloader::run() {
    // Each operation returns the engine to idle itself, before its finished event; writing
    // idle again afterwards could clear a work item the owner started in reaction to it.
    std::string failure;
    try {
        switch (workCode.load()) {
            case kWorkUpload:
                Upload();
                break;
            case kWorkRead:
                ReadBack();
                break;
            case kWorkErase:
                Erase();
                break;
            default:
                workCode.store(kWorkNone);
                break;
        }
        return;
    } catch (const Exception& e) {
        workFailure = e;
    } catch (const std::exception& e) {
        workFailure = Exception("%s", e.what());
    } catch (...) {
        // A listener may throw anything; nothing may escape a thread body.
        workFailure = Exception("unexpected failure in the worker");
    }
    failure = workFailure.report();
    workCode.store(kWorkNone);
    try {
        listener->OnError(failure.c_str());
    } catch (...) {
        // Reported once: an error handler that fails has nobody left to tell.
    }
}
