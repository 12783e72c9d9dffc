// The simulated controller, driven through the real serial layer the way one
// transaction does it: open, write a hand-written frame, read, close. Its
// signs are observed as a user sees them: the pixels of its snapshots and the
// lines of its state file, after commands sent through rq-m4x-send.

#include "line/serial_port.h"
#include "line/tcp_socket.h"
#include "support/sim_controller.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <nlohmann/json.hpp>

extern char** environ;

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
    std::vector<std::string> simArgs = {};
};

class SimStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(SimStatusTest, AnswersWithTheStatusAndRecordsTheFrame)
{
    char state[] = "/tmp/rq-sim-state-XXXXXX";
    close(mkstemp(state));
    std::vector<std::string> args = {"--state", state};
    args.insert(args.end(), GetParam().simArgs.begin(), GetParam().simArgs.end());
    SimController sim(args);
    EXPECT_EQ(Transact(sim.PortPath(), GetParam().frame), Bytes{GetParam().status});
    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{GetParam().frame});
    // A frame refused changes nothing: the sign is as it left the factory.
    std::ifstream in(state);
    std::string line;
    std::getline(in, line);
    fs::remove(state);
    const nlohmann::json sign = nlohmann::json::parse(line);
    EXPECT_EQ(sign["status"], GetParam().status);
    const nlohmann::json factory = {
        {"width", 128}, {"brightness", 15}, {"blank", false}, {"message", ""}, {"default_message", ""}};
    if (GetParam().status != 0x0F) {
        for (const auto& [key, value] : factory.items()) EXPECT_EQ(sign[key], value) << key;
    }
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
        StatusCase{"UnknownCodeAfterAddress", "A1 07 F8 05 77 1C 51", 0xF1},
        // A payload of another length than its command's: brightness without
        // its level, "Defult Set" with a byte, "Black" with two, "LED Set" with 2 of 7.
        StatusCase{"BrightnessWithoutLevel", "A1 06 F9 43 E3 51", 0xF2},
        StatusCase{"BrightnessWithoutLevelOff", "A1 06 F9 43 E3 51", 0xF2, {"--address", "off"}},
        StatusCase{"BrightnessWithoutLevelOn", "A1 07 F8 05 43 E8 51", 0xF2, {"--address", "on"}},
        StatusCase{"FactoryDefaultsWithAByte", "A1 07 F8 9A 00 3A 51", 0xF2},
        StatusCase{"BlackWithTwoBytes", "A1 08 F7 63 00 00 03 51", 0xF2, {"--address", "off"}},
        StatusCase{"LedParametersTwoOfSeven", "A1 09 F6 41 10 04 F5 51", 0xF2},
        StatusCase{"LedParametersTwoOfSevenOn", "A1 0A F5 01 41 10 04 F6 51", 0xF2, {"--address", "on"}},
        // Told how frames are addressed, the controller reads them so.
        StatusCase{"ShortestFrameHasNoRoomForAnAddress", "A1 06 F9 63 03 51", 0xF2, {"--address", "on"}},
        StatusCase{"AddressedBrightnessOn", "A1 08 F7 01 43 08 EC 51", 0x0F, {"--address", "on"}},
        StatusCase{"BrightnessOff", "A1 07 F8 43 08 EB 51", 0x0F, {"--address", "off"}},
        StatusCase{"UnknownCodeOff", "A1 07 F8 05 43 E8 51", 0xF1, {"--address", "off"}}),
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

// A display that names no server: said, and served without the window; the
// link goes on exit.
TEST(SimController, ShowWithoutAServerServesWithoutTheWindow)
{
    char directory[] = "/tmp/rq-sim-nodisplay-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const fs::path link = fs::path(directory) / "ttyRQ";
    const std::string saved = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", (std::string(directory) + "/no-server:0").c_str(), 1);
    {
        SimController sim({"--show", "--link", link.string()});
        setenv("DISPLAY", saved.c_str(), 1);
        EXPECT_EQ(Transact(link.string(), "A1 07 F8 43 08 EB 51"), Bytes{0x0F});
        EXPECT_TRUE(sim.Running());
        sim.Stop();
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
    if (saved.empty()) unsetenv("DISPLAY");
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
    EXPECT_THROW(SimController({"--delay", "2:10"}), std::runtime_error);
    EXPECT_THROW(SimController({"--ids", "1", "--delay", "2:10"}), std::runtime_error);
    EXPECT_THROW(SimController({"--address", "yes"}), std::runtime_error);
    EXPECT_THROW(SimController({"--short-connection"}), std::runtime_error);
    EXPECT_THROW(SimController({"--baud", "0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--paced", "0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--paced", "96x"}), std::runtime_error);
    EXPECT_THROW(SimController({"--listen", "tcp://localhost:0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--listen", "tcp://127.0.0.1:65536"}), std::runtime_error);
    EXPECT_THROW(SimController({"--listen", "tcp://127.0.0.1.1:0"}), std::runtime_error);
    EXPECT_THROW(SimController({"--listen", "tcp://127.0.0.1:0", "--link", "/tmp/rq-never"}), std::runtime_error);
    // A TCP line has no rate that the client set.
    EXPECT_THROW(SimController({"--listen", "tcp://127.0.0.1:0", "--paced"}), std::runtime_error);
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
        PacedCase{"ReadAtItsOwnRate", {"--baud", "19200"}, 19200, "A1 07 F8 43 08 EB 51", "0F", 3, 1000},
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

// One late sign on a bus: --delay ID:MS beside --delay MS for the others.
TEST(SimBus, DelayForOneIdAnswersThatIdLate)
{
    SimController sim({"--ids", "1-3", "--delay", "2:400", "--delay", "3:0", "--delay", "100"});
    for (const auto& [frame, earliest, latest] : {std::tuple{kBlackToAll, 100, 350}, std::tuple{kBlackTo2, 400, 3000},
                                                  std::tuple{"A1 07 F8 03 63 06 51", 0, 350}}) {
        const auto start = Clock::now();
        EXPECT_EQ(Transact(sim.PortPath(), frame, 1, 5000), Bytes{0x0F}) << frame;
        EXPECT_GE(MsSince(start), earliest) << frame;
        EXPECT_LT(MsSince(start), latest) << frame;
    }
}

TEST(SimBus, ChangeIdMovesTheController)
{
    SimController sim({"--ids", "5"});
    EXPECT_EQ(Answer(sim, kBlackTo9), Bytes{});
    EXPECT_EQ(Answer(sim, kChange5To9), Bytes{0x0F});
    EXPECT_EQ(Answer(sim, kBlackTo5), Bytes{});
    EXPECT_EQ(Answer(sim, kBlackTo9), Bytes{0x0F});
}

// ---- what the signs show (--state, --snapshot) ----

// A PNG read back: 8-bit RGB or RGBA, without interlace.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    // Amber well above a dark LED's glow.
    bool Lit(int x, int y) const
    {
        const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return p[0] > 56 && p[1] > 36;
    }
};

std::uint32_t BigEndian(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

bool ReadPng(const std::string& path, Picture& picture)
{
    std::ifstream in(path, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    if (file.size() < 8 || file.compare(1, 3, "PNG") != 0) return false;
    std::string packed;
    int channels = 0;
    for (std::size_t pos = 8; pos + 12 <= file.size();) {
        const std::uint32_t length = BigEndian(bytes + pos);
        const std::string type = file.substr(pos + 4, 4);
        const std::uint8_t* data = bytes + pos + 8;
        if (pos + 12 + length > file.size()) return false;
        if (type == "IHDR") {
            picture.width = static_cast<int>(BigEndian(data));
            picture.height = static_cast<int>(BigEndian(data + 4));
            if (data[8] != 8 || data[12] != 0) return false;
            channels = data[9] == 2 ? 3 : data[9] == 6 ? 4 : 0;
        } else if (type == "IDAT") {
            packed.append(reinterpret_cast<const char*>(data), length);
        }
        pos += 12 + length;
    }
    if (channels == 0) return false;
    const std::size_t stride = static_cast<std::size_t>(picture.width) * channels;
    std::vector<std::uint8_t> raw((stride + 1) * picture.height);
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK ||
        rawSize != raw.size())
        return false;
    std::vector<std::uint8_t> rows(stride * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t filter = raw[y * (stride + 1)];
        const std::uint8_t* src = &raw[y * (stride + 1) + 1];
        std::uint8_t* row = &rows[y * stride];
        const std::uint8_t* up = y ? row - stride : nullptr;
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= static_cast<std::size_t>(channels) ? row[i - channels] : 0;
            const int b = up ? up[i] : 0;
            const int c = up && i >= static_cast<std::size_t>(channels) ? up[i - channels] : 0;
            int predicted = 0;
            if (filter == 1) predicted = a;
            else if (filter == 2) predicted = b;
            else if (filter == 3) predicted = (a + b) / 2;
            else if (filter == 4) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            row[i] = static_cast<std::uint8_t>(src[i] + predicted);
        }
    }
    picture.rgb.clear();
    for (std::size_t i = 0; i < rows.size(); i += channels) picture.rgb.insert(picture.rgb.end(), &rows[i], &rows[i] + 3);
    return true;
}

// Runs rq-m4x-send (or `program`) with `args` and returns its exit status;
// its output goes nowhere, its standard error to `errors` when given. A run
// that outlives a generous bound fails the test.
int RunSend(std::vector<std::string> args, const char* program = RQ_SEND_EXECUTABLE, std::string* errors = nullptr)
{
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    char errorPath[] = "/tmp/rq-sim-stderr-XXXXXX";
    if (errors) close(mkstemp(errorPath));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (errors) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath, O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << RQ_SEND_EXECUTABLE;
        return -1;
    }
    const auto start = Clock::now();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (MsSince(start) > 30000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "rq-m4x-send did not finish";
            return -1;
        }
        poll(nullptr, 0, 5);
    }
    if (errors) {
        std::ifstream in(errorPath);
        *errors = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        fs::remove(errorPath);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A bad option or value is named on one line, exit status 2.
TEST(SimController, NamesTheBadOptionOrValue)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--ids", "1-300"}, "--ids 1-300: not a list of IDs 0..255 such as 1-32,40"},
        {{"--fail", "3:F0"}, "--fail 3:... needs --ids"},
        {{"--ids", "1-2", "--delay", "5:100"}, "--delay 5:...: ID 5 is not on the bus (--ids)"},
        {{"--listen", "tcp://localhost:0"}, "--listen tcp://localhost:0: the host is not an IPv4 address such as 127.0.0.1"},
        {{"--address", "yes"}, "--address yes: not on or off"},
        {{"--count"}, "--count needs a value: --count N"}};
    for (const auto& [args, text] : cases) {
        std::string errors;
        EXPECT_EQ(RunSend(args, RQ_SIM_EXECUTABLE, &errors), 2) << text;
        EXPECT_EQ(errors, "rq-m4x-sim: " + text + " (see --help)\n");
    }
}

// A simulator whose signs write their state and snapshots into a folder of
// the test's own; commands go through rq-m4x-send (to ID 5 on a bus of one
// with `bus`, else to the lone sign) or as hand-written frames.
class Signs {
public:
    explicit Signs(bool bus = false, std::vector<std::string> simOptions = {}) : folder(MakeFolder()), onBus(bus)
    {
        std::vector<std::string> args = {"--state", (folder / "state.jsonl").string(), "--snapshot", folder.string()};
        if (bus) args.insert(args.end(), {"--ids", "5"});
        args.insert(args.end(), simOptions.begin(), simOptions.end());
        sim = std::make_unique<SimController>(args);
    }
    ~Signs()
    {
        sim.reset();
        fs::remove_all(folder);
    }

    void Send(std::vector<std::string> command)
    {
        std::vector<std::string> args = {"--port", sim->PortPath(), "--quiet"};
        if (onBus) args.insert(args.end(), {"--id", "5"});
        args.insert(args.end(), sendOptions.begin(), sendOptions.end());
        args.insert(args.end(), command.begin(), command.end());
        ASSERT_EQ(RunSend(args), 0) << "rq-m4x-send " << ::testing::PrintToString(command);
        ++frames;
    }
    void SendFrame(const std::string& hex)
    {
        ASSERT_EQ(Transact(sim->PortPath(), hex), Bytes{0x0F}) << hex;
        ++frames;
    }

    // The panel after the last frame; the snapshot is written after the answer.
    Picture Snapshot() const
    {
        Picture picture;
        const fs::path path = folder / ((onBus ? "sign-5-" : "sign-") + std::to_string(frames) + ".png");
        const auto start = Clock::now();
        while (!fs::exists(path) && MsSince(start) < 5000) poll(nullptr, 0, 5);
        EXPECT_TRUE(ReadPng(path.string(), picture)) << path;
        return picture;
    }

    std::vector<std::string> sendOptions;  // rq-m4x-send's, before the command

    std::vector<nlohmann::json> States() const
    {
        std::vector<nlohmann::json> states;
        std::ifstream in(folder / "state.jsonl");
        std::string line;
        while (std::getline(in, line)) states.push_back(nlohmann::json::parse(line));
        return states;
    }

private:
    static fs::path MakeFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "rq-signs-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return pattern;
    }

    fs::path folder;
    bool onBus;
    std::unique_ptr<SimController> sim;
    long frames = 0;
};

// The columns of the picture with a lit LED, leftmost and rightmost; -1 when none.
std::pair<int, int> LitColumns(const Picture& picture)
{
    int first = -1, last = -1;
    for (int x = 0; x < picture.width; ++x)
        for (int y = 0; y < picture.height; ++y)
            if (picture.Lit(x, y)) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return {first, last};
}

int BrightestRed(const Picture& picture)
{
    int red = 0;
    for (std::size_t i = 0; i < picture.rgb.size(); i += 3) red = std::max<int>(red, picture.rgb[i]);
    return red;
}

using Commands = std::vector<std::vector<std::string>>;

struct PictureCase {
    const char* name;
    Commands commands;
    // Checks the picture after the last command; a panel 128 x 32 dots is 640 x 160 pixels.
    std::function<void(const Picture&)> check;
};

class SignPictureTest : public testing::TestWithParam<PictureCase> {};

TEST_P(SignPictureTest, ShowsWhatTheCommandsSet)
{
    Signs signs;
    for (const auto& command : GetParam().commands) ASSERT_NO_FATAL_FAILURE(signs.Send(command));
    const Picture picture = signs.Snapshot();
    ASSERT_GT(picture.width, 0);
    GetParam().check(picture);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, SignPictureTest,
    testing::Values(
        PictureCase{"BlackLightsNothing",
                    {{"led", "128", "32", "P10", "0", "3"}, {"message", "--unicode", "HELLO"}, {"black"}},
                    [](const Picture& p) { EXPECT_EQ(LitColumns(p).first, -1); }},
        PictureCase{"MessageLightsBeforeBlack",
                    {{"led", "128", "32", "P10", "0", "3"}, {"black"}, {"message", "--unicode", "HELLO"}},
                    [](const Picture& p) { EXPECT_NE(LitColumns(p).first, -1); }},
        PictureCase{"LeftOnlyAtTheLeftEdge",
                    {{"led", "128", "32", "P10", "0", "3"}, {"align", "left"}, {"message", "AB"}},
                    [](const Picture& p) {
                        const auto [first, last] = LitColumns(p);
                        EXPECT_GE(first, 0);
                        EXPECT_LT(first, 10);
                        EXPECT_LT(last, p.width / 4);
                    }},
        PictureCase{"RightOnlyAtTheRightEdge",
                    {{"led", "128", "32", "P10", "0", "3"}, {"align", "right"}, {"message", "AB"}},
                    [](const Picture& p) {
                        const auto [first, last] = LitColumns(p);
                        EXPECT_GT(first, p.width * 3 / 4);
                        EXPECT_GT(last, p.width - 10);
                    }},
        // Still coming in from the right edge: drawn with its start at the left edge.
        PictureCase{"ScrollingTextFromTheLeftEdge",
                    {{"led", "64", "16", "P10", "0", "0"}, {"message", "a message wider than its panel"}},
                    [](const Picture& p) {
                        const auto [first, last] = LitColumns(p);
                        EXPECT_GE(first, 0);
                        EXPECT_LT(first, 2 * 5);
                        EXPECT_GT(last, p.width - 10);
                    }},
        PictureCase{"PanelSizeInDots",
                    {{"led", "64", "16", "P10", "0", "3"}},
                    [](const Picture& p) {
                        EXPECT_EQ(p.width, 64 * 5);
                        EXPECT_EQ(p.height, 16 * 5);
                    }}),
    [](const testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

TEST(SignPicture, BrightnessOneIsDimmerThanFifteen)
{
    Signs signs;
    signs.Send({"message", "AB"});
    signs.Send({"bright", "1"});
    const int dim = BrightestRed(signs.Snapshot());
    signs.Send({"bright", "15"});
    const int bright = BrightestRed(signs.Snapshot());
    EXPECT_LT(dim, bright);
    signs.Send({"bright", "auto"});
    const int automatic = BrightestRed(signs.Snapshot());
    EXPECT_LT(dim, automatic);
    EXPECT_LT(automatic, bright);
}

// 中文 in GBK, to the lone sign: two different glyphs, both inside a 64 x 16 panel.
TEST(SignPicture, ChineseMessageInGbkLightsItsPanelOnly)
{
    Signs signs;
    signs.Send({"led", "64", "16", "P10", "0", "3"});
    signs.SendFrame("A1 0A F5 01 D6 D0 CE C4 D9 51");
    EXPECT_EQ(signs.States().back()["message"], "\u4E2D\u6587");
    // A lone 0x80 is no character, as the sending side holds (code page 936
    // would read it as the euro sign): the Windows simulator agrees.
    signs.SendFrame("A1 0A F5 01 41 80 D6 D0 08 51");
    EXPECT_EQ(signs.States().back()["message"], "A\uFFFD\u4E2D");
    const Picture p = signs.Snapshot();
    ASSERT_EQ(p.width, 64 * 5);
    ASSERT_EQ(p.height, 16 * 5);
    // Centred: 32 dots of text from dot 16 to dot 47.
    const auto [first, last] = LitColumns(p);
    EXPECT_GE(first, 16 * 5);
    EXPECT_LT(last, 48 * 5);
    std::vector<bool> left, right;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < 16 * 5; ++x) {
            left.push_back(p.Lit(16 * 5 + x, y));
            right.push_back(p.Lit(32 * 5 + x, y));
        }
    EXPECT_NE(std::count(left.begin(), left.end(), true), 0);
    EXPECT_NE(left, right) << "both characters drawn alike (a missing glyph?)";
}

// Sends the same brightness again and again until `done` holds for the new
// state line or picture, at most `limitMs`.
bool SendUntil(Signs& signs, const std::function<bool()>& done, int limitMs = 8000)
{
    const auto start = Clock::now();
    while (MsSince(start) < limitMs) {
        signs.Send({"bright", "15"});
        if (done()) return true;
    }
    return false;
}

TEST(SignPicture, WiderThanThePanelScrolls)
{
    Signs signs;
    signs.Send({"led", "64", "16", "P10", "0", "15"});
    signs.Send({"message", "a message wider than its panel"});
    const Picture first = signs.Snapshot();
    EXPECT_TRUE(SendUntil(signs, [&] { return signs.Snapshot().rgb != first.rgb; })) << "the text stands still";
}

TEST(SignPicture, ShortTextStandsStill)
{
    Signs signs;
    signs.Send({"led", "64", "16", "P10", "0", "15"});
    signs.Send({"message", "ab"});
    const Picture first = signs.Snapshot();
    const auto start = Clock::now();
    // Long enough for a scroll at this speed to have moved several dots.
    while (MsSince(start) < 400) {
        signs.Send({"bright", "15"});
        ASSERT_EQ(signs.Snapshot().rgb, first.rgb);
    }
}

TEST(SignState, BlinkingShowsInTheTimestamps)
{
    Signs signs;
    signs.Send({"message", "AB"});
    signs.Send({"blinking", "on", "300", "300"});
    std::vector<std::pair<std::int64_t, bool>> seen;
    const auto both = [&] {
        const auto line = signs.States().back();
        seen.emplace_back(line["t"].get<std::int64_t>(), line["lit"].get<bool>());
        return std::any_of(seen.begin(), seen.end(), [](auto s) { return s.second; }) &&
               std::any_of(seen.begin(), seen.end(), [](auto s) { return !s.second; });
    };
    ASSERT_TRUE(SendUntil(signs, both)) << "the text never went dark (or never lit)";
    // A phase lasts 300 ms: lines less than 300 ms apart see at most one change.
    for (std::size_t i = 0; i + 2 < seen.size(); ++i) {
        if (seen[i + 2].first - seen[i].first < 300) {
            EXPECT_FALSE(seen[i].second != seen[i + 1].second && seen[i + 1].second != seen[i + 2].second)
                << "two changes within 300 ms at " << seen[i].first;
        }
    }
    signs.Send({"blinking", "off", "300", "300"});
    const auto start = Clock::now();
    while (MsSince(start) < 700) {
        signs.Send({"bright", "15"});
        ASSERT_TRUE(signs.States().back()["lit"].get<bool>());
    }
}

// ---- each command's effect on the sign, sent through rq-m4x-send ----

struct StateCase {
    const char* name;
    Commands commands;  // to ID 5 on a bus of one
    nlohmann::json expected;  // fields of the last state line
};

class SignStateTest : public testing::TestWithParam<StateCase> {};

TEST_P(SignStateTest, LastStateLineHoldsWhatWasSet)
{
    Signs signs(true);
    for (const auto& command : GetParam().commands) ASSERT_NO_FATAL_FAILURE(signs.Send(command));
    const auto states = signs.States();
    ASSERT_EQ(states.size(), GetParam().commands.size());
    for (const auto& [key, value] : GetParam().expected.items()) EXPECT_EQ(states.back()[key], value) << key;
    EXPECT_EQ(states.back()["status"], 0x0F);
}

using nlohmann::json;

INSTANTIATE_TEST_SUITE_P(
    Commands, SignStateTest,
    testing::Values(
        StateCase{"Factory", {{"bright", "15"}},
                  json{{"id", 5}, {"width", 128}, {"height", 32}, {"pitch", "P10"}, {"align", "center"},
                       {"blank", false}, {"blinking", false}, {"message", ""}}},
        StateCase{"LedParameters", {{"led", "64", "16", "P10", "2", "7"}},
                  json{{"width", 64}, {"height", 16}, {"pitch", "P10"}, {"scroll_level", 2}, {"scroll_speed", 7}}},
        StateCase{"LedOtherPitch", {{"led", "96", "24", "P7.62", "0", "0"}},
                  json{{"width", 96}, {"height", 24}, {"pitch", "other"}}},
        StateCase{"Brightness8", {{"bright", "8"}}, json{{"brightness", 8}}},
        StateCase{"BrightnessAuto", {{"bright", "auto"}}, json{{"brightness", "auto"}}},
        StateCase{"AlignLeft", {{"align", "left"}}, json{{"align", "left"}}},
        StateCase{"AlignRight", {{"align", "right"}}, json{{"align", "right"}}},
        StateCase{"Black", {{"message", "abc"}, {"black"}}, json{{"blank", true}, {"lit", false}}},
        StateCase{"MessageUnblanks", {{"black"}, {"message", "abc"}},
                  json{{"blank", false}, {"message", "abc"}, {"encoding", 1}, {"lit", true}}},
        StateCase{"MessageUnicode", {{"message", "--unicode", "Platform 3"}},
                  json{{"message", "Platform 3"}, {"encoding", 2}}},
        StateCase{"Blinking", {{"blinking", "on", "300", "700"}},
                  json{{"blinking", true}, {"blink_on_ms", 300}, {"blink_off_ms", 700}}},
        StateCase{"TimedScroll", {{"scroll", "3000", "50"}}, json{{"timed_elapsed", 3000}, {"timed_speed", 50}}},
        StateCase{"DefaultMessageWaits", {{"message", "now"}, {"default-message", "Welcome"}},
                  json{{"default_message", "Welcome"}, {"message", "now"}}},
        StateCase{"ResetShowsTheDefault",
                  {{"bright", "3"}, {"default-message", "--unicode", "Welcome"}, {"black"}, {"reset"}},
                  json{{"message", "Welcome"}, {"encoding", 2}, {"blank", false}, {"brightness", 3}}},
        StateCase{"FactoryDefaults",
                  {{"led", "64", "16", "P7.62", "1", "1"}, {"bright", "2"}, {"message", "x"}, {"defaults"}},
                  json{{"width", 128}, {"height", 32}, {"pitch", "P10"}, {"brightness", 15}, {"message", ""},
                       {"scroll_speed", 3}}}),
    [](const testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

// Told how frames are addressed, the signs take each command as sent: without
// an address (a model that locks the ID) and with one. Read both ways, these
// frames once set the wrong thing.
struct AddressingCase {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> command;  // rq-m4x-send's arguments
    int sign;  // whose last state line is checked; -1: the lone sign
    nlohmann::json expected;
};

class SimAddressing : public testing::TestWithParam<AddressingCase> {};

TEST_P(SimAddressing, SignsTakeTheCommandAsSent)
{
    const AddressingCase& c = GetParam();
    Signs signs(false, c.simArgs);
    signs.sendOptions = c.command;
    ASSERT_NO_FATAL_FAILURE(signs.Send({}));
    nlohmann::json last;
    for (const auto& line : signs.States())
        if (line["id"] == (c.sign < 0 ? nlohmann::json(nullptr) : nlohmann::json(c.sign))) last = line;
    for (const auto& [key, value] : c.expected.items()) EXPECT_EQ(last[key], value) << key;
}

const std::vector<std::string> kOff = {"--address", "off"};
const std::vector<std::string> kOn = {"--address", "on"};
const std::vector<std::string> kBusOn = {"--address", "on", "--ids", "1-3,67,106"};
const std::vector<std::string> kBusOff = {"--address", "off", "--ids", "1-3,67,106"};

INSTANTIATE_TEST_SUITE_P(
    Frames, SimAddressing,
    testing::Values(
        AddressingCase{"DefaultMessageOff", kOff, {"default-message", "Welcome"}, -1,
                       {{"default_message", "Welcome"}, {"message", ""}}},
        AddressingCase{"DefaultMessageOn", kOn, {"--id", "1", "default-message", "Welcome"}, -1,
                       {{"default_message", "Welcome"}, {"message", ""}}},
        AddressingCase{"MessageCOff", kOff, {"message", "c"}, -1, {{"message", "c"}, {"blank", false}}},
        AddressingCase{"MessageCOn", kOn, {"--id", "1", "message", "c"}, -1, {{"message", "c"}, {"blank", false}}},
        AddressingCase{"ArrivalsOff", kOff, {"message", "Arrivals"}, -1, {{"message", "Arrivals"}, {"width", 128}}},
        AddressingCase{"ArrivalsOn", kOn, {"--id", "1", "message", "Arrivals"}, -1,
                       {{"message", "Arrivals"}, {"width", 128}}},
        AddressingCase{"UnicodeCOff", kOff, {"message", "--unicode", "C"}, -1, {{"message", "C"}, {"brightness", 15}}},
        AddressingCase{"UnicodeCOn", kOn, {"--id", "1", "message", "--unicode", "C"}, -1,
                       {{"message", "C"}, {"brightness", 15}}},
        AddressingCase{"EmptyMessageTo67On", kBusOn, {"--id", "67", "message", ""}, 67,
                       {{"brightness", 15}, {"status", 0x0F}, {"last_frame", "A1 07 F8 43 01 E4 51"}}},
        AddressingCase{"EmptyMessageTo67LeavesOthersOn", kBusOn, {"--id", "67", "message", ""}, 2,
                       {{"brightness", 15}, {"status", -1}}},
        AddressingCase{"EmptyMessageToAllOff", kBusOff, {"message", "x"}, 106, {{"message", "x"}, {"brightness", 15}}}),
    [](const testing::TestParamInfo<AddressingCase>& info) { return std::string(info.param.name); });

// Over TCP, as a serial device server: one client after another, raw or
// speaking telnet. 0xFF crosses a telnet line doubled both ways.
class SimListen : public testing::TestWithParam<std::string> {};

TEST_P(SimListen, AnswersEachConnectionInTurn)
{
    SimController sim({"--listen", GetParam() + "://127.0.0.1:0"});
    ASSERT_EQ(sim.PortPath().rfind(GetParam() + "://127.0.0.1:", 0), 0u) << sim.PortPath();
    EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "bright", "8"}), 0);
    EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "--id", "1", "bright", "8"}), 0);
    EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "bright", "255"}), 0);
    ASSERT_TRUE(sim.WaitForFrames(3));
    EXPECT_EQ(sim.RecordedFrames(), (std::vector<std::string>{"A1 07 F8 43 08 EB 51", "A1 08 F7 01 43 08 EC 51",
                                                              "A1 07 F8 43 FF E2 51"}));
}

// A second client while one holds the line is turned away at once, in
// words, as ser2net does: Open Failed, and its command never runs.
TEST_P(SimListen, SecondClientIsTurnedAway)
{
    SimController sim({"--listen", GetParam() + "://127.0.0.1:0"});
    {
        rq::platform::TcpSocket holder;
        ASSERT_TRUE(holder.Connect("127.0.0.1", sim.PortPath().substr(sim.PortPath().rfind(':') + 1), 2000));
        EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "bright", "8"}), 8);
    }
    EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "bright", "3"}), 0);
    EXPECT_EQ(sim.RecordedFrames(), (std::vector<std::string>{"A1 07 F8 43 03 E6 51"}));
}

// "Short connection": the server closes after each reply; the next
// connection is served.
TEST_P(SimListen, ShortConnectionClosesAfterEachReply)
{
    SimController sim({"--listen", GetParam() + "://127.0.0.1:0", "--short-connection"});
    for (int connection = 0; connection < 2; ++connection)
        EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "bright", "8"}), 0);
    if (GetParam() == "rfc2217") return;  // the client's telnet opening goes first
    rq::platform::TcpSocket client;
    ASSERT_TRUE(client.Connect("127.0.0.1", sim.PortPath().substr(sim.PortPath().rfind(':') + 1), 2000));
    const Bytes frame = FromHex("A1 07 F8 43 08 EB 51");
    ASSERT_EQ(client.Send(frame.data(), frame.size(), 1000), frame.size());
    std::uint8_t reply[2] = {};
    EXPECT_EQ(client.Receive(reply, 2, 3000), 1u);
    EXPECT_EQ(reply[0], 0x0F);
    EXPECT_EQ(client.Receive(reply, 1, 3000), 0u);
    EXPECT_TRUE(client.ClosedByPeer());
}

TEST_P(SimListen, RepliesWithTheByteFF)
{
    SimController sim({"--listen", GetParam() + "://127.0.0.1:0", "--status", "FF"});
    // Unknown error, not a time-out: the reply arrived as one byte.
    EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "black"}), 6);
}

INSTANTIATE_TEST_SUITE_P(Schemes, SimListen, testing::Values("tcp", "rfc2217"));

// A telnet line takes the rate the client sets: paced at 1200 baud, a
// message of 100 characters (a 107-byte frame) is whole 890 ms after it began.
TEST(SimListenTelnet, PacesAtTheClientsRate)
{
    Signs signs(false, {"--listen", "rfc2217://127.0.0.1:0", "--paced"});
    signs.sendOptions = {"--baud", "1200"};
    const auto sent = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    signs.Send({"message", std::string(100, 'x')});
    ASSERT_FALSE(signs.States().empty());
    EXPECT_GE(signs.States().back()["t"].get<std::int64_t>() - sent, 890);
}

// A controller that reads its line at one rate: frames at another are noise,
// recorded but never answered, on a terminal and through RFC 2217.
TEST(SimController, FramesAtAnotherRateGetNoAnswer)
{
    SimController sim({"--baud", "19200"});
    EXPECT_EQ(Transact(sim.PortPath(), "A1 07 F8 43 08 EB 51", 1, 500), Bytes{});
    EXPECT_EQ(sim.RecordedFrames().size(), 1u);
    SimController server({"--listen", "rfc2217://127.0.0.1:0", "--baud", "19200"});
    EXPECT_EQ(RunSend({"--port", server.PortPath(), "--quiet", "--baud", "9600", "black"}), 7);
    EXPECT_EQ(RunSend({"--port", server.PortPath(), "--quiet", "--baud", "19200", "black"}), 0);
}

TEST(SimListen, PacesAtTheGivenRate)
{
    SimController sim({"--listen", "tcp://127.0.0.1:0", "--paced", "9600"});
    EXPECT_EQ(RunSend({"--port", sim.PortPath(), "--quiet", "bright", "8"}), 0);
    EXPECT_EQ(sim.RecordedFrames(), (std::vector<std::string>{"A1 07 F8 43 08 EB 51"}));
}

TEST(SignState, ChangeIdMovesTheState)
{
    Signs signs(true);
    signs.Send({"bright", "4"});
    signs.Send({"change-id", "9"});
    const auto states = signs.States();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states.back()["id"], 9);
    EXPECT_EQ(states.back()["brightness"], 4);
}

}  // namespace
