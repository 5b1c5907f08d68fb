#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "link/FailureHint.h"
#include "link/PortNames.h"
#include "link/PosixCustomBaud.h"
#include "link/SerialPort.h"
#include "link/SerialSettings.h"
#include "support/Exception.h"
#include "support/TickClock.h"

namespace {
constexpr uint32_t kNoWriteLimit = 0xFFFFFFFFu;

bool standardSpeed(long baud, speed_t& speed) {
    static const struct {
        long baud;
        speed_t speed;
    } kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                   {150, B150},       {200, B200},       {300, B300},       {600, B600},
                   {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                   {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& entry : kSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

bool dataBitsFlag(long bits, tcflag_t& flag) {
    switch (bits) {
        case 5:
            flag = CS5;
            return true;
        case 6:
            flag = CS6;
            return true;
        case 7:
            flag = CS7;
            return true;
        case 8:
            flag = CS8;
            return true;
        default:
            return false;
    }
}

// Total limit of a transfer: per-byte × count + constant, in 32 bits like the original
// platform; a product that does not fit means no limit.
uint32_t totalLimit(uint32_t perByte, uint32_t count, uint32_t constant) {
    const uint64_t total = static_cast<uint64_t>(perByte) * count + constant;
    return total >= Deadline::kNever ? Deadline::kNever : static_cast<uint32_t>(total);
}

// Waits for `events` on fd until `deadline` has passed. Returns the revents seen (0 on
// time-out); throws with errno through `fail`.
template <typename Fail>
short waitFor(int fd, short events, const Deadline& deadline, Fail fail) {
    for (;;) {
        const uint32_t wait = deadline.msUntilPassed();
        pollfd pfd{fd, events, 0};
        const int timeoutMs =
            wait == Deadline::kNever ? -1 : static_cast<int>(std::min<uint32_t>(wait, 1u << 30));
        const int rc = ::poll(&pfd, 1, timeoutMs);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        if (rc > 0) {
            return pfd.revents;
        }
        if (deadline.passed()) {
            return 0;
        }
    }
}
}  // namespace

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::isOpen() const {
    return handle_ >= 0;
}

void SerialPort::open(const std::string& name, const std::string& settings, uint32_t t) {
    close();
    const std::string path = resolvePortName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throwWithHint(Exception("open port '%s' failed", name.c_str()), PortFailure::Open, name,
                      path, errno);
    }
    // Exclusive: the advisory lock also holds against root, which TIOCEXCL does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throwWithHint(Exception("open port '%s' failed", name.c_str()), PortFailure::Open, name,
                      path, EWOULDBLOCK);
    }
    ::ioctl(fd, TIOCEXCL);
    handle_ = fd;
    name_ = name;
    device_ = path;
    configure(settings);
    timeouts_.readInterval = 500;
    timeouts_.readTotalPerByte = 2;
    timeouts_.readTotalConstant = t;
    timeouts_.writeTotalPerByte = kNoWriteLimit;
    timeouts_.writeTotalConstant = t;
}

void SerialPort::configure(const std::string& settings) {
    ::tcdrain(handle_);
    termios tio;
    if (::tcgetattr(handle_, &tio) != 0) {
        throwWithHint(Exception("GetCommState failed"), PortFailure::Settings, name_, device_,
                      errno);
    }
    const LineSettings line = parseLineSettings(settings);

    // Every setting starts from zero, as the original line state did.
    tio = termios{};
    tcflag_t sizeFlag = 0;
    if (!dataBitsFlag(line.dataBits, sizeFlag)) {
        throwWithHint(Exception("SetCommState failed"), PortFailure::Settings, name_, device_,
                      errno);
    }
    tio.c_cflag = CREAD | CLOCAL | sizeFlag;
    if (line.parity != LineSettings::Parity::None) {
        tio.c_cflag |= PARENB;
        if (line.parity == LineSettings::Parity::Odd) {
            tio.c_cflag |= PARODD;
        }
    }
    if (line.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t speed = B38400;
    const bool standard = standardSpeed(line.baud, speed);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(handle_, TCSANOW, &tio) != 0) {
        throwWithHint(Exception("SetCommState failed"), PortFailure::Settings, name_, device_,
                      errno);
    }
    if (!standard &&
        (line.baud <= 0 || !setCustomBaud(handle_, static_cast<unsigned long>(line.baud)))) {
        throwWithHint(Exception("SetCommState failed"), PortFailure::Settings, name_, device_,
                      errno);
    }
    // DTR and RTS inactive. A line without modem control (a pseudo-terminal) refuses
    // this, which is harmless; any other refusal is a failure to apply the state.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(handle_, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        throwWithHint(Exception("SetCommState failed"), PortFailure::Settings, name_, device_,
                      errno);
    }
    ::tcflush(handle_, TCIOFLUSH);
}

uint32_t SerialPort::read(uint8_t* buffer, uint32_t count, uint32_t t) {
    timeouts_.readInterval = t;
    timeouts_.readTotalPerByte = 2;
    timeouts_.readTotalConstant = t;
    auto fail = [this](int code) -> void {
        throwWithHint(Exception("read data failed, err: %d", code), PortFailure::Transfer, name_,
                      device_, code);
    };
    if (handle_ < 0) {
        fail(EBADF);  // as the platform's read on a released handle: never a silent line
    }
    if (count == 0) {
        return 0;
    }
    const Deadline total(
        totalLimit(timeouts_.readTotalPerByte, count, timeouts_.readTotalConstant));
    Deadline gap(Deadline::kNever);
    uint32_t got = 0;
    while (got < count) {
        const Deadline& next = got > 0 && gap.msUntilPassed() < total.msUntilPassed() ? gap : total;
        const short revents = waitFor(handle_, POLLIN, next, fail);
        if (revents == 0) {
            if (total.passed() || (got > 0 && timeouts_.readInterval != 0 && gap.passed())) {
                break;
            }
            continue;
        }
        const ssize_t n = ::read(handle_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            if (timeouts_.readInterval != 0) {
                gap = Deadline(timeouts_.readInterval);
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        // A read of 0 with the line readable is a hang-up: the far end is gone.
        fail(n == 0 ? EIO : errno);
    }
    return got;
}

uint32_t SerialPort::write(const uint8_t* buffer, uint32_t count, uint32_t t) {
    timeouts_.writeTotalPerByte = kNoWriteLimit;
    timeouts_.writeTotalConstant = t;
    auto fail = [this, count](int code) -> void {
        throwWithHint(Exception("SerialPort::write %d bytes data failed, err: %d",
                                static_cast<int>(count), code),
                      PortFailure::Transfer, name_, device_, code);
    };
    const Deadline limit(
        totalLimit(timeouts_.writeTotalPerByte, count, timeouts_.writeTotalConstant));
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(handle_, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            fail(errno);
        }
        const short revents = waitFor(handle_, POLLOUT, limit, fail);
        if (revents == 0) {
            break;  // the write limit passed: report what was accepted
        }
        if ((revents & (POLLERR | POLLHUP)) != 0 && (revents & POLLOUT) == 0) {
            fail(EIO);
        }
    }
    return done;
}

void SerialPort::close() {
    if (handle_ < 0) {
        return;
    }
    // Leave the device openable for the next user: exclusive mode outlives our descriptor
    // while anyone else still holds the terminal.
    ::ioctl(handle_, TIOCNXCL);
    ::close(handle_);
    handle_ = -1;
}
