#pragma once
// The transactions of one rq-m4x-send run. Each goes through the window's
// worker (UASD) and its events are handled the way the window handles them,
// so the lines reported are the window's log lines; the session hands them to
// its reporter instead of appending them to a log pane.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include <wx/event.h>
#include <wx/string.h>

#include "cli/reporter.h"
#include "cli/send_run.h"
#include "line/serial_port.h"
#include "serial/log_line.h"

namespace rq::cli {

class SendSession : public wxEvtHandler, public Transactor {
public:
    // `keepOpen`: a line stays open from one transaction to the next on the
    // same port and rate; otherwise each opens and closes its own, as the
    // window does.
    explicit SendSession(Reporter& reporter, bool keepOpen = false);
    ~SendSession() override;

    // One transaction: the banner, the worker's lines, the result line.
    TransactionRecord Transact(const PlannedTransaction& transaction, bool lastOnLine) override;
    // Closes a line still open, and says so.
    void EndRun() override;

    // Called by the worker's thread for every event it posts: keeps it for
    // the session's own thread and wakes that thread. Several sessions may
    // run at once, each on its thread, so none goes through the toolkit's
    // one list of pending events.
    void QueueEvent(wxEvent* event) override;

private:
    void OnThreadEvent(wxThreadEvent& event);
    void DecodeStatus(const wxString& prefix);
    void Report(const wxString& text, rq::serial::Rgb colour, bool bold);
    // Handles posted events until the worker has finished.
    void WaitForWorker();

    // The kept line for this transaction, opened afresh after a loss; null
    // when the line cannot be used again.
    rq::platform::SerialLine* KeptLine(const Request& request);
    void CloseKeptLine();

    Reporter& reporter;
    const bool keepOpen;

    std::mutex queueMutex;
    std::condition_variable queueSignal;
    std::deque<std::unique_ptr<wxEvent>> queued;

    // The line kept open, with the port and rate it was made for.
    std::unique_ptr<rq::platform::SerialLine> keptLine;
    std::string keptPort;
    int keptBaud = 0;
    bool keptLineLost = false;  // went away; to be opened again once
    bool keptLineReopened = false;

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
    // The system's reason after a failed open or a lost line.
    wxString reason;
    // The status line, or else the last red one.
    wxString resultLine;
    rq::serial::Rgb resultColour{0, 0, 0};
};

// The local time as a record of the run shows it (ISO 8601, milliseconds).
std::string LocalTimeIso8601(const wxDateTime& time);

}  // namespace rq::cli
