#include "serial/uasd.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include <wx/intl.h>
#include <wx/strconv.h>

#include "line/line_timing.h"
#include "line/serial_line.h"
#include "platform/port_names.h"

namespace rq::serial {

namespace {

using Clock = std::chrono::steady_clock;

// A read that returns empty-handed this much sooner than its 1 ms time-out
// did not wait for data: either the device is gone (a hung-up terminal or an
// unplugged adapter answers "no data" at once, and the port records why) or
// the wait was cut short (a signal, a coarse timer).
constexpr auto EARLY_EMPTY_READ = std::chrono::microseconds(500);
constexpr auto POLL_PERIOD = std::chrono::milliseconds(1);

// The port name as the serial layer takes it: narrow text in the current
// locale's encoding. A name that cannot be converted becomes empty, so the
// open fails and is reported instead of crashing.
std::string NarrowPortName(const wxString& name)
{
    const wxScopedCharBuffer narrow = name.mb_str(wxConvLibc);
    const char* text = narrow.data();
    if (text == nullptr || (narrow.length() == 0 && !name.empty()))
        return std::string();
    return std::string(text, narrow.length());
}

// The serial layer's reason for a failure: UTF-8 from Windows, the C
// library's own encoding from strerror elsewhere.
wxString SystemText(const std::string& text)
{
    const wxString utf8 = wxString::FromUTF8(text.c_str(), text.size());
    if (!utf8.empty() || text.empty())
        return utf8;
    return wxString(text.c_str(), wxConvLibc);
}

// Never destroyed: a detached worker's end notice may still run while the
// process is exiting and destroying its statics.
std::mutex& workersMutex = *new std::mutex;
std::condition_variable& workersChanged = *new std::condition_variable;
int workersAlive = 0;

void CountWorkerGone()
{
    {
        std::lock_guard<std::mutex> lock(workersMutex);
        --workersAlive;
    }
    workersChanged.notify_all();
}

// Kept in the worker thread's own storage: its destructor runs as the thread
// ends, after the toolkit has deleted the worker and dropped it from its list
// of threads.
struct ThreadEndNotice {
    ~ThreadEndNotice() { CountWorkerGone(); }
};

// The lines whose last transaction timed out, by name, and when it did. Kept
// beyond the worker and the line: the window opens a new line for every
// transaction, and a late reply comes whoever holds the line.
std::mutex& timeOutsMutex = *new std::mutex;
std::map<std::string, Clock::time_point>& timedOutLines = *new std::map<std::string, Clock::time_point>;

void NoteTimeOut(const std::string& line)
{
    std::lock_guard<std::mutex> lock(timeOutsMutex);
    timedOutLines[line] = Clock::now();
}

// When the line's last transaction timed out, once; nothing when it did not.
bool TakeTimeOut(const std::string& line, Clock::time_point& when)
{
    std::lock_guard<std::mutex> lock(timeOutsMutex);
    const auto found = timedOutLines.find(line);
    if (found == timedOutLines.end()) return false;
    when = found->second;
    timedOutLines.erase(found);
    return true;
}

// A line that never falls quiet (noise, a sign that keeps talking) holds the
// next frame back at most this many settle times.
constexpr int kLongestSettles = 4;

}  // namespace

void UASD::ForgetTimeOuts()
{
    std::lock_guard<std::mutex> lock(timeOutsMutex);
    timedOutLines.clear();
}

bool UASD::WaitForWorkersToEnd(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(workersMutex);
    return workersChanged.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                   [] { return workersAlive == 0; });
}

UASD::UASD(wxEvtHandler* owner, const std::uint8_t* frame, std::size_t frameLength,
           std::uint8_t* replyBuffer, std::uint32_t replyLength,
           const wxString& deviceName, int baud, int maxPolls,
           std::unique_ptr<rq::platform::SerialLine> port)
    : wxThread(wxTHREAD_DETACHED),
      owner(owner),
      deviceName(deviceName.Clone()),
      baud(baud),
      replyBuffer(replyBuffer),
      replyLength(replyBuffer != nullptr ? replyLength : 0),
      maxPolls(maxPolls),
      requestLength(0),
      serialPort(port ? std::move(port) : rq::platform::MakeSerialLine(NarrowPortName(deviceName))),
      line(serialPort.get())
{
    CopyFrame(frame, frameLength);
}

void UASD::CopyFrame(const std::uint8_t* frame, std::size_t frameLength)
{
    if (frame != nullptr && frameLength > 0) {
        requestLength = static_cast<std::uint32_t>(std::min<std::size_t>(frameLength, UINT32_MAX));
        request.reset(new std::uint8_t[requestLength]);
        std::memcpy(request.get(), frame, requestLength);
    }
    std::lock_guard<std::mutex> lock(workersMutex);
    ++workersAlive;
}

UASD::UASD(wxEvtHandler* owner, const std::uint8_t* frame, std::size_t frameLength,
           std::uint8_t* replyBuffer, std::uint32_t replyLength,
           const wxString& deviceName, int baud, int maxPolls,
           rq::platform::SerialLine& heldLine, bool closeAfter)
    : wxThread(wxTHREAD_DETACHED),
      owner(owner),
      deviceName(deviceName.Clone()),
      baud(baud),
      replyBuffer(replyBuffer),
      replyLength(replyBuffer != nullptr ? replyLength : 0),
      maxPolls(maxPolls),
      requestLength(0),
      line(&heldLine),
      closeAfter(closeAfter)
{
    CopyFrame(frame, frameLength);
}

UASD::~UASD()
{
    // A worker whose thread never ran (it could not be started) ends here.
    if (!entered)
        CountWorkerGone();
}

void UASD::PostEvent(int id, int value, const wxString& text)
{
    if (owner == nullptr)
        return;
    wxThreadEvent event(wxEVT_THREAD, id);
    event.SetInt(value);
    event.SetString(text);
    // Clone() deep-copies the text, so no string storage is shared with the
    // window's thread.
    wxQueueEvent(owner, event.Clone());
}

void UASD::PostLog(const wxString& message, bool timeStamped, Rgb colour, const wxDateTime* time)
{
    wxString prefix;
    if (timeStamped)
        prefix = TimePrefix(time != nullptr ? *time : wxDateTime::UNow());
    else
        prefix = BlankPrefix();
    PostEvent(LogLine, EncodeColour(colour), prefix + message);
}

void UASD::ReportFailedOpen(const wxString& reason)
{
    PostLog(wxString::Format(_("Open Failed : %s ,%d "), deviceName, static_cast<int>(baud)), false, RED);
    if (!reason.empty())
        PostLog(reason, false, RED);
}

bool UASD::OpenLine()
{
    if (!line->Open(NarrowPortName(deviceName), baud)) {
        // Missing, refused or held by another program: the system says which,
        // but its words for a held port ("Access is denied." on Windows) send
        // a technician after permissions; say what the settings dialog says.
        ReportFailedOpen(rq::platform::PortHeldByAnotherProgram(line->LastErrorCode())
                             ? wxString::Format(_("%s is in use by another program"), deviceName)
                             : SystemText(line->LastErrorMessage()));
        PostEvent(WorkerFinished, 0, wxString());
        return false;
    }
    PostLog(wxString::Format(_("Open : %s ,%d "), deviceName, static_cast<int>(baud)), true, OLIVE);
    return true;
}

bool UASD::ReadyLine()
{
    Clock::time_point timedOut;
    if (TakeTimeOut(NarrowPortName(deviceName), timedOut) && !WaitForQuiet(timedOut))
        return false;
    // Noise, or a reply that came while nobody held the line.
    return activePort->DiscardInput() || activePort->LastErrorCode() == 0;
}

bool UASD::WaitForQuiet(Clock::time_point quietFrom)
{
    const auto settle = std::chrono::milliseconds(std::max(settleMs, 0));
    auto quietUntil = quietFrom + settle;
    const auto limit = Clock::now() + kLongestSettles * settle;
    std::uint8_t buffer[256];
    while (!TestDestroy()) {
        const auto now = Clock::now();
        const auto until = std::min(quietUntil, limit);
        if (now >= until)
            break;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        const std::size_t n = activePort->Read(buffer, sizeof buffer, static_cast<int>(std::min<long long>(wait, 50)));
        if (n > 0) {
            KeepDropped(buffer, n);
            quietUntil = Clock::now() + settle;
        } else if (Clock::now() - now < EARLY_EMPTY_READ && activePort->LastErrorCode() != 0) {
            return false;
        }
    }
    return true;
}

void UASD::DropInputBefore(Clock::time_point until)
{
    std::uint8_t buffer[256];
    // No more than the reply: what follows it is never read.
    const std::size_t size = replyLength > 0 ? std::min<std::size_t>(sizeof buffer, replyLength) : sizeof buffer;
    while (!TestDestroy()) {
        const auto before = Clock::now();
        if (before >= until)
            return;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - before).count();
        const std::size_t n = activePort->Read(buffer, size, static_cast<int>(std::min<long long>(wait, 50)));
        if (n == 0) {
            if (Clock::now() - before < EARLY_EMPTY_READ) {
                if (activePort->LastErrorCode() != 0) {
                    closedBeforeArrival = activePort->ClosedByFarEnd();
                    return;  // the reply wait finds the line gone
                }
                std::this_thread::sleep_until(std::min(before + POLL_PERIOD, until));
            }
            continue;
        }
        // A read returns as soon as bytes are there: they came before the
        // frame could have reached the sign, or are its answer.
        if (Clock::now() < until) {
            KeepDropped(buffer, n);
        } else {
            replyAhead.assign(buffer, buffer + n);
            replyAheadTime = wxDateTime::UNow();
            return;
        }
    }
}

void UASD::KeepDropped(const std::uint8_t* bytes, std::size_t count)
{
    if (dropped.empty())
        droppedFrom = wxDateTime::UNow();
    dropped.insert(dropped.end(), bytes, bytes + count);
}

void UASD::ReportDropped()
{
    if (dropped.empty())
        return;
    PostLog(wxString::Format(_("Dropped : %d Bytes, not the answer to this frame"), static_cast<int>(dropped.size())),
            true, ORANGE, &droppedFrom);
    PostLog(_("DATA : ") + HexDump(dropped.data(), dropped.size()), false, ORANGE);
    dropped.clear();
}

bool UASD::ReopenLine(bool& ready)
{
    ReportDropped();
    PostLog(wxString::Format(_("The line was lost: opening %s again"), deviceName), false, OLIVE);
    activePort->Close();
    activePort = nullptr;
    if (!OpenLine())
        return false;
    activePort = line;
    ready = ReadyLine();
    return true;
}

wxThread::ExitCode UASD::Entry()
{
    entered = true;
    thread_local ThreadEndNotice endNotice;
    static_cast<void>(endNotice);

    // A line kept open since the transaction before is used as it is.
    const bool heldOpen = line->IsOpen();
    if (!heldOpen && !OpenLine())
        return nullptr;
    activePort = line;

    bool reopened = false;
    bool ready = ReadyLine();
    if (!ready && heldOpen) {
        // Closed since the transaction before (a device server that closes
        // after each reply, an adapter that hung up): nothing of this frame
        // has left, so the line is opened again, once, and the frame goes.
        reopened = true;
        if (!ReopenLine(ready))
            return nullptr;
    }
    ReportDropped();
    if (!ready) {
        ReportLostLine();
        return nullptr;
    }

    // The line stamps the moment before the write; the frame may take a
    // while longer to leave.
    wxDateTime writeTime = wxDateTime::UNow();
    std::size_t written = WriteFrame();
    // The same, found only by the write (not a byte of the frame left), or
    // by the far end's close before the frame could have reached the sign:
    // a device server that was closing the connection when the frame went.
    const bool refused = lineLost && written == 0;
    if ((refused || closedBeforeArrival) && heldOpen && !reopened) {
        if (!refused) {
            PostLog(wxString::Format(_("Write : %d Bytes"), static_cast<int>(written)), true, GREEN, &writeTime);
            PostLog(_("DATA : ") + HexDump(request.get(), requestLength), false, MAGENTA);
        }
        lineLost = closedBeforeArrival = false;
        if (!ReopenLine(ready))
            return nullptr;
        if (!ready) {
            ReportLostLine();
            return nullptr;
        }
        writeTime = wxDateTime::UNow();
        written = WriteFrame();
    }
    // Report what reached the port: a short or failed write is not a success.
    PostLog(wxString::Format(_("Write : %d Bytes"), static_cast<int>(written)), true,
            written < requestLength ? RED : GREEN, &writeTime);
    if (requestLength > 0)
        PostLog(_("DATA : ") + HexDump(request.get(), requestLength), false, MAGENTA);
    ReportDropped();
    if (lineLost) {
        ReportLostLine();
        return nullptr;
    }

    if (replyLength > 0) {
        wxDateTime firstByteTime;
        const std::uint32_t received = ReadReply(firstByteTime);
        if (received > 0) {
            PostLog(wxString::Format(_("Read : %d Bytes"), static_cast<int>(received)), true, BLUE,
                    &firstByteTime);
            PostLog(_("DATA : ") + HexDump(replyBuffer, std::min(received, replyLength)), false,
                    ORANGE);
            PostEvent(ReplyReceived, static_cast<int>(received), BlankPrefix());
        }
        if (lineLost) {
            ReportLostLine();
            return nullptr;
        }
        if (received < replyLength) {
            // Whatever still comes is this frame's, not the next one's.
            NoteTimeOut(NarrowPortName(deviceName));
            PostLog(_("The request has timed out"), true, RED);
        }
    }

    if (closeAfter) {
        activePort->Close();
        PostLog(wxString::Format(_("Close: %s"), deviceName), false, MAROON);
    }
    activePort = nullptr;

    PostEvent(WorkerFinished, 0, wxString());
    return nullptr;
}

void UASD::ReportLostLine()
{
    if (activePort->TurnedAway()) {
        // The server's refusal, come late: the open failed, in its words.
        ReportFailedOpen(SystemText(activePort->LastErrorMessage()));
        activePort->Close();
        activePort = nullptr;
        PostEvent(WorkerFinished, 0, wxString());
        return;
    }
    // The system's words, as after a failed open: a script and a technician
    // must tell an adapter pulled out from a controller that stays silent.
    wxString reason = SystemText(activePort->LastErrorMessage());
    if (reason.empty())
        reason = wxString::Format("Error %d", activePort->LastErrorCode());
    PostLog(reason, false, RED);
    activePort->Close();
    PostLog(wxString::Format(_("Close: %s"), deviceName), false, MAROON);
    activePort = nullptr;
    PostEvent(WorkerFinished, LineLost, wxString());
}

std::size_t UASD::WriteFrame()
{
    if (requestLength == 0)
        return 0;
    // Never shorter than the frame's time on the wire at this rate: one
    // millisecond a byte would cut a long frame at 9600 baud.
    const int timeoutMs = rq::platform::WriteTimeoutMs(requestLength, baud);
    const auto writeStart = Clock::now();
    const auto deadline = writeStart + std::chrono::milliseconds(timeoutMs);
    const std::size_t written = activePort->Write(request.get(), requestLength, timeoutMs);
    if (written < requestLength && activePort->LastErrorCode() != 0) {
        lineLost = true;
        return written;
    }
    if (written == 0)
        return 0;
    // A write returns once the driver holds the bytes (a USB adapter holds
    // hundreds); the reply wait must start from the last byte on the wire.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!activePort->Drain(static_cast<int>(std::max<long long>(left, 0))) && activePort->LastErrorCode() != 0) {
        lineLost = true;
        return written;
    }
    // Nothing that arrives before the frame can have reached the sign is its
    // answer: a late reply to the frame before, or a neighbour's. Where the
    // rate on the wire is only believed, judge as if the line were as fast
    // as any we offer, so that a faster line's answer is not lost.
    const long judgedBaud = activePort->SetsTheLineRate()
                                ? baud
                                : std::max<long>(baud, rq::platform::FASTEST_OFFERED_BAUD);
    DropInputBefore(writeStart + std::chrono::microseconds(rq::platform::EarliestReplyUs(written, judgedBaud)));
    // Where the drain cannot see the bytes leave (a device server, a driver
    // that answers "empty" while its adapter still sends), the frame's time
    // on the wire at this rate is the least it takes: a reply cannot come
    // sooner, and the wait must not be over before it could.
    const auto onTheWire = writeStart + std::chrono::microseconds(rq::platform::WireTimeUs(written, baud));
    while (Clock::now() < onTheWire && !TestDestroy())
        std::this_thread::sleep_until(std::min(onTheWire, Clock::now() + std::chrono::milliseconds(50)));
    return written;
}

std::uint32_t UASD::ReadReply(wxDateTime& firstByteTime)
{
    // The wait is counted from the end of the write, once the frame has left
    // the line: maxPolls reads of 1 ms each, but never longer than maxPolls
    // milliseconds in all, so the cost of each read cannot stretch it.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max<std::int32_t>(maxPolls, 0));

    std::unique_ptr<std::uint8_t[]> scratch(new (std::nothrow) std::uint8_t[replyLength]);
    if (!scratch)
        return 0;  // no room to read into: the request times out

    std::uint32_t received = 0;
    if (!replyAhead.empty()) {
        // Read while the frame's time on the wire ran out.
        firstByteTime = replyAheadTime;
        const std::uint32_t stored = std::min<std::uint32_t>(static_cast<std::uint32_t>(replyAhead.size()), replyLength);
        std::memcpy(replyBuffer, replyAhead.data(), stored);
        received = static_cast<std::uint32_t>(replyAhead.size());
        replyAhead.clear();
        if (received >= replyLength)
            return received;
    }
    for (std::int32_t poll = 0; poll < maxPolls; ++poll) {
        if (TestDestroy())
            break;
        const auto before = Clock::now();
        if (poll > 0 && before >= deadline)
            break;
        const std::size_t n = activePort->Read(scratch.get(), replyLength, 1);
        if (n == 0) {
            if (Clock::now() - before < EARLY_EMPTY_READ) {
                // A vanished device ends the wait at once instead of
                // spinning on a dead line until the deadline.
                if (activePort->LastErrorCode() != 0) {
                    lineLost = true;
                    break;
                }
                // Otherwise keep to one poll per millisecond without spinning.
                std::this_thread::sleep_until(std::min(before + POLL_PERIOD, deadline));
            }
            continue;
        }
        if (received == 0)
            firstByteTime = wxDateTime::UNow();
        // Bytes beyond the expected length are counted but not stored.
        const std::uint32_t missing = replyLength - received;
        const std::uint32_t stored = std::min<std::uint32_t>(static_cast<std::uint32_t>(n), missing);
        std::memcpy(replyBuffer + received, scratch.get(), stored);
        received += static_cast<std::uint32_t>(n);
        if (received >= replyLength)
            break;
    }
    return received;
}

}  // namespace rq::serial
