// The bounded wait for written bytes to leave the line, over a scripted
// driver and a clock that moves only when the wait pauses: a queue that
// empties after some questions, a transmitter still busy after its queue is
// empty, one that never empties (the bound holds), and a driver that fails.

#include "line/output_drain.h"
#include "line/comm_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace rq::platform {
namespace {

using std::chrono::milliseconds;

// Answers each question from its script, the last answer repeated; time
// passes only in Pause, by the period asked for, and by a little even for a
// pause of nothing, as on a real clock: a wait that asks for none would
// otherwise never reach its deadline and hang the test.
class ScriptedQueue : public OutputQueue {
public:
    ScriptedQueue(std::vector<long> queued, std::vector<std::optional<bool>> transmitterEmpty)
        : queued(std::move(queued)), transmitterEmpty(std::move(transmitterEmpty))
    {
    }

    bool QueuedBytes(long& count) override
    {
        const std::size_t at = std::min(questions++, queued.size() - 1);
        if (queued[at] < 0) return false;  // the driver refuses
        count = queued[at];
        return true;
    }
    std::optional<bool> TransmitterEmpty() override
    {
        const std::size_t at = std::min(transmitterQuestions++, transmitterEmpty.size() - 1);
        return transmitterEmpty[at];
    }
    Clock::time_point Now() override { return now; }
    void Pause(milliseconds period) override
    {
        pauses.push_back(period.count());
        now += std::max<Clock::duration>(period, std::chrono::microseconds(10));
    }

    milliseconds Elapsed() const { return std::chrono::duration_cast<milliseconds>(now - Clock::time_point{}); }

    std::vector<long> queued;
    std::vector<std::optional<bool>> transmitterEmpty;
    std::size_t questions = 0;
    std::size_t transmitterQuestions = 0;
    std::vector<long long> pauses;
    Clock::time_point now{};
};

struct DrainCase {
    const char* name;
    std::vector<long> queued;                         // bytes in the queue, question by question
    std::vector<std::optional<bool>> transmitterEmpty;  // the transmitter, question by question
    int timeoutMs;
    DrainResult result;
    std::size_t questions;  // how often the queue was asked
    long long elapsedMs;    // on the injected clock
};

class OutputDrain : public testing::TestWithParam<DrainCase> {};

TEST_P(OutputDrain, WaitsForTheQueueAndTheTransmitterWithinItsBound)
{
    const DrainCase& c = GetParam();
    ScriptedQueue queue(c.queued, c.transmitterEmpty);
    EXPECT_EQ(WaitUntilSent(queue, c.timeoutMs), c.result);
    EXPECT_EQ(queue.questions, c.questions) << "questions to the driver";
    EXPECT_EQ(queue.Elapsed().count(), c.elapsedMs) << "milliseconds waited";
    for (const long long pause : queue.pauses) EXPECT_EQ(pause, 1) << "one question a millisecond";
}

const std::optional<bool> kUnknown = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Lines, OutputDrain,
    testing::Values(
        // A pseudo-terminal, or a USB adapter that has sent everything: no wait.
        DrainCase{"EmptyAtOnce", {0}, {kUnknown}, 419, DrainResult::Sent, 1, 0},
        DrainCase{"EmptyAtOnceEvenWithoutTime", {0}, {kUnknown}, 0, DrainResult::Sent, 1, 0},
        // A USB adapter's queue (Windows' cbOutQue, Linux's TIOCOUTQ) going down.
        DrainCase{"QueueEmptiesAfterSomePolls", {255, 200, 120, 40, 0}, {kUnknown}, 419, DrainResult::Sent, 5, 4},
        // A built-in UART: the queue is empty while the last byte is still
        // shifted out.
        DrainCase{"TransmitterStillBusyAfterTheQueue", {64, 0}, {false, false, false, true}, 419, DrainResult::Sent,
                  5, 4},
        // A wedged adapter: the bound holds, to the millisecond.
        DrainCase{"QueueNeverEmpties", {255}, {kUnknown}, 419, DrainResult::TimedOut, 420, 419},
        DrainCase{"TransmitterNeverEmpties", {0}, {false}, 31, DrainResult::TimedOut, 32, 31},
        DrainCase{"NoTimeLeft", {7}, {kUnknown}, 0, DrainResult::TimedOut, 1, 0},
        // A device that vanished: no waiting on a dead line.
        DrainCase{"DriverRefuses", {100, -1}, {kUnknown}, 419, DrainResult::Failed, 2, 1}),
    [](const testing::TestParamInfo<DrainCase>& info) { return std::string(info.param.name); });

// The Windows line settings over a struct laid out like DCB, as a USB CDC
// driver may report it: XON and XOFF both 0, flow control and parity on.
namespace comm {
struct FakeDcb {
    unsigned long BaudRate = 115200;
    unsigned fBinary : 1, fParity : 1, fOutxCtsFlow : 1, fOutxDsrFlow : 1, fDtrControl : 2, fDsrSensitivity : 1,
        fTXContinueOnXoff : 1, fOutX : 1, fInX : 1, fErrorChar : 1, fNull : 1, fRtsControl : 2, fAbortOnError : 1;
    unsigned short XonLim = 2048;
    unsigned char ByteSize = 7, Parity = 2, StopBits = 2;
    char XonChar = 0, XoffChar = 0;
};
}  // namespace comm

TEST(CommSettings, EightNoneOneWithDistinctXonXoffKeepingTheRest)
{
    comm::FakeDcb dcb{};
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fAbortOnError = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fRtsControl = 2;
    SetEightNoneOne(dcb, 9600);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.fBinary + dcb.fDtrControl + dcb.fRtsControl, 3);
    EXPECT_EQ(dcb.fParity + dcb.fOutxCtsFlow + dcb.fOutX + dcb.fInX + dcb.fNull + dcb.fAbortOnError, 0);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
    EXPECT_EQ(dcb.XonLim, 2048);
}

TEST(CommSettings, RateNamedOnlyWhenItIsTheCause)
{
    EXPECT_EQ(CommStateRefusedMessage(9600, false, "The parameter is incorrect."), "The parameter is incorrect.");
    EXPECT_EQ(CommStateRefusedMessage(250000, true, "The parameter is incorrect."),
              "Baud rate 250000 is not supported by this port: The parameter is incorrect.");
}

}  // namespace
}  // namespace rq::platform
