// What the simulated controller does the same on every platform: the port's
// name and the frames it recorded.
#include "support/sim_controller.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace rq::test {

const std::string& SimController::PortPath() const
{
    return portPath;
}

std::vector<std::string> SimController::RecordedFrames() const
{
    std::vector<std::string> frames;
    std::ifstream in(recordPath);
    std::string line;
    while (std::getline(in, line)) {
        // Written by a Linux simulator, read on either platform.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) frames.push_back(line);
    }
    return frames;
}

bool SimController::WaitForFrames(std::size_t n, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (RecordedFrames().size() >= n) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace rq::test
