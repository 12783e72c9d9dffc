// bench_show: what the simulator's window costs. Starts its own Xvfb (with
// openbox on it when installed, as on a desktop), then for each case a fresh
// `rq-m4x-sim --ids 1-4 --show`, sets every sign to 256 x 32 dots at the
// fastest scroll speed of "LED Set" (64 dots a second) with the real
// rq-m4x-send, sends the case's message, lets the window settle and measures
// the CPU time (utime + stime in /proc/PID/stat) of the simulator, Xvfb and
// the window manager over the interval. Cases: a text wider than the panel
// (scrolling), a short one (still), the short one blinking 500/500 ms.
// Prints each as per cent of one core.
//
// With --latency it measures instead what drawing costs the answers: a fresh
// `rq-m4x-sim --ids 1-16` with 16 panels of 1024 x 256 dots and a scrolling
// text, plain, with --show and with --snapshot, and N brightness frames to
// IDs 1..16 in turn (--pause MS apart, default 30), each timed from its
// write to its reply on the terminal.
// Prints the median and worst transaction and the replies later than 1 s.
//
// usage: bench_show [--seconds N] [--runs N] [--no-wm] [--sim PATH]
//                   [--screenshot FILE.png] [--latency [--transactions N] [--pause MS]]
//   --seconds  length of each measurement (default 10)
//   --runs     measurements per case; the median is printed (default 1)
//   --sim      another rq-m4x-sim to measure, e.g. an older build
//   --screenshot  the whole screen while scrolling, with ImageMagick's import
// Needs Xvfb (Debian's xvfb); run it directly, not under xvfb-run:
//   RQ_BUILD_TARGETS=bench_show bash scripts/build && build/bench/show/bench_show

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/first_line_posix.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int START_LIMIT_MS = 10000;
constexpr int SETTLE_MS = 1500;
const char WIDE_TEXT[] = "Platform 3: the 08:15 service to Harbour Street calls at all stations";
const char SHORT_TEXT[] = "Platform 3";

struct Case {
    const char* name;
    std::vector<std::vector<std::string>> commands;  // after the panel size
};

std::vector<std::string> environment;

void SetEnv(const std::string& name, const std::string& value)
{
    const std::string prefix = name + "=";
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }),
                      environment.end());
    environment.push_back(prefix + value);
}

// Starts a program (searched in PATH); its output goes to `outFd` (-1: /dev/null),
// `passFd` is handed over as descriptor `passAs`.
pid_t Spawn(const std::vector<std::string>& args, int outFd = -1, int passFd = -1, int passAs = -1)
{
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, passAs);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Stop(pid_t& pid)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
}

// A program's output's first line, the program left running.
pid_t SpawnReading(const std::vector<std::string>& args, std::string& line, bool viaDisplayFd)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    const pid_t pid = viaDisplayFd ? Spawn(args, -1, out[1], 9) : Spawn(args, out[1]);
    close(out[1]);
    if (pid > 0) line = rq::test::ReadFirstLine(out[0], START_LIMIT_MS);
    close(out[0]);
    return pid;
}

// CPU seconds (user + system) of a process so far.
double CpuSeconds(pid_t pid)
{
    if (pid <= 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Field 3 (state) comes first here; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Sample {
    double sim = 0, xvfb = 0, wm = 0;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool Send(const std::string& port, const std::vector<std::string>& command)
{
    std::vector<std::string> args = {RQ_SEND_EXECUTABLE, "--port", port, "--ids", "1-4"};
    args.insert(args.end(), command.begin(), command.end());
    const pid_t pid = Spawn(args);
    return pid > 0 && Wait(pid) == 0;
}

// A frame to `id`: start, length, inverted length, address, code, payload, sum, end.
std::vector<std::uint8_t> FrameTo(int id, std::uint8_t code, const std::vector<std::uint8_t>& payload)
{
    const auto length = static_cast<std::uint8_t>(payload.size() + 7);
    std::vector<std::uint8_t> frame = {0xA1, length, static_cast<std::uint8_t>(~length),
                                       static_cast<std::uint8_t>(id), code};
    for (std::uint8_t byte : payload) frame.push_back(byte);
    std::uint8_t sum = 0;
    for (std::uint8_t byte : frame) sum = static_cast<std::uint8_t>(sum + byte);
    frame.push_back(sum);
    frame.push_back(0x51);
    return frame;
}

// One frame on the terminal, timed from the write to the reply; -1 when no
// reply came within a second.
double TimeTransaction(int fd, const std::vector<std::uint8_t>& frame)
{
    std::uint8_t byte = 0;
    while (read(fd, &byte, 1) == 1) {
    }
    const auto start = Clock::now();
    if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) return -1;
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 1000) != 1 || read(fd, &byte, 1) != 1) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int MeasureLatency(const std::string& sim, int transactions, int pauseMs)
{
    std::printf("rq-m4x-sim --ids 1-16: 16 panels of 1024 x 256 dots, scrolling, %d brightness frames %d ms apart\n",
                transactions, pauseMs);
    std::printf("%-12s %10s %10s %9s\n", "case", "median", "worst", "late");
    char folder[] = "/tmp/rq-bench-snapshots-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"plain", {}}, {"--show", {"--show"}}, {"--snapshot", {"--snapshot", folder}}};
    int status = 0;
    for (const auto& [name, extra] : cases) {
        std::vector<std::string> args = {sim, "--ids", "1-16"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string port;
        pid_t simPid = SpawnReading(args, port, false);
        const int fd = port.empty() ? -1 : open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios settings{};
        if (fd < 0 || tcgetattr(fd, &settings) != 0) {
            std::fprintf(stderr, "bench_show: %s: the simulator did not start\n", name);
            if (fd >= 0) close(fd);
            Stop(simPid);
            status = 1;
            continue;
        }
        cfmakeraw(&settings);
        cfsetspeed(&settings, B115200);
        tcsetattr(fd, TCSANOW, &settings);
        // Each sign 1024 x 256 dots (the bytes count 8 dots), P10, the
        // fastest scroll; then a text wider than its panel. The frames are
        // written here, so that any simulator and any client may be compared.
        const std::string text = WIDE_TEXT;
        int missed = 0;
        for (int id = 1; id <= 16; ++id) {
            missed += TimeTransaction(fd, FrameTo(id, 0x41, {0x80, 0x20, 0, 0, 0, 0x41, 0x0F})) < 0;
            missed += TimeTransaction(fd, FrameTo(id, 0x01, std::vector<std::uint8_t>(text.begin(), text.end()))) < 0;
        }
        // A sign that the drawing made miss its set-up is said, not fatal:
        // that is what is measured.
        if (missed) std::fprintf(stderr, "bench_show: %s: %d set-up frames unanswered\n", name, missed);
        std::this_thread::sleep_for(std::chrono::milliseconds(SETTLE_MS));
        std::vector<double> times;
        int late = 0;
        for (int i = 0; i < transactions; ++i) {
            // A new level each time, so that every frame changes what is
            // shown, and a pause between frames, as a client spends on its side.
            const double ms = TimeTransaction(fd, FrameTo(1 + i % 16, 0x43, {static_cast<std::uint8_t>(8 + i % 2)}));
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            if (ms < 0) ++late;
            else times.push_back(ms);
            // A late reply must not pass for the next frame's.
            if (ms < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        }
        close(fd);
        Stop(simPid);
        std::sort(times.begin(), times.end());
        std::printf("%-12s %7.2f ms %7.2f ms %9d\n", name, Median(times), times.empty() ? 0.0 : times.back(), late);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 10;
    int runs = 1;
    bool withWm = true;
    std::string sim = RQ_SIM_EXECUTABLE;
    std::string screenshot;
    bool latency = false;
    int transactions = 200;
    int pauseMs = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) seconds = std::atof(argv[++i]);
        else if (arg == "--runs" && hasValue) runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--sim" && hasValue) sim = argv[++i];
        else if (arg == "--screenshot" && hasValue) screenshot = argv[++i];
        else if (arg == "--no-wm") withWm = false;
        else if (arg == "--latency") latency = true;
        else if (arg == "--transactions" && hasValue) transactions = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--pause" && hasValue) pauseMs = std::max(0, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: bench_show [--seconds N] [--runs N] [--no-wm] [--sim PATH] [--screenshot FILE]\n"
                         "                  [--latency [--transactions N] [--pause MS]]\n");
            return 2;
        }
    }
    if (seconds <= 0) seconds = 10;
    signal(SIGPIPE, SIG_IGN);
    for (char** e = environ; *e; ++e) environment.push_back(*e);
    SetEnv("NO_AT_BRIDGE", "1");
    SetEnv("GDK_BACKEND", "x11");

    // Room for four panels of 1280 x 160 pixels and their captions.
    std::string display;
    pid_t xvfb = SpawnReading({"Xvfb", "-displayfd", "9", "-screen", "0", "1600x1200x24", "-nolisten", "tcp"},
                              display, true);
    if (xvfb <= 0 || display.empty()) {
        std::fprintf(stderr, "bench_show: Xvfb did not start\n");
        if (xvfb > 0) Stop(xvfb);
        return 1;
    }
    SetEnv("DISPLAY", ":" + display);
    pid_t wm = withWm ? Spawn({"openbox"}) : -1;
    if (withWm && wm <= 0) std::fprintf(stderr, "bench_show: no openbox; measuring without a window manager\n");
    // Give the window manager a moment to take the screen.
    if (wm > 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));

    if (latency) {
        const int measured = MeasureLatency(sim, transactions, pauseMs);
        Stop(wm);
        Stop(xvfb);
        return measured;
    }

    const std::vector<Case> cases = {
        {"scrolling", {{"message", WIDE_TEXT}}},
        {"still", {{"message", SHORT_TEXT}}},
        {"blinking", {{"blinking", "on", "500", "500"}, {"message", SHORT_TEXT}}},
    };
    std::printf("rq-m4x-sim --ids 1-4 --show: 4 panels of 256 x 32 dots, scroll 64 dots/s, %s, %.0f s a run, "
                "median of %d\n",
                wm > 0 ? "openbox" : "no window manager", seconds, runs);
    std::printf("%-10s %9s %9s %9s   (per cent of one core)\n", "case", "sim", "Xvfb", "openbox");
    int status = 0;
    for (const Case& c : cases) {
        std::vector<double> simShare, xvfbShare, wmShare;
        for (int run = 0; run < runs; ++run) {
            std::string port;
            pid_t simPid = SpawnReading({sim, "--ids", "1-4", "--show"}, port, false);
            bool ok = simPid > 0 && !port.empty() && Send(port, {"led", "256", "32", "P10", "0", "15"});
            for (const auto& command : c.commands) ok = ok && Send(port, command);
            if (!ok) {
                std::fprintf(stderr, "bench_show: %s: the simulator or rq-m4x-send failed\n", c.name);
                Stop(simPid);
                status = 1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(SETTLE_MS));
            const double sim0 = CpuSeconds(simPid), x0 = CpuSeconds(xvfb), wm0 = CpuSeconds(wm);
            const auto t0 = Clock::now();
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
            simShare.push_back(100 * (CpuSeconds(simPid) - sim0) / wall);
            xvfbShare.push_back(100 * (CpuSeconds(xvfb) - x0) / wall);
            wmShare.push_back(100 * (CpuSeconds(wm) - wm0) / wall);
            if (!screenshot.empty() && std::strcmp(c.name, "scrolling") == 0 && run == 0) {
                const pid_t shot = Spawn({"import", "-window", "root", screenshot});
                if (shot <= 0 || Wait(shot) != 0) std::fprintf(stderr, "bench_show: no screenshot\n");
            }
            Stop(simPid);
        }
        if (simShare.empty()) continue;
        std::printf("%-10s %7.1f %% %7.1f %% %7.1f %%\n", c.name, Median(simShare), Median(xvfbShare),
                    Median(wmShare));
        std::fflush(stdout);
    }
    Stop(wm);
    Stop(xvfb);
    return status;
}
