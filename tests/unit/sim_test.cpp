// The simulated controller, driven through the real serial layer the way one
// transaction does it: open, write a hand-written frame, read, close.

#include "line/serial_port.h"
#include "support/sim_controller.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using rq::platform::SerialPort;
using rq::test::SimController;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes FromHex(const std::string& text)
{
    Bytes bytes;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte) bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    return bytes;
}

// Reads until `count` bytes arrived or `timeoutMs` passed.
Bytes ReadReply(SerialPort& port, std::size_t count, int timeoutMs)
{
    Bytes got;
    const auto start = Clock::now();
    while (got.size() < count && MsSince(start) < timeoutMs) {
        std::uint8_t buffer[64];
        const std::size_t n = port.Read(buffer, std::min(sizeof buffer, count - got.size()), 20);
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// One transaction: open, write the frame, collect up to `replyBytes`, close.
Bytes Transact(const std::string& portPath, const std::string& frameHex, std::size_t replyBytes = 1,
               int timeoutMs = 2000)
{
    SerialPort port;
    EXPECT_TRUE(port.Open(portPath, 9600)) << portPath << ": " << port.LastErrorMessage();
    if (!port.IsOpen()) return {};
    const Bytes frame = FromHex(frameHex);
    EXPECT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
    Bytes reply = ReadReply(port, replyBytes, timeoutMs);
    port.Close();
    return reply;
}

// ---- the status of each kind of frame ----

struct StatusCase {
    const char* name;
    const char* frame;
    std::uint8_t status;
};

class SimStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(SimStatusTest, AnswersWithTheStatusAndRecordsTheFrame)
{
    SimController sim;
    EXPECT_EQ(Transact(sim.PortPath(), GetParam().frame), Bytes{GetParam().status});
    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{GetParam().frame});
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimStatusTest,
    testing::Values(
        StatusCase{"BrightnessNoAddress", "A1 07 F8 43 08 EB 51", 0x0F},
        StatusCase{"BrightnessToId1", "A1 08 F7 01 43 08 EC 51", 0x0F},
        StatusCase{"BlankingShortestFrame", "A1 06 F9 63 03 51", 0x0F},
        StatusCase{"TimedScroll", "A1 0B F4 01 65 B8 0B 32 00 FB 51", 0x0F},
        StatusCase{"LedParameters", "A1 0E F1 01 41 10 04 00 00 00 41 F0 27 51", 0x0F},
        StatusCase{"MessageUnicode", "A1 0D F2 01 02 61 00 62 00 63 00 C9 51", 0x0F},
        StatusCase{"FactoryDefaults", "A1 06 F9 9A 3A 51", 0x0F},
        StatusCase{"BadChecksum", "A1 07 F8 43 08 EC 51", 0xF0},
        StatusCase{"BadChecksumWithAddress", "A1 08 F7 01 43 08 ED 51", 0xF0},
        StatusCase{"BadInvertedLength", "A1 07 F7 43 08 EA 51", 0xF2},
        StatusCase{"BadEndByte", "A1 07 F8 43 08 EB 50", 0xF2},
        StatusCase{"ShorterThanAnnounced", "A1 09 F6 43 08 EB 51", 0xF2},
        StatusCase{"LengthBelowMinimum", "A1 05 FA 43 51", 0xF2},
        StatusCase{"NoStartByte", "55 07 F8 43 08 9F 51", 0xF2},
        StatusCase{"UnknownCode", "A1 06 F9 77 17 51", 0xF1},
        StatusCase{"UnknownCodeAfterAddress", "A1 07 F8 05 77 1C 51", 0xF1}),
    [](const testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

// ---- sessions and recording ----

TEST(SimController, AnswersSuccessiveSessionsAndRecordsInOrder)
{
    SimController sim;
    EXPECT_TRUE(sim.Running());
    const std::vector<std::string> frames = {"A1 07 F8 43 08 EB 51", "A1 08 F7 01 43 08 EC 51",
                                             "A1 06 F9 99 39 51"};
    for (const auto& frame : frames) EXPECT_EQ(Transact(sim.PortPath(), frame), Bytes{0x0F}) << frame;
    ASSERT_TRUE(sim.WaitForFrames(3));
    EXPECT_EQ(sim.RecordedFrames(), frames);
    EXPECT_TRUE(sim.Running());
}

TEST(SimController, SplitsFramesThatArriveTogether)
{
    SimController sim;
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EB 51 A1 07 F8 43 08 EC 51", 2), (Bytes{0x0F, 0xF0}));
    ASSERT_TRUE(sim.WaitForFrames(2));
    EXPECT_EQ(sim.RecordedFrames(), (std::vector<std::string>{"A1 07 F8 43 08 EB 51", "A1 07 F8 43 08 EC 51"}));
}

TEST(SimController, StopEndsTheSimulator)
{
    SimController sim;
    ASSERT_TRUE(sim.Running());
    sim.Stop();
    EXPECT_FALSE(sim.Running());
    sim.Stop();  // harmless twice
    EXPECT_FALSE(sim.Running());
}

TEST(SimController, LinkPointsAtTheTerminalAndIsRemovedOnExit)
{
    char directory[] = "/tmp/rq-sim-link-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const fs::path link = fs::path(directory) / "ttyRQ";
    {
        SimController sim({"--link", link.string()});
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link).string(), sim.PortPath());
        EXPECT_EQ(Transact(link.string(), "A1 07 F8 43 08 EB 51"), Bytes{0x0F});
        sim.Stop();
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
    fs::remove_all(directory);
}

// ---- misbehaviour on request ----

TEST(SimController, SilentAnswersNothingButRecords)
{
    SimController sim({"--silent"});
    SerialPort port;
    ASSERT_TRUE(port.Open(sim.PortPath(), 9600)) << port.LastErrorMessage();
    const Bytes frame = FromHex("A1 07 F8 43 08 EB 51");
    ASSERT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
    ASSERT_TRUE(sim.WaitForFrames(1));
    // Recorded, so a reply would already be on its way.
    std::uint8_t byte;
    EXPECT_EQ(port.Read(&byte, 1, 300), 0u);
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{"A1 07 F8 43 08 EB 51"});
}

TEST(SimController, StatusOptionOverridesTheJudgement)
{
    SimController sim({"--status", "F1"});
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EB 51"), Bytes{0xF1});
}

TEST(SimController, ReplyOptionSendsItsBytes)
{
    SimController sim({"--reply", "AA BB", "CC"});
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EB 51", 3), (Bytes{0xAA, 0xBB, 0xCC}));
}

TEST(SimController, DelayOptionAnswersLate)
{
    SimController sim({"--delay", "300"});
    const auto start = Clock::now();
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EB 51", 1, 5000), Bytes{0x0F});
    EXPECT_GE(MsSince(start), 250);
}

TEST(SimController, HangupBeforeEndsTheReadAtOnce)
{
    SimController sim({"--hangup-before"});
    SerialPort port;
    ASSERT_TRUE(port.Open(sim.PortPath(), 9600)) << port.LastErrorMessage();
    const Bytes frame = FromHex("A1 07 F8 43 08 EB 51");
    ASSERT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
    ASSERT_TRUE(sim.WaitForFrames(1));

    std::uint8_t byte;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(&byte, 1, 2000), 0u);
    EXPECT_EQ(port.Read(&byte, 1, 2000), 0u);
    EXPECT_LT(MsSince(start), 400);
    port.Close();
    EXPECT_TRUE(sim.WaitForExit());
}

TEST(SimController, HangupAfterAnswersThenHangsUp)
{
    SimController sim({"--hangup-after"});
    SerialPort port;
    ASSERT_TRUE(port.Open(sim.PortPath(), 9600)) << port.LastErrorMessage();
    const Bytes frame = FromHex("A1 07 F8 43 08 EB 51");
    ASSERT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
    EXPECT_EQ(ReadReply(port, 1, 2000), Bytes{0x0F});

    std::uint8_t byte;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(&byte, 1, 3000), 0u);
    EXPECT_LT(MsSince(start), 2500);  // ended by the hang-up, not the time-out
    port.Close();
    EXPECT_TRUE(sim.WaitForExit());
}

TEST(SimController, CountOptionExitsAfterThatManyFrames)
{
    SimController sim({"--count", "2"});
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EB 51"), Bytes{0x0F});
    EXPECT_TRUE(sim.Running());
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EC 51"), Bytes{0xF0});
    EXPECT_TRUE(sim.WaitForExit());
    EXPECT_EQ(sim.RecordedFrames().size(), 2u);
}

TEST(SimController, RefusesUnknownOptions)
{
    EXPECT_THROW(SimController({"--no-such-option"}), std::runtime_error);
    // A failing controller must be on the bus, and the list well formed.
    EXPECT_THROW(SimController({"--fail", "3:F0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--ids", "1-4", "--fail", "5:F0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--ids", "1-4", "--fail", "3"}), std::runtime_error);
    EXPECT_THROW(SimController({"--ids", "4-1"}), std::runtime_error);
    EXPECT_THROW(SimController({"--ids", "1,,2"}), std::runtime_error);
    EXPECT_THROW(SimController({"--ids", "256"}), std::runtime_error);
    EXPECT_THROW(SimController({"--paced", "0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--paced", "96x"}), std::runtime_error);
}

// A reply later than the client's wait stays on the line for whoever opens
// it next (the serial layer flushes it on open; a terminal-level open shows
// it is there): the simulator holds the terminal open and drops nothing.
TEST(SimController, LateReplyWaitsOnTheLineForTheNextOpen)
{
    SimController sim({"--delay", "600"});
    {
        SerialPort port;
        ASSERT_TRUE(port.Open(sim.PortPath(), 9600)) << port.LastErrorMessage();
        const Bytes frame = FromHex("A1 07 F8 43 08 EB 51");
        ASSERT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
        EXPECT_EQ(ReadReply(port, 1, 500), Bytes{});
    }
    const int fd = open(sim.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    pollfd entry{fd, POLLIN, 0};
    std::uint8_t byte = 0;
    const ssize_t n = poll(&entry, 1, 3000) == 1 ? read(fd, &byte, 1) : 0;
    close(fd);
    EXPECT_EQ(n, 1) << "no late reply within 3 s";
    EXPECT_EQ(byte, 0x0F);
}

// ---- bytes that take their time on the wire (--paced) ----

// The longest frame: a 249-byte text message without an address.
Bytes LongestMessage()
{
    Bytes frame = {0xA1, 0xFF, 0x00, 0x01};
    frame.insert(frame.end(), 249, 'a');
    frame.push_back(0xFA);  // the low byte of the sum of the bytes before it
    frame.push_back(0x51);
    return frame;
}

struct PacedCase {
    const char* name;
    std::vector<std::string> simArgs;
    long baud;          // the rate the client sets
    const char* frame;  // nullptr: the longest frame
    const char* reply;
    long long earliestMs;  // after the write, the whole reply is not there before
    long long latestMs;    // and is there by
};

class SimPacedTest : public testing::TestWithParam<PacedCase> {};

TEST_P(SimPacedTest, AnswersOnlyOnceTheBytesHaveCrossedTheLine)
{
    const PacedCase& c = GetParam();
    SimController sim(c.simArgs);
    SerialPort port;
    ASSERT_TRUE(port.Open(sim.PortPath(), c.baud)) << port.LastErrorMessage();
    const Bytes frame = c.frame ? FromHex(c.frame) : LongestMessage();
    const Bytes reply = FromHex(c.reply);
    const auto start = Clock::now();
    ASSERT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
    EXPECT_EQ(ReadReply(port, reply.size(), 3000), reply);
    const long long ms = MsSince(start);
    EXPECT_GE(ms, c.earliestMs);
    EXPECT_LE(ms, c.latestMs);
}

// A byte is 10 bits: 255 bytes take 265.6 ms at 9600 baud, 22.1 ms at 115200,
// 177.1 ms at 14400; 7 bytes take 233.3 ms at 300. A reply byte follows one
// byte time after the reply is due.
INSTANTIATE_TEST_SUITE_P(
    Pacing, SimPacedTest,
    testing::Values(
        PacedCase{"LongestFrameAt9600", {"--paced"}, 9600, nullptr, "0F", 266, 1000},
        PacedCase{"LongestFrameAt115200", {"--paced"}, 115200, nullptr, "0F", 22, 150},
        // A rate without a B constant, set as a number.
        PacedCase{"LongestFrameAt14400", {"--paced"}, 14400, nullptr, "0F", 177, 1000},
        PacedCase{"ForcedRateOverTheTerminals", {"--paced", "9600"}, 115200, nullptr, "0F", 266, 1000},
        PacedCase{"DelayCountsFromTheLastByte", {"--paced", "--delay", "300"}, 9600, nullptr, "0F", 566, 1500},
        // Spread over more than the frame gap, yet without a pause.
        PacedCase{"ShortFrameAt300", {"--paced"}, 300, "A1 07 F8 43 08 EB 51", "0F", 266, 1000},
        // Silence counts from the last byte's arrival, not from the write.
        PacedCase{"ShorterThanAnnouncedAt300", {"--paced"}, 300, "A1 09 F6 43 08 EB 51", "F2", 366, 1200},
        PacedCase{"ReplyBytesOneByteTimeApart", {"--paced", "--reply", "0F", "33", "55"}, 300,
                  "A1 07 F8 43 08 EB 51", "0F 33 55", 333, 1200}),
    [](const testing::TestParamInfo<PacedCase>& info) { return std::string(info.param.name); });

// ---- a bus of controllers (--ids) ----

// Black to ID 5, ID 9, ID 2 and ID 67, whose address equals the brightness
// command's code; black without an address; "Change ID" from 5 to 9.
const char* const kBlackTo5 = "A1 07 F8 05 63 08 51";
const char* const kBlackTo9 = "A1 07 F8 09 63 0C 51";
const char* const kBlackTo2 = "A1 07 F8 02 63 05 51";
const char* const kBlackTo67 = "A1 07 F8 43 63 46 51";
const char* const kBlackToAll = "A1 06 F9 63 03 51";
const char* const kChange5To9 = "A1 08 F7 05 21 09 CF 51";

// Whether a frame gets any answer; silence is judged once the frame is
// recorded, when a reply would already be on its way.
Bytes Answer(SimController& sim, const std::string& frameHex)
{
    const std::size_t before = sim.RecordedFrames().size();
    SerialPort port;
    EXPECT_TRUE(port.Open(sim.PortPath(), 9600)) << port.LastErrorMessage();
    const Bytes frame = FromHex(frameHex);
    EXPECT_EQ(port.Write(frame.data(), frame.size(), 100), frame.size());
    EXPECT_TRUE(sim.WaitForFrames(before + 1));
    Bytes reply = ReadReply(port, 1, 300);
    port.Close();
    return reply;
}

TEST(SimBus, AnswersItsIdsAndFramesWithoutAddressOnly)
{
    SimController sim({"--ids", "2,5-6,67"});
    EXPECT_EQ(Answer(sim, kBlackTo5), Bytes{0x0F});
    EXPECT_EQ(Answer(sim, kBlackTo2), Bytes{0x0F});
    EXPECT_EQ(Answer(sim, kBlackTo67), Bytes{0x0F});
    EXPECT_EQ(Answer(sim, kBlackToAll), Bytes{0x0F});
    EXPECT_EQ(Answer(sim, kBlackTo9), Bytes{});  // absent
    // A damaged frame is answered with its fault, whatever its address.
    EXPECT_EQ(Answer(sim, "A1 07 F8 09 63 0D 51"), Bytes{0xF0});
    EXPECT_EQ(sim.RecordedFrames().size(), 6u);
}

TEST(SimBus, FailingControllerAnswersItsStatus)
{
    SimController sim({"--ids", "1-9", "--fail", "5:F1", "--fail", "9:F0"});
    EXPECT_EQ(Answer(sim, kBlackTo5), Bytes{0xF1});
    EXPECT_EQ(Answer(sim, kBlackTo9), Bytes{0xF0});
    EXPECT_EQ(Answer(sim, kBlackTo2), Bytes{0x0F});
}

TEST(SimBus, ChangeIdMovesTheController)
{
    SimController sim({"--ids", "5"});
    EXPECT_EQ(Answer(sim, kBlackTo9), Bytes{});
    EXPECT_EQ(Answer(sim, kChange5To9), Bytes{0x0F});
    EXPECT_EQ(Answer(sim, kBlackTo5), Bytes{});
    EXPECT_EQ(Answer(sim, kBlackTo9), Bytes{0x0F});
}

}  // namespace
