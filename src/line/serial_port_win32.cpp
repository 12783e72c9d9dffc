// Serial port on Windows: a COM device opened for exclusive use, 8N1 without
// flow control, millisecond time-outs through COMMTIMEOUTS.

#include "line/serial_port.h"

#include "line/comm_settings.h"
#include "line/output_drain.h"
#include "line/system_message_win32.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace rq::platform {

// MinGW's winerror.h lacks it: "A device which does not exist was specified."
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

static_assert(kNoParity == NOPARITY && kOneStopBit == ONESTOPBIT && kDtrControlEnable == DTR_CONTROL_ENABLE &&
              kRtsControlEnable == RTS_CONTROL_ENABLE);

namespace {

// "COM10" and above open only through the device namespace; the prefix is
// harmless for COM1 to COM9.
std::string DevicePath(const std::string& name)
{
    if (name.rfind("\\\\.\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

// The errors a vanished device (a USB adapter pulled out) reports.
bool DeviceGone(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_DEVICE_REMOVED ||
           code == ERROR_GEN_FAILURE || code == ERROR_OPERATION_ABORTED || code == ERROR_FILE_NOT_FOUND ||
           code == ERROR_INVALID_HANDLE || code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_NO_SUCH_DEVICE;
}

}  // namespace

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB originalDcb{};
    COMMTIMEOUTS originalTimeouts{};
    bool haveOriginal = false;
    // The time-outs in force, so a call changes them only when it needs to.
    COMMTIMEOUTS timeouts{};
    bool timeoutsSet = false;
    int appliedWriteTimeout = 0;
    bool gone = false;
    int lastCode = 0;
    std::string lastMessage;

    void Fail(DWORD code)
    {
        lastCode = static_cast<int>(code);
        lastMessage = SystemMessage(code);
    }

    void FailWith(DWORD code)
    {
        if (DeviceGone(code)) gone = true;
        Fail(code);
    }

    bool Apply(const COMMTIMEOUTS& wanted)
    {
        if (timeoutsSet && wanted.ReadIntervalTimeout == timeouts.ReadIntervalTimeout &&
            wanted.ReadTotalTimeoutMultiplier == timeouts.ReadTotalTimeoutMultiplier &&
            wanted.ReadTotalTimeoutConstant == timeouts.ReadTotalTimeoutConstant &&
            wanted.WriteTotalTimeoutMultiplier == timeouts.WriteTotalTimeoutMultiplier &&
            wanted.WriteTotalTimeoutConstant == timeouts.WriteTotalTimeoutConstant)
            return true;
        COMMTIMEOUTS copy = wanted;
        if (!SetCommTimeouts(handle, &copy)) {
            FailWith(GetLastError());
            timeoutsSet = false;
            return false;
        }
        timeouts = wanted;
        timeoutsSet = true;
        return true;
    }

    class Output;
};

SerialPort::SerialPort() : impl(std::make_unique<Impl>()) {}

SerialPort::~SerialPort()
{
    Close();
}

bool SerialPort::Open(const std::string& name, long baud)
{
    Close();
    impl->lastCode = 0;
    impl->lastMessage.clear();
    impl->gone = false;
    impl->timeoutsSet = false;
    impl->appliedWriteTimeout = 0;

    if (baud <= 0) {
        impl->lastCode = ERROR_INVALID_PARAMETER;
        impl->lastMessage = "Invalid baud rate " + std::to_string(baud);
        return false;
    }

    // No sharing: a port held by another program cannot be opened.
    const HANDLE handle = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        impl->Fail(GetLastError());
        return false;
    }
    impl->handle = handle;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb) || !GetCommTimeouts(handle, &impl->originalTimeouts)) {
        const DWORD code = GetLastError();
        Close();
        impl->Fail(code);
        return false;
    }
    impl->originalDcb = dcb;
    impl->haveOriginal = true;

    const DWORD driverRate = dcb.BaudRate;
    SetEightNoneOne(dcb, baud);
    if (!SetCommState(handle, &dcb)) {
        // A driver refuses rates it cannot make rather than using another; the
        // rate is the cause only if the same settings pass at its own rate.
        const DWORD code = GetLastError();
        DCB atDriverRate = dcb;
        atDriverRate.BaudRate = driverRate;
        const bool rateIsTheCause = driverRate != dcb.BaudRate && SetCommState(handle, &atDriverRate);
        Close();
        impl->Fail(code);
        impl->lastMessage = CommStateRefusedMessage(baud, rateIsTheCause, impl->lastMessage);
        return false;
    }
    // Bytes left over from an earlier session must not pass for a reply.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT);
    return true;
}

bool SerialPort::IsOpen() const
{
    return impl->handle != INVALID_HANDLE_VALUE;
}

std::size_t SerialPort::Write(const std::uint8_t* data, std::size_t length, int timeoutMs)
{
    if (impl->handle == INVALID_HANDLE_VALUE) {
        impl->Fail(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (impl->gone || length == 0) return 0;
    // A write constant of 0 would mean "no time-out at all".
    const int timeout = timeoutMs < 1 ? 1 : timeoutMs;
    COMMTIMEOUTS wanted = impl->timeouts;
    wanted.WriteTotalTimeoutMultiplier = 0;
    wanted.WriteTotalTimeoutConstant = static_cast<DWORD>(timeout);
    if (!impl->Apply(wanted)) return 0;
    // What the driver holds, not what was asked: a driver may round it.
    COMMTIMEOUTS held{};
    impl->appliedWriteTimeout =
        GetCommTimeouts(impl->handle, &held) ? static_cast<int>(held.WriteTotalTimeoutConstant) : timeout;
    DWORD written = 0;
    const DWORD chunk = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
    if (!WriteFile(impl->handle, data, chunk, &written, nullptr)) impl->FailWith(GetLastError());
    return written;
}

// The drain's questions, answered by the COM driver. It does not tell when
// the last bit has left the transmitter; its queue is all there is to ask.
class SerialPort::Impl::Output final : public OutputQueue {
public:
    explicit Output(SerialPort::Impl& port) : port(port) {}

    bool QueuedBytes(long& count) override
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port.handle, &errors, &status)) {
            port.FailWith(GetLastError());
            return false;
        }
        count = static_cast<long>(status.cbOutQue);
        return true;
    }
    std::optional<bool> TransmitterEmpty() override { return std::nullopt; }
    Clock::time_point Now() override { return Clock::now(); }
    void Pause(std::chrono::milliseconds period) override { Sleep(static_cast<DWORD>(period.count())); }

private:
    SerialPort::Impl& port;
};

// WriteFile returns once the driver holds the bytes; a USB adapter holds
// hundreds of them, which can take a quarter of a second to go out at
// 9600 baud. The reply wait must start once they have.
bool SerialPort::Drain(int timeoutMs)
{
    if (impl->handle == INVALID_HANDLE_VALUE) {
        impl->Fail(ERROR_INVALID_HANDLE);
        return false;
    }
    if (impl->gone) return false;
    Impl::Output output(*impl);
    return WaitUntilSent(output, timeoutMs) == DrainResult::Sent;
}

bool SerialPort::DiscardInput()
{
    if (impl->handle == INVALID_HANDLE_VALUE) {
        impl->Fail(ERROR_INVALID_HANDLE);
        return false;
    }
    if (impl->gone) return false;
    if (!PurgeComm(impl->handle, PURGE_RXCLEAR)) {
        impl->FailWith(GetLastError());
        return false;
    }
    return true;
}

std::size_t SerialPort::Read(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    if (impl->handle == INVALID_HANDLE_VALUE) {
        impl->Fail(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (impl->gone || length == 0) return 0;
    const int timeout = timeoutMs < 0 ? 0 : timeoutMs;
    // MAXDWORD/MAXDWORD/constant: return as soon as any byte is there,
    // otherwise after the constant. MAXDWORD/0/0: return at once.
    COMMTIMEOUTS wanted = impl->timeouts;
    wanted.ReadIntervalTimeout = MAXDWORD;
    wanted.ReadTotalTimeoutMultiplier = timeout > 0 ? MAXDWORD : 0;
    wanted.ReadTotalTimeoutConstant = static_cast<DWORD>(timeout);
    if (!impl->Apply(wanted)) return 0;
    DWORD got = 0;
    const DWORD chunk = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
    if (!ReadFile(impl->handle, data, chunk, &got, nullptr)) {
        impl->FailWith(GetLastError());
        return 0;
    }
    return got;
}

void SerialPort::Close()
{
    if (impl->handle == INVALID_HANDLE_VALUE) return;
    if (impl->haveOriginal && !impl->gone) {
        SetCommState(impl->handle, &impl->originalDcb);
        SetCommTimeouts(impl->handle, &impl->originalTimeouts);
    }
    CloseHandle(impl->handle);
    impl->handle = INVALID_HANDLE_VALUE;
    impl->haveOriginal = false;
    impl->gone = false;
}

int SerialPort::AppliedWriteTimeoutMs() const
{
    return impl->appliedWriteTimeout;
}

const std::string& SerialPort::LastErrorMessage() const
{
    return impl->lastMessage;
}

int SerialPort::LastErrorCode() const
{
    return impl->lastCode;
}

}  // namespace rq::platform
