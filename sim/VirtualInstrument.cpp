#include "sim/VirtualInstrument.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>

#include "engine/FrameTrace.h"
#include "engine/Messages.h"
#include "engine/RoutePath.h"
#include "link/FrameCodec.h"
#include "link/FrameLink.h"
#include "link/PortNames.h"
#include "support/CInteger.h"
#include "support/Exception.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kCutFrameGap = std::chrono::milliseconds(100);

// Bytes that can never start a frame: no 0xAA among them.
const uint8_t kNoise[] = {0x00, 0x55, 0x13, 0xFF, 0x42, 0x07, 0xA5, 0x5A, 0x11, 0x99, 0x00, 0x3C};

SimFault::Kind faultKind(const std::string& name) {
    static const struct {
        const char* name;
        SimFault::Kind kind;
    } kKinds[] = {
        {"silent", SimFault::Kind::Silent},        {"late", SimFault::Kind::Late},
        {"corrupt", SimFault::Kind::Corrupt},      {"wrong-type", SimFault::Kind::WrongType},
        {"wrong-tag", SimFault::Kind::WrongTag},   {"noise", SimFault::Kind::Noise},
        {"reply-code", SimFault::Kind::ReplyCode}, {"hang-up", SimFault::Kind::HangUp},
        {"flip-flash", SimFault::Kind::FlipFlash}, {"other-device", SimFault::Kind::OtherDevice},
        {"short", SimFault::Kind::Short}};
    for (const auto& k : kKinds) {
        if (name == k.name) {
            return k.kind;
        }
    }
    throw Exception("unknown fault '%s'", name.c_str());
}
}  // namespace

SimFault parseSimFault(const std::string& text) {
    std::istringstream in(text);
    std::string part;
    std::getline(in, part, ':');
    SimFault fault;
    fault.kind = faultKind(part);
    while (std::getline(in, part, ':')) {
        const size_t eq = part.find('=');
        const std::string key = part.substr(0, eq);
        if (key == "route" && eq != std::string::npos) {
            applyRoutePath(part.substr(eq + 1), fault.route);
            continue;
        }
        const long value = eq == std::string::npos ? -1 : readCInteger(part.c_str() + eq + 1);
        if (value < 0) {
            throw Exception("fault option '%s' needs a number: %s", part.c_str(), text.c_str());
        }
        if (key == "code") {
            fault.code = static_cast<uint16_t>(value);
        } else if (key == "nth") {
            fault.nth = static_cast<uint32_t>(value);
        } else if (key == "delay") {
            fault.delayMs = static_cast<uint32_t>(value);
        } else if (key == "reply") {
            fault.replyCode = static_cast<uint16_t>(value);
        } else if (key == "at") {
            fault.at = value;
        } else if (key == "type") {
            fault.deviceType = static_cast<uint8_t>(value);
        } else {
            throw Exception("unknown fault option '%s' in %s", key.c_str(), text.c_str());
        }
    }
    return fault;
}

VirtualInstrument::VirtualInstrument(const SimConfig& config, const std::string& device)
    : root_(config), device_(device) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw Exception("virtual instrument: pipe failed, err: %d", errno);
    }
    if (device_.empty()) {
        openTerminal();
    } else if (!openDevice()) {
        throw Exception(
            "virtual instrument: cannot open %s, err: %d: is it a terminal this user "
            "may open?",
            device_.c_str(), errno);
    }
}

bool VirtualInstrument::openDevice() {
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Raw, at the instruments' speed, without modem control: a gadget or a cable's far end
    // takes the same settings the loader gives its side. What came before is stale.
    termios tio;
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::tcflush(fd, TCIOFLUSH);
    std::lock_guard<std::mutex> lock(mutex_);
    master_ = fd;
    path_ = device_;
    return true;
}

void VirtualInstrument::reopenDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ::close(master_);
        master_ = -1;
    }
    // The far end went away (a gadget unloaded, a cable pulled): wait for the device to come
    // back.
    while (!stopping_.load() && !openDevice()) {
        pauseUntil(Clock::now() + std::chrono::milliseconds(200));
    }
}

VirtualInstrument::~VirtualInstrument() {
    stop();
    closeTerminal();
    if (!alias_.empty()) {
        ::unlink((portAliasFolder() + "/" + alias_).c_str());
    }
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void VirtualInstrument::openTerminal() {
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        throw Exception("virtual instrument: openpty failed, err: %d", errno);
    }
    // Raw from the start, so nothing is echoed or translated before a host configures it.
    termios tio;
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    int oldMaster, oldSlave;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        oldMaster = master_;
        oldSlave = slaveKeeper_;
        master_ = master;
        slaveKeeper_ = slave;
        path_ = name;
    }
    // A terminal being replaced goes away only once its successor (and its alias) is in
    // place, so a host that sees the hang-up finds the new line at once.
    if (oldMaster >= 0) {
        updateAlias();
        ::close(oldSlave);
        ::close(oldMaster);  // last: this is what the host notices
    }
}

void VirtualInstrument::closeTerminal() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slaveKeeper_ >= 0) {
        ::close(slaveKeeper_);
        slaveKeeper_ = -1;
    }
}

std::string VirtualInstrument::devicePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

void VirtualInstrument::registerAlias(const std::string& comName) {
    alias_ = comName;
    updateAlias();
}

void VirtualInstrument::updateAlias() {
    if (alias_.empty()) {
        return;
    }
    const std::string folder = portAliasFolder();
    makePortAliasFolder();
    const std::string link = folder + "/" + alias_;
    const std::string fresh = link + ".new";
    ::unlink(fresh.c_str());
    // Renamed into place: whoever opens the alias meanwhile finds the old line or the new one.
    if (::symlink(devicePath().c_str(), fresh.c_str()) != 0 ||
        ::rename(fresh.c_str(), link.c_str()) != 0) {
        throw Exception("virtual instrument: cannot register %s at %s, err: %d", alias_.c_str(),
                        link.c_str(), errno);
    }
}

void VirtualInstrument::addChild(const std::string& path, const SimConfig& config) {
    std::lock_guard<std::mutex> lock(mutex_);
    SimDevice* node = &root_;
    std::istringstream in(path);
    std::string token;
    while (std::getline(in, token, '.')) {
        const long port = readCInteger(token.c_str());
        if (port < 0 || port > 7) {
            throw Exception("child path '%s': ports are 0 to 7", path.c_str());
        }
        SimDevice* next = node->findChild(static_cast<int>(port));
        node = next ? next
                    : &node->child(static_cast<int>(port), in.peek() == EOF ? config : SimConfig{});
    }
}

SimDevice* VirtualInstrument::find(const std::string& path) const {
    const SimDevice* node = &root_;
    std::istringstream in(path);
    std::string token;
    while (node != nullptr && std::getline(in, token, '.')) {
        node = node->findChild(static_cast<int>(readCInteger(token.c_str())));
    }
    return const_cast<SimDevice*>(node);
}

void VirtualInstrument::addFault(const SimFault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({fault, 0});
}

void VirtualInstrument::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void VirtualInstrument::setBaud(uint32_t baud) {
    baud_.store(baud);
}

void VirtualInstrument::setTrace(FILE* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    trace_ = out;
}

std::vector<uint8_t> VirtualInstrument::flash(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimDevice* node = find(path);
    return node ? node->flash() : std::vector<uint8_t>();
}

StatusInfo VirtualInstrument::status(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimDevice* node = find(path);
    return node ? node->status() : StatusInfo{};
}

bool VirtualInstrument::inBootloader() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return root_.inBootloader();
}

void VirtualInstrument::setInBootloader(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    root_.setInBootloader(on);
}

std::vector<std::vector<uint8_t>> VirtualInstrument::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void VirtualInstrument::start() {
    if (thread_.joinable()) {
        return;
    }
    stopping_.store(false);
    thread_ = std::thread(&VirtualInstrument::serve, this);
}

void VirtualInstrument::stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_.store(true);
    const uint8_t one = 1;
    (void)!::write(wake_[1], &one, 1);
    thread_.join();
    uint8_t drain[16];
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
}

bool VirtualInstrument::pauseUntil(Clock::time_point due) {
    while (!stopping_.load()) {
        const auto left = due - Clock::now();
        if (left <= Clock::duration::zero()) {
            return true;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        pollfd pfd{wake_[0], POLLIN, 0};
        ::ppoll(&pfd, 1, &wait, nullptr);
    }
    return false;
}

Clock::duration VirtualInstrument::byteTime(size_t bytes) const {
    const uint32_t baud = baud_.load();
    // 10 bit times a byte: start bit, 8 data bits, stop bit.
    return baud == 0 ? Clock::duration::zero()
                     : std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
                           static_cast<int64_t>(bytes) * 10 * 1000000000LL / baud));
}

Clock::time_point VirtualInstrument::writeAll(const uint8_t* data, size_t size,
                                              Clock::time_point lineFree) {
    // Byte i has left the UART at lineFree + (i + 1) byte times; write each once it has.
    const bool paced = baud_.load() != 0;
    lineBytes_.fetch_add(size);
    size_t done = 0;
    while (done < size && !stopping_.load()) {
        size_t due = size;
        if (paced) {
            const auto elapsed = Clock::now() - lineFree;
            const Clock::duration one = byteTime(1);
            due = std::min(size, elapsed < one ? 0 : static_cast<size_t>(elapsed / one));
            if (due <= done) {
                pauseUntil(lineFree + byteTime(done + 1));
                continue;
            }
        }
        const ssize_t n = ::write(master_, data + done, due - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        } else {
            pollfd pfds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
            ::poll(pfds, 2, 100);
        }
    }
    return paced ? lineFree + byteTime(size) : Clock::now();
}

Clock::time_point VirtualInstrument::writeFrame(const std::vector<uint8_t>& message, uint8_t type,
                                                uint16_t tag, bool corrupt,
                                                Clock::time_point lineFree) {
    uint8_t wire[kFrameMaxSize];
    uint32_t size = 0;
    FrameTransmitter transmitter([&](const uint8_t* data, uint16_t count) -> uint32_t {
        std::memcpy(wire + size, data, count);
        size += count;
        return count;
    });
    transmitter.queue(message.data(), static_cast<uint16_t>(message.size()), type, tag);
    transmitter.step();
    if (corrupt) {
        wire[size - 1] ^= 0x01;  // the checksum no longer holds
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (trace_) {
            std::fprintf(trace_, "sim -> %s\n", describeFrame(wire, size).c_str());
            std::fflush(trace_);
        }
    }
    return writeAll(wire, size, lineFree);
}

// The faults that change what the reply says: its code, the device its status names, or its
// payload cut off after the header (which still claims it).
static void alterReply(const SimFault& fault, uint16_t code, std::vector<uint8_t>& message) {
    if (fault.kind == SimFault::Kind::ReplyCode) {
        MessageHeader h = MessageHeader::decode(message.data());
        h.code = fault.replyCode;
        h.encode(message.data());
    }
    if (fault.kind == SimFault::Kind::OtherDevice && code == BPROT_MSG_STATUSINFO &&
        message.size() >= kMessageHeaderSize + kStatusInfoSize) {
        uint8_t* bytes = message.data() + kMessageHeaderSize;
        StatusInfo s = StatusInfo::decode(bytes);
        s.deviceType = fault.deviceType;
        s.encode(bytes);
    }
    if (fault.kind == SimFault::Kind::Short) {
        message.resize(kMessageHeaderSize);
    }
}

std::optional<SimDevice::Reply> VirtualInstrument::answer(const uint8_t* message, size_t size,
                                                          const MessageHeader& header,
                                                          std::optional<SimFault>& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.emplace_back(message, message + size);
    for (ArmedFault& armed : faults_) {
        if ((armed.fault.code != 0 && armed.fault.code != header.code) ||
            (armed.fault.route != SimFault::kAnyRoute && armed.fault.route != header.route)) {
            continue;
        }
        ++armed.seen;
        if (!fault && (armed.fault.nth == 0 || armed.seen == armed.fault.nth)) {
            fault = armed.fault;
        }
    }
    if (fault && (fault->kind == SimFault::Kind::Silent || fault->kind == SimFault::Kind::HangUp)) {
        return std::nullopt;
    }
    std::optional<SimDevice::Reply> reply = root_.handle(message, size);
    if (fault && fault->kind == SimFault::Kind::FlipFlash &&
        header.code == BPROT_WRITE_FINISH_REQ && reply &&
        MessageHeader::decode(reply->message.data()).code == kReplyAccepted) {
        root_.damageFlash(fault->at);
    }
    return reply;
}

void VirtualInstrument::handleFrame(const uint8_t* message, size_t size,
                                    Clock::time_point arrived) {
    hostOnlyWaits_.store(false);
    requests_.fetch_add(1);
    const MessageHeader header =
        size >= kMessageHeaderSize ? MessageHeader::decode(message) : MessageHeader{};
    const uint16_t code = header.code;
    std::optional<SimFault> fault;
    std::optional<SimDevice::Reply> reply = answer(message, size, header, fault);
    if (fault && fault->kind == SimFault::Kind::HangUp) {
        hostOnlyWaits_.store(true);
        // The line goes away under the host; a fresh one takes its place (and its alias).
        // A served device cannot be hung up from this end: the request is just lost.
        try {
            if (device_.empty())
                openTerminal();
        } catch (const Exception& e) {
            std::fprintf(stderr, "%s\n", e.text());
        }
        return;
    }
    if (!reply) {
        hostOnlyWaits_.store(true);
        return;
    }
    // On a paced line the request has only fully arrived once all its bytes have crossed it.
    Clock::time_point answerAt = arrived + byteTime(size + kFrameHeadSize);
    answerAt += std::chrono::milliseconds(reply->delayMs);
    if (fault && fault->kind == SimFault::Kind::Late) {
        answerAt += std::chrono::milliseconds(fault->delayMs);
    }
    if (fault) {
        alterReply(*fault, code, reply->message);
    }
    hostOnlyWaits_.store(reply->delayMs > 0 || (fault && fault->kind == SimFault::Kind::Late));
    if (!pauseUntil(answerAt)) {
        return;
    }
    hostOnlyWaits_.store(false);
    Clock::time_point line = std::max(answerAt, Clock::now());
    if (fault) {
        switch (fault->kind) {
            case SimFault::Kind::WrongType:
                line = writeFrame(reply->message, kLinkFrameType + 1, kLinkFrameTag, false, line);
                break;
            case SimFault::Kind::WrongTag:
                line = writeFrame(reply->message, kLinkFrameType, kLinkFrameTag + 1, false, line);
                break;
            case SimFault::Kind::Noise:
                line = writeAll(kNoise, sizeof kNoise, line);
                break;
            default:
                break;
        }
    }
    const bool corrupt = fault && fault->kind == SimFault::Kind::Corrupt;
    writeFrame(reply->message, kLinkFrameType, kLinkFrameTag, corrupt, line);
    hostOnlyWaits_.store(corrupt);
}

// Between frames the wait is long; inside one, only until the gap that cuts it.
static int waitMs(bool betweenFrames, Clock::time_point lastByte) {
    if (betweenFrames) {
        return 200;
    }
    const auto left = lastByte + kCutFrameGap - Clock::now();
    return static_cast<int>(
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) +
        1);
}

void VirtualInstrument::takeFrame(FrameReceiver& receiver, Clock::time_point arrived) {
    uint16_t length = 0;
    uint8_t type = 0;
    uint16_t tag = 0;
    receiver.header(length, type, tag);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (trace_) {
            std::fprintf(trace_, "sim <- %s\n",
                         describeFrame(receiver.wireImage(), kFrameHeadSize + length).c_str());
            std::fflush(trace_);
        }
    }
    uint8_t message[kFrameMaxPayload];
    receiver.take(message, sizeof message);
    lineBytes_.fetch_add(kFrameHeadSize + length);
    if (type == kLinkFrameType && tag == kLinkFrameTag) {
        handleFrame(message, length, arrived);
    }
}

uint32_t VirtualInstrument::readLine(uint8_t* data, uint16_t count) {
    const ssize_t n = ::read(master_, data, count);
    if (n > 0) {
        bytesRead_.fetch_add(static_cast<uint64_t>(n));
        return static_cast<uint32_t>(n);
    }
    // A device's read of 0 with the line readable, or an error, is its far end gone.
    lineLost_ = lineLost_ || (!device_.empty() && (n == 0 || (errno != EAGAIN && errno != EINTR)));
    return 0;
}

void VirtualInstrument::serve() {
    const auto source = [this](uint8_t* data, uint16_t count) { return readLine(data, count); };
    FrameReceiver receiver(source);
    // When the first byte of the frame being received came in, and the last byte.
    bool betweenFrames = true;
    Clock::time_point frameStart = Clock::now(), lastByte = frameStart;
    while (!stopping_.load()) {
        pollfd pfds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(pfds, 2, waitMs(betweenFrames, lastByte));
        if (ready < 0 || (pfds[1].revents & POLLIN) != 0) {
            continue;
        }
        // Bytes of a started frame that stop coming are dropped, as a bootloader's receiver
        // does; the next sync pair starts afresh. Judged only when a wait ran out with
        // nothing to read: bytes waiting when this process wakes late (a loaded machine)
        // came while it slept, and a gap of its own is not one on the line.
        const bool nothingToRead = ready == 0 || (pfds[0].revents & POLLIN) == 0;
        if (!betweenFrames && nothingToRead && Clock::now() - lastByte > kCutFrameGap) {
            receiver = FrameReceiver(source);
            betweenFrames = true;
            framesCut_.fetch_add(1);
        }
        if (nothingToRead) {
            if (ready > 0 && !device_.empty()) {
                lineLost_ = true;  // hung up or failed without anything to read
            }
        } else {
            if (betweenFrames) {
                frameStart = Clock::now();
                betweenFrames = false;
            }
            lastByte = Clock::now();
            receiver.step();
        }
        if (lineLost_) {
            reopenDevice();
            receiver = FrameReceiver(source);
            betweenFrames = true;
            lineLost_ = false;
            continue;
        }
        while (receiver.isReady()) {
            takeFrame(receiver, frameStart);
            betweenFrames = true;
            // Bytes already waiting behind the frame start the next one now: stamped, so
            // that a cut there is judged from when they came, not from the frame before.
            const uint64_t readBefore = bytesRead_.load();
            receiver.step();
            if (bytesRead_.load() != readBefore) {
                frameStart = lastByte = Clock::now();
                betweenFrames = false;
            }
        }
    }
}
