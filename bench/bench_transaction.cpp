// bench_transaction: what one transaction costs through our serial layer and
// the UASD worker, beside a minimal transaction written with plain POSIX calls
// on the same simulated controller, and how long a silent controller keeps the
// worker waiting against its nominal half second.
//
// usage: bench_transaction [runs] [silent-runs]     (defaults 200 and 10)

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <wx/init.h>
#include <wx/log.h>

#include "serial/log_line.h"
#include "serial/uasd.h"
#include "support/sim_controller.h"

namespace {

using Clock = std::chrono::steady_clock;
using rq::serial::UASD;

constexpr int BAUD = 9600;
constexpr int POLLS = 500;
constexpr double NOMINAL_TIMEOUT_MS = 500.0;
// Brightness 8, no address: answered 0F by the simulator.
const std::uint8_t FRAME[] = {0xA1, 0x07, 0xF8, 0x43, 0x08, 0xEB, 0x51};

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Takes the worker's events as the window does, noting when each was queued.
class Receiver : public wxEvtHandler {
public:
    Receiver() { Bind(wxEVT_THREAD, &Receiver::OnThreadEvent, this); }

    void QueueEvent(wxEvent* event) override
    {
        const int id = event->GetId();
        const auto now = Clock::now();
        wxEvtHandler::QueueEvent(event);
        std::lock_guard<std::mutex> lock(mutex);
        ++queued;
        stamps.push_back({id, now});
        arrived.notify_all();
    }

    // Handles events until WorkerFinished; false after 10 s without it.
    bool WaitFinished()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            int available = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (!arrived.wait_until(lock, deadline, [&] { return queued > handled; }))
                    return false;
                available = queued - handled;
            }
            for (; available > 0; --available) {
                ProcessPendingEvents();  // one event per call
                std::lock_guard<std::mutex> lock(mutex);
                ++handled;
            }
            if (finished)
                return true;
        }
    }

    struct Stamp {
        int id;
        Clock::time_point at;
    };
    std::vector<Stamp> stamps;
    std::vector<std::string> texts;
    int replies = 0;

private:
    void OnThreadEvent(wxThreadEvent& event)
    {
        if (event.GetId() == rq::serial::WorkerFinished)
            finished = true;
        else if (event.GetId() == rq::serial::ReplyReceived)
            ++replies;
        else
            texts.push_back(event.GetString().ToStdString());
    }

    std::mutex mutex;
    std::condition_variable arrived;
    int queued = 0;
    int handled = 0;
    bool finished = false;
};

struct WorkerRun {
    bool ok = false;
    double totalMs = 0;
    double waitMs = 0;  // from the frame's DATA line to the end of the reply wait
    int replies = 0;
};

WorkerRun RunWorker(const std::string& port)
{
    WorkerRun run;
    std::uint8_t reply = 0;
    Receiver receiver;
    const auto start = Clock::now();
    auto* worker = new UASD(&receiver, FRAME, sizeof FRAME, &reply, 1, wxString(port), BAUD, POLLS);
    if (worker->Create() != wxTHREAD_NO_ERROR || worker->Run() != wxTHREAD_NO_ERROR) {
        delete worker;
        return run;
    }
    if (!receiver.WaitFinished())
        return run;
    run.totalMs = Ms(Clock::now() - start);
    run.replies = receiver.replies;
    // Events: Open, Write, DATA (sent), then Read.../timed out, Close, Finished.
    if (receiver.stamps.size() >= 4)
        run.waitMs = Ms(receiver.stamps[3].at - receiver.stamps[2].at);
    run.ok = true;
    return run;
}

// The same transaction in plain C calls: open, raw 8N1, write, wait for the
// status byte with poll, read it, close.
int RunReference(const char* path, double* ms)
{
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        close(fd);
        return -1;
    }
    if (write(fd, FRAME, sizeof FRAME) != (ssize_t)sizeof FRAME) {
        close(fd);
        return -1;
    }
    struct pollfd entry = {fd, POLLIN, 0};
    unsigned char status = 0;
    int got = 0;
    if (poll(&entry, 1, POLLS) == 1 && (entry.revents & POLLIN))
        got = (int)read(fd, &status, 1);
    close(fd);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    *ms = (double)(t1.tv_sec - t0.tv_sec) * 1e3 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e6;
    return got == 1 && status == 0x0F ? 0 : -1;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

struct Comparison {
    bool ok = false;
    int runs = 0;
    std::vector<double> worker;
    std::vector<double> reference;
};

// Alternates worker and reference transactions on one simulated controller,
// so that both see the same machine load.
Comparison Compare(const std::vector<std::string>& simArgs, int runs)
{
    Comparison result;
    result.runs = runs;
    rq::test::SimController sim(simArgs);
    const std::string port = sim.PortPath();
    for (int i = 0; i < 5; ++i) {  // warm caches and the simulator
        double ignored;
        RunWorker(port);
        RunReference(port.c_str(), &ignored);
    }
    for (int i = 0; i < runs; ++i) {
        const WorkerRun run = RunWorker(port);
        if (!run.ok || run.replies != 1) {
            std::fprintf(stderr, "worker run %d failed\n", i);
            return result;
        }
        result.worker.push_back(run.totalMs);
        double ms = 0;
        if (RunReference(port.c_str(), &ms) != 0) {
            std::fprintf(stderr, "reference run %d failed\n", i);
            return result;
        }
        result.reference.push_back(ms);
    }
    result.ok = true;
    return result;
}

void Print(const char* title, const Comparison& c)
{
    const double workerMedian = Percentile(c.worker, 0.5);
    const double workerP95 = Percentile(c.worker, 0.95);
    const double referenceMedian = Percentile(c.reference, 0.5);
    const double referenceP95 = Percentile(c.reference, 0.95);
    std::printf("  %s, %d runs each\n", title, c.runs);
    std::printf("    UASD + serial layer : median %8.3f ms   p95 %8.3f ms\n", workerMedian, workerP95);
    std::printf("    plain C reference   : median %8.3f ms   p95 %8.3f ms\n", referenceMedian, referenceP95);
    std::printf("    ratio               : median %8.2f      p95 %8.2f      (target <= 1.20)\n",
                workerMedian / referenceMedian, workerP95 / referenceP95);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int silentRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    wxInitializer initializer;
    if (!initializer.IsOk()) {
        std::fprintf(stderr, "wxWidgets could not be initialised\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);

    const Comparison instant = Compare({}, runs);
    // A real line at 9600 baud needs about 8 ms for the 7-byte frame and the
    // status byte; the simulator answering that late shows the share of the
    // worker's own cost in a transaction as the operator sees it.
    const Comparison lined = Compare({"--delay", "8"}, std::max(1, runs / 4));
    if (!instant.ok || !lined.ok)
        return 1;

    std::vector<double> silentTotal;
    std::vector<double> silentWait;
    {
        rq::test::SimController sim({"--silent"});
        const std::string port = sim.PortPath();
        for (int i = 0; i < silentRuns; ++i) {
            const WorkerRun run = RunWorker(port);
            if (!run.ok || run.replies != 0) {
                std::fprintf(stderr, "silent run %d failed\n", i);
                return 1;
            }
            silentTotal.push_back(run.totalMs);
            silentWait.push_back(run.waitMs);
        }
    }

    std::printf("Transaction (open, write %zu bytes, 1-byte reply, close)\n", sizeof FRAME);
    Print("controller answers at once", instant);
    Print("controller answers after 8 ms", lined);

    const double waitMedian = Percentile(silentWait, 0.5);
    const double waitMin = *std::min_element(silentWait.begin(), silentWait.end());
    const double waitMax = *std::max_element(silentWait.begin(), silentWait.end());
    std::printf("Silent controller, %d runs (nominal wait %.0f ms)\n", silentRuns, NOMINAL_TIMEOUT_MS);
    std::printf("  reply wait          : median %8.3f ms   min %8.3f   max %8.3f   deviation %+.2f %% (target within 5 %%)\n",
                waitMedian, waitMin, waitMax, (waitMedian - NOMINAL_TIMEOUT_MS) / NOMINAL_TIMEOUT_MS * 100.0);
    std::printf("  whole transaction   : median %8.3f ms   max %8.3f\n", Percentile(silentTotal, 0.5),
                *std::max_element(silentTotal.begin(), silentTotal.end()));
    return 0;
}
