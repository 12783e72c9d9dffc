#pragma once
// The transactions of one rq-m4x-send run. Each goes through the window's
// worker (UASD) and its events are handled the way the window handles them,
// so the printed lines are the window's log lines; the session only prints
// them instead of appending them to a log pane.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include <wx/event.h>
#include <wx/string.h>

#include "cli/exit_status.h"
#include "cli/send_request.h"
#include "serial/log_line.h"

namespace rq::cli {

class SendSession : public wxEvtHandler {
public:
    // Lines go to `out`, in ANSI colours when `colour` is set.
    SendSession(const Request& request, bool colour, std::FILE* out = stdout);
    ~SendSession() override;

    // Sends the frame request.repeat times, one transaction each, prints the
    // summary after repeated ones, and returns the exit status.
    int Run(const std::uint8_t* frame, std::size_t length);

    // One transaction: the banner, the worker's lines, the result line.
    struct Transaction {
        Outcome outcome = Outcome::TimedOut;
        double milliseconds = 0.0;
    };
    Transaction RunOnce(const std::uint8_t* frame, std::size_t length);

    // Called by the worker's thread for every event it posts: queues it as
    // usual and wakes the waiting main thread.
    void QueueEvent(wxEvent* event) override;

private:
    void OnThreadEvent(wxThreadEvent& event);
    void DecodeStatus(int received, const wxString& prefix);
    void Print(const wxString& text, rq::serial::Rgb colour, bool bold);
    // Handles posted events until the worker has finished.
    void WaitForWorker();

    const Request& request;
    const bool colour;
    std::FILE* const out;
    const wxString portName;

    std::mutex queueMutex;
    std::condition_variable queueSignal;
    bool eventQueued = false;

    // The reply expectation, armed for one status byte per transaction.
    std::uint8_t replyBuffer[1] = {0};
    std::uint32_t replyLength = 0;

    bool finished = false;
    bool openFailed = false;
    bool replied = false;
    // The line a quiet run prints: the status line, or else the last red one.
    wxString resultLine;
    rq::serial::Rgb resultColour{0, 0, 0};
};

}  // namespace rq::cli
