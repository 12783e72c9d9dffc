#include "app/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include <wx/app.h>
#include <wx/toplevel.h>

namespace rq::app {

namespace {

// The handler only writes a byte (all a handler may safely do); a thread
// waiting for it hands the close to the GUI thread. (The toolkit's own
// signal handling stopped answering once another thread had queued work.)
int wakeUp[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = write(wakeUp[1], &stop, 1);
    errno = saved;
}

void CloseTopWindow()
{
    // A running transaction vetoes the close: a second Ctrl-C then ends the
    // process as it would have without this handler.
    if (wxWindow* window = wxTheApp ? wxTheApp->GetTopWindow() : nullptr) window->Close();
}

}  // namespace

void CloseWindowOnStopSignals()
{
    if (wakeUp[0] >= 0 || pipe2(wakeUp, O_CLOEXEC) != 0) return;
    fcntl(wakeUp[1], F_SETFL, O_NONBLOCK);
    std::thread([] {
        char stop = 0;
        while (read(wakeUp[0], &stop, 1) == 1 || errno == EINTR) {
            if (wxTheApp) wxTheApp->CallAfter(&CloseTopWindow);
        }
    }).detach();
    // Also where the starting shell ignored SIGINT, as it does for a program
    // started in the background.
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int stop : {SIGINT, SIGTERM}) sigaction(stop, &action, nullptr);
}

}  // namespace rq::app
