// The Windows serial layer (serial_port_win32.cpp) under Wine, against the
// simulated controller on pseudo-terminals that tests/wine/run-serial-tests.sh
// maps to COM ports. The controller checks every frame with code of its own
// and answers with a status byte, so a byte lost or changed on the way shows
// up as a wrong status.
//
// The runner names the ports in the environment:
//   RQ_COM_ANSWERING  answers every frame              (also RQ_SIM_RECORD: its record file)
//   RQ_COM_SILENT     never answers
//   RQ_COM_LATE       answers 300 ms after the frame
//   RQ_COM_HANGUP     answers, then hangs up
//   RQ_COM_HIGH       answers; a number above 9, which opens only as \\.\COMnn

#include "line/line_timing.h"
#include "line/serial_port.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using rq::platform::SerialPort;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr long kBaud = 9600;
constexpr std::uint8_t kSuccess = 0x0F;
// The simulated controller answers 300 ms late on the late port.
constexpr int kLateReplyMs = 300;

// The brightness command to controller 1, level 8: start, length, inverted
// length, address, code 0x43, level, checksum (sum of the bytes before it),
// end.
const Bytes kBrightnessFrame = {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xEC, 0x51};

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Port(const char* variable)
{
    const std::string name = Env(variable);
    if (name.empty()) ADD_FAILURE() << variable << " is not set: run tests/wine/run-serial-tests.sh";
    return name;
}

long ElapsedMs(Clock::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%.2X", bytes[i]);
        if (i) text += ' ';
        text += digits;
    }
    return text;
}

std::string LastLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) last = line;
    }
    return last;
}

// Reads one byte as the transaction worker does: many reads of 1 ms each.
// Returns the number of reads it took, or -1 when none of them got a byte.
int PollForByte(SerialPort& port, std::uint8_t& byte, int polls)
{
    for (int i = 0; i < polls; ++i) {
        if (port.Read(&byte, 1, 1) == 1) return i + 1;
    }
    return -1;
}

// ---- one frame, one status: the bytes reach the controller unchanged ----

struct FrameCase {
    const char* name;
    Bytes frame;
    std::uint8_t status;
};

class SerialPortFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(SerialPortFrames, ControllerAnswersTheStatusTheFrameDeserves)
{
    const FrameCase& c = GetParam();
    SerialPort port;
    ASSERT_TRUE(port.Open(Port("RQ_COM_ANSWERING"), kBaud)) << port.LastErrorMessage();
    EXPECT_TRUE(port.IsOpen());
    ASSERT_EQ(port.Write(c.frame.data(), c.frame.size(), static_cast<int>(c.frame.size())), c.frame.size())
        << port.LastErrorMessage();
    std::uint8_t reply = 0;
    ASSERT_EQ(port.Read(&reply, 1, 2000), 1u) << port.LastErrorMessage();
    EXPECT_EQ(reply, c.status);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    // The controller writes down what it received before it answers.
    const std::string record = Env("RQ_SIM_RECORD");
    ASSERT_FALSE(record.empty()) << "RQ_SIM_RECORD is not set";
    EXPECT_EQ(LastLine(record), Hex(c.frame));
}

INSTANTIATE_TEST_SUITE_P(
    Wire, SerialPortFrames,
    testing::Values(FrameCase{"Brightness", kBrightnessFrame, kSuccess},
                    // Every byte value passes untouched, including the ones a
                    // terminal in cooked mode would act on (XON, XOFF, CR, LF,
                    // Ctrl-C, DEL).
                    FrameCase{"ControlBytesInPayload",
                              {0xA1, 0x0E, 0xF1, 0x01, 0x99, 0x11, 0x13, 0x0D, 0x0A, 0x03, 0x7F, 0x00, 0xF7, 0x51},
                              kSuccess},
                    FrameCase{"BadChecksum", {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xED, 0x51}, 0xF0},
                    FrameCase{"UnknownCode", {0xA1, 0x07, 0xF8, 0x77, 0x77, 0x8E, 0x51}, 0xF1},
                    FrameCase{"BadEndByte", {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xEC, 0x52}, 0xF2}),
    [](const testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

// ---- time-outs ----

TEST(SerialPortWin32, ReadOnASilentPortWaitsItsTimeOutAndReturnsNothing)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(Port("RQ_COM_SILENT"), kBaud)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(kBrightnessFrame.data(), kBrightnessFrame.size(), 8), kBrightnessFrame.size());
    std::uint8_t reply = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(&reply, 1, 250), 0u);
    // Returning early would shrink the worker's reply wait to nothing.
    EXPECT_GE(ElapsedMs(start), 200);
    EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorMessage();
    EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortWin32, ReadReturnsAsSoonAsTheReplyArrives)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(Port("RQ_COM_LATE"), kBaud)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(kBrightnessFrame.data(), kBrightnessFrame.size(), 8), kBrightnessFrame.size());
    std::uint8_t reply = 0;
    const auto start = Clock::now();
    ASSERT_EQ(port.Read(&reply, 1, 20000), 1u) << port.LastErrorMessage();
    EXPECT_EQ(reply, kSuccess);
    // Far below the 20 s time-out: the read ends with the byte, not the clock.
    EXPECT_LT(ElapsedMs(start), 10000);
}

TEST(SerialPortWin32, OneMillisecondPollsLikeTheWorkersCatchALateReply)
{
    // The worker reads with 500 polls of 1 ms; a reply 300 ms late must still
    // be caught, so a 1 ms read may not return before its time.
    SerialPort port;
    ASSERT_TRUE(port.Open(Port("RQ_COM_LATE"), kBaud)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(kBrightnessFrame.data(), kBrightnessFrame.size(), 8), kBrightnessFrame.size());
    std::uint8_t reply = 0;
    const auto start = Clock::now();
    const int polls = PollForByte(port, reply, 500);
    ASSERT_GT(polls, 0) << "no reply within 500 polls, which took " << ElapsedMs(start) << " ms";
    EXPECT_EQ(reply, kSuccess);
    EXPECT_GE(ElapsedMs(start), kLateReplyMs - 50);
}

TEST(SerialPortWin32, ReadsAfterTheControllerHungUpReturnNothingAndDoNotHang)
{
    SerialPort port;
    ASSERT_TRUE(port.Open(Port("RQ_COM_HANGUP"), kBaud)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(kBrightnessFrame.data(), kBrightnessFrame.size(), 8), kBrightnessFrame.size());
    std::uint8_t reply = 0;
    ASSERT_EQ(port.Read(&reply, 1, 5000), 1u) << port.LastErrorMessage();
    EXPECT_EQ(reply, kSuccess);
    // The controller is gone now: nothing more comes, each read ends within
    // its time-out (Wine reports a vanished pseudo-terminal as a silent line,
    // Windows a vanished adapter as an error), and closing still works.
    const auto start = Clock::now();
    std::size_t more = 0;
    for (int i = 0; i < 3; ++i) more += port.Read(&reply, 1, 300);
    EXPECT_EQ(more, 0u);
    EXPECT_LT(ElapsedMs(start), 30000);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

// The longest frame the length byte allows: the brightness code, filler, the
// checksum and the end byte. The controller answers 0F only if all 255 bytes
// arrived unchanged.
Bytes LongestFrame()
{
    Bytes frame = {0xA1, 0xFF, 0x00, 0x43};
    frame.resize(253, 0x20);
    std::uint8_t sum = 0;
    for (std::uint8_t byte : frame) sum = static_cast<std::uint8_t>(sum + byte);
    frame.push_back(sum);
    frame.push_back(0x51);
    return frame;
}

TEST(SerialPortWin32, LongestFrameAt9600GetsItsWireTimeAsWriteTimeOut)
{
    const Bytes frame = LongestFrame();
    ASSERT_EQ(frame.size(), 255u);
    // 266 ms on the wire at 9600 baud: one millisecond a byte would cut it.
    const int timeout = rq::platform::WriteTimeoutMs(frame.size(), kBaud);
    ASSERT_EQ(timeout, 419);
    SerialPort port;
    ASSERT_TRUE(port.Open(Port("RQ_COM_ANSWERING"), kBaud)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(frame.data(), frame.size(), timeout), frame.size()) << port.LastErrorMessage();
    // What the driver holds as WriteTotalTimeoutConstant, read back.
    EXPECT_EQ(port.AppliedWriteTimeoutMs(), 419);
    EXPECT_GT(port.AppliedWriteTimeoutMs() * 1000LL, rq::platform::WireTimeUs(frame.size(), kBaud));
    // The driver answers for its output queue (ClearCommError); behind this
    // COM name is a pseudo-terminal, whose queue is empty at once.
    EXPECT_TRUE(port.Drain(0)) << port.LastErrorMessage();
    EXPECT_EQ(port.LastErrorCode(), 0);
    std::uint8_t reply = 0;
    ASSERT_EQ(port.Read(&reply, 1, 2000), 1u) << port.LastErrorMessage();
    EXPECT_EQ(reply, kSuccess);
    const std::string record = Env("RQ_SIM_RECORD");
    ASSERT_FALSE(record.empty()) << "RQ_SIM_RECORD is not set";
    EXPECT_EQ(LastLine(record), Hex(frame));
}

// ---- names, failures, exclusive use ----

TEST(SerialPortWin32, PortsAboveNineOpenByTheirPlainName)
{
    SerialPort port;
    const std::string name = Port("RQ_COM_HIGH");
    ASSERT_GE(name.size(), 5u) << "expected a name like COM12, got " << name;
    ASSERT_TRUE(port.Open(name, 115200)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(kBrightnessFrame.data(), kBrightnessFrame.size(), 8), kBrightnessFrame.size());
    std::uint8_t reply = 0;
    ASSERT_EQ(port.Read(&reply, 1, 2000), 1u) << port.LastErrorMessage();
    EXPECT_EQ(reply, kSuccess);
}

TEST(SerialPortWin32, OpeningAMissingPortFailsWithTheSystemsReason)
{
    SerialPort port;
    EXPECT_FALSE(port.Open("RQNOSUCHPORT", kBaud));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastErrorCode(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(port.LastErrorMessage().empty());
}

TEST(SerialPortWin32, ZeroBaudIsRefusedBeforeThePortIsTouched)
{
    SerialPort port;
    EXPECT_FALSE(port.Open(Port("RQ_COM_ANSWERING"), 0));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastErrorCode(), ERROR_INVALID_PARAMETER);
    // The port was never held: it opens at once afterwards.
    SerialPort other;
    EXPECT_TRUE(other.Open(Port("RQ_COM_ANSWERING"), kBaud)) << other.LastErrorMessage();
}

bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(SerialPortWin32, APortHeldByAnotherOpenIsRefusedUntilClosed)
{
    // Windows never shares a COM port; Wine lets a second handle open it.
    if (UnderWine()) GTEST_SKIP() << "Wine does not refuse a second open of a COM port";
    const std::string name = Port("RQ_COM_ANSWERING");
    SerialPort first;
    ASSERT_TRUE(first.Open(name, kBaud)) << first.LastErrorMessage();
    SerialPort second;
    EXPECT_FALSE(second.Open(name, kBaud));
    EXPECT_EQ(second.LastErrorCode(), ERROR_ACCESS_DENIED) << second.LastErrorMessage();
    first.Close();
    EXPECT_TRUE(second.Open(name, kBaud)) << second.LastErrorMessage();
}

TEST(SerialPortWin32, ReopeningClosesTheEarlierHandleFirst)
{
    const std::string name = Port("RQ_COM_ANSWERING");
    SerialPort port;
    ASSERT_TRUE(port.Open(name, kBaud)) << port.LastErrorMessage();
    // With the first handle still open this would be refused as in use.
    ASSERT_TRUE(port.Open(name, 19200)) << port.LastErrorMessage();
    ASSERT_EQ(port.Write(kBrightnessFrame.data(), kBrightnessFrame.size(), 8), kBrightnessFrame.size());
    std::uint8_t reply = 0;
    ASSERT_EQ(port.Read(&reply, 1, 2000), 1u);
    EXPECT_EQ(reply, kSuccess);
}

TEST(SerialPortWin32, WriteAndReadOnAClosedPortDoNothingAndSayWhy)
{
    SerialPort port;
    std::uint8_t byte = 0x55;
    EXPECT_EQ(port.Write(&byte, 1, 10), 0u);
    EXPECT_EQ(port.LastErrorCode(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(port.Read(&byte, 1, 10), 0u);
    EXPECT_EQ(port.LastErrorCode(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(port.Drain(10));
    EXPECT_EQ(port.LastErrorCode(), ERROR_INVALID_HANDLE);
    port.Close();  // harmless when closed
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
