#include <windows.h>

#include "link/FailureHint.h"
#include "link/PortNames.h"
#include "link/SerialPort.h"
#include "link/SerialSettings.h"
#include "support/Exception.h"

namespace {
HANDLE asHandle(void* h) {
    return static_cast<HANDLE>(h);
}

// Wine maps a COM port to a Unix terminal; ntdll then exports its version query.
bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
}  // namespace

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::isOpen() const {
    return asHandle(handle_) != INVALID_HANDLE_VALUE;
}

void SerialPort::open(const std::string& name, const std::string& settings, uint32_t t) {
    close();
    HANDLE h = ::CreateFileA(resolvePortName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throwWithHint(Exception("open port '%s' failed", name.c_str()), PortFailure::Open, name,
                      resolvePortName(name), static_cast<int>(::GetLastError()));
    }
    handle_ = h;
    name_ = name;
    device_ = resolvePortName(name);
    // What this device holds is unknown until set; no row of values is all zeros, so the
    // first apply always reaches the driver, even after a configure that failed.
    timeouts_ = Timeouts{};
    ::SetupComm(h, 128, 128);
    configure(settings);
    applyTimeouts(Timeouts{500, 2, t, 0xFFFFFFFFu, t});
}

void SerialPort::applyTimeouts(const Timeouts& wanted) {
    if (wanted == timeouts_) {
        return;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = wanted.readInterval;
    timeouts.ReadTotalTimeoutMultiplier = wanted.readTotalPerByte;
    timeouts.ReadTotalTimeoutConstant = wanted.readTotalConstant;
    timeouts.WriteTotalTimeoutMultiplier = wanted.writeTotalPerByte;
    timeouts.WriteTotalTimeoutConstant = wanted.writeTotalConstant;
    ::SetCommTimeouts(asHandle(handle_), &timeouts);
    timeouts_ = wanted;
}

void SerialPort::configure(const std::string& settings) {
    HANDLE h = asHandle(handle_);
    ::FlushFileBuffers(h);
    DCB dcb;
    dcb.DCBlength = sizeof(dcb);
    if (!::GetCommState(h, &dcb)) {
        throwWithHint(Exception("GetCommState failed"), PortFailure::Settings, name_, device_,
                      static_cast<int>(::GetLastError()));
    }
    const LineSettings line = parseLineSettings(settings);
    // Every line setting starts from zero; the state read above only proves the device.
    dcb = DCB{};
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = static_cast<DWORD>(line.baud);
    dcb.Parity = line.parity == LineSettings::Parity::Even  ? EVENPARITY
                 : line.parity == LineSettings::Parity::Odd ? ODDPARITY
                                                            : NOPARITY;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(h, &dcb)) {
        // Wine's emulation on a pseudo-terminal, which has no modem control lines, refuses
        // the DTR and RTS part with ERROR_NOT_SUPPORTED and applies the rest. A real
        // driver's refusal is a failure.
        const DWORD error = ::GetLastError();
        if (error != ERROR_NOT_SUPPORTED || !runningUnderWine()) {
            throwWithHint(Exception("SetCommState failed"), PortFailure::Settings, name_, device_,
                          static_cast<int>(error));
        }
    }
    ::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

uint32_t SerialPort::read(uint8_t* buffer, uint32_t count, uint32_t t) {
    HANDLE h = asHandle(handle_);
    Timeouts wanted = timeouts_;
    wanted.readInterval = t;
    wanted.readTotalPerByte = 2;
    wanted.readTotalConstant = t;
    applyTimeouts(wanted);
    DWORD got = 0;
    if (!::ReadFile(h, buffer, count, &got, nullptr)) {
        const int error = static_cast<int>(::GetLastError());
        throwWithHint(Exception("read data failed, err: %d", error), PortFailure::Transfer, name_,
                      device_, error);
    }
    return got;
}

uint32_t SerialPort::write(const uint8_t* buffer, uint32_t count, uint32_t t) {
    HANDLE h = asHandle(handle_);
    Timeouts wanted = timeouts_;
    wanted.writeTotalPerByte = 0xFFFFFFFFu;
    wanted.writeTotalConstant = t;
    applyTimeouts(wanted);
    DWORD done = 0;
    if (!::WriteFile(h, buffer, count, &done, nullptr)) {
        const int error = static_cast<int>(::GetLastError());
        throwWithHint(Exception("SerialPort::write %d bytes data failed, err: %d",
                                static_cast<int>(count), error),
                      PortFailure::Transfer, name_, device_, error);
    }
    return done;
}

void SerialPort::close() {
    if (!isOpen()) {
        return;
    }
    ::CloseHandle(asHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
}
