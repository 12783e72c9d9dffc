// rq-m4x-send's runs over many IDs and scripts, without a port: the ID list,
// the script's words and lines, the plan of transactions, the stop rule, and
// what each reporter makes of a transaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>
#include <string>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "line/line_timing.h"
#include "cli/human_reporter.h"
#include "cli/id_list.h"
#include "cli/json_reporter.h"
#include "cli/log_reporter.h"
#include "cli/script_text.h"
#include "cli/send_plan.h"
#include "cli/send_report.h"
#include "cli/send_run.h"
#include "cli/send_session.h"
#include "line/serial_line.h"
#include "serial/sign_search.h"
#include "platform/text_encoding.h"

using namespace rq::cli;

namespace {

// ---- the ID list ----

struct IdListCase {
    const char* text;
    std::vector<int> ids;  // empty: refused
    const char* error;     // part of the message when refused
};

class CliIdList : public ::testing::TestWithParam<IdListCase> {};

TEST_P(CliIdList, ParsesOrRefuses)
{
    const IdListResult result = ParseIdList(GetParam().text);
    std::vector<int> ids(result.ids.begin(), result.ids.end());
    EXPECT_EQ(ids, GetParam().ids);
    if (GetParam().ids.empty()) {
        EXPECT_NE(result.error.find(GetParam().error), std::string::npos) << result.error;
        EXPECT_EQ(result.error.rfind("--ids \"", 0), 0u) << result.error;
    } else {
        EXPECT_EQ(result.error, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliIdList,
    ::testing::Values(IdListCase{"7", {7}, ""}, IdListCase{"0", {0}, ""}, IdListCase{"255", {255}, ""},
                      IdListCase{"1-3", {1, 2, 3}, ""}, IdListCase{"4-4", {4}, ""},
                      IdListCase{"1-3,20,255", {1, 2, 3, 20, 255}, ""},
                      IdListCase{"9,2,5-6", {9, 2, 5, 6}, ""},  // the order written
                      IdListCase{"007", {7}, ""},
                      IdListCase{"", {}, "empty"}, IdListCase{"256", {}, "\"256\""},
                      IdListCase{"1-256", {}, "\"1-256\""}, IdListCase{"5-1", {}, "runs backwards"},
                      IdListCase{"1,,2", {}, "empty item"}, IdListCase{"1,", {}, "empty item"},
                      IdListCase{",1", {}, "empty item"}, IdListCase{"1-", {}, "\"1-\""},
                      IdListCase{"-1", {}, "\"-1\""}, IdListCase{"1-2-3", {}, "\"1-2-3\""},
                      IdListCase{"a", {}, "\"a\""}, IdListCase{"1 ,2", {}, "\"1 \""},
                      IdListCase{"+1", {}, "\"+1\""}, IdListCase{"1000", {}, "\"1000\""},
                      IdListCase{"1-3,2", {}, "ID 2 is listed twice"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// ---- words and lines of a script ----

TEST(CliScript, SplitsWordsLikeAShell)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"--id 3 bright 8", {"--id", "3", "bright", "8"}},
        {"  \tblack\t ", {"black"}},
        {"message \"站台 3\"", {"message", "站台 3"}},
        {"message 'it''s'", {"message", "its"}},
        {"message 'a \"b\" \\c'", {"message", "a \"b\" \\c"}},
        {"message \"a \\\"b\\\" \\\\ \\c\"", {"message", "a \"b\" \\ \\c"}},
        {"message a\\ b\\#c", {"message", "a b#c"}},
        {"message '' x", {"message", "", "x"}},
        {"message say\"  \"'so'", {"message", "say  so"}},
        {"bright 8 # the platform signs", {"bright", "8"}},
        {"message a#b", {"message", "a#b"}},
        {"# a comment", {}},
        {"", {}},
    };
    for (const auto& [line, words] : cases) {
        const SplitResult split = SplitWords(line);
        EXPECT_EQ(split.error, "") << line;
        EXPECT_EQ(split.words, words) << line;
    }
    EXPECT_EQ(SplitWords("message 'open").error, "a single quote is not closed");
    EXPECT_EQ(SplitWords("message \"open\\\"").error, "a double quote is not closed");
    EXPECT_NE(SplitWords("bright 8 \\").error, "");
}

TEST(CliScript, JoinQuotedReadsBackAsTheSameWords)
{
    const std::vector<std::string> words = {"rq-m4x-send", "--port", "/dev/pts/3", "message", "it's \"here\"",
                                            "", "a#b", "站台 3", "\\", "$HOME"};
    const std::string line = JoinQuoted(words);
    EXPECT_EQ(SplitWords(line).words, words) << line;
    EXPECT_EQ(JoinQuoted({"--ids", "1-3,20", "bright", "8"}), "--ids 1-3,20 bright 8");
    EXPECT_EQ(JoinQuoted({"message", "a b"}), "message 'a b'");
}

TEST(CliScript, LinesKeepTheirNumbers)
{
    const ScriptResult script =
        SplitScript("\xEF\xBB\xBF# station 3\r\n\r\n--ids 1-8 scroll 3000 50\r\n   \n--id 3 bright 8");
    EXPECT_EQ(script.error, "");
    ASSERT_EQ(script.lines.size(), 2u);
    EXPECT_EQ(script.lines[0].number, 3);
    EXPECT_EQ(script.lines[0].words, (std::vector<std::string>{"--ids", "1-8", "scroll", "3000", "50"}));
    EXPECT_EQ(script.lines[1].number, 5);
    EXPECT_EQ(script.lines[1].words, (std::vector<std::string>{"--id", "3", "bright", "8"}));

    const ScriptResult broken = SplitScript("black\nmessage \"open\nreset\n");
    EXPECT_TRUE(broken.lines.empty());
    EXPECT_EQ(broken.errorLine, 2);
}

// ---- the plan ----

Arguments ArgumentsOf(const std::vector<std::string>& args)
{
    const ParsedArguments parsed = ParseArguments(args);
    EXPECT_EQ(parsed.error, "");
    return parsed.arguments;
}

Plan Command(const std::vector<std::string>& args)
{
    return PlanCommand(ArgumentsOf(args), nullptr, &rq::platform::ToControllerMultibyte);
}

Plan Script(const std::vector<std::string>& args, const std::string& text)
{
    return PlanScript(ArgumentsOf(args), SplitScript(text), "jobs.txt", nullptr, &rq::platform::ToControllerMultibyte);
}

std::vector<std::string> Frames(const Plan& plan)
{
    std::vector<std::string> frames;
    for (const PlannedTransaction& transaction : plan.transactions) frames.push_back(HexBytes(transaction.frame));
    return frames;
}

TEST(CliPlan, IdsSendTheCommandToEachIdInTurn)
{
    const Plan plan = Command({"--port", "/dev/ttyUSB0", "--ids", "1-3", "bright", "8"});
    EXPECT_EQ(plan.error, "");
    EXPECT_EQ(Frames(plan), (std::vector<std::string>{"A1 08 F7 01 43 08 EC 51", "A1 08 F7 02 43 08 ED 51",
                                                      "A1 08 F7 03 43 08 EE 51"}));
    EXPECT_TRUE(plan.fleet);
    EXPECT_TRUE(plan.summary);
    EXPECT_FALSE(plan.keepGoing);
    EXPECT_EQ(plan.transactions[2].words, (std::vector<std::string>{"bright", "8"}));
    EXPECT_EQ(plan.transactions[2].request.address, 3);

    // Each ID N times, one after the other.
    const Plan repeated = Command({"--port", "P", "--ids", "4,2", "--repeat", "2", "--keep-going", "black"});
    EXPECT_EQ(Frames(repeated), (std::vector<std::string>{"A1 07 F8 04 63 07 51", "A1 07 F8 02 63 05 51"}));
    EXPECT_EQ(repeated.transactions[0].request.repeat, 2);
    EXPECT_EQ(repeated.Total(), 4u);
    EXPECT_TRUE(repeated.keepGoing);
}

TEST(CliPlan, RepeatAloneGoesOnAndOneCommandHasNoSummary)
{
    // Kept as one transaction with its count: a long measurement holds no list.
    const Plan repeat = Command({"--port", "P", "--id", "1", "--repeat", "1000000", "black"});
    EXPECT_EQ(repeat.transactions.size(), 1u);
    EXPECT_EQ(repeat.Total(), 1000000u);
    EXPECT_FALSE(repeat.fleet);
    EXPECT_TRUE(repeat.keepGoing);
    EXPECT_TRUE(repeat.summary);

    const Plan one = Command({"--port", "P", "black"});
    EXPECT_EQ(Frames(one), std::vector<std::string>{"A1 06 F9 63 03 51"});
    EXPECT_FALSE(one.summary);
}

TEST(CliPlan, RefusalsSendNothing)
{
    EXPECT_EQ(ParseArguments({"--id", "1", "--ids", "2", "black"}).error, "--id and --ids exclude each other");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port", "P", "--ids", "1-300", "black"}, "--ids \"1-300\""},
        {{"--port", "P", "--ids", "1,2", "change-id", "9"}, "change-id gives one controller a new ID"},
        {{"--port", "P", "--ids", "1-3", "bright", "x"}, "VALUE \"x\""},
        {{"--ids", "1-3", "black"}, "no serial port"},
    };
    for (const auto& [args, error] : cases) {
        const Plan plan = Command(args);
        EXPECT_TRUE(plan.transactions.empty());
        EXPECT_NE(plan.error.find(error), std::string::npos) << plan.error;
    }
    // One ID may change its ID through a list.
    EXPECT_EQ(Frames(Command({"--port", "P", "--ids", "5", "change-id", "9"})),
              std::vector<std::string>{"A1 08 F7 05 21 09 CF 51"});
}

TEST(CliPlan, APortListReachesEveryBusAtOnce)
{
    const Plan plan = Command({"--port", "A,B", "--ids", "1-2", "black"});
    EXPECT_EQ(plan.error, "");
    std::vector<std::string> sent;
    for (const PlannedTransaction& t : plan.transactions) sent.push_back(t.request.port + " " + HexBytes(t.frame));
    EXPECT_EQ(sent, (std::vector<std::string>{"A A1 07 F8 01 63 04 51", "A A1 07 F8 02 63 05 51",
                                              "B A1 07 F8 01 63 04 51", "B A1 07 F8 02 63 05 51"}));
    EXPECT_TRUE(plan.parallel);
    // One command to one ID on each bus is headed by its port too.
    EXPECT_TRUE(Command({"--port", "A,B", "--id", "1", "black"}).fleet);
    EXPECT_NE(Command({"--port", "A,,B", "black"}).error.find("names an empty port"), std::string::npos);
    EXPECT_NE(Command({"--port", "/dev/X,", "black"}).error.find("names an empty port"), std::string::npos);
    EXPECT_EQ(Command({"--port", "A,B,A", "black"}).error, "--port A,B,A names A twice");
    EXPECT_EQ(Script({"--port", "P"}, "--parallel black\n").error,
              "jobs.txt:1: --parallel applies to the whole run: give it on the command line");
    EXPECT_EQ(Script({"--port", "P"}, "--reopen black\n").error,
              "jobs.txt:1: --reopen applies to the whole run: give it on the command line");
}

TEST(CliPlan, ScriptLinesTakeTheCommandLinesOptionsAndOverrideThem)
{
    const Plan plan = Script({"--port", "/dev/ttyUSB0", "--baud", "19200", "--id", "7", "--unicode"},
                             "# station 3\n"
                             "bright 8\n"
                             "--ids 1-2 black\n"
                             "--port /dev/ttyUSB1 --baud 4800 reset\n"
                             "message 'ab'\n"
                             "--multibyte --id 9 message ab\n");
    EXPECT_EQ(plan.error, "");
    EXPECT_TRUE(plan.fleet);
    EXPECT_FALSE(plan.keepGoing);
    EXPECT_EQ(Frames(plan), (std::vector<std::string>{
                                "A1 08 F7 07 43 08 F2 51",            // line 2: --id 7 of the command line
                                "A1 07 F8 01 63 04 51",               // line 3: the list replaces --id
                                "A1 07 F8 02 63 05 51",
                                "A1 07 F8 07 99 40 51",               // line 4
                                "A1 0B F4 07 02 61 00 62 00 6C 51",   // line 5: --unicode
                                "A1 09 F6 09 01 61 62 6D 51",         // line 6: its own encoding
                            }));
    std::vector<int> lines;
    for (const auto& transaction : plan.transactions) lines.push_back(transaction.line);
    EXPECT_EQ(lines, (std::vector<int>{2, 3, 3, 4, 5, 6}));
    EXPECT_EQ(plan.transactions[3].request.port, "/dev/ttyUSB1");
    EXPECT_EQ(plan.transactions[3].request.baud, 4800);
    EXPECT_EQ(plan.transactions[4].request.port, "/dev/ttyUSB0");
    EXPECT_EQ(plan.transactions[4].request.baud, 19200);
}

TEST(CliPlan, AMistakeOnAnyLineSendsNothing)
{
    const std::string good = "--id 1 bright 8\n--ids 1-3 black\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {good + "blinky on 1 1\n", "jobs.txt:3: unknown command \"blinky\""},
        {good + "\n# last\nbright 99x\n", "jobs.txt:5: bright: VALUE \"99x\""},
        {good + "--ids 1-3,3 black\n", "jobs.txt:3: --ids \"1-3,3\": ID 3 is listed twice"},
        {good + "message \"open\n", "jobs.txt:3: a double quote is not closed"},
        {good + "--json black\n", "jobs.txt:3: --json applies to the whole run"},
        {good + "--keep-going black\n", "jobs.txt:3: --keep-going applies to the whole run"},
        {good + "--version black\n", "jobs.txt:3: --version applies to the whole run"},
        {good + "--list-ports\n", "jobs.txt:3: --list-ports applies to the whole run"},
        {good + "--id 1 --ids 2 black\n", "jobs.txt:3: --id and --ids exclude each other"},
        {good + "--verbose black\n", "jobs.txt:3: unknown option --verbose"},
        {"# nothing\n\n", "jobs.txt: the script holds no command"},
    };
    for (const auto& [text, error] : cases) {
        const Plan plan = Script({"--port", "P"}, text);
        EXPECT_TRUE(plan.transactions.empty()) << text;
        EXPECT_EQ(plan.error.substr(0, error.size()), error) << plan.error;
    }
    const Plan withCommand = Script({"--port", "P", "black"}, good);
    EXPECT_TRUE(withCommand.transactions.empty());
    EXPECT_NE(withCommand.error.find("put it in the script"), std::string::npos) << withCommand.error;
}

TEST(CliPlan, WarningsNameTheirLineOnce)
{
    const Plan plan = Script({"--port", "P"}, "black\n--ids 1-3 blinking on 12abc 1000\n");
    EXPECT_EQ(plan.error, "");
    EXPECT_EQ(plan.warnings, std::vector<std::string>{
                                 "jobs.txt:2: blinking: ON_MS \"12abc\" is read as 12, as the window reads it"});
}

// ---- running a plan ----

// Answers from a table of outcomes by ID, and records what it was asked.
class FakeTransactor : public Transactor {
public:
    std::vector<std::pair<int, Outcome>> outcomes;  // ID -> outcome; others succeed
    std::vector<int> asked;
    std::vector<bool> lastOnLine;  // what each transaction was told
    int ended = 0;

    TransactionRecord Transact(const PlannedTransaction& transaction, bool last) override
    {
        const int id = transaction.request.address ? *transaction.request.address : -1;
        asked.push_back(id);
        lastOnLine.push_back(last);
        TransactionRecord record;
        record.outcome = Outcome::Success;
        for (const auto& [failing, outcome] : outcomes) {
            if (failing == id) record.outcome = outcome;
        }
        record.milliseconds = 10.0;
        return record;
    }
    void EndRun() override { ++ended; }
};

// Keeps the summary and the order of the calls.
class RecordingReporter : public Reporter {
public:
    std::vector<std::string> calls;
    std::string summary;
    void TransactionStarted(const PlannedTransaction& t) override { calls.push_back("start " + HexBytes(t.frame)); }
    void Line(const std::string& text, rq::serial::Rgb, bool) override { calls.push_back(text); }
    void TransactionFinished(const PlannedTransaction& t, const TransactionRecord& r) override
    {
        calls.push_back("end " + HexBytes(t.frame) + " " + OutcomeKey(r.outcome) +
                        (r.reason.empty() ? "" : " (" + r.reason + ")"));
    }
    void RunFinished(const std::string& text) override { summary = text; }
};

TEST(CliRun, EachTransactionKnowsWhetherItsLineGoesOn)
{
    FakeTransactor fake;
    RecordingReporter reporter;
    const Plan plan = Script({"--port", "A"}, "--ids 1-2 black\n--id 3 --repeat 2 black\n--port B --id 4 black\n"
                                              "--baud 19200 --id 5 black\n--id 6 black\n");
    EXPECT_EQ(RunPlan(plan, fake, reporter), kExitSuccess);
    EXPECT_EQ(fake.asked, (std::vector<int>{1, 2, 3, 3, 4, 5, 6}));
    EXPECT_EQ(fake.lastOnLine, (std::vector<bool>{false, false, false, true, true, true, true}));
    EXPECT_EQ(fake.ended, 1);
}

// Names its port in every line it reports, and yields between them, so that
// lines of two ports would mix if nothing held them together.
class TwoLineTransactor : public FakeTransactor {
public:
    explicit TwoLineTransactor(Reporter& reporter) : reporter(reporter) {}
    TransactionRecord Transact(const PlannedTransaction& transaction, bool last) override
    {
        for (const char* part : {" first", " second"}) {
            reporter.Line(transaction.request.port + " " + HexBytes(transaction.frame) + part, {0, 0, 0}, false);
            std::this_thread::yield();
        }
        return FakeTransactor::Transact(transaction, last);
    }
    Reporter& reporter;
};

TEST(CliRun, ParallelPortsKeepTheirOrderAndEachTransactionWhole)
{
    RecordingReporter reporter;
    std::mutex made;
    const Plan plan = Command({"--port", "A,B", "--ids", "1-20", "--keep-going", "black"});
    const int status = RunPlanInParallel(
        plan,
        [&made](Reporter& busReporter) {
            std::lock_guard<std::mutex> lock(made);
            auto fake = std::make_unique<TwoLineTransactor>(busReporter);
            fake->outcomes = {{3, Outcome::TimedOut}};
            return fake;
        },
        reporter);
    EXPECT_EQ(status, kExitTimedOut);
    ASSERT_EQ(reporter.calls.size(), 40u * 4u);
    std::map<std::string, std::vector<std::string>> frames;  // per port, in order
    for (std::size_t i = 0; i < reporter.calls.size(); i += 4) {
        const std::string frame = reporter.calls[i].substr(6);
        const std::string port = reporter.calls[i + 1].substr(0, 1);
        EXPECT_EQ(reporter.calls[i + 1], port + " " + frame + " first");
        EXPECT_EQ(reporter.calls[i + 2], port + " " + frame + " second");
        EXPECT_EQ(reporter.calls[i + 3].substr(0, 4 + frame.size()), "end " + frame);
        frames[port].push_back(frame);
    }
    for (const std::string port : {"A", "B"}) EXPECT_EQ(frames[port], Frames(Command({"--port", port, "--ids", "1-20", "black"})));
    EXPECT_NE(reporter.summary.find("Transactions: 40\n"), std::string::npos) << reporter.summary;
    // Failures by port and ID, in the order they happened.
    const bool aFirst = reporter.summary.find("\nNot succeeded: A ID 3, B ID 3\n") != std::string::npos;
    const bool bFirst = reporter.summary.find("\nNot succeeded: B ID 3, A ID 3\n") != std::string::npos;
    EXPECT_TRUE(aFirst || bFirst) << reporter.summary;
}

// Port B's ID 1 fails first in time; port A's ID 3, first in the plan, after it.
class LaterFailureFirstInPlan : public FakeTransactor {
public:
    explicit LaterFailureFirstInPlan(std::atomic<bool>& bCounted) : bCounted(bCounted) {}
    TransactionRecord Transact(const PlannedTransaction& transaction, bool last) override
    {
        const std::string at = transaction.request.port + std::to_string(*transaction.request.address);
        if (at == "B2") bCounted = true;  // B1's failure has been counted
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (at == "A3" && !bCounted && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        outcomes = {{1, at == "B1" ? Outcome::ChecksumError : Outcome::Success},
                    {3, at == "A3" ? Outcome::TimedOut : Outcome::Success}};
        return FakeTransactor::Transact(transaction, last);
    }
    std::atomic<bool>& bCounted;
};

TEST(CliRun, ParallelExitStatusIsTheFirstFailureInThePlansOrder)
{
    RecordingReporter reporter;
    std::atomic<bool> bCounted{false};
    const Plan plan = Command({"--port", "A,B", "--ids", "1-3", "--keep-going", "black"});
    EXPECT_EQ(RunPlanInParallel(
                  plan, [&bCounted](Reporter&) { return std::make_unique<LaterFailureFirstInPlan>(bCounted); },
                  reporter),
              kExitTimedOut);
    EXPECT_TRUE(bCounted);
}

// A line that goes away after the writes numbered in `lostOnWrites`, is found
// gone by those in `refusedWrites` (nothing written), and answers 0F to every
// other frame; counts its opens.
struct FlakyBus {
    std::vector<int> lostOnWrites;
    std::vector<int> refusedWrites;
    std::atomic<int> writes{0};
    std::atomic<int> opens{0};
};

class FlakyLine : public rq::platform::SerialLine {
public:
    explicit FlakyLine(std::shared_ptr<FlakyBus> bus) : bus(std::move(bus)) {}
    bool Open(const std::string&, long) override
    {
        ++bus->opens;
        open = true;
        lost = false;
        return true;
    }
    bool IsOpen() const override { return open; }
    std::size_t Write(const std::uint8_t*, std::size_t length, int) override
    {
        // A sign answers once the frame has crossed the line (9600 baud).
        answersFrom = std::chrono::steady_clock::now() + std::chrono::microseconds(rq::platform::EarliestReplyUs(length, 9600));
        const int write = ++bus->writes;
        const auto listed = [write](const std::vector<int>& writes) {
            return std::find(writes.begin(), writes.end(), write) != writes.end();
        };
        lost = listed(bus->lostOnWrites) || listed(bus->refusedWrites);
        return listed(bus->refusedWrites) ? 0 : length;
    }
    bool Drain(int) override { return true; }
    bool DiscardInput() override { return true; }
    std::size_t Read(std::uint8_t* data, std::size_t length, int) override
    {
        if (lost || length == 0 || std::chrono::steady_clock::now() < answersFrom) return 0;
        data[0] = 0x0F;
        return 1;
    }
    void Close() override { open = false; }
    const std::string& LastErrorMessage() const override { return reason; }
    int LastErrorCode() const override { return lost ? 5 : 0; }

private:
    std::shared_ptr<FlakyBus> bus;
    std::chrono::steady_clock::time_point answersFrom;
    bool open = false;
    bool lost = false;
    std::string reason = "Input/output error";
};

struct LostLineCase {
    std::vector<int> lostOnWrites;
    std::vector<int> refusedWrites;
    int opens;
    std::vector<std::string> outcomes;
    std::vector<std::string> notes;  // the lines about the lost line, in order
};

class CliSessionLostLine : public ::testing::TestWithParam<LostLineCase> {};

TEST_P(CliSessionLostLine, IsOpenedAgainOnce)
{
    auto bus = std::make_shared<FlakyBus>();
    bus->lostOnWrites = GetParam().lostOnWrites;
    bus->refusedWrites = GetParam().refusedWrites;
    rq::platform::SetSerialLineMaker([bus](const std::string&) { return std::make_unique<FlakyLine>(bus); });
    RecordingReporter reporter;
    {
        SendSession session(reporter, true);
        RunPlan(Command({"--port", "P", "--ids", "1-4", "--keep-going", "black"}), session, reporter);
    }
    rq::platform::SetSerialLineMaker(nullptr);
    EXPECT_EQ(bus->opens, GetParam().opens);
    std::vector<std::string> outcomes, notes;
    for (const std::string& call : reporter.calls) {
        if (call.rfind("end ", 0) == 0) outcomes.push_back(call.substr(std::string("end A1 07 F8 01 63 04 51 ").size()));
        if (call.find("again") != std::string::npos || call.find("Close") != std::string::npos ||
            call.find("Open") != std::string::npos)
            notes.push_back(call.substr(call.find_first_not_of(" 0123456789:.")));
    }
    EXPECT_EQ(outcomes, GetParam().outcomes);
    EXPECT_EQ(notes, GetParam().notes);
}

const char* const kLost = "line lost (Input/output error)";

INSTANTIATE_TEST_SUITE_P(
    Cli, CliSessionLostLine,
    ::testing::Values(LostLineCase{{}, {}, 1, {"success", "success", "success", "success"}, {"Open : P ,9600 ", "Close: P"}},
                      LostLineCase{{2},
                                   {},
                                   2,
                                   {"success", kLost, "success", "success"},
                                   {"Open : P ,9600 ", "Close: P", "The line was lost: opening P again",
                                    "Open : P ,9600 ", "Close: P"}},
                      // Not a frame went on the fourth: it is not sent, not lost.
                      LostLineCase{{2, 3},
                                   {},
                                   2,
                                   {"success", kLost, kLost, "not sent"},
                                   {"Open : P ,9600 ", "Close: P", "The line was lost: opening P again",
                                    "Open : P ,9600 ", "Close: P", "P was lost again and is not opened"}},
                      // Found gone before a byte of the second frame left:
                      // opened again at once, every time, and the frame goes.
                      LostLineCase{{},
                                   {2, 4},
                                   3,
                                   {"success", "success", "success", "success"},
                                   {"Open : P ,9600 ", "The line was lost: opening P again", "Open : P ,9600 ",
                                    "The line was lost: opening P again", "Open : P ,9600 ", "Close: P"}}));

TEST(CliRun, StopsAtTheFirstFailureUnlessKeepGoing)
{
    FakeTransactor stopping;
    stopping.outcomes = {{3, Outcome::TimedOut}, {5, Outcome::ChecksumError}};
    RecordingReporter stopped;
    EXPECT_EQ(RunPlan(Command({"--port", "P", "--ids", "1-6", "black"}), stopping, stopped), kExitTimedOut);
    EXPECT_EQ(stopping.asked, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(stopped.calls.size(), 6u);
    EXPECT_EQ(stopped.calls[5], "end A1 07 F8 03 63 06 51 timed out");
    EXPECT_NE(stopped.summary.find("Transactions: 3\n"), std::string::npos) << stopped.summary;
    EXPECT_NE(stopped.summary.find("\nNot succeeded: 3\n"), std::string::npos) << stopped.summary;
    EXPECT_NE(stopped.summary.find("\nNot sent: 3 (stopped at the first failure"), std::string::npos)
        << stopped.summary;

    FakeTransactor going = stopping;
    going.asked.clear();
    RecordingReporter all;
    EXPECT_EQ(RunPlan(Command({"--port", "P", "--ids", "1-6", "--keep-going", "black"}), going, all), kExitTimedOut);
    EXPECT_EQ(going.asked, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_NE(all.summary.find("Transactions: 6\nSuccess: 4\nChecksum error: 1\n"), std::string::npos) << all.summary;
    EXPECT_NE(all.summary.find("\nNot succeeded: 3, 5\n"), std::string::npos) << all.summary;
    EXPECT_EQ(all.summary.find("Not sent"), std::string::npos) << all.summary;

    FakeTransactor fine;
    RecordingReporter quiet;
    EXPECT_EQ(RunPlan(Command({"--port", "P", "--ids", "1-2", "black"}), fine, quiet), kExitSuccess);
    EXPECT_NE(quiet.summary.find("\nNot succeeded: none\n"), std::string::npos) << quiet.summary;

    // A single command has no summary; a plain repeat keeps the old one.
    RecordingReporter single;
    EXPECT_EQ(RunPlan(Command({"--port", "P", "--id", "3", "black"}), stopping, single), kExitTimedOut);
    EXPECT_EQ(single.summary, "");
    RecordingReporter repeat;
    stopping.asked.clear();
    EXPECT_EQ(RunPlan(Command({"--port", "P", "--id", "3", "--repeat", "2", "black"}), stopping, repeat), kExitTimedOut);
    EXPECT_EQ(stopping.asked, (std::vector<int>{3, 3}));
    EXPECT_EQ(repeat.summary.find("Not succeeded"), std::string::npos) << repeat.summary;

    // Repeats over a list stop within an ID's repeats too.
    stopping.asked.clear();
    RecordingReporter repeats;
    EXPECT_EQ(RunPlan(Command({"--port", "P", "--ids", "2-4", "--repeat", "2", "black"}), stopping, repeats),
              kExitTimedOut);
    EXPECT_EQ(stopping.asked, (std::vector<int>{2, 2, 3}));
    EXPECT_NE(repeats.summary.find("\nNot sent: 3 "), std::string::npos) << repeats.summary;
}

// ---- the reporters ----

PlannedTransaction BrightTo(int id, int line = 0)
{
    Plan plan = Command({"--port", "/dev/ttyUSB0", "--id", std::to_string(id), "bright", "8"});
    plan.transactions.at(0).line = line;
    return plan.transactions.at(0);
}

TEST(CliReporters, JsonRecordsParseBack)
{
    TransactionRecord record;
    record.outcome = Outcome::Success;
    record.milliseconds = 17.25049;
    record.started = "2026-12-08T22:10:03.042+01:00";
    record.reply = std::vector<std::uint8_t>{0x0F};
    const auto object = nlohmann::json::parse(JsonReporter::Record(BrightTo(3, 4), record));
    EXPECT_EQ(object["id"], 3);
    EXPECT_EQ(object["command"], "bright");
    EXPECT_EQ(object["arguments"], nlohmann::json::array({"8"}));
    EXPECT_EQ(object["line"], 4);
    EXPECT_EQ(object["port"], "/dev/ttyUSB0");
    EXPECT_EQ(object["baud"], 9600);
    EXPECT_EQ(object["frame"], "A1 08 F7 03 43 08 EE 51");
    EXPECT_EQ(object["reply"], "0F");
    EXPECT_EQ(object["outcome"], "success");
    EXPECT_EQ(object["exit_status"], 0);
    EXPECT_EQ(object["started"], "2026-12-08T22:10:03.042+01:00");
    EXPECT_DOUBLE_EQ(object["ms"].get<double>(), 17.25);

    TransactionRecord silent;
    silent.outcome = Outcome::TimedOut;
    Plan unaddressed = Command({"--port", "/dev/\xFF", "black"});
    const std::string line = JsonReporter::Record(unaddressed.transactions.at(0), silent);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto timedOut = nlohmann::json::parse(line);
    EXPECT_TRUE(timedOut["id"].is_null());
    EXPECT_TRUE(timedOut["reply"].is_null());
    EXPECT_TRUE(timedOut["line"].is_null());
    EXPECT_EQ(timedOut["outcome"], "timed out");
    EXPECT_EQ(timedOut["exit_status"], 7);
    EXPECT_EQ(timedOut["port"], "/dev/\xEF\xBF\xBD");  // not UTF-8: replaced, never a broken line

    EXPECT_EQ(OutcomeKey(Outcome::OpenFailed), "open failed");
    EXPECT_EQ(OutcomeKey(Outcome::UndefinedInstruction), "undefined instruction");
}

TEST(CliReporters, LocalTimeInIso8601)
{
    EXPECT_EQ(Iso8601(2026, 12, 8, 22, 10, 3, 42, 60), "2026-12-08T22:10:03.042+01:00");
    EXPECT_EQ(Iso8601(2027, 1, 1, 0, 0, 0, 999, -330), "2027-01-01T00:00:00.999-05:30");
    EXPECT_EQ(Iso8601(2026, 6, 30, 9, 5, 7, 0, 0), "2026-06-30T09:05:07.000+00:00");
}

// What a reporter writes into a temporary file.
template <typename Write>
std::string Written(Write write)
{
    std::FILE* file = std::tmpfile();
    write(file);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

TEST(CliReporters, HumanLinesWithHeadingsAndQuiet)
{
    TransactionRecord record;
    record.resultLine = std::string(17, ' ') + "Success";
    const PlannedTransaction fromScript = BrightTo(3, 4);

    HumanReporter::Style fleet;
    fleet.headings = true;
    fleet.scriptName = "jobs.txt";
    EXPECT_EQ(Written([&](std::FILE* out) {
                  HumanReporter reporter(out, fleet);
                  reporter.TransactionStarted(fromScript);
                  reporter.Line("line", rq::serial::BLUE, false);
                  reporter.TransactionFinished(fromScript, record);
                  reporter.RunFinished("Transactions: 1\n");
              }),
              "jobs.txt:4  ID 3\nline\nTransactions: 1\n");

    fleet.quiet = true;
    EXPECT_EQ(Written([&](std::FILE* out) {
                  HumanReporter reporter(out, fleet);
                  reporter.TransactionStarted(fromScript);
                  reporter.Line("line", rq::serial::BLUE, false);
                  reporter.TransactionFinished(fromScript, record);
              }),
              "jobs.txt:4  ID 3  " + record.resultLine + "\n");
    EXPECT_EQ(TransactionHeading(BrightTo(200), "x"), "ID 200");
}

TEST(CliReporters, LogFileHasAHeaderAndEveryLineWithoutColour)
{
    TransactionRecord record;
    record.resultLine = "result";
    const PlannedTransaction transaction = BrightTo(3);
    const std::string header = LogHeader("2026-12-08 22:10:03", {{"/dev/ttyUSB0", 9600}}, "rq-m4x-send --ids 3 bright 8");
    EXPECT_EQ(header, "==== 2026-12-08 22:10:03  port /dev/ttyUSB0  baud 9600  rq-m4x-send --ids 3 bright 8");
    EXPECT_EQ(LogHeader("2026-12-08 22:10:03", {{"A", 9600}, {"B", 19200}}, "rq-m4x-send --script s"),
              "==== 2026-12-08 22:10:03  port A  baud 9600  port B  baud 19200  rq-m4x-send --script s");
    EXPECT_EQ(Written([&](std::FILE* out) {
                  // The reporter closes what it is given: hand it its own stream on the file.
                  std::FILE* own = fdopen(dup(fileno(out)), "a");
                  LogFileReporter reporter(own, header, true, "");
                  reporter.TransactionStarted(transaction);
                  reporter.Line("               =========  Bright Set  =========", rq::serial::PLUM, true);
                  reporter.Line("DATA :  A1 08 F7 03 43 08 EE 51", rq::serial::MAGENTA, false);
                  reporter.TransactionFinished(transaction, record);
                  reporter.RunFinished("Transactions: 1\n");
              }),
              header + "\nID 3\n               =========  Bright Set  =========\nDATA :  A1 08 F7 03 43 08 EE 51\n"
                       "Transactions: 1\n");
}

}  // namespace

// Finding signs over a line modelled in time: a sign answers its probe after
// its delay; an answer that comes while the line settles after a silent probe
// is dropped (and said), one that comes later fills a later probe's wait.
// However late within 500 ms, every sign is found at its own ID, and no other.
class SignSearchTiming : public ::testing::TestWithParam<int> {};

TEST_P(SignSearchTiming, FindsEachSignAtItsOwnIdHoweverLate)
{
    const std::map<int, double> delays = {{5, 16}, {7, GetParam()}, {9, 16}};
    double now = 0, silentSince = -1;
    const double settle = 60;
    std::vector<double> pending;  // arrival times, oldest first
    const rq::serial::Prober probe = [&](std::optional<std::uint8_t> id, int, int wait, std::uint8_t) {
        rq::serial::ProbeAnswer answer;
        const double start = now;
        if (silentSince >= 0) {
            // The settle: quiet for a short wait since the time-out, late bytes dropped and said.
            double quietUntil = std::max(now, silentSince + settle);
            for (; !pending.empty() && pending.front() <= quietUntil; pending.erase(pending.begin())) {
                answer.lateBytes = true;
                quietUntil = std::max(quietUntil, pending.front() + settle);
            }
            now = quietUntil;
        }
        // What came while nobody held the line goes unsaid.
        while (!pending.empty() && pending.front() <= now) pending.erase(pending.begin());
        if (id && delays.count(*id)) pending.push_back(now + delays.at(*id));
        std::sort(pending.begin(), pending.end());
        if (!pending.empty() && pending.front() <= now + wait) {
            answer.kind = rq::serial::ProbeAnswer::Kind::Answered;
            answer.status = 0xF1;
            now = pending.front();
            pending.erase(pending.begin());
            silentSince = -1;
        } else {
            now += wait;
            silentSince = now;
        }
        answer.replyMs = answer.elapsedMs = now - start;
        now += 1;
        return answer;
    };
    rq::serial::SearchSettings settings;
    for (int id = 1; id <= 14; ++id) settings.ids.push_back(static_cast<std::uint8_t>(id));
    settings.bauds = {9600};
    settings.waitMs = 60;
    const rq::serial::SearchResult result = rq::serial::FindSigns(settings, probe);
    std::vector<int> found;
    for (const auto& sign : result.found) found.push_back(*sign.id);
    EXPECT_EQ(found, (std::vector<int>{5, 7, 9}));
}

INSTANTIATE_TEST_SUITE_P(Cli, SignSearchTiming, ::testing::Values(16, 100, 300, 450, 499));
