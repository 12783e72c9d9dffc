// A controller that misbehaves: silent, late, answering garbage or far too
// much, hanging up, or vanishing between two commands. Each case must end
// with the right log lines in the right colours, the window idle, and the
// next command working against a controller that behaves.
#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "gui/frame_fixture.h"
#include "support/sim_controller.h"

using rq::test::DestroyNow;
using rq::test::LogLine;
using rq::test::PumpUntil;
using rq::test::ReadLog;
using rq::test::SimController;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

const std::string kBlanks(17, ' ');
// The blanking command to ID 1: the shortest addressed frame.
const std::string kBlackFrame = "A1 07 F8 01 63 04 51";
const std::string kBlackData = "DATA :  A1 07 F8 01 63 04 51";

// How a line starts: a time stamp, 17 blanks, or nothing (the banner).
enum class Prefix { Time, Blank, None };

struct Expected {
    Prefix prefix;
    std::string message;  // "%p" stands for the port name
    wxColour colour;
};

std::string WithPort(std::string text, const std::string& port)
{
    const auto at = text.find("%p");
    if (at != std::string::npos) text.replace(at, 2, port);
    return text;
}

bool IsTimePrefix(const std::string& line)
{
    if (line.size() < 17) return false;
    const std::string digits = "0123456789";
    for (int i : {0, 1, 3, 4, 6, 7, 9, 10, 11})
        if (digits.find(line[i]) == std::string::npos) return false;
    return line[2] == ':' && line[5] == ':' && line[8] == '.' && line.substr(12, 5) == "     ";
}

// Every line of the pane, in order, against the expectation.
void ExpectLog(const std::vector<LogLine>& log, const std::vector<Expected>& expected, const std::string& port)
{
    ASSERT_EQ(log.size(), expected.size()) << [&] {
        std::string all;
        for (const auto& line : log) all += "\n  [" + line.text + "]";
        return "log:" + all;
    }();
    for (std::size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i) + ": [" + log[i].text + "]");
        const std::string message = WithPort(expected[i].message, port);
        switch (expected[i].prefix) {
        case Prefix::Time:
            EXPECT_TRUE(IsTimePrefix(log[i].text));
            EXPECT_EQ(log[i].text.substr(std::min<std::size_t>(17, log[i].text.size())), message);
            break;
        case Prefix::Blank:
            EXPECT_EQ(log[i].text, kBlanks + message);
            break;
        case Prefix::None:
            EXPECT_EQ(log[i].text, message);
            break;
        }
        EXPECT_EQ(log[i].colour, expected[i].colour);
        EXPECT_EQ(log[i].bold, expected[i].prefix == Prefix::None);
    }
}

const Expected kBanner{Prefix::None, "               =========  Black  =========", rq::test::kPlum};
const Expected kOpen{Prefix::Time, "Open : %p ,9600 ", rq::test::kOlive};
const Expected kWrite{Prefix::Time, "Write : 7 Bytes", rq::test::kGreen};
const Expected kSent{Prefix::Blank, kBlackData, rq::test::kMagenta};
const Expected kRead{Prefix::Time, "Read : 1 Bytes", rq::test::kBlue};
const Expected kTimedOut{Prefix::Time, "The request has timed out", rq::test::kRed};
const Expected kClose{Prefix::Blank, "Close: %p", rq::test::kMaroon};
const Expected kOpenFailed{Prefix::Blank, "Open Failed : %p ,9600 ", rq::test::kRed};
// The system's reason for a port whose controller has gone with its terminal,
// in the user's language. Wine answers a COM name whose device is missing
// with "Incorrect function."; Windows with "The system cannot find the file
// specified.".
#ifdef _WIN32
std::string PortGoneReason()
{
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const bool chinese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
    if (wine) return chinese ? "\u65e0\u6548\u7684\u51fd\u6570\u3002" : "Incorrect function.";
    return chinese ? "\u7cfb\u7edf\u627e\u4e0d\u5230\u6307\u5b9a\u7684\u6587\u4ef6\u3002"
                   : "The system cannot find the file specified.";
}
const Expected kPortGone{Prefix::Blank, PortGoneReason(), rq::test::kRed};
#else
const Expected kPortGone{Prefix::Blank, "No such file or directory", rq::test::kRed};
#endif

Expected Received(const std::string& hex, const wxColour& colour = rq::test::kOrange)
{
    return {Prefix::Blank, "DATA :  " + hex, colour};
}
Expected Result(const std::string& text, const wxColour& colour) { return {Prefix::Blank, text, colour}; }

const std::vector<Expected> kTimeOutLines = {kBanner, kOpen, kWrite, kSent, kTimedOut, kClose};
// A line that goes away mid-transaction: its own reason where the time-out
// would be. Wine fails the read of a hung-up pseudo-terminal with
// ERROR_NOT_READY, in the user's language.
#ifdef _WIN32
const std::string kHungUpReason = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                                      ? "\u672a\u5c31\u7eea\u3002"
                                      : "The device is not ready.";
#else
const std::string kHungUpReason = "Input/output error";
#endif
const std::vector<Expected> kLineLostLines = {
    kBanner, kOpen, kWrite, kSent, {Prefix::Blank, kHungUpReason, rq::test::kRed}, kClose};

// The lines of a transaction whose line hung up. Wine reads a pseudo-terminal
// that hangs up before the read as a silent line, one that hangs up during it
// as a failed read; which one comes first is up to the scheduler.
std::vector<Expected> HungUpLines(const std::vector<LogLine>& log)
{
#ifdef _WIN32
    if (log.size() > 4 && log[4].text.size() > 17 && log[4].text.substr(17) == "The request has timed out")
        return kTimeOutLines;
#else
    static_cast<void>(log);
#endif
    return kLineLostLines;
}
const std::vector<Expected> kSuccessLines = {kBanner, kOpen, kWrite, kSent, kRead, Received("0F"),
                                             Result("Success", rq::test::kBlue), kClose};

// A working directory whose settings point at the given port, with the
// bundled RQ-M4T profile (frames carry the ID).
class ControllerTest : public ::testing::Test {
protected:
    void StartWindow(const std::string& port)
    {
        dir.CopyRuntimeData();
        dir.WriteFile("Config/Config.ini", "[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=" + port +
                                               "\nBSP=9600\n[LED]\nid=1\n");
        frame = new TestableFrame;
        ASSERT_EQ(frame->comPort, port);
        ASSERT_EQ(frame->idAddressing, 1);
    }

    void TearDown() override
    {
        if (frame) {
            PumpUntil([&] { return !frame->IsBusy(); }, 10000);
            DestroyNow(frame);
        }
    }

    void ClickBlackAndWait()
    {
        ASSERT_FALSE(frame->IsBusy());
        frame->Click(frame->BlackButton);
        ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000)) << "the transaction never ended";
        // Events still queued would add lines after the check.
        wxTheApp->ProcessPendingEvents();
    }

    // The window is idle and a controller that behaves gets the next command.
    void ExpectUsableAfterwards()
    {
        EXPECT_FALSE(frame->IsBusy());
        EXPECT_TRUE(frame->BlackButton->IsEnabled());
        SimController healthy({"--address", "on"});  // RQ-M4T: frames carry the ID
        frame->comPort = healthy.PortPath();
        ClickBlackAndWait();
        ExpectLog(ReadLog(frame->LogView), kSuccessLines, healthy.PortPath());
        EXPECT_EQ(healthy.RecordedFrames(), std::vector<std::string>{kBlackFrame});
    }

    WorkDir dir;
    TestableFrame* frame = nullptr;
};

struct MisbehaviourCase {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<Expected> lines;
    bool simEnds;  // the simulator hangs up and ends: its port is gone afterwards
};

void PrintTo(const MisbehaviourCase& c, std::ostream* out) { *out << c.name; }

class Misbehaviour : public ControllerTest, public ::testing::WithParamInterface<MisbehaviourCase> {};

std::string ManyBytes()
{
    // The success status followed by 999 more bytes: only the one expected
    // byte may be read or stored.
    std::string hex = "0F";
    for (int i = 0; i < 999; ++i) hex += i % 2 ? "AA" : "55";
    return hex;
}

}  // namespace

TEST_P(Misbehaviour, EndsWithTheRightLinesAndLeavesTheWindowUsable)
{
    const MisbehaviourCase& c = GetParam();
    SimController sim(c.simArgs);
    StartWindow(sim.PortPath());
    ClickBlackAndWait();
    // A case without lines of its own is a hang-up.
    const auto log = ReadLog(frame->LogView);
    ExpectLog(log, c.lines.empty() ? HungUpLines(log) : c.lines, sim.PortPath());
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{kBlackFrame});
    EXPECT_EQ(frame->replyLength, 1u);

    if (c.simEnds) {
        // The port went away with the controller: the next command fails
        // cleanly on the same port.
        ASSERT_TRUE(sim.WaitForExit(10000));
        ClickBlackAndWait();
        ExpectLog(ReadLog(frame->LogView), {kBanner, kOpenFailed, kPortGone}, sim.PortPath());
    }
    ExpectUsableAfterwards();
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedController, Misbehaviour,
    ::testing::Values(
        MisbehaviourCase{"Silent", {"--silent"}, kTimeOutLines, false},
        // The reply wait is 500 ms from the end of the write.
        MisbehaviourCase{"LateInsideTheWait", {"--delay", "300"}, kSuccessLines, false},
        MisbehaviourCase{"LateOutsideTheWait", {"--delay", "800"}, kTimeOutLines, false},
        // Bytes that mean nothing: the first one is taken as the status.
        MisbehaviourCase{"Garbage",
                         {"--reply", "5A", "C3", "00", "FF"},
                         {kBanner, kOpen, kWrite, kSent, kRead, Received("5A"),
                          Result("Unknown error", rq::test::kRed), kClose},
                         false},
        MisbehaviourCase{"ManyBytes", {"--reply", ManyBytes()}, kSuccessLines, false},
        MisbehaviourCase{"ZeroStatusByte",
                         {"--reply", "00"},
                         {kBanner, kOpen, kWrite, kSent, kRead, Received("00"),
                          Result("Unknown error", rq::test::kRed), kClose},
                         false},
        // A status byte and then nothing more: the line hangs up after it.
        MisbehaviourCase{"StatusByteThenHangUp",
                         {"--delay", "100", "--status", "F2", "--hangup-after"},
                         {kBanner, kOpen, kWrite, kSent, kRead, Received("F2"),
                          Result("Length error", rq::test::kRed), kClose},
                         true},
        MisbehaviourCase{"HangUpBeforeTheReply", {"--hangup-before"}, {}, true}),
    [](const ::testing::TestParamInfo<MisbehaviourCase>& info) { return std::string(info.param.name); });

// The controller goes away while the window waits for its reply.
TEST_F(ControllerTest, HangUpDuringTheReplyWaitEndsWithTheLinesReason)
{
    auto sim = std::make_unique<SimController>(std::vector<std::string>{"--silent"});
    const std::string port = sim->PortPath();
    StartWindow(port);
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(frame->IsBusy());
    ASSERT_TRUE(sim->WaitForFrames(1));
    sim->Stop();  // closes the terminal under the waiting worker
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    wxTheApp->ProcessPendingEvents();
    const auto log = ReadLog(frame->LogView);
    ExpectLog(log, HungUpLines(log), port);
    ExpectUsableAfterwards();
}

// The port disappears between two transactions (an adapter unplugged).
TEST_F(ControllerTest, PortThatDisappearsBetweenTwoCommandsFailsCleanly)
{
    auto sim = std::make_unique<SimController>();
    const std::string port = sim->PortPath();
    StartWindow(port);
    ClickBlackAndWait();
    ExpectLog(ReadLog(frame->LogView), kSuccessLines, port);

    sim.reset();
    ClickBlackAndWait();
    ExpectLog(ReadLog(frame->LogView), {kBanner, kOpenFailed, kPortGone}, port);
    // Again: a failed open leaves nothing behind that blocks the next one.
    ClickBlackAndWait();
    ExpectLog(ReadLog(frame->LogView), {kBanner, kOpenFailed, kPortGone}, port);
    ExpectUsableAfterwards();
}
