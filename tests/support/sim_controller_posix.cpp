#include "support/sim_controller.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/first_line_posix.h"

extern char** environ;

namespace fs = std::filesystem;

namespace rq::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int START_LIMIT_MS = 5000;

void PauseBriefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

SimController::SimController(std::vector<std::string> extraArgs)
{
    std::string pattern = (fs::temp_directory_path() / "rq-sim-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("SimController: mkdtemp failed");
    directory = pattern;
    recordPath = (fs::path(directory) / "frames.txt").string();

    std::vector<std::string> args = {RQ_SIM_EXECUTABLE, "--record", recordPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("SimController: pipe failed");

    // posix_spawn rather than fork: the test process may run other threads.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        fs::remove_all(directory);
        throw std::runtime_error(std::string("SimController: cannot start ") + RQ_SIM_EXECUTABLE);
    }
    pid = child;

    portPath = ReadFirstLine(out[0], START_LIMIT_MS);
    close(out[0]);
    if (portPath.empty()) {
        Stop();
        fs::remove_all(directory);
        throw std::runtime_error("SimController: the simulator printed no port");
    }
}

SimController::~SimController()
{
    Stop();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}

bool SimController::WaitForExit(int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!Running()) return true;
        if (Clock::now() >= deadline) return false;
        PauseBriefly();
    }
}

bool SimController::Reap(bool block) const
{
    if (pid <= 0) return true;
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == pid || (done < 0 && errno == ECHILD)) {
        pid = -1;
        return true;
    }
    return false;
}

void SimController::Stop()
{
    if (pid <= 0 || Reap(false)) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(START_LIMIT_MS);
    while (!Reap(false)) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            Reap(true);
            return;
        }
        PauseBriefly();
    }
}

bool SimController::Running() const
{
    return !Reap(false);
}

}  // namespace rq::test
