// bench_fleet: one rq-m4x-send run over a bus of 32 simulated signs, three
// commands each (a script of three --ids 1-32 lines), as an installer sets up
// a station. Prints the run's wall time beside the sum of the simulator's
// answer delays, so the tool's own cost per transaction shows; then the same
// run with 4 absent IDs and --keep-going, where each absent ID should cost
// the 500 ms reply wait and no more. Last, the same 96 transactions through
// Debian's ser2net on the loopback (RFC 2217 and raw TCP), beside a plain
// client that replays the very frames through the same server with nothing
// of ours in it: the difference is the tool's own cost on a network line.
// Then side by side, directly and through ser2net: a line opened for each
// transaction (--reopen), the kept-open run, and a plain C++ client that opens
// its line once and loops (drop waiting input, write, wait for the status
// byte), as a pyserial loop would; and 4 buses of 32 signs, one after the
// other and with --parallel.
//
// usage: bench_fleet [runs]     (default 3; the median run is printed)

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "support/ser2net_server.h"
#include "support/sim_controller.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int DELAY_MS = 16;  // about the wire time of a frame at 9600 baud
constexpr double NOMINAL_TIMEOUT_MS = 500.0;
const char SCRIPT[] =
    "--ids 1-32 bright 8\n"
    "--ids 1-32 scroll 3000 50\n"
    "--ids 1-32 align center\n";
constexpr int TRANSACTIONS = 96;

struct Run {
    bool ok = false;
    int status = -1;
    double wallMs = 0;
    std::vector<double> answeredMs;  // per transaction, from the JSON records
    std::vector<double> absentMs;
    std::vector<std::string> frames;  // hex, from the JSON records
};

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

double Sum(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v) sum += x;
    return sum;
}

// Runs rq-m4x-send with the script on its standard input and the records on
// its standard output; the wall time spans process start to exit.
Run RunSend(const std::string& port, bool json, bool keepGoing, const std::vector<std::string>& extra = {},
            const std::string& script = SCRIPT, std::size_t transactions = TRANSACTIONS)
{
    Run run;
    std::vector<std::string> args = {RQ_SEND_EXECUTABLE, "--script", "-"};
    if (!port.empty()) args.insert(args.end(), {"--port", port});
    args.push_back(json ? "--json" : "--quiet");
    if (keepGoing) args.push_back("--keep-going");
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // The summary of a --json run goes to standard error; the records say it all.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (spawned != 0) {
        close(in[1]);
        close(out[0]);
        return run;
    }
    [[maybe_unused]] ssize_t written = write(in[1], script.data(), script.size());
    close(in[1]);

    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR) break;
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.wallMs = Ms(Clock::now() - start);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    if (json) {
        std::size_t begin = 0;
        while (begin < text.size()) {
            std::size_t end = text.find('\n', begin);
            if (end == std::string::npos) end = text.size();
            const auto record = nlohmann::json::parse(text.substr(begin, end - begin));
            (record["outcome"] == "timed out" ? run.absentMs : run.answeredMs).push_back(record["ms"].get<double>());
            run.frames.push_back(record["frame"].get<std::string>());
            begin = end + 1;
        }
        run.ok = run.answeredMs.size() + run.absentMs.size() == transactions;
    } else {
        run.ok = true;
    }
    return run;
}

enum class Line { Direct, Rfc2217, Raw };

// The run whose wall time is the median of `runs`.
Run MedianRun(const std::vector<std::string>& simArgs, bool json, bool keepGoing, int runs, Line line = Line::Direct,
              const std::vector<std::string>& extra = {})
{
    std::vector<Run> all;
    for (int i = 0; i < runs; ++i) {
        rq::test::SimController sim(simArgs);
        std::unique_ptr<rq::test::Ser2netServer> server;
        if (line != Line::Direct)
            server = std::make_unique<rq::test::Ser2netServer>(
                sim.PortPath(), line == Line::Rfc2217 ? rq::test::Ser2netServer::Mode::Rfc2217
                                                      : rq::test::Ser2netServer::Mode::Raw);
        all.push_back(RunSend(server ? server->PortName() : sim.PortPath(), json, keepGoing, extra));
        if (!all.back().ok) {
            std::fprintf(stderr, "bench_fleet: run %d failed (exit %d)\n", i, all.back().status);
            std::exit(1);
        }
    }
    std::sort(all.begin(), all.end(), [](const Run& a, const Run& b) { return a.wallMs < b.wallMs; });
    return all[all.size() / 2];
}

std::vector<std::uint8_t> FromHex(const std::string& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// One transaction as the plainest client makes it: connect, write the frame,
// wait for the status byte, close. True when 0F came back.
bool PlainTransaction(int port, const std::vector<std::uint8_t>& frame)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
    std::uint8_t status = 0;
    pollfd waiting{fd, POLLIN, 0};
    ok = ok && poll(&waiting, 1, static_cast<int>(NOMINAL_TIMEOUT_MS)) > 0 && recv(fd, &status, 1, 0) == 1 &&
         status == 0x0F;
    close(fd);
    return ok;
}

// The frames of `frames` replayed through a raw ser2net in front of a fresh
// simulator; the median wall time of `runs`.
double MedianPlainRun(const std::vector<std::string>& simArgs, const std::vector<std::string>& frames, int runs,
                      int& failures)
{
    std::vector<double> walls;
    failures = 0;
    for (int i = 0; i < runs; ++i) {
        rq::test::SimController sim(simArgs);
        rq::test::Ser2netServer server(sim.PortPath(), rq::test::Ser2netServer::Mode::Raw);
        const auto start = Clock::now();
        for (const std::string& frame : frames) failures += PlainTransaction(server.TcpPort(), FromHex(frame)) ? 0 : 1;
        walls.push_back(Ms(Clock::now() - start));
    }
    std::sort(walls.begin(), walls.end());
    return walls[walls.size() / 2];
}

// The plain client that keeps its line: a pseudo-terminal opened once (raw),
// or one TCP connection to a raw ser2net; per frame it drops what waits,
// writes, and waits for the status byte. The median wall time of `runs`, the
// open included.
double MedianKeptPlainRun(const std::vector<std::string>& simArgs, const std::vector<std::string>& frames, int runs,
                          bool throughServer, int& failures)
{
    std::vector<double> walls;
    failures = 0;
    for (int i = 0; i < runs; ++i) {
        rq::test::SimController sim(simArgs);
        std::unique_ptr<rq::test::Ser2netServer> server;
        if (throughServer)
            server = std::make_unique<rq::test::Ser2netServer>(sim.PortPath(), rq::test::Ser2netServer::Mode::Raw);
        const auto start = Clock::now();
        int fd = -1;
        if (server) {
            fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<std::uint16_t>(server->TcpPort()));
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fd = -1;
        } else {
            fd = open(sim.PortPath().c_str(), O_RDWR | O_NOCTTY);
            termios raw{};
            tcgetattr(fd, &raw);
            cfmakeraw(&raw);
            cfsetspeed(&raw, B9600);
            tcsetattr(fd, TCSANOW, &raw);
        }
        for (const std::string& hex : frames) {
            const std::vector<std::uint8_t> frame = FromHex(hex);
            if (server) {
                std::uint8_t stale[64];
                while (recv(fd, stale, sizeof stale, MSG_DONTWAIT) > 0) {
                }
            } else {
                tcflush(fd, TCIFLUSH);
            }
            std::uint8_t status = 0;
            pollfd waiting{fd, POLLIN, 0};
            const bool ok = fd >= 0 && write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size()) &&
                            poll(&waiting, 1, static_cast<int>(NOMINAL_TIMEOUT_MS)) > 0 && read(fd, &status, 1) == 1 &&
                            status == 0x0F;
            failures += ok ? 0 : 1;
        }
        if (fd >= 0) close(fd);
        walls.push_back(Ms(Clock::now() - start));
    }
    std::sort(walls.begin(), walls.end());
    return walls[walls.size() / 2];
}

// 4 buses of 32 signs, one script line each; the median run's wall time.
double MedianFourBuses(int runs, bool parallel, const std::string& delay, int& status)
{
    std::vector<double> walls;
    for (int i = 0; i < runs; ++i) {
        std::vector<std::unique_ptr<rq::test::SimController>> sims;
        std::string script;
        for (int bus = 0; bus < 4; ++bus) {
            sims.push_back(std::make_unique<rq::test::SimController>(
                std::vector<std::string>{"--ids", "1-32", "--delay", delay}));
            script += "--port " + sims.back()->PortPath() + " --ids 1-32 bright 8\n";
        }
        const std::vector<std::string> extra =
            parallel ? std::vector<std::string>{"--parallel"} : std::vector<std::string>{};
        const Run run = RunSend("", true, false, extra, script, 128);
        if (!run.ok) {
            std::fprintf(stderr, "bench_fleet: a 4-bus run failed (exit %d)\n", run.status);
            std::exit(1);
        }
        status = run.status;
        walls.push_back(run.wallMs);
    }
    std::sort(walls.begin(), walls.end());
    return walls[walls.size() / 2];
}

void PrintSideBySide(const char* label, double wallMs, double delays)
{
    std::printf("    %-30s: %9.1f ms   %6.2f ms per transaction beyond the sign's\n", label, wallMs,
                (wallMs - delays) / TRANSACTIONS);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string delay = std::to_string(DELAY_MS);
    std::printf("bench_fleet: 32 IDs x 3 commands = %d transactions, simulator answers after %d ms; "
                "median of %d runs\n\n",
                TRANSACTIONS, DELAY_MS, runs);

    const double delays = TRANSACTIONS * DELAY_MS;
    const Run human = MedianRun({"--ids", "1-32", "--delay", delay}, false, false, runs);
    const Run json = MedianRun({"--ids", "1-32", "--delay", delay}, true, false, runs);
    std::printf("  all 32 present\n");
    std::printf("    simulator delays, summed     : %9.1f ms\n", delays);
    std::printf("    whole run, --quiet           : %9.1f ms   overhead %6.2f ms per transaction (exit %d)\n",
                human.wallMs, (human.wallMs - delays) / TRANSACTIONS, human.status);
    std::printf("    whole run, --json            : %9.1f ms   overhead %6.2f ms per transaction (exit %d)\n",
                json.wallMs, (json.wallMs - delays) / TRANSACTIONS, json.status);
    std::printf("    one transaction (JSON ms)    : median %7.2f ms   p95 %7.2f ms   worst %7.2f ms\n",
                Percentile(json.answeredMs, 0.5), Percentile(json.answeredMs, 0.95),
                Percentile(json.answeredMs, 1.0));
    std::printf("    start-up and exit            : %9.1f ms   (whole run less the transactions' own times)\n",
                json.wallMs - Sum(json.answeredMs));

    // IDs 8, 16, 24 and 32 absent: 12 of the 96 transactions go unanswered.
    const Run absent = MedianRun({"--ids", "1-7,9-15,17-23,25-31", "--delay", delay}, true, true, runs);
    const double answeredDelays = static_cast<double>(absent.answeredMs.size()) * DELAY_MS;
    const double expected = answeredDelays + static_cast<double>(absent.absentMs.size()) * NOMINAL_TIMEOUT_MS;
    std::printf("\n  4 IDs absent (8, 16, 24, 32), --keep-going\n");
    std::printf("    transactions answered/absent : %zu / %zu (exit %d)\n", absent.answeredMs.size(),
                absent.absentMs.size(), absent.status);
    std::printf("    one absent transaction       : median %7.2f ms   worst %7.2f ms   (nominal %.0f ms)\n",
                Percentile(absent.absentMs, 0.5), Percentile(absent.absentMs, 1.0), NOMINAL_TIMEOUT_MS);
    std::printf("    cost per absent transaction  : %7.2f ms beyond the nominal wait\n",
                Percentile(absent.absentMs, 0.5) - NOMINAL_TIMEOUT_MS);
    std::printf("    whole run                    : %9.1f ms   against %.1f ms of delays and waits, "
                "overhead %6.2f ms per transaction\n",
                absent.wallMs, expected, (absent.wallMs - expected) / TRANSACTIONS);
    
    // The same 96 through ser2net on the loopback.
    const std::vector<std::string> bus = {"--ids", "1-32", "--delay", delay};
    const Run rfc2217 = MedianRun(bus, true, false, runs, Line::Rfc2217);
    const Run raw = MedianRun(bus, true, false, runs, Line::Raw);
    int plainFailures = 0;
    const double plain = MedianPlainRun(bus, json.frames, runs, plainFailures);
    std::printf("\n  through ser2net on 127.0.0.1 (one connection a run)\n");
    std::printf("    direct pseudo-terminal       : %9.1f ms   overhead %6.2f ms per transaction\n", json.wallMs,
                (json.wallMs - delays) / TRANSACTIONS);
    std::printf("    rfc2217://, --json           : %9.1f ms   overhead %6.2f ms per transaction (exit %d)\n",
                rfc2217.wallMs, (rfc2217.wallMs - delays) / TRANSACTIONS, rfc2217.status);
    std::printf("    tcp://, --json               : %9.1f ms   overhead %6.2f ms per transaction (exit %d)\n",
                raw.wallMs, (raw.wallMs - delays) / TRANSACTIONS, raw.status);
    std::printf("    plain client, raw, same frames: %8.1f ms   overhead %6.2f ms per transaction (%d not answered 0F)\n",
                plain, (plain - delays) / TRANSACTIONS, plainFailures);
    std::printf("    the tool's own cost          : rfc2217 %6.2f ms, tcp %6.2f ms per transaction beyond the plain client\n",
                (rfc2217.wallMs - plain) / TRANSACTIONS, (raw.wallMs - plain) / TRANSACTIONS);
    std::printf("    one transaction (JSON ms)    : rfc2217 median %7.2f ms   tcp median %7.2f ms\n",
                Percentile(rfc2217.answeredMs, 0.5), Percentile(raw.answeredMs, 0.5));

    // Side by side: a line opened per transaction, kept open, a plain loop.
    const Run reopenDirect = MedianRun(bus, true, false, runs, Line::Direct, {"--reopen"});
    const Run reopenRfc2217 = MedianRun(bus, true, false, runs, Line::Rfc2217, {"--reopen"});
    const Run reopenRaw = MedianRun(bus, true, false, runs, Line::Raw, {"--reopen"});
    int keptFailures = 0, keptNetFailures = 0;
    const double keptPlain = MedianKeptPlainRun(bus, json.frames, runs, false, keptFailures);
    const double keptPlainNet = MedianKeptPlainRun(bus, json.frames, runs, true, keptNetFailures);
    std::printf("\n  one open per transaction (--reopen), kept open, a plain client that keeps its line\n");
    std::printf("  (the plain client: C++, open once, then per frame drop input, write, wait for 0F)\n");
    std::printf("   pseudo-terminal\n");
    PrintSideBySide("--reopen", reopenDirect.wallMs, delays);
    PrintSideBySide("kept open", json.wallMs, delays);
    PrintSideBySide("plain client, kept open", keptPlain, delays);
    std::printf("   ser2net on 127.0.0.1\n");
    PrintSideBySide("rfc2217://, --reopen", reopenRfc2217.wallMs, delays);
    PrintSideBySide("rfc2217://, kept open", rfc2217.wallMs, delays);
    PrintSideBySide("tcp://, --reopen", reopenRaw.wallMs, delays);
    PrintSideBySide("tcp://, kept open", raw.wallMs, delays);
    PrintSideBySide("plain client, tcp, kept open", keptPlainNet, delays);
    std::printf("    kept open against the plain client: direct %.3f, rfc2217 %.3f, tcp %.3f (%d + %d not 0F)\n",
                json.wallMs / keptPlain, rfc2217.wallMs / keptPlainNet, raw.wallMs / keptPlainNet, keptFailures,
                keptNetFailures);

    int sequentialStatus = -1, parallelStatus = -1;
    const double sequential = MedianFourBuses(runs, false, delay, sequentialStatus);
    const double parallel = MedianFourBuses(runs, true, delay, parallelStatus);
    std::printf("\n  4 buses x 32 signs (128 transactions, a pseudo-terminal each)\n");
    std::printf("    one after the other          : %9.1f ms (exit %d)\n", sequential, sequentialStatus);
    std::printf("    --parallel                   : %9.1f ms (exit %d)   %.2f of the sequential run\n", parallel,
                parallelStatus, parallel / sequential);
    return 0;
}
