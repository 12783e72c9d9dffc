// The transaction worker against the simulated controller on a
// pseudo-terminal: the exact events it posts (identifiers, colours, texts),
// what lands in the reply buffer, and what reaches the wire. A recording fake
// line shows what no pseudo-terminal can: the write time-out asked for and a
// frame that takes its time to leave.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <wx/translation.h>

#include "line/line_timing.h"
#include "line/serial_port.h"
#include "serial/log_line.h"
#include "serial/uasd.h"
#include "support/sim_controller.h"

namespace rq::serial {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr int BAUD = 9600;
constexpr int POLLS = 500;

struct Event {
    int id;
    int value;
    std::string text;
};

// Receives the worker's events as the window would: queued from the worker's
// thread, handled here on the test's thread when pumped.
class EventCollector : public wxEvtHandler {
public:
    EventCollector() { Bind(wxEVT_THREAD, &EventCollector::OnThreadEvent, this); }

    void QueueEvent(wxEvent* event) override
    {
        wxEvtHandler::QueueEvent(event);
        std::lock_guard<std::mutex> lock(mutex);
        ++queued;
        arrived.notify_all();
    }

    // Handles queued events until WorkerFinished has been handled. The
    // toolkit handles one pending event per call and must not be called
    // without one, hence the count.
    bool PumpUntilFinished(std::chrono::milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            int available = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (!arrived.wait_until(lock, deadline, [&] { return queued > handled; }))
                    return false;
                available = queued - handled;
            }
            for (; available > 0; --available) {
                ProcessPendingEvents();
                std::lock_guard<std::mutex> lock(mutex);
                ++handled;
            }
            if (finished)
                return true;
        }
    }

    std::vector<Event> events;

private:
    void OnThreadEvent(wxThreadEvent& event)
    {
        events.push_back({event.GetId(), event.GetInt(), std::string(event.GetString().ToUTF8())});
        if (event.GetId() == WorkerFinished)
            finished = true;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    int queued = 0;
    int handled = 0;
    bool finished = false;
};

struct Outcome {
    bool finished = false;
    std::vector<Event> events;
    Clock::duration elapsed{};
};

// Runs one transaction to its end: the worker is detached and deletes itself.
// Without a `line` the worker opens the real port.
Outcome RunTransaction(const std::string& port, const Bytes& frame, std::uint8_t* reply,
                       std::uint32_t replyLength,
                       std::unique_ptr<rq::platform::SerialLine> line = nullptr, int baud = BAUD)
{
    Outcome outcome;
    EventCollector collector;
    auto* worker = new UASD(&collector, frame.data(), frame.size(), reply, replyLength,
                            wxString(port), baud, POLLS, std::move(line));
    if (worker->Create() != wxTHREAD_NO_ERROR) {
        delete worker;
        ADD_FAILURE() << "the worker's thread could not be created";
        return outcome;
    }
    const auto start = Clock::now();
    if (worker->Run() != wxTHREAD_NO_ERROR) {
        delete worker;
        ADD_FAILURE() << "the worker's thread could not be started";
        return outcome;
    }
    outcome.finished = collector.PumpUntilFinished(std::chrono::seconds(10));
    outcome.elapsed = Clock::now() - start;
    outcome.events = collector.events;
    // The next test, or the end of the program, must not meet a worker that
    // is still deleting itself.
    EXPECT_TRUE(UASD::WaitForWorkersToEnd(10000));
    return outcome;
}

std::string HexLine(const Bytes& bytes)
{
    std::string line;
    static const char digits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : bytes) {
        if (!line.empty())
            line += ' ';
        line += digits[byte >> 4];
        line += digits[byte & 0x0F];
    }
    return line;
}

enum class Prefix { Time, Blank, None };

struct Expected {
    int id;
    int value;
    Prefix prefix;
    std::string text;  // after the prefix
};

Expected Line(Rgb colour, Prefix prefix, const std::string& text)
{
    return {LogLine, EncodeColour(colour), prefix, text};
}
Expected Reply(int count) { return {ReplyReceived, count, Prefix::Blank, ""}; }
Expected Finished() { return {WorkerFinished, 0, Prefix::None, ""}; }

std::string Describe(const std::vector<Event>& events)
{
    std::ostringstream out;
    for (const Event& e : events)
        out << "\n  id " << e.id << ", int " << e.value << ", \"" << e.text << '"';
    return out.str();
}

void ExpectEvents(const std::vector<Event>& actual, const std::vector<Expected>& expected)
{
    ASSERT_EQ(actual.size(), expected.size()) << Describe(actual);
    static const std::regex timePrefix(R"(^\d\d:\d\d:\d\d\.\d\d\d {5}$)");
    const std::string blanks(TIME_PREFIX_WIDTH, ' ');
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i) + Describe(actual));
        const Event& got = actual[i];
        const Expected& want = expected[i];
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.value, want.value);
        if (want.prefix == Prefix::None) {
            EXPECT_EQ(got.text, want.text);
            continue;
        }
        ASSERT_GE(got.text.size(), blanks.size());
        const std::string prefix = got.text.substr(0, blanks.size());
        if (want.prefix == Prefix::Blank)
            EXPECT_EQ(prefix, blanks);
        else
            EXPECT_TRUE(std::regex_match(prefix, timePrefix)) << '"' << prefix << '"';
        EXPECT_EQ(got.text.substr(blanks.size()), want.text);
    }
}

std::string OpenLine(const std::string& port, int baud = BAUD)
{
    return "Open : " + port + " ," + std::to_string(baud) + " ";
}
std::string CloseLine(const std::string& port) { return "Close: " + port; }

// Brightness 8, no address.
const Bytes BRIGHTNESS = {0xA1, 0x07, 0xF8, 0x43, 0x08, 0xEB, 0x51};
// Timed scroll 3000/50 to controller 1: 16-bit fields, eleven bytes.
const Bytes TIMED_SCROLL = {0xA1, 0x0B, 0xF4, 0x01, 0x65, 0xB8, 0x0B, 0x32, 0x00, 0xFB, 0x51};
// The longest frame: a 249-byte text message without an address, 266 ms on
// the wire at 9600 baud.
const Bytes LONGEST_MESSAGE = [] {
    Bytes frame = {0xA1, 0xFF, 0x00, 0x01};
    frame.insert(frame.end(), 249, 'a');
    frame.push_back(0xFA);  // the low byte of the sum of the bytes before it
    frame.push_back(0x51);
    return frame;
}();

struct StatusCase {
    const char* name;
    Bytes frame;
    std::vector<std::string> simArgs;
    std::uint8_t status;
};

class UasdStatusReply : public testing::TestWithParam<StatusCase> {};

TEST_P(UasdStatusReply, LogsEveryStepAndStoresTheStatusByte)
{
    const StatusCase& c = GetParam();
    test::SimController sim(c.simArgs);
    const std::string port = sim.PortPath();
    std::array<std::uint8_t, 2> reply{0xAA, 0xAA};

    const Outcome outcome = RunTransaction(port, c.frame, reply.data(), 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    const std::string statusHex = HexLine({c.status});
    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(GREEN, Prefix::Time, "Write : " + std::to_string(c.frame.size()) + " Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  " + HexLine(c.frame)),
                  Line(BLUE, Prefix::Time, "Read : 1 Bytes"),
                  Line(ORANGE, Prefix::Blank, "DATA :  " + statusHex),
                  Reply(1),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  Finished()});
    EXPECT_EQ(reply[0], c.status);
    EXPECT_EQ(reply[1], 0xAA) << "written past the expected reply length";

    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{HexLine(c.frame)});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UasdStatusReply,
    testing::Values(StatusCase{"Success", BRIGHTNESS, {}, 0x0F},
                    StatusCase{"AddressedSixteenBitFrame", TIMED_SCROLL, {}, 0x0F},
                    StatusCase{"UndefinedInstruction", BRIGHTNESS, {"--status", "F1"}, 0xF1},
                    StatusCase{"ChecksumError", BRIGHTNESS, {"--status", "F0"}, 0xF0},
                    StatusCase{"ZeroIsNotSuccess", BRIGHTNESS, {"--status", "00"}, 0x00},
                    StatusCase{"LateButInTime", BRIGHTNESS, {"--delay", "150"}, 0x0F},
                    // On a line as slow as a real one the answer comes 566 ms
                    // after the write: the wait counts from the frame's end.
                    StatusCase{"LongestFrameOnAPacedLineLateButInTime", LONGEST_MESSAGE,
                               {"--paced", "--delay", "300"}, 0x0F}),
    [](const testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST(Uasd, SilentControllerTimesOutAfterHalfASecond)
{
    test::SimController sim({"--silent"});
    const std::string port = sim.PortPath();
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(GREEN, Prefix::Time, "Write : 7 Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                  Line(RED, Prefix::Time, "The request has timed out"),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  Finished()});
    EXPECT_GE(outcome.elapsed, std::chrono::milliseconds(450));
    EXPECT_EQ(reply, 0xAA);
    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{"A1 07 F8 43 08 EB 51"});
}

// What the system says of a port that is not there, in the user's language
// (Wine's words under the Chinese locale the Windows suites run with).
#ifdef _WIN32
const std::string MISSING_REASON = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                                       ? "\u627e\u4e0d\u5230\u8def\u5f84\u3002"
                                       : "The system cannot find the path specified.";
#else
const std::string MISSING_REASON = "No such file or directory";
#endif

TEST(Uasd, MissingPortIsTheFailedOpenAndItsReasonWithoutClose)
{
    const std::string port = "/nonexistent-rq-m4x/ttyRQ0";
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events, {Line(RED, Prefix::Blank, "Open Failed : " + port + " ,9600 "),
                                  Line(RED, Prefix::Blank, MISSING_REASON), Finished()});
    EXPECT_EQ(reply, 0xAA);
}

// Ports that exist and are refused. Only POSIX keeps a port to one holder
// under Wine, and files and directories are no COM names.
#ifndef _WIN32
TEST(Uasd, PortHeldByAnotherIsRefusedAsBusy)
{
    test::SimController sim({"--silent"});
    const std::string port = sim.PortPath();
    rq::platform::SerialPort holder;
    ASSERT_TRUE(holder.Open(port, BAUD)) << holder.LastErrorMessage();
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events, {Line(RED, Prefix::Blank, "Open Failed : " + port + " ,9600 "),
                                  Line(RED, Prefix::Blank, port + " is in use by another program"),
                                  Finished()});
    EXPECT_TRUE(sim.RecordedFrames().empty());
}

TEST(Uasd, FileThatIsNoTerminalIsRefused)
{
    char path[] = "/tmp/rq-m4x-not-a-tty-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(path, BRIGHTNESS, &reply, 1);
    unlink(path);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events, {Line(RED, Prefix::Blank, "Open Failed : " + std::string(path) + " ,9600 "),
                                  Line(RED, Prefix::Blank, "Inappropriate ioctl for device"), Finished()});
}
#endif

TEST(Uasd, LongerReplyStoresOnlyTheExpectedBytes)
{
    test::SimController sim({"--reply", "0F", "33", "55"});
    const std::string port = sim.PortPath();
    std::array<std::uint8_t, 4> reply{0xAA, 0xAA, 0xAA, 0xAA};

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, reply.data(), 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(GREEN, Prefix::Time, "Write : 7 Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                  Line(BLUE, Prefix::Time, "Read : 1 Bytes"),
                  Line(ORANGE, Prefix::Blank, "DATA :  0F"),
                  Reply(1),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  Finished()});
    EXPECT_EQ(reply, (std::array<std::uint8_t, 4>{0x0F, 0xAA, 0xAA, 0xAA}));
}

TEST(Uasd, TwoByteExpectationKeepsTheFirstTwoAndCountsWhatArrived)
{
    test::SimController sim({"--reply", "0F", "33", "55"});
    const std::string port = sim.PortPath();
    std::array<std::uint8_t, 4> reply{0xAA, 0xAA, 0xAA, 0xAA};

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, reply.data(), 2);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    // The three bytes normally arrive together and a read takes at most two;
    // should they arrive apart, the count covers every byte read.
    ASSERT_EQ(outcome.events.size(), 8u) << Describe(outcome.events);
    const Event& read = outcome.events[3];
    const Event& replyEvent = outcome.events[5];
    EXPECT_EQ(replyEvent.id, ReplyReceived);
    EXPECT_TRUE(replyEvent.value == 2 || replyEvent.value == 3) << replyEvent.value;
    EXPECT_EQ(read.text.substr(TIME_PREFIX_WIDTH), "Read : " + std::to_string(replyEvent.value) + " Bytes");
    EXPECT_EQ(outcome.events[4].text.substr(TIME_PREFIX_WIDTH), "DATA :  0F 33");
    EXPECT_EQ(reply, (std::array<std::uint8_t, 4>{0x0F, 0x33, 0xAA, 0xAA}));
}

TEST(Uasd, PartialReplyIsReportedAndThenTimesOut)
{
    test::SimController sim({"--reply", "0F", "33"});
    const std::string port = sim.PortPath();
    std::array<std::uint8_t, 4> reply{0xAA, 0xAA, 0xAA, 0xAA};

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, reply.data(), 3);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(GREEN, Prefix::Time, "Write : 7 Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                  Line(BLUE, Prefix::Time, "Read : 2 Bytes"),
                  Line(ORANGE, Prefix::Blank, "DATA :  0F 33"),
                  Reply(2),
                  Line(RED, Prefix::Time, "The request has timed out"),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  Finished()});
    EXPECT_EQ(reply, (std::array<std::uint8_t, 4>{0x0F, 0x33, 0xAA, 0xAA}));
}

// What the system says of a pseudo-terminal whose other end hung up: Wine
// fails the read with ERROR_NOT_READY, in the user's language.
std::string HungUpReason()
{
#ifdef _WIN32
    const bool chinese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
    return chinese ? "\u672a\u5c31\u7eea\u3002" : "The device is not ready.";
#else
    return "Input/output error";
#endif
}

TEST(Uasd, HangUpEndsTheWaitAtOnceWithTheSystemsReason)
{
    test::SimController sim({"--hangup-before"});
    const std::string port = sim.PortPath();
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);
#ifdef _WIN32
    // Wine reads a pseudo-terminal that hangs up before the read as a silent
    // line, one that hangs up during it as a failed read; which one comes
    // first is up to the scheduler.
    if (outcome.events.size() > 3 && outcome.events[3].text.size() > TIME_PREFIX_WIDTH &&
        outcome.events[3].text.substr(TIME_PREFIX_WIDTH) == "The request has timed out") {
        ExpectEvents(outcome.events, {Line(OLIVE, Prefix::Time, OpenLine(port)),
                                      Line(GREEN, Prefix::Time, "Write : 7 Bytes"),
                                      Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                                      Line(RED, Prefix::Time, "The request has timed out"),
                                      Line(MAROON, Prefix::Blank, CloseLine(port)), Finished()});
        return;
    }
#endif
    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(GREEN, Prefix::Time, "Write : 7 Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                  // The line's own reason, as after a failed open, and an end
                  // that says the line was lost: not a silent controller.
                  Line(RED, Prefix::Blank, HungUpReason()),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  {WorkerFinished, rq::serial::LineLost, Prefix::None, ""}});
    // A silent live port takes the whole half second; a vanished one must not
    // keep the worker polling a dead line until then.
#ifndef _WIN32
    EXPECT_LT(outcome.elapsed, std::chrono::milliseconds(450));
#endif
    EXPECT_TRUE(sim.WaitForExit());
}

// Filling a terminal's output queue needs the terminal itself (openpty).
#ifndef _WIN32
// A terminal whose output queue is full takes nothing: the write is reported
// with the count that went out, in red, and the frame is still dumped.
TEST(Uasd, BlockedWriteIsReportedAsFailedNotAsSuccess)
{
    int master = -1;
    int slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const std::string port = name;
    // The settings the worker's open will apply, set beforehand: a change of
    // line settings would make room in the queue again.
    termios settings{};
    ASSERT_EQ(tcgetattr(slave, &settings), 0);
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
    // A raw master keeps what it is not read instead of discarding it, so the
    // queue stays full.
    termios masterSettings{};
    ASSERT_EQ(tcgetattr(master, &masterSettings), 0);
    cfmakeraw(&masterSettings);
    ASSERT_EQ(tcsetattr(master, TCSANOW, &masterSettings), 0);
    // Nobody reads the master: fill the queue towards it until not even one
    // more byte fits, and it stays so for a while.
    ASSERT_EQ(fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK), 0);
    const std::vector<std::uint8_t> filler(4096, 0x55);
    bool full = false;
    for (int round = 0; round < 100 && !full; ++round) {
        for (std::size_t chunk = filler.size(); chunk > 0; chunk /= 2) {
            while (write(slave, filler.data(), chunk) > 0) {
            }
        }
        pollfd entry{slave, POLLOUT, 0};
        full = poll(&entry, 1, 100) == 0;
    }
    ASSERT_TRUE(full) << "the terminal's queue did not fill";
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(RED, Prefix::Time, "Write : 0 Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                  Line(RED, Prefix::Time, "The request has timed out"),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  Finished()});
    close(slave);
    close(master);
}

#endif

TEST(Uasd, WithoutReplyBufferNothingIsRead)
{
    test::SimController sim;
    const std::string port = sim.PortPath();

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, nullptr, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, OpenLine(port)),
                  Line(GREEN, Prefix::Time, "Write : 7 Bytes"),
                  Line(MAGENTA, Prefix::Blank, "DATA :  A1 07 F8 43 08 EB 51"),
                  Line(MAROON, Prefix::Blank, CloseLine(port)),
                  Finished()});
    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{"A1 07 F8 43 08 EB 51"});
}

// ---- a recording line: time-outs and the drain ----

// What the worker asked of a RecordingLine, kept beyond the worker's life.
struct LineCalls {
    std::mutex mutex;
    std::vector<std::string> calls;
    int drainBoundMs = -1;
    int reads = 0;
    wxDateTime writeCalled;
    wxDateTime drained;
    // On the steady clock: when the write began and ended, when the drain began.
    Clock::time_point writeBegan, writeEnded, drainBegan;

    void Note(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
};

// Takes every frame whole in `writeTime`, lets it leave the line in
// `drainTime` (as a slow line would), then answers the status byte 0F on read
// number `answerOnRead`, counting from when the frame could have reached the
// sign.
class RecordingLine : public rq::platform::SerialLine {
public:
    RecordingLine(std::shared_ptr<LineCalls> record, std::chrono::milliseconds drainTime, int answerOnRead,
                  std::chrono::milliseconds writeTime = std::chrono::milliseconds(0))
        : record(std::move(record)), drainTime(drainTime), writeTime(writeTime), answerOnRead(answerOnRead)
    {
    }

    bool Open(const std::string& name, long baud) override
    {
        record->Note("Open " + name + " at " + std::to_string(baud));
        lineBaud = baud;
        open = true;
        return true;
    }
    bool IsOpen() const override { return open; }
    std::size_t Write(const std::uint8_t*, std::size_t length, int timeoutMs) override
    {
        record->writeBegan = Clock::now();
        answersFrom = record->writeBegan + std::chrono::microseconds(rq::platform::EarliestReplyUs(length, lineBaud));
        record->writeCalled = wxDateTime::UNow();
        record->Note("Write " + std::to_string(length) + " bytes within " + std::to_string(timeoutMs) + " ms");
        std::this_thread::sleep_for(writeTime);
        record->writeEnded = Clock::now();
        return length;
    }
    bool Drain(int timeoutMs) override
    {
        record->drainBegan = Clock::now();
        record->drainBoundMs = timeoutMs;
        std::this_thread::sleep_for(drainTime);
        record->drained = wxDateTime::UNow();
        record->Note("Drain");
        return true;
    }
    bool DiscardInput() override
    {
        record->Note("Discard");
        return true;
    }
    std::size_t Read(std::uint8_t* data, std::size_t length, int) override
    {
        if (Clock::now() < answersFrom)
            return 0;
        const int read = ++record->reads;
        if (read == 1)
            record->Note("Read");
        if (read != answerOnRead || length == 0)
            return 0;
        data[0] = 0x0F;
        return 1;
    }
    void Close() override
    {
        record->Note("Close");
        open = false;
    }
    const std::string& LastErrorMessage() const override { return none; }
    int LastErrorCode() const override { return 0; }

private:
    std::shared_ptr<LineCalls> record;
    std::chrono::milliseconds drainTime;
    std::chrono::milliseconds writeTime;
    int answerOnRead;
    long lineBaud = 0;
    Clock::time_point answersFrom;
    bool open = false;
    std::string none;
};

const std::string FAKE_PORT = "/dev/serial/by-id/usb-RQ_Recording_Line-if00-port0";

// A message frame of `length` bytes; only its length matters to the fake.
Bytes FrameOf(std::size_t length)
{
    Bytes frame(length, 0x20);
    frame.front() = 0xA1;
    frame.back() = 0x51;
    return frame;
}

std::vector<Expected> SuccessLines(const std::string& port, int baud, const Bytes& frame)
{
    return {Line(OLIVE, Prefix::Time, OpenLine(port, baud)),
            Line(GREEN, Prefix::Time, "Write : " + std::to_string(frame.size()) + " Bytes"),
            Line(MAGENTA, Prefix::Blank, "DATA :  " + HexLine(frame)),
            Line(BLUE, Prefix::Time, "Read : 1 Bytes"),
            Line(ORANGE, Prefix::Blank, "DATA :  0F"),
            Reply(1),
            Line(MAROON, Prefix::Blank, CloseLine(port)),
            Finished()};
}

struct WriteCase {
    const char* name;
    std::size_t length;
    int baud;
    int timeoutMs;  // as the line time-out arithmetic gives it
    int writeMs;    // how long the fake line's write takes
};

class UasdWriteTimeOut : public testing::TestWithParam<WriteCase> {};

TEST_P(UasdWriteTimeOut, AsksForTheLinesTimeOutAndDrainsBeforeTheReplyWait)
{
    const WriteCase& c = GetParam();
    ASSERT_EQ(rq::platform::WriteTimeoutMs(c.length, c.baud), c.timeoutMs);
    auto record = std::make_shared<LineCalls>();
    const Bytes frame = FrameOf(c.length);
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(
        FAKE_PORT, frame, &reply, 1,
        std::make_unique<RecordingLine>(record, std::chrono::milliseconds(0), 1, std::chrono::milliseconds(c.writeMs)),
        c.baud);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events, SuccessLines(FAKE_PORT, c.baud, frame));
    EXPECT_EQ(reply, 0x0F);
    EXPECT_EQ(record->calls,
              (std::vector<std::string>{"Open " + FAKE_PORT + " at " + std::to_string(c.baud), "Discard",
                                        "Write " + std::to_string(c.length) + " bytes within " +
                                            std::to_string(c.timeoutMs) + " ms",
                                        "Drain", "Read", "Close"}));
    // The drain gets what the write left of the time-out: no more than the
    // time-out less the write's own time, and no less than the time-out less
    // everything up to the drain (a few milliseconds' grace for the worker
    // being scheduled), never nothing.
    const auto msBetween = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    const double writing = msBetween(record->writeBegan, record->writeEnded);
    const double untilDrain = msBetween(record->writeBegan, record->drainBegan);
    EXPECT_LE(record->drainBoundMs, c.timeoutMs - writing + 1);
    EXPECT_GE(record->drainBoundMs, c.timeoutMs - untilDrain - 10);
    EXPECT_GT(record->drainBoundMs, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, UasdWriteTimeOut,
    testing::Values(WriteCase{"LongestFrameAt9600", 255, 9600, 419, 0},
                    WriteCase{"ShortFrameAt9600", 7, 9600, 31, 0},
                    WriteCase{"LongestFrameAt115200", 255, 115200, 255, 0},
                    WriteCase{"ShortFrameAt128000", 6, 128000, 21, 0},
                    // A write that takes its time leaves the drain the rest.
                    WriteCase{"SlowWriteOfTheLongestFrameAt9600", 255, 9600, 419, 150},
                    WriteCase{"SlowWriteOfAShortFrameAt9600", 7, 9600, 31, 12}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

// A frame that needs longer to leave than the whole reply wait: were the
// 500 polls counted from the write, they would be over before the controller
// could answer.
TEST(UasdDrain, ReplyWaitBeginsOnlyOnceTheFrameHasLeft)
{
    auto record = std::make_shared<LineCalls>();
    const Bytes frame = FrameOf(255);
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(
        FAKE_PORT, frame, &reply, 1,
        std::make_unique<RecordingLine>(record, std::chrono::milliseconds(POLLS + 100), 3), BAUD);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events, SuccessLines(FAKE_PORT, BAUD, frame));
    EXPECT_EQ(reply, 0x0F);
    EXPECT_EQ(record->reads, 3);
    ASSERT_EQ(record->calls.size(), 6u);
    EXPECT_EQ(record->calls[3], "Drain");
    EXPECT_EQ(record->calls[4], "Read");
    // The "Write" line keeps the moment before the write, not the drain's end.
    const std::string writeStamp = outcome.events[1].text.substr(0, TIME_PREFIX_WIDTH);
    EXPECT_LE(writeStamp, std::string(TimePrefix(record->writeCalled).utf8_string()));
    EXPECT_LT(writeStamp, std::string(TimePrefix(record->drained).utf8_string()));
}

// The window's way: a line opened for each transaction. Sign 1 answers after
// the wait; the next frame, to sign 2, goes only once the line has been quiet,
// and sign 1's answer is dropped and shown, not taken for sign 2's.
TEST(UasdLateReply, IsDroppedBeforeTheNextFrameInsteadOfPassingForItsAnswer)
{
    test::SimController sim({"--ids", "1,2", "--delay", "1:560"});
    const std::string port = sim.PortPath();
    std::uint8_t reply = 0xAA;
    const Outcome late = RunTransaction(port, {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xEC, 0x51}, &reply, 1);
    ASSERT_TRUE(late.finished) << Describe(late.events);
    ASSERT_EQ(late.events.size(), 6u) << Describe(late.events);
    EXPECT_EQ(late.events[3].text.substr(TIME_PREFIX_WIDTH), "The request has timed out");

    const Bytes toSign2 = {0xA1, 0x08, 0xF7, 0x02, 0x43, 0x08, 0xED, 0x51};
    const Outcome next = RunTransaction(port, toSign2, &reply, 1);
    ASSERT_TRUE(next.finished) << Describe(next.events);
    std::vector<Expected> expected = SuccessLines(port, BAUD, toSign2);
    expected.insert(expected.begin() + 1, {Line(ORANGE, Prefix::Time, "Dropped : 1 Bytes, not the answer to this frame"),
                                           Line(ORANGE, Prefix::Blank, "DATA :  0F")});
    ExpectEvents(next.events, expected);
    EXPECT_EQ(sim.RecordedFrames().size(), 2u);
}

// Notes when the worker object has been destroyed.
class ObservedWorker : public UASD {
public:
    ObservedWorker(std::atomic<bool>& destroyed, wxEvtHandler* owner, const Bytes& frame,
                   std::uint8_t* reply, const std::string& port)
        : UASD(owner, frame.data(), frame.size(), reply, 1, wxString(port), BAUD, POLLS),
          destroyed(destroyed)
    {
    }
    ~ObservedWorker() override { destroyed = true; }

private:
    std::atomic<bool>& destroyed;
};

TEST(UasdEnd, WaitForWorkersReturnsOnlyOnceTheWorkerIsGone)
{
    test::SimController sim({"--delay", "50"});
    std::atomic<bool> destroyed{false};
    std::uint8_t reply = 0xAA;
    EventCollector collector;
    auto* worker = new ObservedWorker(destroyed, &collector, BRIGHTNESS, &reply, sim.PortPath());
    ASSERT_EQ(worker->Create(), wxTHREAD_NO_ERROR);
    ASSERT_EQ(worker->Run(), wxTHREAD_NO_ERROR);

    // While the worker waits for the late reply it is still alive.
    EXPECT_FALSE(UASD::WaitForWorkersToEnd(0));
    ASSERT_TRUE(collector.PumpUntilFinished(std::chrono::seconds(10)));
    ASSERT_TRUE(UASD::WaitForWorkersToEnd(10000));
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(reply, 0x0F);
}

TEST(UasdEnd, AWorkerThatNeverRanIsNotWaitedFor)
{
    std::uint8_t reply = 0xAA;
    auto* worker = new UASD(nullptr, BRIGHTNESS.data(), BRIGHTNESS.size(), &reply, 1,
                            "/nonexistent-rq-m4x/ttyRQ0", BAUD, POLLS);
    EXPECT_FALSE(UASD::WaitForWorkersToEnd(0));
    delete worker;
    EXPECT_TRUE(UASD::WaitForWorkersToEnd(0));
}

// Every worker message goes through the catalogue; the prefixes, the byte
// dump and the colours do not change with the language.
class UasdChinese : public testing::Test {
protected:
    void SetUp() override
    {
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(RQ_RUNTIME_DIR "/locale");
        auto* translations = new wxTranslations;
        wxTranslations::Set(translations);
        translations->SetLanguage("zh_CN");
        ASSERT_TRUE(translations->AddCatalog("Language"));
    }
    void TearDown() override { wxTranslations::Set(nullptr); }
};

TEST_F(UasdChinese, SuccessLinesAreTranslated)
{
    test::SimController sim;
    const std::string port = sim.PortPath();
    std::uint8_t reply = 0xAA;

    const Outcome outcome = RunTransaction(port, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(outcome.finished) << Describe(outcome.events);

    ExpectEvents(outcome.events,
                 {Line(OLIVE, Prefix::Time, "\u6253\u5f00\uff1a" + port + "\uff0c9600 "),
                  Line(GREEN, Prefix::Time, "\u5199\u5165\uff1a7 \u5b57\u8282"),
                  Line(MAGENTA, Prefix::Blank, "\u6570\u636e\uff1a A1 07 F8 43 08 EB 51"),
                  Line(BLUE, Prefix::Time, "\u8bfb\u53d6\uff1a1 \u5b57\u8282"),
                  Line(ORANGE, Prefix::Blank, "\u6570\u636e\uff1a 0F"),
                  Reply(1),
                  Line(MAROON, Prefix::Blank, "\u5173\u95ed\uff1a" + port),
                  Finished()});
}

TEST_F(UasdChinese, FailureLinesAreTranslated)
{
    const std::string missing = "/nonexistent-rq-m4x/ttyRQ0";
    std::uint8_t reply = 0xAA;
    const Outcome failed = RunTransaction(missing, BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(failed.finished) << Describe(failed.events);
    // The system's reason comes in the system's language, not the catalogue's.
    ExpectEvents(failed.events,
                 {Line(RED, Prefix::Blank, "\u6253\u5f00\u5931\u8d25\uff1a" + missing + "\uff0c9600 "),
                  Line(RED, Prefix::Blank, MISSING_REASON), Finished()});

    test::SimController sim({"--silent"});
    const Outcome silent = RunTransaction(sim.PortPath(), BRIGHTNESS, &reply, 1);
    ASSERT_TRUE(silent.finished) << Describe(silent.events);
    ASSERT_EQ(silent.events.size(), 6u) << Describe(silent.events);
    EXPECT_EQ(silent.events[3].value, EncodeColour(RED));
    EXPECT_EQ(silent.events[3].text.substr(TIME_PREFIX_WIDTH), "\u8bf7\u6c42\u8d85\u65f6");
}

}  // namespace
}  // namespace rq::serial
