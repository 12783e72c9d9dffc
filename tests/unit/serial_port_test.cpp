// The POSIX serial layer against a pseudo-terminal: the test holds the master
// (the "controller" end) and keeps a descriptor of the slave open, as the
// simulated controller does, so closing the port hangs nothing up. Also the
// write time-out arithmetic every port's writes run under.

#include "line/serial_port.h"
#include "line/line_timing.h"
#include "line/termios2_linux.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using rq::platform::SerialPort;
using rq::platform::WireTimeUs;
using rq::platform::WriteTimeoutMs;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PtyTest : public testing::Test {
protected:
    void SetUp() override
    {
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0) << std::strerror(errno);
        path = name;
        termios raw{};
        ASSERT_EQ(tcgetattr(slave, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }

    void TearDown() override { HangUp(); }

    // The controller end goes away: the terminal is hung up.
    void HangUp()
    {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
        master = slave = -1;
    }

    void WriteMaster(const Bytes& bytes)
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Collects up to `count` bytes from the master, bounded in time.
    Bytes ReadMaster(std::size_t count, int timeoutMs = 2000)
    {
        Bytes got;
        const auto start = Clock::now();
        while (got.size() < count && MsSince(start) < timeoutMs) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, 10) <= 0) continue;
            std::uint8_t buffer[256];
            const ssize_t n = read(master, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    // Reads from the port until `count` bytes arrived or the time is up.
    static Bytes ReadPort(SerialPort& port, std::size_t count, int timeoutMs = 2000)
    {
        Bytes got;
        const auto start = Clock::now();
        while (got.size() < count && MsSince(start) < timeoutMs) {
            std::uint8_t buffer[256];
            const std::size_t n = port.Read(buffer, std::min(sizeof buffer, count - got.size()), 50);
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    // Waits until bytes written by the master have reached the slave's queue.
    bool WaitForSlaveInput(int timeoutMs = 2000)
    {
        pollfd entry{slave, POLLIN, 0};
        return poll(&entry, 1, timeoutMs) == 1;
    }

    int master = -1;
    int slave = -1;
    std::string path;
};

const Bytes FRAME = {0xA1, 0x07, 0xF8, 0x43, 0x08, 0xEB, 0x51};

// ---- settings applied to the line ----

class PortRateTest : public PtyTest, public testing::WithParamInterface<long> {};

TEST_P(PortRateTest, OpensRaw8N1WithoutFlowControlAtTheRateAsked)
{
    const long rate = GetParam();
    SerialPort port;
    ASSERT_TRUE(port.Open(path, rate)) << port.LastErrorMessage();
    EXPECT_EQ(port.LastErrorCode(), 0);

    termios applied{};
    ASSERT_EQ(tcgetattr(slave, &applied), 0);
    EXPECT_EQ(applied.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(applied.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(applied.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(applied.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(applied.c_oflag & OPOST, 0u);
    EXPECT_EQ(applied.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(applied.c_cc[VMIN], 0);
    EXPECT_EQ(applied.c_cc[VTIME], 0);

    termios2 kernel{};
    ASSERT_EQ(ioctl(slave, TCGETS2, &kernel), 0);
    EXPECT_EQ(kernel.c_ospeed, static_cast<speed_t>(rate));
    EXPECT_EQ(kernel.c_ispeed, static_cast<speed_t>(rate));
}

// Every rate the serial settings dialog offers, and the usual others;
// 14400, 56000 and 128000 have no B constant.
INSTANTIATE_TEST_SUITE_P(Rates, PortRateTest,
                         testing::Values(1200L, 2400L, 4800L, 9600L, 14400L, 19200L, 38400L, 56000L, 57600L,
                                         115200L, 128000L, 230400L));

TEST_F(PtyTest, CloseRestoresTheOriginalSettings)
{
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL | IXON;
    ASSERT_EQ(cfsetspeed(&before, B4800), 0);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(slave, &before), 0);

    SerialPort port;
    ASSERT_TRUE(port.Open(path, 115200)) << port.LastErrorMessage();
    port.Close();

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B4800));
}

TEST_F(PtyTest, CloseAfterAnArbitraryRateRestoresTheStandardOne)
{
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_EQ(cfsetspeed(&before, B9600), 0);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);

    SerialPort port;
    ASSERT_TRUE(port.Open(path, 56000)) << port.LastErrorMessage();
    port.Close();

    termios2 kernel{};
    ASSERT_EQ(ioctl(slave, TCGETS2, &kernel), 0);
    EXPECT_EQ(kernel.c_ospeed, 9600u);
}

// ---- write time-outs ----

// Every rate the serial settings dialog offers, over every frame length from
// the shortest frame to the longest.
class WriteTimeoutTable : public testing::TestWithParam<long> {};

TEST_P(WriteTimeoutTable, NeverBelowOneMillisecondPerByteNorTheWireTimeWithItsMargin)
{
    const long baud = GetParam();
    int previous = 0;
    for (std::size_t length = 6; length <= 255; ++length) {
        SCOPED_TRACE(std::to_string(length) + " bytes at " + std::to_string(baud));
        const int timeout = WriteTimeoutMs(length, baud);
        const long long wireUs = WireTimeUs(length, baud);
        // Ten bits a byte (start, eight data, stop), rounded up to the microsecond.
        EXPECT_EQ(wireUs, (static_cast<long long>(length) * 10000000 + baud - 1) / baud);
        EXPECT_GE(timeout, static_cast<int>(length));
        EXPECT_GT(static_cast<long long>(timeout) * 1000, wireUs);
        EXPECT_GE(static_cast<long long>(timeout) * 1000, wireUs * 3 / 2 + 20000);
        EXPECT_GE(timeout, previous);  // a longer frame never gets less time
        previous = timeout;
        // A faster line never gets more time than a slower one.
        EXPECT_LE(timeout, WriteTimeoutMs(length, 9600));
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, WriteTimeoutTable,
                         testing::Values(9600L, 14400L, 19200L, 38400L, 56000L, 57600L, 115200L, 128000L));

struct TimeoutCase {
    std::size_t length;
    long baud;
    int timeoutMs;
};

class WriteTimeoutValues : public testing::TestWithParam<TimeoutCase> {};

TEST_P(WriteTimeoutValues, AsComputed)
{
    const TimeoutCase& c = GetParam();
    EXPECT_EQ(WriteTimeoutMs(c.length, c.baud), c.timeoutMs) << c.length << " bytes at " << c.baud;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, WriteTimeoutValues,
    testing::Values(TimeoutCase{255, 9600, 419},   // 265.625 ms on the wire: 1 ms a byte would cut it
                    TimeoutCase{7, 9600, 31},      // 7.292 ms
                    TimeoutCase{6, 128000, 21},    // 0.469 ms: the fixed allowance
                    TimeoutCase{255, 115200, 255}, // 22.136 ms: one millisecond a byte is more
                    TimeoutCase{255, 14400, 286},  // 177.084 ms
                    TimeoutCase{255, 300, 12770},  // a rate typed by hand: 8.5 s on the wire
                    TimeoutCase{0, 9600, 1},       // nothing to write still waits a millisecond
                    TimeoutCase{255, 0, 255}));    // no usable rate: one millisecond a byte

TEST(WriteTimeout, OneMillisecondPerByteIsShorterThanTheWireAt9600)
{
    // Why the rate counts: each byte needs 1.04 ms at 9600 baud.
    for (std::size_t length = 6; length <= 255; ++length)
        EXPECT_LT(static_cast<long long>(length) * 1000, WireTimeUs(length, 9600)) << length;
}

TEST_F(PtyTest, WriteRunsUnderTheTimeOutGivenAndDrainReturnsAtOnce)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    EXPECT_EQ(port.AppliedWriteTimeoutMs(), 0);
    const Bytes frame(255, 0x55);
    ASSERT_EQ(port.Write(frame.data(), frame.size(), WriteTimeoutMs(frame.size(), 9600)), frame.size());
    EXPECT_EQ(port.AppliedWriteTimeoutMs(), 419);
    // A pseudo-terminal sends nothing down a line: with the frame still unread
    // by the other side, there is nothing to wait for, even with no time at all.
    EXPECT_TRUE(port.Drain(0)) << port.LastErrorMessage();
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(ReadMaster(frame.size()), frame);
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    EXPECT_EQ(port.AppliedWriteTimeoutMs(), 0) << "a new open starts afresh";
}

TEST_F(PtyTest, DrainOnAClosedOrHungUpPortFails)
{
    SerialPort port;
    EXPECT_FALSE(port.Drain(100));
    EXPECT_EQ(port.LastErrorCode(), EBADF);
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    HangUp();
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1, 2000), 0u);  // notices the hang-up
    EXPECT_FALSE(port.Drain(2000));
    EXPECT_EQ(port.LastErrorCode(), EIO);
}

// ---- open, close, exclusivity, failures ----

TEST_F(PtyTest, OpensClosesAndReopens)
{
    SerialPort port;
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Write(FRAME.data(), FRAME.size(), 100), FRAME.size());
    EXPECT_EQ(ReadMaster(FRAME.size()), FRAME);

    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Close();  // harmless when closed
    EXPECT_FALSE(port.IsOpen());

    ASSERT_TRUE(port.Open(path, 19200)) << port.LastErrorMessage();
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Write(FRAME.data(), FRAME.size(), 100), FRAME.size());
    EXPECT_EQ(ReadMaster(FRAME.size()), FRAME);
}

TEST_F(PtyTest, OpeningAnOpenPortClosesItFirst)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    // Still holding its own lock, a second open would find the port busy.
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    EXPECT_EQ(port.Write(FRAME.data(), FRAME.size(), 100), FRAME.size());
    EXPECT_EQ(ReadMaster(FRAME.size()), FRAME);
}

TEST_F(PtyTest, SecondOpenFailsWhileTheFirstHoldsThePort)
{
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(first.Open(path, 9600)) << first.LastErrorMessage();

    int exclusive = 0;
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    EXPECT_FALSE(second.Open(path, 9600));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.LastErrorCode(), EBUSY);
    EXPECT_EQ(second.LastErrorMessage(), std::strerror(EBUSY));

    // The refused open leaves the holder's exclusivity and line alone.
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    SerialPort third;
    EXPECT_FALSE(third.Open(path, 9600));
    EXPECT_EQ(first.Write(FRAME.data(), FRAME.size(), 100), FRAME.size());
    EXPECT_EQ(ReadMaster(FRAME.size()), FRAME);

    first.Close();
    // Released although the test still holds the slave open.
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(second.Open(path, 9600)) << second.LastErrorMessage();
    EXPECT_EQ(second.LastErrorCode(), 0);
    EXPECT_TRUE(second.LastErrorMessage().empty());
}

TEST(SerialPortOpen, MissingPathFailsWithTheSystemReason)
{
    SerialPort port;
    EXPECT_FALSE(port.Open("/nonexistent-rq/ttyRQ0", 9600));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastErrorCode(), ENOENT);
    EXPECT_EQ(port.LastErrorMessage(), "No such file or directory");
}

TEST(SerialPortOpen, PlainFileIsNoPort)
{
    char name[] = "/tmp/rq-not-a-tty-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    SerialPort port;
    EXPECT_FALSE(port.Open(name, 9600));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastErrorCode(), ENOTTY);
    EXPECT_FALSE(port.LastErrorMessage().empty());
    unlink(name);
}

class UnusableRateTest : public PtyTest, public testing::WithParamInterface<long> {};

TEST_P(UnusableRateTest, FailsAndLeavesThePortFree)
{
    SerialPort port;
    EXPECT_FALSE(port.Open(path, GetParam()));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastErrorCode(), EINVAL);
    EXPECT_NE(port.LastErrorMessage().find(std::to_string(GetParam())), std::string::npos)
        << port.LastErrorMessage();

    SerialPort other;
    EXPECT_TRUE(other.Open(path, 9600)) << other.LastErrorMessage();
}

INSTANTIATE_TEST_SUITE_P(Rates, UnusableRateTest, testing::Values(0L, -9600L, 5000000000L));

TEST(SerialPortClosed, ReadAndWriteOnAClosedPortDoNothing)
{
    SerialPort port;
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1, 10), 0u);
    EXPECT_EQ(port.Write(&byte, 1, 10), 0u);
    EXPECT_NE(port.LastErrorCode(), 0);
}

// ---- reading and writing ----

TEST_F(PtyTest, ReadTimesOutWithZero)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    std::uint8_t buffer[4];
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer, 50), 0u);
    // It did wait: a silent live port is not mistaken for a vanished one.
    EXPECT_GE(MsSince(start), 45);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.LastErrorCode(), 0);

    // Each 1 ms read waits its millisecond: the worker's reply wait is built
    // of them, and a read that returns at once means a vanished device.
    const auto polls = Clock::now();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(port.Read(buffer, sizeof buffer, 1), 0u);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - polls).count(), 20 * 1000);
}

TEST_F(PtyTest, ReadsWhatTheOtherSideWrites)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    WriteMaster({0x0F});
    std::uint8_t byte = 0;
    ASSERT_EQ(port.Read(&byte, 1, 2000), 1u);
    EXPECT_EQ(byte, 0x0F);

    // A read takes no more than asked; the rest waits for the next one.
    WriteMaster({0xF0, 0xF1, 0xF2});
    ASSERT_EQ(port.Read(&byte, 1, 2000), 1u);
    EXPECT_EQ(byte, 0xF0);
    EXPECT_EQ(ReadPort(port, 2), (Bytes{0xF1, 0xF2}));
}

TEST_F(PtyTest, WriteReachesTheOtherSide)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    const Bytes frame = {0xA1, 0x0B, 0xF4, 0x01, 0x65, 0xB8, 0x0B, 0x32, 0x00, 0xFB, 0x51};
    EXPECT_EQ(port.Write(frame.data(), frame.size(), static_cast<int>(frame.size())), frame.size());
    EXPECT_EQ(ReadMaster(frame.size()), frame);
}

TEST_F(PtyTest, WriteGivesUpAtItsTimeOutWhenNobodyReads)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    const Bytes lots(1 << 20, 0x55);
    const auto start = Clock::now();
    const std::size_t written = port.Write(lots.data(), lots.size(), 100);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_LT(MsSince(start), 3000);  // returned instead of blocking
}

TEST_F(PtyTest, BytesLeftFromAnEarlierSessionAreDiscardedOnOpen)
{
    WriteMaster({0x0F});  // a late reply to a transaction already closed
    ASSERT_TRUE(WaitForSlaveInput());
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1, 50), 0u);

    WriteMaster({0xF0});
    ASSERT_EQ(port.Read(&byte, 1, 2000), 1u);
    EXPECT_EQ(byte, 0xF0);
}

// ---- the other side going away ----

TEST_F(PtyTest, HangUpEndsAWaitingReadAtOnce)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();

    std::atomic<long long> readMs{-1};
    std::size_t got = 99;
    std::thread reader([&] {
        std::uint8_t byte;
        const auto start = Clock::now();
        got = port.Read(&byte, 1, 2000);
        readMs = MsSince(start);
    });
    // Whether the hang-up comes before or during the read, it must end it.
    HangUp();
    reader.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(readMs.load(), 400);
}

TEST_F(PtyTest, ReadsAndWritesAfterHangUpReturnAtOnce)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(path, 9600)) << port.LastErrorMessage();
    HangUp();

    std::uint8_t buffer[4];
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(port.Read(buffer, sizeof buffer, 2000), 0u);
    EXPECT_EQ(port.Write(FRAME.data(), FRAME.size(), 2000), 0u);
    EXPECT_LT(MsSince(start), 400);
    EXPECT_EQ(port.LastErrorCode(), EIO);

    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
