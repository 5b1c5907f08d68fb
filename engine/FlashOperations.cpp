// The three long operations of the engine, each run as one work item on the worker.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/Crc16.h"
#include "engine/VantorBootloader.h"
#include "support/Exception.h"
#include "support/Files.h"
#include "support/LittleEndian.h"
#include "support/TickClock.h"

namespace {
// A 16-bit page index addresses at most this many pages.
constexpr uint64_t kMaxPages = 65536;

// Returns the link to its normal time-out on every way out of an upload. The success path
// restores it itself before the finished event: after that event the owner may already be
// using the engine from its own thread, so nothing may touch the link any more.
class TimeoutScope {
  public:
    TimeoutScope(uint16_t& timeout, uint16_t during, uint16_t after)
        : timeout_(timeout), after_(after) {
        timeout_ = during;
    }
    ~TimeoutScope() {
        if (armed_) {
            timeout_ = after_;
        }
    }
    void restore() {
        timeout_ = after_;
        armed_ = false;
    }
    TimeoutScope(const TimeoutScope&) = delete;
    TimeoutScope& operator=(const TimeoutScope&) = delete;

  private:
    uint16_t& timeout_;
    uint16_t after_;
    bool armed_ = true;
};
}  // namespace

// The image's file, open, and its pages: refused before anything is sent without a whole
// header (nothing to offer), or with a body beyond 16-bit page indexes (it would wrap onto
// the start of the flash).
static StdioFile openImage(const std::string& path, uint64_t& pages) {
    uint64_t size = 0;
    if (!fileSize(path, size)) {
        throw Exception("can't open file %s", path.c_str());
    }
    StdioFile file = openFile(path, "rb");
    if (!file) {
        throw Exception("can't open file %s", path.c_str());
    }
    if (size < kImageHeaderSize) {
        throw Exception("firmware file %s is shorter than its %d-byte header", path.c_str(),
                        kImageHeaderSize);
    }
    pages = (size - kImageHeaderSize + kPageSize - 1) / kPageSize;
    if (pages > kMaxPages) {
        throw Exception(
            "firmware file %s needs %llu pages, more than the %llu a page index reaches",
            path.c_str(), static_cast<unsigned long long>(pages),
            static_cast<unsigned long long>(kMaxPages));
    }
    return file;
}

void VantorBootloader::Upload() {
    const std::string path = uploadPath;
    TimeoutScope slowLink(link.timeout, kUploadTimeoutMs, kLinkTimeoutMs);
    uint64_t pages = 0;
    StdioFile file = openImage(path, pages);
    listener->OnUploadStarted(path.c_str(), static_cast<int32_t>(pages));

    uint8_t buffer[kMessageBufferSize] = {};
    uint8_t* payload = buffer + kMessageHeaderSize;
    if (std::fread(payload, 1, kImageHeaderSize, file.get()) != kImageHeaderSize) {
        throw Exception("read firmware file %s error", path.c_str());
    }
    exchange(BPROT_MSG_WRITE_START, buffer, kImageHeaderSize, msg::kWriteStartFailed);
    const uint16_t startAnswer = MessageHeader::decode(buffer).code;
    if (startAnswer == kReplyIncompatible) {
        throw Exception("%s", msg::kIncompatible);
    }
    if (startAnswer != kReplyAccepted) {
        throw Exception("%s", msg::kOtherError);
    }
    uint16_t crc = 0;
    uint32_t total = 0;
    WritePages(file.get(), path, pages, buffer, crc, total);

    payload[0] = kFinishMarker;
    putLe32(payload + 1, total);
    putLe16(payload + 5, crc);
    putLe32(payload + 7, static_cast<uint32_t>(std::time(nullptr)));
    exchange(BPROT_WRITE_FINISH_REQ, buffer, kFinishPayloadSize, msg::kFinishFailed);
    if (MessageHeader::decode(buffer).code != kReplyAccepted) {
        throw Exception("%s", msg::kWriteFlashFailed);
    }
    RequestStatus();

    file.reset();
    slowLink.restore();
    workCode.store(kWorkNone);
    listener->OnUploadFinished();
}

void VantorBootloader::WritePages(std::FILE* file, const std::string& path, uint64_t pages,
                                  uint8_t* buffer, uint16_t& crc, uint32_t& total) {
    uint8_t* payload = buffer + kMessageHeaderSize;
    // Only the pages announced: a file that grows meanwhile must not wrap the 16-bit page
    // index onto the start of the flash.
    for (uint32_t page = 0; page < pages;) {
        std::memset(payload + 2, 0xFF, kPageSize);
        const size_t n = std::fread(payload + 2, 1, kPageSize, file);
        if (n == 0) {
            if (std::ferror(file)) {
                throw Exception("read firmware file %s error", path.c_str());
            }
            break;
        }
        crc = crc16ArcUpdate(crc, payload + 2, n);
        total += static_cast<uint32_t>(n);
        putLe16(payload, static_cast<uint16_t>(page));
        exchange(BPROT_MSG_WRITE_PAGE, buffer, 2 + kPageSize, msg::kWritePageFailed);
        ++page;
        listener->OnUploadProgress(static_cast<int32_t>(page));
    }
}

void VantorBootloader::ReadBack() {
    const std::string path = readPath;
    StdioFile file = openFile(path, "wb");
    if (!file) {
        throw Exception("can't create file '%s'\n", path.c_str());
    }
    const uint32_t size = status.firmwareSize != 0 ? status.firmwareSize : status.areaSize;
    const uint64_t pages = (static_cast<uint64_t>(size) + kPageSize - 1) / kPageSize;
    if (pages > kMaxPages) {
        throw Exception(
            "flash of %u bytes needs more pages than a page index reaches; nothing read into %s",
            size, path.c_str());
    }
    listener->OnReadStarted(path.c_str(), static_cast<int32_t>(size), static_cast<int32_t>(pages));

    uint8_t buffer[kMessageBufferSize] = {};
    uint8_t* payload = buffer + kMessageHeaderSize;
    uint32_t remaining = size;
    for (uint32_t page = 0; remaining > 0;) {
        putLe16(payload, static_cast<uint16_t>(page));
        const uint32_t n = remaining < kPageSize ? remaining : kPageSize;
        exchange(BPROT_MSG_READ_PAGE, buffer, 2, msg::kReadPageFailed,
                 static_cast<int32_t>(kMessageHeaderSize + 2 + n));
        ++page;
        // A dump that silently misses bytes would be worse than none: stop on a failed write.
        if (std::fwrite(payload + 2, 1, n, file.get()) != n) {
            throw Exception("write into file '%s' failed", path.c_str());
        }
        listener->OnReadProgress(static_cast<int32_t>(page));
        remaining -= n;
    }
    if (std::fclose(file.release()) != 0) {
        throw Exception("write into file '%s' failed", path.c_str());
    }
    workCode.store(kWorkNone);
    listener->OnReadFinished();
}

void VantorBootloader::Erase() {
    listener->OnEraseStarted();
    const Deadline deadline(kEraseDeadlineMs);
    uint8_t buffer[kMessageBufferSize] = {};
    if (link.send(route, BPROT_MSG_ERASE_FLASH, buffer, 0) < 0) {
        throw Exception("%s", msg::kEraseSendFailed);
    }
    bool answered = false;
    while (!deadline.reached()) {
        if (link.receive(buffer) != 0) {
            answered = true;
            break;
        }
        listener->OnEraseTick();
    }
    if (!answered || deadline.passed()) {
        throw Exception("%s", msg::kEraseReceiveFailed);
    }
    RequestStatus();
    workCode.store(kWorkNone);
    listener->OnEraseFinished();
}
