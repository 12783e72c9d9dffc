#include "support/sim_controller.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Under Wine the simulator is a Linux program: tests/wine/sim-broker.sh
// starts one per request, on a pseudo-terminal linked where a COM name
// points, and records its frames in a file this side reads. The environment
// names the broker's directory and the COM name of each of its slots:
//   RQ_SIM_BROKER  the directory, as a Windows path
//   RQ_SIM_PORTS   the COM names of the slots, comma-separated, slot 1 first

namespace fs = std::filesystem;

namespace rq::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int START_LIMIT_MS = 10000;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void PauseBriefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Waits until `path` exists, at most `limitMs`.
bool WaitForFile(const std::string& path, int limitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    std::error_code ignored;
    for (;;) {
        if (fs::exists(path, ignored)) return true;
        if (Clock::now() >= deadline) return false;
        PauseBriefly();
    }
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Written under another name and then renamed: the broker never reads half.
void WriteWhole(const std::string& path, const std::string& content)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw std::runtime_error("SimController: cannot write " + path);
}

std::string SlotPort(unsigned long slot)
{
    std::stringstream names(Env("RQ_SIM_PORTS"));
    std::string name;
    for (unsigned long k = 1; std::getline(names, name, ','); ++k) {
        if (k == slot) return name;
    }
    return {};
}

}  // namespace

SimController::SimController(std::vector<std::string> extraArgs)
{
    directory = Env("RQ_SIM_BROKER");
    if (directory.empty()) throw std::runtime_error("SimController: RQ_SIM_BROKER is not set (run tests/wine/run.sh)");
    static std::atomic<unsigned> serial{0};
    const std::string id = "sim-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    requestPath = (fs::path(directory) / id).string();
    recordPath = requestPath + ".frames";

    std::string args;
    for (const std::string& arg : extraArgs) args += arg + "\n";
    WriteWhole(requestPath + ".args", args);

    const auto deadline = Clock::now() + std::chrono::milliseconds(START_LIMIT_MS);
    std::error_code ignored;
    for (;;) {
        if (fs::exists(requestPath + ".port", ignored)) break;
        if (fs::exists(requestPath + ".failed", ignored) || Clock::now() >= deadline) {
            const std::string why = ReadWhole(requestPath + ".failed");
            throw std::runtime_error("SimController: the simulator did not start: " + why);
        }
        PauseBriefly();
    }
    portPath = SlotPort(std::strtoul(ReadWhole(requestPath + ".port").c_str(), nullptr, 10));
    if (portPath.empty()) {
        Stop();
        throw std::runtime_error("SimController: RQ_SIM_PORTS names no port for the broker's slot");
    }
}

SimController::~SimController()
{
    Stop();
    std::error_code ignored;
    for (const char* extension : {".port", ".frames", ".out", ".err", ".ended", ".failed"})
        fs::remove(requestPath + extension, ignored);
}

bool SimController::WaitForExit(int timeoutMs) const
{
    return WaitForFile(requestPath + ".ended", timeoutMs);
}

void SimController::Stop()
{
    if (!Running()) return;
    try {
        WriteWhole(requestPath + ".stop", "");
    } catch (const std::runtime_error&) {
        return;
    }
    WaitForFile(requestPath + ".ended", START_LIMIT_MS);
}

bool SimController::Running() const
{
    std::error_code ignored;
    return fs::exists(requestPath + ".port", ignored) && !fs::exists(requestPath + ".ended", ignored);
}

}  // namespace rq::test
