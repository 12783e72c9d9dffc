// Unit tests run with the wx base library initialised (no display needed):
// the worker posts toolkit events and the settings store uses wxFileConfig.
#include <gtest/gtest.h>

#include "serial/uasd.h"
#include <wx/init.h>
#include <wx/log.h>

#ifdef __linux__
#include <chrono>
#include <filesystem>
#include <thread>
#endif

namespace {

// Each test starts on lines without a time-out behind them: a simulated line
// may get the name of one that went before.
class ForgetTimeOutsBetweenTests : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { rq::serial::UASD::ForgetTimeOuts(); }
};

#ifdef __linux__
// Workers are detached threads: the last one reports its end before its
// thread has finished exiting, and the leak check at exit would take the
// toolkit's per-thread data of a thread caught halfway for a leak. Wait,
// bounded, until this is the only thread left.
void WaitForOtherThreadsToExit()
{
    for (int round = 0; round < 200; ++round) {
        std::error_code error;
        std::size_t threads = 0;
        for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
             it.increment(error)) {
            ++threads;
        }
        if (error || threads <= 1) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ForgetTimeOutsBetweenTests);
    wxInitializer initializer;
    if (!initializer.IsOk()) {
        fprintf(stderr, "wxWidgets could not be initialised\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    const int result = RUN_ALL_TESTS();
#ifdef __linux__
    WaitForOtherThreadsToExit();
#endif
    return result;
}
