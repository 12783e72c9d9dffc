#pragma once
// UASD: one request/response transaction with the controller on a detached
// thread of its own. It opens the port, writes the frame, waits a bounded time
// for the reply, closes the port, and reports every step to its owner as
// queued thread events (see WorkerEventId); it never touches a window.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <wx/datetime.h>
#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

#include "line/serial_port.h"
#include "serial/log_line.h"

namespace rq::serial {

class UASD : public wxThread {
public:
    // Copies the frame at once, so the caller's buffer may go away. The reply
    // buffer stays the caller's: the worker fills at most `replyLength` bytes
    // of it before posting ReplyReceived. Without a buffer no reply is read.
    // `port` is the line to use; when none is given, the kind the name means.
    UASD(wxEvtHandler* owner, const std::uint8_t* frame, std::size_t frameLength,
         std::uint8_t* replyBuffer, std::uint32_t replyLength,
         const wxString& deviceName, int baud, int maxPolls,
         std::unique_ptr<rq::platform::SerialLine> port = nullptr);
    // The same on a line the caller keeps from one transaction to the next,
    // and which outlives the worker: opened only when it is not open yet, and
    // closed afterwards only with `closeAfter`, or when it went away.
    UASD(wxEvtHandler* owner, const std::uint8_t* frame, std::size_t frameLength,
         std::uint8_t* replyBuffer, std::uint32_t replyLength,
         const wxString& deviceName, int baud, int maxPolls,
         rq::platform::SerialLine& heldLine, bool closeAfter);
    ~UASD() override;

    // Waits, at most `timeoutMs`, until every worker's thread has ended and
    // the toolkit no longer lists it; true when none is left. A program that
    // ends right after WorkerFinished calls this first: the toolkit's own
    // clean-up at exit would otherwise race a worker that is still deleting
    // itself.
    static bool WaitForWorkersToEnd(int timeoutMs);

    // How long a line must have been quiet after a transaction on it timed
    // out before the next frame goes out on it: a reply that comes late is
    // dropped then instead of passing for the next frame's. Set before Run.
    void SetSettleMs(int ms) { settleMs = ms; }
    static constexpr int DEFAULT_SETTLE_MS = 500;
    // Forgets every line's time-out: for tests, where a new simulated line
    // may get the name of one that has gone.
    static void ForgetTimeOuts();

protected:
    ExitCode Entry() override;

    // Posts one LogLine event: prefix (the time given, the local time now, or
    // blanks) + message, in `colour`.
    void PostLog(const wxString& message, bool timeStamped, Rgb colour,
                 const wxDateTime* time = nullptr);

private:
    // Keeps a copy of the frame; counts the worker among the living.
    void CopyFrame(const std::uint8_t* frame, std::size_t frameLength);
    void PostEvent(int id, int value, const wxString& text);
    // Opens the line and says so; false (reported) when it cannot be opened.
    bool OpenLine();
    // Readies an open line for the frame: waits out a late reply after a
    // time-out on it, then drops what is waiting. False when the line is gone.
    bool ReadyLine();
    // Closes a line found gone before the frame left and opens it again;
    // false (reported, finished) when the open fails, else `ready` says
    // whether the line is usable now.
    bool ReopenLine(bool& ready);
    // Reads until the line has been quiet for settleMs since `quietFrom`,
    // dropping what comes; false when the line is gone.
    bool WaitForQuiet(std::chrono::steady_clock::time_point quietFrom);
    // Drops what arrives before `until`: it cannot answer the frame. Bytes
    // that arrive later are kept as the reply's first.
    void DropInputBefore(std::chrono::steady_clock::time_point until);
    // Keeps bytes that are not this frame's answer, for ReportDropped.
    void KeepDropped(const std::uint8_t* bytes, std::size_t count);
    // One log line (and a dump) for the bytes dropped so far, if any.
    void ReportDropped();
    // "Open Failed" and the reason (when there is one), in red.
    void ReportFailedOpen(const wxString& reason);
    // Writes the frame and waits until it has left the line: the drain, within
    // the write time-out, and never less than the frame's time on the wire at
    // the rate, counted from the write's start; returns the bytes written.
    std::size_t WriteFrame();
    // Waits for the reply after the write; returns the bytes received.
    std::uint32_t ReadReply(wxDateTime& firstByteTime);
    // The line went away: its reason as a red line, the port closed, the end.
    void ReportLostLine();

    wxEvtHandler* owner;
    wxString deviceName;
    std::int32_t baud;
    std::uint8_t* replyBuffer;
    std::uint32_t replyLength;
    std::int32_t maxPolls;
    std::unique_ptr<std::uint8_t[]> request;
    std::uint32_t requestLength;
    std::unique_ptr<rq::platform::SerialLine> serialPort;
    rq::platform::SerialLine* line;  // serialPort, or the caller's
    bool closeAfter = true;
    rq::platform::SerialLine* activePort = nullptr;
    bool lineLost = false;  // the line reported itself gone mid-transaction
    int settleMs = DEFAULT_SETTLE_MS;
    bool closedBeforeArrival = false;  // the far end closed before the frame could reach the sign
    std::vector<std::uint8_t> dropped;       // received, but not the answer to this frame
    wxDateTime droppedFrom;                  // when the first of them came
    std::vector<std::uint8_t> replyAhead;    // the reply's first bytes, read while dropping
    wxDateTime replyAheadTime;
    bool entered = false;  // Entry has begun: the thread's end is counted there
};

}  // namespace rq::serial
