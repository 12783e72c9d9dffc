#pragma once
// The simulated controller (rq-m4x-sim) for one test: a pseudo-terminal that
// answers command frames with status bytes and records every frame it
// receives. Extra arguments select its misbehaviour ("--silent", "--delay",
// "250", "--status", "F1", "--hangup-before", ...).
//
// On Linux it is a child process (sim_controller_posix.cpp). Under Wine the
// simulator runs on the Linux side, started on request by tests/wine's
// broker, and is reached through a COM name mapped to its terminal
// (sim_controller_win32.cpp).

#include <cstddef>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace rq::test {

class SimController {
public:
    // Starts the simulator and waits (bounded) for the path of its terminal;
    // throws std::runtime_error when it does not come up.
    explicit SimController(std::vector<std::string> extraArgs = {});
    ~SimController();
    SimController(const SimController&) = delete;
    SimController& operator=(const SimController&) = delete;

    // The name to open as the serial port, e.g. "/dev/pts/3" or "COM11".
    const std::string& PortPath() const;

    // Every frame received so far, one upper-case hex line per frame
    // ("A1 07 F8 43 08 EB 51").
    std::vector<std::string> RecordedFrames() const;

    // Waits until at least n frames are recorded, at most timeoutMs.
    bool WaitForFrames(std::size_t n, int timeoutMs = 5000) const;

    // Waits until the simulator has ended by itself (after --hangup-before,
    // --hangup-after or --count), at most timeoutMs.
    bool WaitForExit(int timeoutMs = 5000) const;

    // Ends the simulator (SIGTERM, then SIGKILL if it lingers) and reaps it.
    void Stop();
    bool Running() const;

private:
    std::string directory;
    std::string recordPath;
    std::string portPath;
#ifdef _WIN32
    std::string requestPath;  // the broker's files for this simulator, without extension
#else
    bool Reap(bool block) const;
    mutable pid_t pid = -1;
#endif
};

}  // namespace rq::test
