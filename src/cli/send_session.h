#pragma once
// The transactions of one rq-m4x-send run. Each goes through the window's
// worker (UASD) and its events are handled the way the window handles them,
// so the lines reported are the window's log lines; the session hands them to
// its reporter instead of appending them to a log pane.

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <wx/event.h>
#include <wx/string.h>

#include "cli/reporter.h"
#include "cli/send_run.h"
#include "serial/log_line.h"

namespace rq::cli {

class SendSession : public wxEvtHandler, public Transactor {
public:
    explicit SendSession(Reporter& reporter);
    ~SendSession() override;

    // One transaction: the banner, the worker's lines, the result line.
    TransactionRecord Transact(const PlannedTransaction& transaction) override;

    // Called by the worker's thread for every event it posts: queues it as
    // usual and wakes the waiting main thread.
    void QueueEvent(wxEvent* event) override;

private:
    void OnThreadEvent(wxThreadEvent& event);
    void DecodeStatus(const wxString& prefix);
    void Report(const wxString& text, rq::serial::Rgb colour, bool bold);
    // Handles posted events until the worker has finished.
    void WaitForWorker();

    Reporter& reporter;

    std::mutex queueMutex;
    std::condition_variable queueSignal;
    bool eventQueued = false;

    // What the transaction under way goes to.
    wxString portName;
    int baud = 0;

    // The reply expectation, armed for one status byte per transaction.
    std::uint8_t replyBuffer[1] = {0};
    std::uint32_t replyLength = 0;

    bool finished = false;
    bool openFailed = false;
    bool lineLost = false;  // the worker ended on a line that went away
    bool replied = false;
    // The status line, or else the last red one.
    wxString resultLine;
    rq::serial::Rgb resultColour{0, 0, 0};
};

// The local time as a record of the run shows it (ISO 8601, milliseconds).
std::string LocalTimeIso8601(const wxDateTime& time);

}  // namespace rq::cli
