// Serial port on POSIX terminals: raw 8N1 without flow control, non-blocking
// descriptor, every wait done with poll() against a steady-clock deadline.

#include "line/serial_port.h"

#include "line/output_drain.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "line/termios2_linux.h"

namespace rq::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The rates every POSIX system names with a B constant.
bool StandardSpeed(long baud, speed_t& speed)
{
    switch (baud) {
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 1800: speed = B1800; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    default: return false;
    }
}

// Rates such as 14400, 56000 or 128000 have no B constant; Linux takes them as
// a number with BOTHER. Elsewhere they fail rather than run at another rate.
// Returns false with errno set when the driver refuses.
bool SetArbitrarySpeed([[maybe_unused]] int fd, [[maybe_unused]] long baud)
{
#if RQ_HAVE_TERMIOS2
    constexpr tcflag_t bother = 0010000;  // BOTHER in the asm-generic layout
    constexpr int inputShift = 16;        // IBSHIFT
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~(CBAUD | (CBAUD << inputShift));
    settings.c_cflag |= bother | (bother << inputShift);
    settings.c_ispeed = static_cast<speed_t>(baud);
    settings.c_ospeed = static_cast<speed_t>(baud);
    if (ioctl(fd, TCSETS2, &settings) != 0) return false;
    // A driver may round or ignore the rate: never run at a rate not asked for.
    termios2 applied{};
    if (ioctl(fd, TCGETS2, &applied) != 0) return false;
    if (applied.c_ospeed != settings.c_ospeed) {
        errno = EINVAL;
        return false;
    }
    return true;
#else
    errno = EINVAL;
    return false;
#endif
}

// Rounded up: a 1 ms read on a silent line must wait its millisecond, not
// return at once because less than a whole one is left.
int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    const auto ms = (left + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

Clock::time_point DeadlineAfter(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

}  // namespace

struct SerialPort::Impl {
    int fd = -1;
    termios original{};
    bool haveOriginal = false;
    bool exclusive = false;
    // Set once the other end has hung up or the device vanished: from then on
    // reads and writes return 0 at once instead of polling a dead descriptor.
    bool gone = false;
    int appliedWriteTimeout = 0;
    int lastCode = 0;
    std::string lastMessage;

    void Fail(int code)
    {
        lastCode = code;
        lastMessage = std::strerror(code);
    }

    void Fail(int code, const std::string& message)
    {
        lastCode = code;
        lastMessage = message;
    }

    void MarkGone(int code)
    {
        gone = true;
        Fail(code ? code : EIO);
    }

    bool Configure(long baud);
    void WaitForOutput();
    class Output;
};

// The drain's questions, answered by the terminal's driver.
class SerialPort::Impl::Output final : public OutputQueue {
public:
    explicit Output(SerialPort::Impl& port) : port(port) {}

    bool QueuedBytes(long& count) override
    {
        int pending = 0;
        if (ioctl(port.fd, TIOCOUTQ, &pending) != 0) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV) port.MarkGone(errno);
            else port.Fail(errno);
            return false;
        }
        count = pending;
        return true;
    }

    // Built-in UARTs tell (TIOCSERGETLSR); USB adapters and pseudo-terminals
    // do not, and their queue is all there is to ask.
    std::optional<bool> TransmitterEmpty() override
    {
#if defined(TIOCSERGETLSR) && defined(TIOCSER_TEMT)
        unsigned int status = 0;
        if (ioctl(port.fd, TIOCSERGETLSR, &status) == 0) return (status & TIOCSER_TEMT) != 0;
#endif
        return std::nullopt;
    }

    Clock::time_point Now() override { return Clock::now(); }

    void Pause(std::chrono::milliseconds period) override
    {
        pollfd none{-1, 0, 0};
        poll(&none, 1, static_cast<int>(period.count()));
    }

private:
    SerialPort::Impl& port;
};

bool SerialPort::Impl::Configure(long baud)
{
    if (tcgetattr(fd, &original) != 0) {
        Fail(errno);
        return false;
    }
    haveOriginal = true;

    termios settings = original;
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // Reads never block in the driver: poll() does all the waiting.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;

    speed_t speed = B9600;
    const bool standard = StandardSpeed(baud, speed);
    if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &settings) != 0) {
        Fail(errno);
        return false;
    }
    if (!standard && !SetArbitrarySpeed(fd, baud)) {
        const int code = errno ? errno : EINVAL;
        Fail(code, "Baud rate " + std::to_string(baud) + " is not supported by this port: " + std::strerror(code));
        return false;
    }
    // Bytes left over from an earlier session (a late reply, line noise) must
    // not be taken for the answer to the next request.
    tcflush(fd, TCIFLUSH);
    return true;
}

// Lets queued output leave the line before the original settings (perhaps
// another rate) are restored, but never waits long on a stuck device.
void SerialPort::Impl::WaitForOutput()
{
    const auto deadline = DeadlineAfter(500);
    for (;;) {
        int pending = 0;
        if (ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0) return;
        if (RemainingMs(deadline) == 0) return;
        pollfd none{-1, 0, 0};
        poll(&none, 1, 2);
    }
}

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
    impl->haveOriginal = false;
    impl->appliedWriteTimeout = 0;

    if (baud <= 0 || baud > static_cast<long>(INT_MAX)) {
        impl->Fail(EINVAL, "Invalid baud rate " + std::to_string(baud));
        return false;
    }

    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        impl->Fail(errno);
        return false;
    }
    impl->fd = fd;

    if (!isatty(fd)) {
        impl->Fail(ENOTTY);
        Close();
        return false;
    }
    // TIOCEXCL keeps other users' opens out but not a privileged one; the
    // advisory lock also stops a second open by root or by this process. The
    // lock comes first so that a refused open leaves the holder's flag alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        impl->Fail(errno == EWOULDBLOCK ? EBUSY : errno);
        Close();
        return false;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        impl->Fail(errno);
        Close();
        return false;
    }
    impl->exclusive = true;
    if (!impl->Configure(baud)) {
        const int code = impl->lastCode;
        const std::string message = impl->lastMessage;
        Close();
        impl->Fail(code, message);
        return false;
    }
    return true;
}

bool SerialPort::IsOpen() const
{
    return impl->fd >= 0;
}

std::size_t SerialPort::Write(const std::uint8_t* data, std::size_t length, int timeoutMs)
{
    if (impl->fd < 0) {
        impl->Fail(EBADF);
        return 0;
    }
    impl->appliedWriteTimeout = timeoutMs;
    if (impl->gone || length == 0) return 0;

    const auto deadline = DeadlineAfter(timeoutMs);
    std::size_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(impl->fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV) impl->MarkGone(errno);
            else impl->Fail(errno);
            break;
        }
        const int wait = RemainingMs(deadline);
        if (wait == 0) break;
        pollfd entry{impl->fd, POLLOUT, 0};
        const int ready = poll(&entry, 1, wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            impl->Fail(errno);
            break;
        }
        if (ready == 0) break;
        if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            impl->MarkGone(EIO);
            break;
        }
    }
    return written;
}

// write() returns once the kernel holds the bytes, long before a slow line has
// sent them. tcdrain() would wait for that but has no time-out, and a wedged
// adapter could hold it for ever: ask the driver instead, once a millisecond.
bool SerialPort::Drain(int timeoutMs)
{
    if (impl->fd < 0) {
        impl->Fail(EBADF);
        return false;
    }
    if (impl->gone) return false;
    Impl::Output output(*impl);
    return WaitUntilSent(output, timeoutMs) == DrainResult::Sent;
}

bool SerialPort::DiscardInput()
{
    if (impl->fd < 0) {
        impl->Fail(EBADF);
        return false;
    }
    if (impl->gone) return false;
    if (tcflush(impl->fd, TCIFLUSH) != 0) {
        impl->MarkGone(errno);
        return false;
    }
    return true;
}

std::size_t SerialPort::Read(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    if (impl->fd < 0) {
        impl->Fail(EBADF);
        return 0;
    }
    if (impl->gone || length == 0) return 0;

    const auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        pollfd entry{impl->fd, POLLIN, 0};
        const int ready = poll(&entry, 1, RemainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            impl->Fail(errno);
            return 0;
        }
        if (ready == 0) return 0;  // time-out

        // Bytes that arrived before a hang-up are still delivered.
        if (entry.revents & POLLIN) {
            const ssize_t n = ::read(impl->fd, data, length);
            if (n > 0) return static_cast<std::size_t>(n);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (RemainingMs(deadline) == 0) return 0;
                continue;
            }
            // Readable yet nothing to read, or EIO: the other end is gone.
            impl->MarkGone(n < 0 ? errno : EIO);
            return 0;
        }
        if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            impl->MarkGone(EIO);
            return 0;
        }
        if (RemainingMs(deadline) == 0) return 0;
    }
}

void SerialPort::Close()
{
    if (impl->fd < 0) return;
    if (!impl->gone) {
        impl->WaitForOutput();
        if (impl->haveOriginal) tcsetattr(impl->fd, TCSANOW, &impl->original);
    }
    // The exclusive flag belongs to the terminal, not to this descriptor: it
    // would outlive close() while anyone else keeps the device open.
    if (impl->exclusive) ioctl(impl->fd, TIOCNXCL);
    ::close(impl->fd);
    impl->fd = -1;
    impl->haveOriginal = false;
    impl->exclusive = false;
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
