// rq-m4x-send run as a program against the simulated controller: the frames
// on the wire, the printed log lines and colours, the exit statuses, values
// from a working directory, and that bad arguments send nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "cli/send_report.h"
#include "platform/port_names.h"
#include "line/serial_port.h"
#include "support/command_cases.h"
#include "support/sim_controller.h"
#ifndef _WIN32
#include "line/tcp_socket.h"
#include "support/ser2net_server.h"
#endif
#include "support/work_dir.h"

using rq::test::CommandCase;
using rq::test::SimController;
#ifndef _WIN32
using rq::test::ScriptedServer;
using rq::test::Ser2netServer;
#endif
using rq::test::WorkDir;

namespace {

const std::string kBlanks(17, ' ');
const char* const kTime = R"(\d\d:\d\d:\d\d\.\d\d\d     )";

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

#ifdef _WIN32
std::wstring Wide(const std::string& utf8)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

// One argument as the C runtime splits a command line again.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// Runs rq-m4x-send.exe with `args`, its standard output and error going to
// pipes (Windows has no pseudo-terminal to give it); `input`, when given, is
// its standard input. Text-mode output ends its lines with CRLF; the result
// has LF. A run that outlives a generous bound is killed and fails the test.
RunResult RunSend(const std::vector<std::string>& args, bool onTerminal = false,
                  const std::optional<std::string>& input = std::nullopt)
{
    RunResult result;
    if (onTerminal) {
        ADD_FAILURE() << "no terminal to run rq-m4x-send on";
        return result;
    }
    std::wstring command = Quoted(Wide(RQ_SEND_EXECUTABLE));
    for (const std::string& arg : args) command += L" " + Quoted(Wide(arg));

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe";
        return result;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE inRead = nullptr, inWrite = nullptr;
    if (input) {
        if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) {
            ADD_FAILURE() << "CreatePipe";
            return result;
        }
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    }
    const HANDLE nul = input ? inRead
                             : CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                           OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION child{};
    const bool created = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &child);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(nul);
    // Written whole and closed, so the program reads to its end.
    std::thread inputWriter;
    if (input) {
        inputWriter = std::thread([inWrite, &input] {
            DWORD put = 0;
            WriteFile(inWrite, input->data(), static_cast<DWORD>(input->size()), &put, nullptr);
            CloseHandle(inWrite);
        });
    }
    if (!created) {
        if (inputWriter.joinable()) inputWriter.join();
        CloseHandle(outRead);
        CloseHandle(errRead);
        ADD_FAILURE() << "cannot start " << RQ_SEND_EXECUTABLE << ": " << GetLastError();
        return result;
    }
    // Each pipe on a thread of its own, so that neither can fill up and stall the program.
    const auto drain = [](HANDLE pipe, std::string* sink) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) sink->append(buffer, got);
    };
    std::thread outReader(drain, outRead, &result.out);
    std::thread errReader(drain, errRead, &result.err);
    if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, 10000);
        ADD_FAILURE() << "rq-m4x-send did not finish";
    }
    outReader.join();
    errReader.join();
    if (inputWriter.joinable()) inputWriter.join();
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(outRead);
    CloseHandle(errRead);
    for (std::string* text : {&result.out, &result.err}) {
        std::string lines;
        for (std::size_t i = 0; i < text->size(); ++i) {
            if ((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
            lines += (*text)[i];
        }
        *text = lines;
    }
    return result;
}
#else
// Runs rq-m4x-send with `args`; its standard output is a pipe, or a
// pseudo-terminal when `onTerminal` is set, or the file `outputPath` when
// one is given; `input`, when given, is its standard input. With
// `errorOnTerminal`, standard error goes to the terminal too, into `out`.
// `fileSizeLimit` (bytes, 0 for none) stops the program's file writes the way
// a full disk does. A run that outlives a generous bound is killed and fails
// the test.
RunResult RunSend(const std::vector<std::string>& args, bool onTerminal = false,
                  const std::optional<std::string>& input = std::nullopt, const std::string& outputPath = {},
                  rlim_t fileSizeLimit = 0, bool errorOnTerminal = false, int interruptAfterMs = 0)
{
    RunResult result;
    std::vector<std::string> words = {RQ_SEND_EXECUTABLE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int outRead = -1, outWrite = -1, errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return result;
    }
    if (onTerminal) {
        if (openpty(&outRead, &outWrite, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty";
            return result;
        }
        // Bytes pass unchanged, so the test sees exactly what was printed.
        termios raw{};
        tcgetattr(outWrite, &raw);
        cfmakeraw(&raw);
        tcsetattr(outWrite, TCSANOW, &raw);
        fcntl(outRead, F_SETFD, FD_CLOEXEC);
        fcntl(outWrite, F_SETFD, FD_CLOEXEC);
    } else {
        int outPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe";
            return result;
        }
        outRead = outPipe[0];
        outWrite = outPipe[1];
    }

    int inPipe[2] = {-1, -1};
    if (input && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inPipe) != 0) {
        ADD_FAILURE() << "pipe";
        return result;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        if (input) dup2(inPipe[0], STDIN_FILENO);
        const int output = outputPath.empty() ? outWrite : open(outputPath.c_str(), O_WRONLY);
        if (output < 0) _exit(126);
        dup2(output, STDOUT_FILENO);
        dup2(errorOnTerminal ? outWrite : errPipe[1], STDERR_FILENO);
        if (fileSizeLimit != 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outWrite);
    close(errPipe[1]);
    if (input) {
        // Written whole before reading. A program that ends without reading
        // (bad arguments) closes its end: a socket's send says so, where a
        // pipe's write would kill the suite with SIGPIPE.
        close(inPipe[0]);
        for (std::size_t written = 0; written < input->size();) {
            const ssize_t n = send(inPipe[1], input->data() + written, input->size() - written, MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR) break;
            written += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
        }
        close(inPipe[1]);
    }

    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::seconds(60);
    // Ctrl+C as a terminal delivers it, once, that long after the start.
    auto interruptAt = interruptAfterMs > 0 ? started + std::chrono::milliseconds(interruptAfterMs)
                                            : std::chrono::steady_clock::time_point::max();
    pollfd fds[2] = {{outRead, POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "rq-m4x-send did not finish";
            break;
        }
        if (std::chrono::steady_clock::now() >= interruptAt) {
            kill(pid, SIGINT);
            interruptAt = std::chrono::steady_clock::time_point::max();
        }
        const auto untilInterrupt = std::chrono::duration_cast<std::chrono::milliseconds>(
            interruptAt - std::min(interruptAt, std::chrono::steady_clock::now()));
        if (poll(fds, 2, static_cast<int>(std::min(left, untilInterrupt + std::chrono::milliseconds(1)).count())) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                // End of file, or EIO once the terminal's last writer has gone.
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
#endif

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool Matches(const std::string& text, const std::string& pattern)
{
    return std::regex_match(text, std::regex(pattern));
}

// `text` as a pattern that matches just itself (a Windows path has
// backslashes).
std::string Literal(const std::string& text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// The case's arguments after the port and the ID.
std::vector<std::string> CaseArguments(const CommandCase& c, const std::string& port)
{
    std::vector<std::string> args = {"--port", port};
    if (c.id) {
        args.push_back("--id");
        args.push_back(c.id);
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    return args;
}

const std::string kBlackFrame = "A1 06 F9 63 03 51";

// Proves that nothing went out before: a black command sent now must be the
// only frame the controller has received since `before` frames.
void ExpectNothingSentSince(SimController& sim, std::size_t before, const std::string& port = {})
{
    const RunResult probe = RunSend({"--port", port.empty() ? sim.PortPath() : port, "--quiet", "black"});
    ASSERT_EQ(probe.status, 0) << probe.out << probe.err;
    const auto frames = sim.RecordedFrames();
    ASSERT_EQ(frames.size(), before + 1);
    EXPECT_EQ(frames.back(), kBlackFrame);
}

}  // namespace

// ---- the shared table: the same frames as the window ----

// Two controllers told how frames are addressed, as a sign knows: one for the
// cases with an ID, one for those without.
class CliSendCases : public ::testing::TestWithParam<CommandCase> {
protected:
    static void SetUpTestSuite()
    {
        addressed = new SimController({"--address", "on"});
        plain = new SimController({"--address", "off"});
    }
    static void TearDownTestSuite()
    {
        delete addressed;
        delete plain;
        addressed = plain = nullptr;
    }
    static SimController& For(const CommandCase& c) { return c.id && !c.frame.empty() ? *addressed : *plain; }
    static SimController* addressed;
    static SimController* plain;
};

SimController* CliSendCases::addressed = nullptr;
SimController* CliSendCases::plain = nullptr;

// Sends the case through `port`, which leads to `sim`, and checks the frame
// that arrived, the log lines and the status.
void ExpectTheCaseOnTheWire(const CommandCase& c, SimController& sim, const std::string& port)
{
    const std::size_t before = sim.RecordedFrames().size();
    const RunResult run = RunSend(CaseArguments(c, port));
    if (c.frame.empty()) {
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err, "");
        ExpectNothingSentSince(sim, before, port);
        return;
    }
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_TRUE(sim.WaitForFrames(before + 1));
    const auto frames = sim.RecordedFrames();
    ASSERT_EQ(frames.size(), before + 1);
    EXPECT_EQ(frames.back(), c.frame);
    const auto lines = Lines(run.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), kBlanks + "DATA :  " + c.frame), lines.end()) << run.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), kBlanks + "Success"), lines.end()) << run.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), kBlanks + "Close: " + port), lines.end()) << run.out;
}

TEST_P(CliSendCases, SendsTheFrameTheWindowSends)
{
    SimController& sim = For(GetParam());
    ExpectTheCaseOnTheWire(GetParam(), sim, sim.PortPath());
}

TEST_P(CliSendCases, HexPrintsTheFrame)
{
    const CommandCase& c = GetParam();
    std::vector<std::string> args = CaseArguments(c, "/nonexistent/tty");
    args.insert(args.begin(), "--hex");
    const RunResult hex = RunSend(args);
    if (c.frame.empty()) {
        EXPECT_EQ(hex.status, 2);
        EXPECT_EQ(hex.out, "");
    } else {
        EXPECT_EQ(hex.status, 0) << hex.err;
        EXPECT_EQ(hex.out, c.frame + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, CliSendCases, ::testing::ValuesIn(rq::test::CommandCases()),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// The same table through Debian's ser2net on the loopback, in each of its
// modes; one controller behind each server.
class CliSendCasesThroughSer2net : public ::testing::TestWithParam<CommandCase> {
protected:
    static void SetUpTestSuite()
    {
        rfc2217Sim = new SimController;
        rfc2217 = new Ser2netServer(rfc2217Sim->PortPath(), Ser2netServer::Mode::Rfc2217);
        rawSim = new SimController;
        raw = new Ser2netServer(rawSim->PortPath(), Ser2netServer::Mode::Raw);
    }
    static void TearDownTestSuite()
    {
        delete rfc2217;
        delete raw;
        delete rfc2217Sim;
        delete rawSim;
    }
    static SimController* rfc2217Sim;
    static SimController* rawSim;
    static Ser2netServer* rfc2217;
    static Ser2netServer* raw;
};

SimController* CliSendCasesThroughSer2net::rfc2217Sim = nullptr;
SimController* CliSendCasesThroughSer2net::rawSim = nullptr;
Ser2netServer* CliSendCasesThroughSer2net::rfc2217 = nullptr;
Ser2netServer* CliSendCasesThroughSer2net::raw = nullptr;

TEST_P(CliSendCasesThroughSer2net, Rfc2217)
{
    ExpectTheCaseOnTheWire(GetParam(), *rfc2217Sim, rfc2217->PortName());
}

TEST_P(CliSendCasesThroughSer2net, RawTcp)
{
    ExpectTheCaseOnTheWire(GetParam(), *rawSim, raw->PortName());
}

INSTANTIATE_TEST_SUITE_P(Cli, CliSendCasesThroughSer2net, ::testing::ValuesIn(rq::test::CommandCases()),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

TEST(CliSend, HexSendsNothing)
{
    SimController sim;
    const RunResult hex = RunSend({"--hex", "--port", sim.PortPath(), "--id", "1", "bright", "8"});
    EXPECT_EQ(hex.status, 0);
    EXPECT_EQ(hex.out, "A1 08 F7 01 43 08 EC 51\n");
    ExpectNothingSentSince(sim, 0);
}

// ---- the log lines ----

TEST(CliSend, PrintsTheWindowsLogLines)
{
    SimController sim;
    const std::string port = sim.PortPath();
    const RunResult run = RunSend({"--port", port, "--baud", "19200", "--id", "1", "bright", "8"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    EXPECT_EQ(lines[0], "               =========  Bright Set  =========");
    EXPECT_TRUE(Matches(lines[1], std::string(kTime) + "Open : " + port + " ,19200 ")) << lines[1];
    EXPECT_TRUE(Matches(lines[2], std::string(kTime) + "Write : 8 Bytes")) << lines[2];
    EXPECT_EQ(lines[3], kBlanks + "DATA :  A1 08 F7 01 43 08 EC 51");
    EXPECT_TRUE(Matches(lines[4], std::string(kTime) + "Read : 1 Bytes")) << lines[4];
    EXPECT_EQ(lines[5], kBlanks + "DATA :  0F");
    EXPECT_EQ(lines[6], kBlanks + "Success");
    EXPECT_EQ(lines[7], kBlanks + "Close: " + port);
}

// Colours go to a terminal only; the terminal here is a pseudo-terminal.
#ifndef _WIN32
TEST(CliSend, ColoursOnlyOnATerminal)
{
    SimController sim;
    const RunResult piped = RunSend({"--port", sim.PortPath(), "black"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);

    const RunResult run = RunSend({"--port", sim.PortPath(), "black"}, true);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    const auto colour = [](const char* rgb) { return std::string("\x1b[38;2;") + rgb + "m"; };
    EXPECT_EQ(lines[0], "\x1b[1;38;2;98;53;98m               =========  Black  =========\x1b[0m");
    EXPECT_EQ(lines[1].rfind(colour("128;128;0"), 0), 0u) << lines[1];  // olive: opened
    EXPECT_EQ(lines[2].rfind(colour("0;128;0"), 0), 0u) << lines[2];    // green: written
    EXPECT_EQ(lines[3], colour("190;0;190") + kBlanks + "DATA :  " + kBlackFrame + "\x1b[0m");
    EXPECT_EQ(lines[4].rfind(colour("0;0;255"), 0), 0u) << lines[4];    // blue: read
    EXPECT_EQ(lines[5], colour("219;71;0") + kBlanks + "DATA :  0F\x1b[0m");
    EXPECT_EQ(lines[6], colour("0;0;255") + kBlanks + "Success\x1b[0m");
    EXPECT_EQ(lines[7], colour("128;0;0") + kBlanks + "Close: " + sim.PortPath() + "\x1b[0m");
}
#endif

// ---- exit statuses ----

struct StatusCase {
    const char* name;
    std::vector<std::string> simArgs;
    int exitStatus;
    const char* resultLine;
};

class CliSendStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(CliSendStatus, EachOutcomeHasItsExitStatus)
{
    SimController sim(GetParam().simArgs);
    const RunResult run = RunSend({"--port", sim.PortPath(), "reset"});
    EXPECT_EQ(run.status, GetParam().exitStatus) << run.out;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    EXPECT_EQ(lines[5], kBlanks + "DATA :  " + GetParam().simArgs.back());
    EXPECT_EQ(lines[6], kBlanks + GetParam().resultLine);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliSendStatus,
                         ::testing::Values(StatusCase{"Success", {"--status", "0F"}, 0, "Success"},
                                           StatusCase{"Checksum", {"--status", "F0"}, 3, "Checksum error"},
                                           StatusCase{"Undefined", {"--status", "F1"}, 4, "Undefined instruction"},
                                           StatusCase{"Length", {"--status", "F2"}, 5, "Length error"},
                                           StatusCase{"Unknown", {"--status", "00"}, 6, "Unknown error"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliSend, SilentControllerTimesOut)
{
    SimController sim({"--silent"});
    const RunResult run = RunSend({"--port", sim.PortPath(), "reset"});
    EXPECT_EQ(run.status, 7);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[3], kBlanks + "DATA :  A1 06 F9 99 39 51");
    EXPECT_TRUE(Matches(lines[4], std::string(kTime) + "The request has timed out")) << lines[4];
    EXPECT_EQ(lines[5], kBlanks + "Close: " + sim.PortPath());
}

// What the system says of a port that is not there, in the user's language
// (Wine's words under the Chinese locale the Windows suites run with).
#ifdef _WIN32
const std::string kMissingReason = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                                       ? "\u627e\u4e0d\u5230\u8def\u5f84\u3002"
                                       : "The system cannot find the path specified.";
#else
const std::string kMissingReason = "No such file or directory";
#endif

TEST(CliSend, MissingPortFailsToOpenWithTheSystemsReason)
{
    const RunResult run = RunSend({"--port", "/nonexistent/tty", "--baud", "4800", "black"});
    EXPECT_EQ(run.status, 8);
    EXPECT_EQ(run.out, "               =========  Black  =========\n" + kBlanks + "Open Failed : /nonexistent/tty ,4800 \n" +
                           kBlanks + kMissingReason + "\n");
}

#ifdef _WIN32
// A COM name with no device behind it (the Wine suites map COM1 to COM10 to
// paths that do not exist, never to a real port).
TEST(CliSend, MissingComPortFailsToOpenWithTheSystemsReason)
{
    const RunResult run = RunSend({"--port", "COM3", "black"});
    EXPECT_EQ(run.status, 8);
    // Wine answers a COM name whose device is missing with "Incorrect
    // function."; Windows with "The system cannot find the file specified.".
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const bool chinese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
    const std::string reason = wine ? (chinese ? "\u65e0\u6548\u7684\u51fd\u6570\u3002" : "Incorrect function.")
                                    : (chinese ? "\u7cfb\u7edf\u627e\u4e0d\u5230\u6307\u5b9a\u7684\u6587\u4ef6\u3002"
                                               : "The system cannot find the file specified.");
    EXPECT_EQ(run.out, "               =========  Black  =========\n" + kBlanks + "Open Failed : COM3 ,9600 \n" + kBlanks +
                           reason + "\n");
}
#else
// In the failure's colour, on a terminal as in the window's log.
TEST(CliSend, PortHeldByAnotherProgramIsBusyInRed)
{
    SimController sim({"--silent"});
    rq::platform::SerialPort holder;
    ASSERT_TRUE(holder.Open(sim.PortPath(), 9600)) << holder.LastErrorMessage();

    const RunResult run = RunSend({"--port", sim.PortPath(), "black"}, true);
    EXPECT_EQ(run.status, 8);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    const std::string red = "\x1b[38;2;255;0;0m";
    EXPECT_EQ(lines[1], red + kBlanks + "Open Failed : " + sim.PortPath() + " ,9600 \x1b[0m");
    EXPECT_EQ(lines[2], red + kBlanks + sim.PortPath() + " is in use by another program\x1b[0m");
    EXPECT_TRUE(sim.RecordedFrames().empty());

    // One line a transaction with --quiet: the failed open, as before.
    const RunResult quiet = RunSend({"--port", sim.PortPath(), "--quiet", "black"});
    EXPECT_EQ(quiet.status, 8);
    EXPECT_EQ(quiet.out, kBlanks + "Open Failed : " + sim.PortPath() + " ,9600 \n");
}
#endif

#ifdef _WIN32
// ---- in a Windows console ----

// rq-m4x-send in this program's console, writing to a screen buffer of its
// own that the test reads back afterwards, as a cmd window would show it. The
// console starts in GBK (936), as a Chinese Windows' cmd window does.
class CliConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetConsoleOutputCP() == 0) {
            // Run with pipes only (as under the Wine suites): a console of our
            // own, leaving the test's output where it went.
            const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
            const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
            const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
            FreeConsole();  // Wine's unusable one, if any
            ASSERT_TRUE(AllocConsole()) << GetLastError();
            SetStdHandle(STD_OUTPUT_HANDLE, out);
            SetStdHandle(STD_ERROR_HANDLE, err);
            SetStdHandle(STD_INPUT_HANDLE, in);
        }
        before = GetConsoleOutputCP();
        ASSERT_NE(before, 0u);
        ASSERT_TRUE(SetConsoleOutputCP(936));
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
        ASSERT_NE(buffer, INVALID_HANDLE_VALUE);
    }

    void TearDown() override
    {
        if (buffer != INVALID_HANDLE_VALUE) CloseHandle(buffer);
        if (before != 0) SetConsoleOutputCP(before);
    }

    // Starts the tool with both its outputs on the screen buffer.
    PROCESS_INFORMATION Start(const std::vector<std::string>& args, DWORD flags = 0)
    {
        std::wstring command = Quoted(Wide(RQ_SEND_EXECUTABLE));
        for (const std::string& arg : args) command += L" " + Quoted(Wide(arg));
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       OPEN_EXISTING, 0, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdOutput = buffer;
        startup.hStdError = buffer;
        PROCESS_INFORMATION child{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup,
                            &child))
            ADD_FAILURE() << "cannot start " << RQ_SEND_EXECUTABLE << ": " << GetLastError();
        CloseHandle(nul);
        return child;
    }

    // Waits for the tool's end; its exit status, or -1 when it did not end.
    static long Finish(PROCESS_INFORMATION& child)
    {
        DWORD code = 0;
        const bool ended = WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0;
        if (!ended) TerminateProcess(child.hProcess, 1);
        GetExitCodeProcess(child.hProcess, &code);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        return ended ? static_cast<long>(code) : -1;
    }

    long Run(const std::vector<std::string>& args)
    {
        PROCESS_INFORMATION child = Start(args);
        return child.hProcess ? Finish(child) : -1;
    }

    // The characters of the buffer's rows written so far, rows joined by "|".
    std::wstring Shown() const
    {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!GetConsoleScreenBufferInfo(buffer, &info)) return L"";
        std::wstring text;
        for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
            std::wstring cells(static_cast<std::size_t>(info.dwSize.X), L' ');
            DWORD read = 0;
            ReadConsoleOutputCharacterW(buffer, cells.data(), static_cast<DWORD>(cells.size()), COORD{0, row}, &read);
            cells.resize(read);
            while (!cells.empty() && cells.back() == L' ') cells.pop_back();
            text += cells + L"|";
        }
        return text;
    }

    static std::string Narrow(const std::wstring& wide)
    {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                             nullptr, nullptr);
        std::string text(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                            nullptr);
        return text;
    }

    UINT before = 0;
    HANDLE buffer = INVALID_HANDLE_VALUE;
};

BOOL WINAPI IgnoreBreak(DWORD)
{
    return TRUE;
}

// No COM name: the port "端口" cannot be a real device.
const std::string kChinesePort = "\u7aef\u53e3";

TEST_F(CliConsole, EveryOutputReadsInAGbkConsoleAndTheCodePageStaysGbk)
{
    EXPECT_EQ(Run({"--port", kChinesePort, "black"}), 8);
    EXPECT_EQ(GetConsoleOutputCP(), 936u);
    EXPECT_EQ(Run({"--json", "--port", kChinesePort, "black"}), 8);
    EXPECT_EQ(GetConsoleOutputCP(), 936u);
    EXPECT_EQ(Run({"--port", kChinesePort, "\u4eae\u5ea6"}), 2);
    EXPECT_EQ(GetConsoleOutputCP(), 936u);

    const std::string shown = Narrow(Shown());
    EXPECT_NE(shown.find(kBlanks + "Open Failed : " + kChinesePort + " ,9600 "), std::string::npos) << shown;
    EXPECT_NE(shown.find("\"port\":\"" + kChinesePort + "\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("rq-m4x-send: unknown command \"\u4eae\u5ea6\""), std::string::npos) << shown;
}

TEST_F(CliConsole, CtrlBreakLeavesTheCodePageAndModeAsTheyWere)
{
    SimController sim({"--silent"});
    DWORD modeBefore = 0;
    ASSERT_TRUE(GetConsoleMode(buffer, &modeBefore));
    // Half a second a transaction: long enough to be interrupted.
    PROCESS_INFORMATION child = Start({"--repeat", "20", "--port", sim.PortPath(), "black"});
    ASSERT_NE(child.hProcess, nullptr);
    const bool running = sim.WaitForFrames(1);
    // Ctrl+Break to everyone in the console, as the key does; this test
    // program lets it pass.
    SetConsoleCtrlHandler(IgnoreBreak, TRUE);
    const bool interrupted = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
    if (!interrupted) TerminateProcess(child.hProcess, 1);
    const long status = Finish(child);
    SetConsoleCtrlHandler(IgnoreBreak, FALSE);
    ASSERT_TRUE(running);
    // Wine's consoles refuse to deliver control events (GenerateConsoleCtrlEvent
    // fails there); Windows delivers them.
    if (!interrupted) GTEST_SKIP() << "this console delivers no Ctrl+Break: " << GetLastError();
    EXPECT_NE(status, -1) << "Ctrl+Break did not end rq-m4x-send";
    EXPECT_NE(status, 0);
    EXPECT_LT(sim.RecordedFrames().size(), 20u);
    EXPECT_EQ(GetConsoleOutputCP(), 936u);
    DWORD modeAfter = 0;
    ASSERT_TRUE(GetConsoleMode(buffer, &modeAfter));
    EXPECT_EQ(modeAfter, modeBefore);
    // It was printing, in colour, into the same console.
    EXPECT_NE(Narrow(Shown()).find("Open : " + sim.PortPath() + " ,9600 "), std::string::npos) << Narrow(Shown());
}
#endif

// ---- --quiet and --repeat ----

TEST(CliSend, QuietPrintsOnlyTheResultLine)
{
    SimController sim;
    const RunResult run = RunSend({"--quiet", "--port", sim.PortPath(), "black"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBlanks + "Success\n");

    SimController silent({"--silent"});
    const RunResult timedOut = RunSend({"--quiet", "--port", silent.PortPath(), "black"});
    EXPECT_EQ(timedOut.status, 7);
    const auto lines = Lines(timedOut.out);
    ASSERT_EQ(lines.size(), 1u) << timedOut.out;
    EXPECT_TRUE(Matches(lines[0], std::string(kTime) + "The request has timed out")) << lines[0];

    const RunResult openFailed = RunSend({"--quiet", "--port", "/nonexistent/tty", "black"});
    EXPECT_EQ(openFailed.status, 8);
    EXPECT_EQ(openFailed.out, kBlanks + "Open Failed : /nonexistent/tty ,9600 \n");
}

TEST(CliSend, RepeatSendsOneTransactionEachAndCountsOutcomes)
{
    SimController sim;
    const RunResult run =
        RunSend({"--reopen", "--repeat", "4", "--port", sim.PortPath(), "--id", "1", "align", "left"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    // Four transactions of eight lines, then the summary.
    ASSERT_EQ(lines.size(), 4u * 8u + 10u) << run.out;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i * 8], "               =========  Align Set  =========");
        EXPECT_EQ(lines[i * 8 + 6], kBlanks + "Success");
    }
    const std::vector<std::string> counts(lines.begin() + 32, lines.begin() + 40);
    EXPECT_EQ(counts, (std::vector<std::string>{"Transactions: 4", "Success: 4", "Checksum error: 0",
                                                "Undefined instruction: 0", "Length error: 0", "Unknown error: 0",
                                                "Timed out: 0", "Open failed: 0"}));
    EXPECT_TRUE(Matches(lines[40], R"(Median: \d+\.\d\d\d ms)")) << lines[40];
    EXPECT_TRUE(Matches(lines[41], R"(Worst: \d+\.\d\d\d ms)")) << lines[41];
    const auto frames = sim.RecordedFrames();
    EXPECT_EQ(frames, std::vector<std::string>(4, "A1 08 F7 01 6A 01 0C 51"));
}

TEST(CliSend, RepeatQuietWithFailures)
{
    SimController sim({"--status", "F1"});
    const RunResult run = RunSend({"--repeat", "3", "--quiet", "--port", sim.PortPath(), "defaults"});
    EXPECT_EQ(run.status, 4);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u + 10u) << run.out;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[i], kBlanks + "Undefined instruction");
    EXPECT_EQ(lines[3], "Transactions: 3");
    EXPECT_EQ(lines[6], "Undefined instruction: 3");
    EXPECT_EQ(sim.RecordedFrames().size(), 3u);

    const RunResult unopened = RunSend({"--repeat", "2", "--quiet", "--port", "/nonexistent/tty", "black"});
    EXPECT_EQ(unopened.status, 8);
    const auto failed = Lines(unopened.out);
    ASSERT_EQ(failed.size(), 2u + 10u) << unopened.out;
    EXPECT_EQ(failed[9], "Open failed: 2");
}

// ---- bad arguments send nothing ----

struct BadRun {
    const char* name;
    std::vector<std::string> args;  // after --port
    const char* named;              // what the message must name
};

class CliSendBadArguments : public ::testing::TestWithParam<BadRun> {};

TEST_P(CliSendBadArguments, ExitWithTheBadArgumentsStatusAndSendNothing)
{
    SimController sim;
    std::vector<std::string> args = {"--port", sim.PortPath()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const RunResult run = RunSend(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("rq-m4x-send: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(GetParam().named), std::string::npos) << run.err;
    ExpectNothingSentSince(sim, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliSendBadArguments,
    ::testing::Values(BadRun{"Scan", {"led", "64", "16", "P5", "3", "3"}, "SCAN \"P5\""},
                      BadRun{"Level", {"led", "64", "16", "P10", "16", "3"}, "LEVEL \"16\""},
                      BadRun{"Width", {"--id", "1", "led", "x", "16", "P10", "3", "3"}, "WIDTH \"x\""},
                      BadRun{"Bright", {"bright", "bright"}, "VALUE \"bright\""},
                      BadRun{"ChangeIdWithoutId", {"change-id", "4"}, "--id"},
                      BadRun{"TooLong", {"message", std::string(300, 'x')}, "at most 249"},
                      BadRun{"UnknownOption", {"--verbose", "black"}, "--verbose"},
                      BadRun{"Repeat", {"--repeat", "many", "black"}, "--repeat \"many\""},
                      BadRun{"NotADirectory", {"--from", "/nonexistent/dir", "black"}, "/nonexistent/dir"},
                      BadRun{"ProbeWithACommand", {"find-signs", "--probe-code", "0x9A"}, "--probe-code 0x9A"},
                      BadRun{"LongerWait", {"find-signs", "--wait", "501"}, "--wait 501"}),
    [](const auto& info) { return std::string(info.param.name); });

// find-signs: exactly the signs that answer, each at its ID and rate whatever
// its delay; only probes on the wire, and no sign's settings changed.
struct FindCase {
    const char* name;
    std::vector<std::string> sim;    // besides --state
    std::vector<std::string> args;   // after --port P find-signs
    std::vector<std::string> found;  // the lines, up to " in N ms"
    int status;
};

class CliFindSigns : public ::testing::TestWithParam<FindCase> {};

TEST_P(CliFindSigns, FindsExactlyTheSignsThatAnswerAndChangesNone)
{
    const FindCase& c = GetParam();
    WorkDir dir;
    std::vector<std::string> simArgs = c.sim;
#ifndef _WIN32
    // Under Wine the simulator runs on the Linux side, where this folder is not.
    simArgs.insert(simArgs.end(), {"--state", dir.Path() + "/state.jsonl"});
#endif
    SimController sim(simArgs);
    std::vector<std::string> args = {"--port", sim.PortPath(), "find-signs"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = RunSend(args);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    std::vector<std::string> found;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);)
        if (line.rfind("Signs found: ", 0) != 0 && line.rfind("Probes: ", 0) != 0) found.push_back(line.substr(0, line.rfind(" in ")));
    EXPECT_EQ(found, c.found) << run.out;
    const std::regex probe("A1 0[67] F[89] ([0-9A-F]{2} )?(D5|B6) [0-9A-F]{2} 51");
    for (const std::string& frame : sim.RecordedFrames()) EXPECT_TRUE(std::regex_match(frame, probe)) << frame;
#ifndef _WIN32
    // Every sign's state after every frame, less what names the sign, the
    // frame and the moment, is the factory state.
    const std::regex passing(R"re("(t|id|last_frame|status|shown_since|lit)":("[^"]*"|-?\d+|true|false),?)re");
    std::istringstream state(dir.ReadFile("state.jsonl"));
    std::set<std::string> states;
    for (std::string line; std::getline(state, line);) states.insert(std::regex_replace(line, passing, ""));
    EXPECT_LE(states.size(), 1u) << dir.ReadFile("state.jsonl");
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliFindSigns,
    ::testing::Values(
        FindCase{"Bus", {"--address", "on", "--ids", "3,7,200"}, {"--ids", "0-9,195-205", "--bauds", "9600"},
                 {"ID 3 at 9600 baud: F1 Undefined instruction", "ID 7 at 9600 baud: F1 Undefined instruction",
                  "ID 200 at 9600 baud: F1 Undefined instruction"}, 0},
        FindCase{"AtItsRate", {"--address", "on", "--ids", "7", "--baud", "19200"}, {"--ids", "5-9", "--bauds", "9600,19200"},
                 {"ID 7 at 19200 baud: F1 Undefined instruction"}, 0},
        FindCase{"LateSign", {"--address", "on", "--ids", "5,7,9", "--delay", "7:300"}, {"--ids", "1-12", "--bauds", "9600"},
                 {"ID 5 at 9600 baud: F1 Undefined instruction", "ID 7 at 9600 baud: F1 Undefined instruction",
                  "ID 9 at 9600 baud: F1 Undefined instruction"}, 0},
        FindCase{"NoneAnswers", {"--address", "on", "--ids", "3"}, {"--ids", "10-12", "--bauds", "9600"}, {}, 7},
        FindCase{"WithoutAddress", {"--address", "off"}, {"--bauds", "9600,19200"},
                 {"The sign (no address) at 9600 baud: F1 Undefined instruction",
                  "The sign (no address) at 19200 baud: F1 Undefined instruction"}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The list the port dialog and --list-ports share, printed by the tool as
// this process reads it from the system; nothing is sent anywhere.
TEST(CliSend, ListPortsPrintsTheSystemsPortsAndSendsNothing)
{
    SimController sim;
    rq::platform::ClearCandidatePortNames();
    const std::vector<rq::platform::ListedPort> ports = rq::platform::DescribedPorts();
    const RunResult run = RunSend({"--list-ports", "--port", sim.PortPath(), "black"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, rq::cli::PortListText(ports));
    for (const auto& port : ports) EXPECT_NE(port.name, "/dev/ttyS0") << "the console is no port to list";
    ExpectNothingSentSince(sim, 0);
#ifdef _WIN32
    // The suites map COM1 to COM16; COM1 to COM10 lead nowhere and are listed all the same.
    if (std::getenv("RQ_SIM_PORTS")) {
        EXPECT_EQ(run.out.rfind("COM1\nCOM2\n", 0), 0u) << run.out;
        EXPECT_NE(run.out.find("COM16"), std::string::npos) << run.out;
    }
#endif
}

TEST(CliSend, HelpListsTheExitStatuses)
{
    const RunResult run = RunSend({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Exit status:"), std::string::npos);
    EXPECT_NE(run.out.find("  7  no reply: the request timed out"), std::string::npos);
    EXPECT_NE(run.out.find("  9  standard output or the --log file could not be written"), std::string::npos);
}

#ifndef _WIN32
// A record that does not reach the disk: the run does not pass for a
// success, and standard error says which file lost it.
TEST(CliSend, OutputThatCannotBeWrittenHasItsOwnStatus)
{
    SimController sim;
    const RunResult json = RunSend({"--json", "--port", sim.PortPath(), "black"}, false, std::nullopt, "/dev/full");
    EXPECT_EQ(json.status, 9);
    EXPECT_EQ(json.err, "rq-m4x-send: cannot write to standard output\n");
    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames().back(), kBlackFrame) << "the transaction itself went out";

    // The failed transaction's status comes first.
    const RunResult unopened = RunSend({"--port", "/nonexistent/tty", "reset"}, false, std::nullopt, "/dev/full");
    EXPECT_EQ(unopened.status, 8);
    EXPECT_EQ(unopened.err, "rq-m4x-send: cannot write to standard output\n");

    for (const char* only : {"--help", "--version"}) {
        const RunResult printed = RunSend({only}, false, std::nullopt, "/dev/full");
        EXPECT_EQ(printed.status, 9) << only;
        EXPECT_EQ(printed.err, "rq-m4x-send: cannot write to standard output\n") << only;
    }
    const RunResult hex = RunSend({"--hex", "black"}, false, std::nullopt, "/dev/full");
    EXPECT_EQ(hex.status, 9);

    // A log that takes not even its header: nothing is sent.
    const RunResult log = RunSend({"--log", "/dev/full", "--port", sim.PortPath(), "black"});
    EXPECT_EQ(log.status, 9);
    EXPECT_EQ(log.err, "rq-m4x-send: cannot write to the log file /dev/full\n");
    ExpectNothingSentSince(sim, 1);

    // A log that takes its header but not the transactions' lines after it.
    WorkDir dir;
    const std::string cut = dir.Path() + "/cut.log";
    const RunResult cutShort = RunSend({"--quiet", "--log", cut, "--port", sim.PortPath(), "--repeat", "20", "black"},
                                     false, std::nullopt, {}, 1024);
    EXPECT_EQ(cutShort.status, 9) << cutShort.err;
    EXPECT_EQ(cutShort.err, "rq-m4x-send: cannot write to the log file " + cut + "\n");
    EXPECT_EQ(dir.ReadFile("cut.log").rfind("==== ", 0), 0u) << "the header went in";
    EXPECT_EQ(sim.RecordedFrames().size(), 22u) << "the probe above and the transactions themselves went out";
}
#endif

#ifdef _WIN32
// What --version prints is the version that the file's properties, the
// installer and inventory tools read from its version resource.
TEST(CliSend, VersionIsTheOneInTheVersionResource)
{
    const std::wstring path = Wide(RQ_SEND_EXECUTABLE);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &value, &length));
    std::string product;
    for (const wchar_t* c = static_cast<const wchar_t*>(value); *c; ++c) product += static_cast<char>(*c);
    ASSERT_FALSE(product.empty());
    const RunResult run = RunSend({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "rq-m4x-send " + product + "\n");
}
#endif

// A log file that cannot be opened stops the run before anything is sent.
TEST(CliSend, LogFileThatCannotBeOpenedSendsNothing)
{
    SimController sim;
    WorkDir dir;
    const std::string log = dir.Path() + "/no such directory/line.log";
    const RunResult run = RunSend({"--log", log, "--port", sim.PortPath(), "black"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "rq-m4x-send: cannot open the log file " + log + "\n");
    ExpectNothingSentSince(sim, 0);
}

TEST(CliSend, WarnsAboutWhatTheLenientRulesChanged)
{
    SimController sim;
    const RunResult run = RunSend({"--quiet", "--port", sim.PortPath(), "blinking", "on", "12abc", "1000"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "rq-m4x-send: warning: blinking: ON_MS \"12abc\" is read as 12, as the window reads it\n");
    ASSERT_TRUE(sim.WaitForFrames(1));
    EXPECT_EQ(sim.RecordedFrames().back(), "A1 0B F4 60 01 0C 00 E8 03 F8 51");
}

// ---- --from: what the window set up in a working directory ----

class CliSendFrom : public ::testing::Test {
protected:
    void SetUp() override { sim = std::make_unique<SimController>(); }

    // A settings file as the window leaves it after a day's work, and a
    // profile for a model that addresses by ID at 19200 baud.
    void WriteStation(const std::string& profile = "[App]\nBSP=19200\n[Model]\nModel=RQ-M4T\n[Lock]\nid=0\n"
                                                   "[Text]\nmsgChoice1=GBK,UNICODE\nButton1=Send Message\n")
    {
        dir.WriteFile("Config/Config.ini",
                      "[Setting]\nlang=58\nMode=RQ-M4T\n"
                      "[SerialPort]\nCOM=" + sim->PortPath() + "\nBSP=9600\n"
                      "[LED]\nWidth=96\nHigh=32\nScan=p10\nScrollLevel=20\nScrollSpeed=5\nid=7\nBright=8\n"
                      "Align=right\n"
                      "[Blinking]\nEnable=1\nOninterval=500\nOffinterval=250\n"
                      "[Text]\nChoice1=1\n");
        dir.WriteFile("Modes/RQ-M4T.ini", profile);
    }

    std::string LastFrame(std::size_t expectedCount)
    {
        EXPECT_TRUE(sim->WaitForFrames(expectedCount));
        const auto frames = sim->RecordedFrames();
        EXPECT_EQ(frames.size(), expectedCount);
        return frames.empty() ? std::string() : frames.back();
    }

    WorkDir dir;
    std::unique_ptr<SimController> sim;
};

TEST_F(CliSendFrom, TakesPortBaudAddressAndTheWindowsValues)
{
    WriteStation();
    // Scan "p10" selects P10 (case is ignored); level 20 matches no item, so
    // the window shows its first, 0.
    const RunResult led = RunSend({"--from", dir.Path(), "led"});
    EXPECT_EQ(led.status, 0) << led.err;
    EXPECT_EQ(LastFrame(1), "A1 0E F1 07 41 0C 04 00 00 00 41 05 3E 51");
    const auto lines = Lines(led.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "               =========  LED Set  =========");
    EXPECT_TRUE(Matches(lines[1], std::string(kTime) + "Open : " + sim->PortPath() + " ,19200 ")) << lines[1];

    EXPECT_EQ(RunSend({"--from", dir.Path(), "--quiet", "bright"}).status, 0);
    EXPECT_EQ(LastFrame(2), "A1 08 F7 07 43 08 F2 51");
    EXPECT_EQ(RunSend({"--from", dir.Path(), "--quiet", "align"}).status, 0);
    EXPECT_EQ(LastFrame(3), "A1 08 F7 07 6A 02 13 51");
    EXPECT_EQ(RunSend({"--from", dir.Path(), "--quiet", "blinking"}).status, 0);
    EXPECT_EQ(LastFrame(4), "A1 0C F3 07 60 01 F4 01 FA 00 F7 51");
    // Text/Choice1 selects "UNICODE" in the profile's message list.
    EXPECT_EQ(RunSend({"--from", dir.Path(), "--quiet", "message", "abc"}).status, 0);
    EXPECT_EQ(LastFrame(5), "A1 0D F2 07 02 61 00 62 00 63 00 CF 51");
    // Missing keys take the window's defaults: timed scroll 3000 and 50.
    EXPECT_EQ(RunSend({"--from", dir.Path(), "--quiet", "scroll"}).status, 0);
    EXPECT_EQ(LastFrame(6), "A1 0B F4 07 65 B8 0B 32 00 01 51");
}

TEST_F(CliSendFrom, OptionsAndArgumentsOverride)
{
    WriteStation();
    const RunResult run =
        RunSend({"--from", dir.Path(), "--baud", "9600", "--id", "1", "led", "64", "16", "P7.62", "3", "3"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LastFrame(1), "A1 0E F1 01 41 08 02 00 00 00 00 33 1F 51");
    EXPECT_NE(run.out.find("Open : " + sim->PortPath() + " ,9600 "), std::string::npos) << run.out;

    EXPECT_EQ(RunSend({"--from", dir.Path(), "--quiet", "--multibyte", "message", "abc"}).status, 0);
    EXPECT_EQ(LastFrame(2), "A1 0A F5 07 01 61 62 63 CE 51");

    const RunResult elsewhere = RunSend({"--from", dir.Path(), "--port", "/nonexistent/tty", "black"});
    EXPECT_EQ(elsewhere.status, 8);
    EXPECT_NE(elsewhere.out.find("Open Failed : /nonexistent/tty ,19200 "), std::string::npos) << elsewhere.out;
}

TEST_F(CliSendFrom, BaudFromTheSettingsWhenTheProfileHasNone)
{
    WriteStation("[Model]\nModel=RQ-M4T\n");
    const RunResult run = RunSend({"--from", dir.Path(), "reset"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Open : " + sim->PortPath() + " ,9600 "), std::string::npos) << run.out;
    // Lock/id missing: locked, so the frame carries no address.
    EXPECT_EQ(LastFrame(1), "A1 06 F9 99 39 51");
}

TEST_F(CliSendFrom, AnotherModelHasNoCommands)
{
    WriteStation("[Model]\nModel=RQ-M4X\n");
    const RunResult run = RunSend({"--from", dir.Path(), "black"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("\"RQ-M4X\""), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("has no commands"), std::string::npos) << run.err;
    ExpectNothingSentSince(*sim, 0);
}

TEST_F(CliSendFrom, FirstListedProfileWhenNoneIsSelectedAndNothingIsWritten)
{
    dir.WriteFile("station/Modes/RQ-M4T.ini", "[Model]\nModel=RQ-M4T\n[Lock]\nid=0\n");
    const std::string station = dir.Path() + "/station";
    // No settings file: the window's defaults, ID 255.
    const RunResult run = RunSend({"--from", station, "--port", sim->PortPath(), "--quiet", "black"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LastFrame(1), "A1 07 F8 FF 63 02 51");
    // Unlike the window, the tool creates no settings file.
    EXPECT_FALSE(dir.Exists("station/Config"));

    const RunResult noPort = RunSend({"--from", station, "black"});
    EXPECT_EQ(noPort.status, 2);
    EXPECT_NE(noPort.err.find("--port"), std::string::npos) << noPort.err;
}

// A station set up with a Chinese editor: settings and profile in GBK. The
// settings name the profile by its Chinese name, the profile its model.
TEST_F(CliSendFrom, SettingsAndProfileSavedAsGbkAreRead)
{
    const std::string station = "\xC8\xFD\xBA\xC5\xC6\xC1";  // "三号屏" in GBK
    dir.WriteFile("Config/Config.ini", "; " + station + "\n[Setting]\nMode=" + station + "\n[SerialPort]\nCOM=" +
                                           sim->PortPath() + "\n");
    dir.WriteFile("Modes/三号屏.ini", "; " + station + "\n[Model]\nModel=RQ-M4T\n");
    const RunResult run = RunSend({"--from", dir.Path(), "--quiet", "black"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LastFrame(1), kBlackFrame);

    dir.WriteFile("Modes/三号屏.ini", "[Model]\nModel=" + station + "\n");
    const RunResult other = RunSend({"--from", dir.Path(), "black"});
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("the model \"三号屏\" of "), std::string::npos) << other.err;
    // Read only: the tool rewrites nothing and keeps no copy.
    EXPECT_FALSE(dir.Exists("Config/Config.ini.bad"));
}

// ---- many signs on one bus: --ids, --keep-going, --script, --json, --log ----

namespace {

const std::vector<std::string> kBrightTo123 = {"A1 08 F7 01 43 08 EC 51", "A1 08 F7 02 43 08 ED 51",
                                               "A1 08 F7 03 43 08 EE 51"};

// The summary line that starts with `label`, or "" when there is none.
std::string SummaryLine(const std::string& text, const std::string& label)
{
    for (const std::string& line : Lines(text)) {
        if (line.rfind(label, 0) == 0) return line;
    }
    return "";
}

}  // namespace

TEST(CliFleet, IdsPutOneFrameAddressedToEachIdOnTheWire)
{
    SimController sim({"--ids", "1-3"});
    // As the window does: an open and a close for each transaction.
    const RunResult run = RunSend({"--reopen", "--port", sim.PortPath(), "--ids", "1-3", "bright", "8"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(sim.RecordedFrames(), kBrightTo123);
    const auto lines = Lines(run.out);
    // Each transaction: its ID, then the window's eight lines; then the summary.
    ASSERT_EQ(lines.size(), 3u * 9u + 11u) << run.out;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i * 9], "ID " + std::to_string(i + 1));
        EXPECT_EQ(lines[i * 9 + 1], "               =========  Bright Set  =========");
        EXPECT_TRUE(Matches(lines[i * 9 + 2], kTime + std::string("Open : ") + sim.PortPath() + " ,9600 "));
        EXPECT_EQ(lines[i * 9 + 4], kBlanks + "DATA :  " + kBrightTo123[i]);
        EXPECT_EQ(lines[i * 9 + 7], kBlanks + "Success");
        EXPECT_EQ(lines[i * 9 + 8], kBlanks + "Close: " + sim.PortPath());
    }
    EXPECT_EQ(lines[27], "Transactions: 3");
    EXPECT_EQ(lines[28], "Success: 3");
    EXPECT_EQ(lines[37], "Not succeeded: none");

    // Kept open: the first transaction opens the line, the last closes it.
    const RunResult kept = RunSend({"--port", sim.PortPath(), "--ids", "1-3", "bright", "8"});
    EXPECT_EQ(kept.status, 0) << kept.out << kept.err;
    const auto keptLines = Lines(kept.out);
    ASSERT_EQ(keptLines.size(), 8u + 7u + 8u + 11u) << kept.out;
    const std::vector<std::string> middle(keptLines.begin() + 8, keptLines.begin() + 15);
    EXPECT_EQ(middle[0], "ID 2");
    EXPECT_TRUE(Matches(middle[2], kTime + std::string("Write : 8 Bytes"))) << kept.out;
    EXPECT_EQ(middle[6], kBlanks + "Success");
    EXPECT_EQ(keptLines[22], kBlanks + "Close: " + sim.PortPath());
    EXPECT_EQ(sim.RecordedFrames().size(), 6u);
}

TEST(CliFleet, AnAbsentIdStopsTheRunUnlessKeepGoing)
{
    // ID 2 is absent and ID 4 answers a checksum error.
    SimController sim({"--ids", "1,3-5", "--fail", "4:F0"});
    const RunResult stopped = RunSend({"--quiet", "--port", sim.PortPath(), "--ids", "1-5", "black"});
    EXPECT_EQ(stopped.status, 7) << stopped.out;
    EXPECT_EQ(sim.RecordedFrames().size(), 2u);
    const auto lines = Lines(stopped.out);
    ASSERT_GE(lines.size(), 2u) << stopped.out;
    EXPECT_EQ(lines[0], "ID 1  " + kBlanks + "Success");
    EXPECT_TRUE(Matches(lines[1], "ID 2  " + std::string(kTime) + "The request has timed out")) << lines[1];
    EXPECT_EQ(SummaryLine(stopped.out, "Not succeeded:"), "Not succeeded: 2");
    EXPECT_EQ(SummaryLine(stopped.out, "Not sent:"), "Not sent: 3 (stopped at the first failure; --keep-going goes on)");

    const RunResult all = RunSend({"--quiet", "--keep-going", "--port", sim.PortPath(), "--ids", "1-5", "black"});
    // The first failure's status, though a later one failed otherwise.
    EXPECT_EQ(all.status, 7) << all.out;
    EXPECT_EQ(sim.RecordedFrames().size(), 2u + 5u);
    EXPECT_EQ(SummaryLine(all.out, "Transactions:"), "Transactions: 5");
    EXPECT_EQ(SummaryLine(all.out, "Success:"), "Success: 3");
    EXPECT_EQ(SummaryLine(all.out, "Checksum error:"), "Checksum error: 1");
    EXPECT_EQ(SummaryLine(all.out, "Timed out:"), "Timed out: 1");
    EXPECT_EQ(SummaryLine(all.out, "Not succeeded:"), "Not succeeded: 2, 4");
    EXPECT_EQ(SummaryLine(all.out, "Not sent:"), "");

    // A failure status first: its own exit status.
    const RunResult checksum = RunSend({"--quiet", "--port", sim.PortPath(), "--ids", "4,1", "black"});
    EXPECT_EQ(checksum.status, 3) << checksum.out;
}

#ifndef _WIN32
TEST(CliFleet, ALongRunShowsItsProgressOnATerminalOnly)
{
    SimController sim({"--ids", "1-21"});
    const RunResult shown = RunSend({"--port", sim.PortPath(), "--ids", "1-21", "black"}, true, std::nullopt, {}, 0, true);
    EXPECT_EQ(shown.status, 0) << shown.out;
    // Written over after each transaction, then blanked before the summary.
    EXPECT_NE(shown.out.find("\r1/21  failed 0  elapsed 0:00  left 0:0"), std::string::npos) << shown.out;
    const std::string last = "\r21/21  failed 0  elapsed 0:00";
    const auto at = shown.out.find(last);
    ASSERT_NE(at, std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.substr(at + last.size(), last.size() + 1), "\r" + std::string(last.size() - 1, ' ') + "\r");
    EXPECT_NE(shown.out.find("\rTransactions: 21"), std::string::npos) << shown.out;

    // Not in a pipe, and not for 20 transactions.
    const RunResult piped = RunSend({"--port", sim.PortPath(), "--ids", "1-21", "black"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err.find("/21"), std::string::npos) << piped.err;
    const RunResult short20 = RunSend({"--port", sim.PortPath(), "--ids", "1-20", "black"}, true, std::nullopt, {}, 0, true);
    EXPECT_EQ(short20.out.find("/20  failed"), std::string::npos) << short20.out;
}
#endif

TEST(CliFleet, ChangeIdMovesASignOnTheBus)
{
    SimController sim({"--ids", "5"});
    EXPECT_EQ(RunSend({"--quiet", "--port", sim.PortPath(), "--id", "5", "change-id", "9"}).status, 0);
    EXPECT_EQ(RunSend({"--quiet", "--port", sim.PortPath(), "--ids", "9", "black"}).status, 0);
    EXPECT_EQ(RunSend({"--quiet", "--port", sim.PortPath(), "--ids", "5", "black"}).status, 7);
}

TEST(CliFleet, ScriptRunsItsLinesInOrder)
{
    SimController sim({"--ids", "1-3,7"});
    WorkDir dir;
    dir.WriteFile("station.txt",
                  "# platform 3\n"
                  "--ids 1-3 bright 8\n"
                  "\n"
                  "--id 7 message --unicode \"站台 3\"   # the default text\n"
                  "reset\n");
    const RunResult run = RunSend({"--quiet", "--port", sim.PortPath(), "--script", dir.Path() + "/station.txt"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::vector<std::string> expected = kBrightTo123;
    expected.push_back("A1 0F F0 07 02 D9 7A F0 53 20 00 33 00 92 51");
    expected.push_back("A1 06 F9 99 39 51");
    EXPECT_EQ(sim.RecordedFrames(), expected);
    const auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), 5u) << run.out;
    const std::string name = dir.Path() + "/station.txt";
    EXPECT_EQ(lines[0], name + ":2  ID 1  " + kBlanks + "Success");
    EXPECT_EQ(lines[3], name + ":4  ID 7  " + kBlanks + "Success");
    EXPECT_EQ(lines[4], name + ":5  " + kBlanks + "Success");

    // The same from standard input.
    const RunResult piped = RunSend({"--quiet", "--port", sim.PortPath(), "--script", "-"}, false,
                                    std::string("--ids 2,3 black\n"));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(Lines(piped.out).at(0), "standard input:1  ID 2  " + kBlanks + "Success");
    EXPECT_EQ(sim.RecordedFrames().size(), expected.size() + 2);

    // --hex prints each frame as often as the run would send it, and sends none.
    const RunResult hex = RunSend({"--hex", "--port", sim.PortPath(), "--script", "-"}, false,
                                  std::string("--ids 2,3 --repeat 2 bright 8\nreset\n"));
    EXPECT_EQ(hex.status, 0) << hex.err;
    EXPECT_EQ(hex.out, kBrightTo123[1] + "\n" + kBrightTo123[1] + "\n" + kBrightTo123[2] + "\n" + kBrightTo123[2] +
                           "\nA1 06 F9 99 39 51\n");
    EXPECT_EQ(sim.RecordedFrames().size(), expected.size() + 2);
}

namespace {

// `text` with a byte-order mark, as Notepad's "Unicode" (little endian) and
// "Unicode big endian" save it.
std::string Utf16WithMark(const std::u16string& text, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

struct ScriptEncodingCase {
    const char* name;
    std::string bytes;
};

}  // namespace

class CliScriptEncodings : public ::testing::TestWithParam<ScriptEncodingCase> {};

// The same script in each encoding a Windows editor or shell saves, from a
// file and from standard input: the same frames on the wire. "-h" after the
// command word is the message's text there too.
TEST_P(CliScriptEncodings, SendTheSameFrames)
{
    SimController sim;
    WorkDir dir;
    dir.WriteFile("station.txt", GetParam().bytes);
    // A character outside the BMP comes as a surrogate pair in UTF-16 scripts.
    const std::vector<std::string> expected = {"A1 08 F7 01 2D 68 36 51", "A1 0A F5 01 D6 D0 CE C4 D9 51",
                                               "A1 0A F5 02 3D D8 00 DE 95 51"};
    const RunResult file = RunSend({"--quiet", "--port", sim.PortPath(), "--script", dir.Path() + "/station.txt"});
    EXPECT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(sim.RecordedFrames(), expected);

    const RunResult piped = RunSend({"--quiet", "--port", sim.PortPath(), "--script", "-"}, false, GetParam().bytes);
    EXPECT_EQ(piped.status, 0) << piped.err;
    const std::vector<std::string> frames = sim.RecordedFrames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(frames.begin() + 3, frames.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliScriptEncodings,
    ::testing::Values(ScriptEncodingCase{"Utf8", "# \xE7\xAB\x99\xE5\x8F\xB0\nmessage -h\nmessage \xE4\xB8\xAD\xE6\x96\x87\n"
                                                 "message --unicode \xF0\x9F\x98\x80\n"},
                      ScriptEncodingCase{"Utf8WithMark", "\xEF\xBB\xBF# \xE7\xAB\x99\xE5\x8F\xB0\r\nmessage -h\r\n"
                                                         "message \xE4\xB8\xAD\xE6\x96\x87\r\nmessage --unicode \xF0\x9F\x98\x80\r\n"},
                      ScriptEncodingCase{"Utf16LittleEndian",
                                         Utf16WithMark(u"# 站台\r\nmessage -h\r\nmessage 中文\r\nmessage --unicode 😀\r\n", false)},
                      ScriptEncodingCase{"Utf16BigEndian",
                                         Utf16WithMark(u"# 站台\r\nmessage -h\r\nmessage 中文\r\nmessage --unicode 😀\r\n", true)}),
    [](const auto& info) { return std::string(info.param.name); });

// Bytes that promise UTF-16 and break it are refused, naming the encoding.
TEST(CliFleet, ABrokenUtf16ScriptSendsNothing)
{
    SimController sim;
    const RunResult odd = RunSend({"--port", sim.PortPath(), "--script", "-"}, false,
                                  Utf16WithMark(u"black\n", false) + "x");
    EXPECT_EQ(odd.status, 2);
    EXPECT_EQ(odd.err, "rq-m4x-send: standard input: the text is UTF-16 (little endian) and ends in half a character\n");
    const RunResult lone = RunSend({"--port", sim.PortPath(), "--script", "-"}, false,
                                   Utf16WithMark(u"message \xD800\n", true));
    EXPECT_EQ(lone.status, 2);
    EXPECT_EQ(lone.err, "rq-m4x-send: standard input: the text is UTF-16 (big endian) and holds half a character (a "
                        "lone surrogate)\n");
    ExpectNothingSentSince(sim, 0);
}

TEST(CliFleet, AScriptWithAMistakeOnItsLastLineSendsNothing)
{
    SimController sim({"--ids", "1-3"});
    WorkDir dir;
    dir.WriteFile("station.txt", "--ids 1-3 bright 8\nblack\n--id 2 scroll 3000\n");
    const RunResult run = RunSend({"--port", sim.PortPath(), "--script", dir.Path() + "/station.txt"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "rq-m4x-send: " + dir.Path() + "/station.txt:3: usage: scroll ELAPSED SPEED\n");

    const RunResult missing = RunSend({"--port", sim.PortPath(), "--script", dir.Path() + "/none.txt"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("none.txt"), std::string::npos) << missing.err;
    ExpectNothingSentSince(sim, 0);
}

TEST(CliFleet, JsonRecordsMatchTheFramesOnTheWire)
{
    SimController sim({"--ids", "1,3"});
    const RunResult run =
        RunSend({"--json", "--keep-going", "--port", sim.PortPath(), "--ids", "1-3", "bright", "8"});
    EXPECT_EQ(run.status, 7);
    const auto frames = sim.RecordedFrames();
    EXPECT_EQ(frames, kBrightTo123);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto record = nlohmann::json::parse(lines[i]);
        EXPECT_EQ(record["id"], i + 1);
        EXPECT_EQ(record["command"], "bright");
        EXPECT_EQ(record["arguments"], nlohmann::json::array({"8"}));
        EXPECT_EQ(record["frame"], frames[i]);
        EXPECT_EQ(record["port"], sim.PortPath());
        EXPECT_TRUE(Matches(record["started"].get<std::string>(),
                            R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)"))
            << record["started"];
        EXPECT_GT(record["ms"].get<double>(), 0.0);
        if (i == 1) {
            EXPECT_TRUE(record["reply"].is_null());
            EXPECT_EQ(record["outcome"], "timed out");
            EXPECT_EQ(record["exit_status"], 7);
        } else {
            EXPECT_EQ(record["reply"], "0F");
            EXPECT_EQ(record["outcome"], "success");
            EXPECT_EQ(record["exit_status"], 0);
        }
    }
    // The summary keeps standard output JSON only.
    EXPECT_NE(run.err.find("Not succeeded: 2\n"), std::string::npos) << run.err;

    // An unopened port, and a controller's failure status.
    const RunResult unopened = RunSend({"--json", "--port", "/nonexistent/tty", "reset"});
    EXPECT_EQ(unopened.status, 8);
    const auto failed = nlohmann::json::parse(unopened.out);
    EXPECT_EQ(failed["outcome"], "open failed");
    EXPECT_EQ(failed["exit_status"], 8);
    EXPECT_TRUE(failed["id"].is_null());
    EXPECT_EQ(unopened.err, "");
}

TEST(CliFleet, LogKeepsTheLinesOfEveryTransaction)
{
    SimController sim({"--ids", "1-3"});
    WorkDir dir;
    const std::string log = dir.Path() + "/line.log";
    const RunResult first = RunSend({"--log", log, "--port", sim.PortPath(), "--ids", "1-2", "bright", "8"});
    EXPECT_EQ(first.status, 0) << first.err;
    // Quiet on the terminal, whole in the log.
    const RunResult second = RunSend({"--quiet", "--log", log, "--port", sim.PortPath(), "--id", "3", "bright", "8"});
    EXPECT_EQ(second.status, 0) << second.err;

    const auto lines = Lines(dir.ReadFile("line.log"));
    const auto firstLines = Lines(first.out);
    // The command line as a shell would take it back: a path with
    // backslashes (Windows) is quoted.
    ASSERT_EQ(lines.size(), 1u + firstLines.size() + 1u + 8u) << dir.ReadFile("line.log");
    EXPECT_TRUE(Matches(lines[0], R"(==== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d  port )" + Literal(sim.PortPath()) +
                                      "  baud 9600  rq-m4x-send --log '?" + Literal(log) + "'? --port " + Literal(sim.PortPath()) +
                                      " --ids 1-2 bright 8"))
        << lines[0];
    // The very lines printed, time stamps and DATA dumps included.
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 1 + firstLines.size()), firstLines);
    const std::size_t next = 1 + firstLines.size();
    EXPECT_EQ(lines[next].rfind("==== ", 0), 0u) << lines[next];
    EXPECT_NE(lines[next].find(" --quiet --log "), std::string::npos) << lines[next];
    EXPECT_EQ(lines[next + 4], kBlanks + "DATA :  " + kBrightTo123[2]);
    EXPECT_EQ(lines[next + 6], kBlanks + "DATA :  0F");
    EXPECT_EQ(lines[next + 7], kBlanks + "Success");
    EXPECT_EQ(dir.ReadFile("line.log").find('\x1b'), std::string::npos);

    // A log that cannot be opened: nothing is sent.
    const std::size_t before = sim.RecordedFrames().size();
    const RunResult unwritable = RunSend({"--log", dir.Path(), "--port", sim.PortPath(), "--id", "1", "black"});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_NE(unwritable.err.find("cannot open the log file"), std::string::npos) << unwritable.err;
    EXPECT_EQ(sim.RecordedFrames().size(), before);
}

TEST(CliFleet, BadFleetArgumentsSendNothing)
{
    SimController sim({"--ids", "1-3"});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--ids", "1-3,x", "black"}, "--ids \"1-3,x\""},
        {{"--id", "1", "--ids", "2", "black"}, "--id and --ids exclude each other"},
        {{"--ids", "1-3", "change-id", "9"}, "change-id"},
        {{"--json", "--hex", "black"}, "--json and --hex"},
        {{"--script", "-", "black"}, "put it in the script"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> full = {"--port", sim.PortPath()};
        full.insert(full.end(), args.begin(), args.end());
        // More than its input holds: the program has ended before it is written.
        const RunResult run = RunSend(full, false, std::string(1 << 20, '\n') + "black\n");
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    // --hex prints the frame for each ID and sends nothing.
    const RunResult hex = RunSend({"--hex", "--port", sim.PortPath(), "--ids", "1-3", "bright", "8"});
    EXPECT_EQ(hex.status, 0);
    EXPECT_EQ(hex.out, kBrightTo123[0] + "\n" + kBrightTo123[1] + "\n" + kBrightTo123[2] + "\n");
    EXPECT_TRUE(sim.RecordedFrames().empty());
}

#ifndef _WIN32
// ---- through a serial device server (Debian's ser2net on the loopback) ----

TEST(CliNetwork, RefusedServerFailsToOpenWithItsPortName)
{
    const std::string port = "rfc2217://127.0.0.1:" + std::to_string(rq::test::UnusedLoopbackPort());
    const RunResult run = RunSend({"--port", port, "--id", "1", "bright", "8"});
    EXPECT_EQ(run.status, 8) << run.out << run.err;
    const auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[1], kBlanks + "Open Failed : " + port + " ,9600 ");

    const RunResult raw = RunSend({"--json", "--port", "tcp://127.0.0.1:" + port.substr(port.rfind(':') + 1), "reset"});
    EXPECT_EQ(raw.status, 8);
    EXPECT_EQ(nlohmann::json::parse(raw.out)["outcome"], "open failed");
}

TEST(CliNetwork, MalformedNetworkNameFailsToOpen)
{
    for (const std::string port :
         {"rfc2217://127.0.0.1", "tcp://127.0.0.1:70000", "tcp://127.0.0.1:65536", "rfc2217://:4000"}) {
        const RunResult run = RunSend({"--quiet", "--port", port, "black"});
        EXPECT_EQ(run.status, 8) << port;
        EXPECT_EQ(run.out, kBlanks + "Open Failed : " + port + " ,9600 \n") << port;
    }
    // The highest port is one: it is connected to, whatever answers there.
    const RunResult highest = RunSend({"--port", "tcp://127.0.0.1:65535", "black"});
    EXPECT_EQ(highest.out.find("Not a network port name"), std::string::npos) << highest.out;
}

TEST(CliNetwork, LateReplyThroughTheServerTimesOut)
{
    // The network's round trip counts against the half-second wait.
    SimController sim({"--delay", "900"});
    Ser2netServer server(sim.PortPath(), Ser2netServer::Mode::Rfc2217);
    const RunResult run = RunSend({"--port", server.PortName(), "reset"});
    EXPECT_EQ(run.status, 7) << run.out;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[3], kBlanks + "DATA :  A1 06 F9 99 39 51");
    EXPECT_TRUE(Matches(lines[4], std::string(kTime) + "The request has timed out")) << lines[4];
    EXPECT_EQ(lines[5], kBlanks + "Close: " + server.PortName());
}

// True once the terminal at `path` holds bytes nobody has read (bounded).
bool TerminalHoldsInput(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int queued = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (fd >= 0 && ioctl(fd, FIONREAD, &queued) == 0 && queued == 0 && std::chrono::steady_clock::now() < limit)
        poll(nullptr, 0, 5);
    if (fd >= 0) close(fd);
    return queued > 0;
}

TEST(CliNetwork, ALateReplyLeftOnTheLineIsNotTakenForTheNextFramesAnswer)
{
    // Every reply comes after its wait, into the terminal, which keeps it
    // until the server opens the line for the next connection.
    SimController sim({"--delay", "600"});
    Ser2netServer server(sim.PortPath(), Ser2netServer::Mode::Rfc2217, true);
    for (const std::string& port : {server.PortName(), server.RawBesideName()}) {
        for (const char* command : {"black", "reset"}) {
            const RunResult run = RunSend({"--port", port, command});
            EXPECT_EQ(run.status, 7) << run.out;
            ASSERT_TRUE(TerminalHoldsInput(sim.PortPath())) << "the late reply never came";
        }
    }
}

TEST(CliNetwork, ALineHeldByAnotherClientFailsToOpenInTheServersWords)
{
    SimController sim;
    Ser2netServer server(sim.PortPath(), Ser2netServer::Mode::Rfc2217, true);
    // Another client has the line: its frame is answered.
    rq::platform::TcpSocket other;
    const std::uint8_t frame[] = {0xA1, 0x06, 0xF9, 0x63, 0x03, 0x51};
    std::uint8_t reply = 0;
    ASSERT_TRUE(other.Connect("127.0.0.1", server.RawBesideName().substr(16), 2000));
    ASSERT_EQ(other.Send(frame, sizeof frame, 1000), sizeof frame);
    ASSERT_EQ(other.Receive(&reply, 1, 2000), 1u);
    const RunResult run = RunSend({"--port", server.PortName(), "reset"});
    EXPECT_EQ(run.status, 8) << run.out;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[2],
              kBlanks + "Line in use: the server turned the connection away (\"Port's device already in use\")");
    EXPECT_EQ(sim.RecordedFrames().size(), 1u);
}

// What ser2net's telnet accepter says first.
const std::string kTelnetOpening("\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01\xFF\xFE\x01"
                                 "\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x2C",
                                 21);

struct ScriptedServerCase {
    const char* name;
    const char* scheme;  // as typed, in any case
    ScriptedServer::Script script;
    int status;
    std::string line;  // a line of the output, after the blanks; PORT stands for the server's port
    int connections;   // the tries the server saw
    const char* ids = nullptr;  // a run over these IDs, the line kept open
};

void PrintTo(const ScriptedServerCase& c, std::ostream* out)
{
    *out << c.name;
}

class CliNetworkScripted : public ::testing::TestWithParam<ScriptedServerCase> {};

TEST_P(CliNetworkScripted, OpensAndAnswersAsTheServerDoes)
{
    const ScriptedServerCase& c = GetParam();
    ScriptedServer server(c.script);
    const std::string number = std::to_string(server.TcpPort());
    const std::string port = c.scheme + ("127.0.0.1:" + number);
    std::vector<std::string> args = {"--port", port, "black"};
    if (c.ids) args.insert(args.begin(), {"--ids", c.ids});
    const RunResult run = RunSend(args);
    EXPECT_EQ(run.status, c.status) << run.out;
    const std::string line = kBlanks + std::regex_replace(c.line, std::regex("PORT"), number);
    const auto lines = Lines(run.out);
    if (c.status == 8) {
        // A refusal come after the open follows the lines of the frame written.
        ASSERT_GE(lines.size(), 3u) << run.out;
        EXPECT_EQ(lines[lines.size() - 2], kBlanks + "Open Failed : " + port + " ,9600 ");
        EXPECT_EQ(lines.back(), line);
    } else {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << run.out;
    }
    EXPECT_EQ(server.Connections(), c.connections);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliNetworkScripted,
    ::testing::Values(
        // Another client holds the line: a text, then the close; tried again a few times.
        ScriptedServerCase{"InUse", "tcp://", {"Port already in use\r\n", true}, 8,
                           R"(Line in use: the server turned the connection away ("Port already in use"))", 3},
        ScriptedServerCase{"InUseTelnet", "rfc2217://", {kTelnetOpening + "Port's device already in use\r\n", true},
                           8, R"(Line in use: the server turned the connection away ("Port's device already in use"))",
                           3},
        // Words and the close, long after the open: no sign's reply.
        ScriptedServerCase{"LateRefusal", "tcp://", {"Port already in use\r\n", true, false, 0, "", "", false, 80}, 8,
                           R"(Line in use: the server turned the connection away ("Port already in use"))", 1},
        // Its own device is missing: nothing to try again.
        ScriptedServerCase{"DeviceMissing", "tcp://", {"Device open failure: Value or file not found\r\n", true}, 8,
                           R"(The server turned the connection away ("Device open failure: Value or file not found"))",
                           1},
        ScriptedServerCase{"OverlongSubnegotiation", "rfc2217://",
                           {kTelnetOpening + "\xFF\xFA\x2C" + std::string(300, '\x65')}, 8,
                           "The server sent a telnet subnegotiation longer than 64 bytes", 1},
        ScriptedServerCase{"TelnetServerAsRaw", "TCP://", {kTelnetOpening}, 8,
                           "The server speaks telnet (RFC 2217): use rfc2217://127.0.0.1:PORT", 1},
        // A raw port is silent; a sign behind it finds our telnet opening no frame.
        ScriptedServerCase{"RawServerAsTelnet", "rfc2217://", {"", false, false, 0, "", "\xF2"}, 8,
                           "The server does not speak telnet (RFC 2217): use tcp://127.0.0.1:PORT", 1},
        ScriptedServerCase{"AnotherRateSet", "RFC2217://", {kTelnetOpening, false, true, 19200}, 8,
                           "The server set 19200 baud instead of 9600", 1},
        ScriptedServerCase{"NeverAccepts", "tcp://", {"", false, false, 0, "", "", true}, 8, "Connection timed out", 0},
        // A checksum error the line received before each transaction: the purge drops it.
        ScriptedServerCase{"HeldReplyPurged", "rfc2217://", {kTelnetOpening, false, true, 0, "\xF0", "\x0F"}, 0,
                           "DATA :  0F", 1, "1-2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliNetwork, ServerGoneMidRunEndsTheTransactionAndFailsTheNextOpens)
{
    SimController sim({"--silent"});
    auto server = std::make_unique<Ser2netServer>(sim.PortPath(), Ser2netServer::Mode::Rfc2217);
    const std::string port = server->PortName();
    WorkDir dir;
    dir.WriteFile("station.txt", "--id 1 bright auto\n--id 2 black\n");
    RunResult run;
    std::thread sender([&] {
        run = RunSend({"--keep-going", "--port", port, "--script", dir.Path() + "/station.txt"});
    });
    // Gone while the first transaction waits for its reply.
    const bool arrived = sim.WaitForFrames(1);
    server->Stop();
    sender.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(sim.RecordedFrames(), std::vector<std::string>{"A1 08 F7 01 43 FF E3 51"});
    // The first failure's status: a lost line, not a silent sign.
    EXPECT_EQ(run.status, 10) << run.out;
    const auto lines = Lines(run.out);
    // The system's reason takes the place of the time-out.
    ASSERT_EQ(std::find(lines.begin(), lines.end(), "The request has timed out"), lines.end()) << run.out;
    const auto reason = std::find(lines.begin(), lines.end(), kBlanks + "Connection closed by the server");
    ASSERT_NE(reason, lines.end()) << run.out;
    ASSERT_LT(reason + 1, lines.end());
    EXPECT_EQ(*(reason + 1), kBlanks + "Close: " + port) << run.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), kBlanks + "Open Failed : " + port + " ,9600 "), lines.end())
        << run.out;
    EXPECT_EQ(SummaryLine(run.out, "Line lost:"), "Line lost: 1") << run.out;
    EXPECT_EQ(SummaryLine(run.out, "Open failed:"), "Open failed: 1") << run.out;
}

TEST(CliNetwork, OneScriptOverTwoServersNamesEachTransactionsPort)
{
    // Signs 1-2 behind an RFC 2217 server, 3-4 behind a raw one; ID 5 is absent.
    SimController first({"--ids", "1-2"});
    SimController second({"--ids", "3-4"});
    Ser2netServer rfc2217(first.PortPath(), Ser2netServer::Mode::Rfc2217);
    Ser2netServer raw(second.PortPath(), Ser2netServer::Mode::Raw);
    WorkDir dir;
    dir.WriteFile("station.txt", "--port " + rfc2217.PortName() + " --ids 1-2 bright auto\n" +
                                     "--port " + raw.PortName() + " --ids 3-5 black\n");
    const std::string log = dir.Path() + "/station.log";
    const RunResult run =
        RunSend({"--json", "--keep-going", "--parallel", "--log", log, "--script", dir.Path() + "/station.txt"});
    EXPECT_EQ(run.status, 7) << run.out << run.err;
    // Each bus its own frames, in the script's order.
    EXPECT_EQ(first.RecordedFrames(), (std::vector<std::string>{"A1 08 F7 01 43 FF E3 51", "A1 08 F7 02 43 FF E4 51"}));
    EXPECT_EQ(second.RecordedFrames(),
              (std::vector<std::string>{"A1 07 F8 03 63 06 51", "A1 07 F8 04 63 07 51", "A1 07 F8 05 63 08 51"}));
    const auto records = Lines(run.out);
    ASSERT_EQ(records.size(), 5u) << run.out;
    std::map<std::string, std::vector<std::string>> byPort;
    for (const std::string& line : records) {
        const auto record = nlohmann::json::parse(line);
        byPort[record["port"]].push_back(record["frame"].get<std::string>() + " " + record["outcome"].get<std::string>());
    }
    EXPECT_EQ(byPort[rfc2217.PortName()],
              (std::vector<std::string>{"A1 08 F7 01 43 FF E3 51 success", "A1 08 F7 02 43 FF E4 51 success"}));
    EXPECT_EQ(byPort[raw.PortName()], (std::vector<std::string>{"A1 07 F8 03 63 06 51 success",
                                                                "A1 07 F8 04 63 07 51 success",
                                                                "A1 07 F8 05 63 08 51 timed out"}));
    EXPECT_NE(run.err.find("Not succeeded: " + raw.PortName() + " ID 5\n"), std::string::npos) << run.err;
    // The log: each transaction whole under its heading (port, line, ID),
    // each line opened once and closed once.
    const auto logLines = Lines(dir.ReadFile("station.log"));
    ASSERT_FALSE(logLines.empty());
    // The header names both lines.
    const std::string both = "  port " + rfc2217.PortName() + "  baud 9600  port " + raw.PortName() + "  baud 9600  ";
    EXPECT_NE(logLines[0].find(both + "rq-m4x-send "), std::string::npos) << logLines[0];
    std::string heading;
    std::vector<std::string> transactions, openedAndClosed;
    for (const std::string& line : logLines) {
        if (line.rfind(rfc2217.PortName() + "  ", 0) == 0 || line.rfind(raw.PortName() + "  ", 0) == 0) heading = line;
        const auto data = line.find("DATA :  A1");
        if (data != std::string::npos) transactions.push_back(heading.substr(heading.size() - 1) + " " + line.substr(data + 17, 2));
        const auto open = line.find("Open : "), close = line.find("Close: ");
        if (open != std::string::npos) openedAndClosed.push_back(line.substr(open));
        if (close != std::string::npos) openedAndClosed.push_back(line.substr(close));
    }
    // The heading's ID and the frame's address byte agree.
    EXPECT_EQ(transactions.size(), 5u) << dir.ReadFile("station.log");
    for (const std::string& t : transactions) EXPECT_EQ("0" + t.substr(0, 1), t.substr(2)) << dir.ReadFile("station.log");
    std::vector<std::string> expected = {"Close: " + raw.PortName(), "Close: " + rfc2217.PortName(),
                                         "Open : " + raw.PortName() + " ,9600 ", "Open : " + rfc2217.PortName() + " ,9600 "};
    std::sort(openedAndClosed.begin(), openedAndClosed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(openedAndClosed, expected) << dir.ReadFile("station.log");
}
#endif

#ifndef _WIN32
TEST(CliNetwork, AnRfc2217OpenRightAfterAnotherConnectionToTheSameLineSucceeds)
{
    // One server offers the line both ways; asked for it again while it is
    // still closing it after the raw connection, it turns the next one away.
    SimController sim({"--ids", "1"});
    Ser2netServer server(sim.PortPath(), Ser2netServer::Mode::Rfc2217, true);
    WorkDir dir;
    dir.WriteFile("station.txt", "--port " + server.RawBesideName() + " --id 1 black\n--port " + server.PortName() +
                                     " --id 1 bright auto\n");
    const RunResult run = RunSend({"--quiet", "--script", dir.Path() + "/station.txt"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(sim.RecordedFrames(), (std::vector<std::string>{"A1 07 F8 01 63 04 51", "A1 08 F7 01 43 FF E3 51"}));
}
#endif

#ifndef _WIN32
// A bus of eight where sign 3 answers 60 ms after the reply wait, sign 5
// answers F1 and sign 7 is absent: every sign's result is its own, whatever
// the line and however it is held.
struct OwnResultCase {
    const char* name;
    const char* via;  // "pty", "rfc2217", "tcp"
    bool reopen;
    bool twoBuses;  // the same bus on a second line, both at once
};

class CliOwnResults : public ::testing::TestWithParam<OwnResultCase> {};

TEST_P(CliOwnResults, ALateSignAFailingAndAnAbsentOneShiftNoOtherResult)
{
    const OwnResultCase& c = GetParam();
    const std::vector<std::string> bus = {"--ids", "1-6,8", "--delay", "3:560", "--fail", "5:F1"};
    std::vector<std::unique_ptr<SimController>> sims;
    std::vector<std::unique_ptr<Ser2netServer>> servers;
    std::string ports;
    for (int b = 0; b < (c.twoBuses ? 2 : 1); ++b) {
        sims.push_back(std::make_unique<SimController>(bus));
        std::string port = sims.back()->PortPath();
        if (std::string(c.via) != "pty") {
            servers.push_back(std::make_unique<Ser2netServer>(
                port, std::string(c.via) == "rfc2217" ? Ser2netServer::Mode::Rfc2217 : Ser2netServer::Mode::Raw));
            port = servers.back()->PortName();
        }
        ports += (ports.empty() ? "" : ",") + port;
    }
    std::vector<std::string> args = {"--json", "--keep-going", "--port", ports, "--ids", "1-8", "black"};
    if (c.reopen) args.insert(args.begin(), "--reopen");
    const RunResult run = RunSend(args);
    EXPECT_EQ(run.status, 7) << run.out << run.err;
    const std::map<int, std::string> expected = {{1, "success"}, {2, "success"}, {3, "timed out"},
                                                 {4, "success"}, {5, "undefined instruction"},
                                                 {6, "success"}, {7, "timed out"}, {8, "success"}};
    std::map<std::string, std::map<int, std::string>> outcomes;
    for (const std::string& line : Lines(run.out)) {
        const auto record = nlohmann::json::parse(line);
        outcomes[record["port"]][record["id"].get<int>()] = record["outcome"];
    }
    ASSERT_EQ(outcomes.size(), sims.size()) << run.out;
    for (const auto& [port, results] : outcomes) EXPECT_EQ(results, expected) << port << "\n" << run.out;
    const std::string perBus = std::to_string(8 * sims.size());
    EXPECT_NE(run.err.find("Transactions: " + perBus + "\nSuccess: " + std::to_string(5 * sims.size())),
              std::string::npos) << run.err;
    for (const auto& sim : sims) EXPECT_EQ(sim->RecordedFrames().size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliOwnResults,
    ::testing::Values(OwnResultCase{"KeptOpen", "pty", false, false}, OwnResultCase{"Reopened", "pty", true, false},
                      OwnResultCase{"Rfc2217KeptOpen", "rfc2217", false, false},
                      OwnResultCase{"Rfc2217Reopened", "rfc2217", true, false},
                      OwnResultCase{"RawTcpKeptOpen", "tcp", false, false},
                      OwnResultCase{"RawTcpReopened", "tcp", true, false},
                      OwnResultCase{"TwoBusesAtOnce", "pty", false, true},
                      OwnResultCase{"TwoServersAtOnce", "rfc2217", false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliNetwork, AServerThatClosesAfterEachReplyIsOpenedAgainForEachFrame)
{
    SimController sim({"--listen", "tcp://127.0.0.1:0", "--short-connection", "--ids", "1-8"});
    const RunResult run = RunSend({"--quiet", "--port", sim.PortPath(), "--ids", "1-8", "black"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(SummaryLine(run.out, "Success:"), "Success: 8") << run.out;
    EXPECT_EQ(sim.RecordedFrames().size(), 8u);
}

TEST(CliFleet, CtrlCFinishesTheFrameUnderWayAndRecordsTheRun)
{
    // Each transaction takes at least 200 ms: the interrupt comes during the third.
    SimController sim({"--ids", "1-40", "--delay", "200"});
    WorkDir dir;
    const RunResult run = RunSend({"--json", "--keep-going", "--log", dir.Path() + "/station.log", "--port",
                                   sim.PortPath(), "--ids", "1-40", "black"},
                                  false, std::nullopt, {}, 0, false, 500);
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    const auto records = Lines(run.out);
    // Each frame on the wire has its record, and the last ended as usual.
    EXPECT_EQ(records.size(), sim.RecordedFrames().size()) << run.out;
    ASSERT_GE(records.size(), 2u);
    EXPECT_LT(records.size(), 40u);
    EXPECT_EQ(nlohmann::json::parse(records.back())["outcome"], "success");
    EXPECT_NE(run.err.find("Not sent: " + std::to_string(40 - records.size()) + " (the run was interrupted)\n"),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Interrupted: "), std::string::npos) << run.err;
    const std::string log = dir.ReadFile("station.log");
    EXPECT_NE(log.find("Close: " + sim.PortPath()), std::string::npos) << log;
}
#endif
