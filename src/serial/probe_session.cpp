#include "serial/probe_session.h"

#include <chrono>

#include <wx/intl.h>

#include "line/serial_line.h"
#include "protocol/probe.h"
#include "serial/uasd.h"

namespace rq::serial {

ProbeSession::ProbeSession(const std::string& port, int settleMs) : port(port), settleMs(settleMs) {}

ProbeSession::~ProbeSession()
{
    End();
}

void ProbeSession::End()
{
    if (line && line->IsOpen()) line->Close();
    line.reset();
}

void ProbeSession::QueueEvent(wxEvent* event)
{
    std::lock_guard<std::mutex> lock(queueMutex);
    queued.emplace_back(event);
    queueSignal.notify_one();
}

ProbeAnswer ProbeSession::Probe(std::optional<std::uint8_t> id, int baud, int waitMs, std::uint8_t code)
{
    if (line && lineBaud != baud) End();
    if (!line) {
        line = rq::platform::MakeSerialLine(port);
        lineBaud = baud;
    }
    const std::vector<std::uint8_t> frame = rq::protocol::ProbeFrame(id, code);
    std::uint8_t reply[1] = {0};
    const wxString portName = wxString::FromUTF8(port.c_str());
    const wxString openFailed = BlankPrefix() + wxString::Format(_("Open Failed : %s ,%d "), portName, baud);

    ProbeAnswer answer;
    const auto start = std::chrono::steady_clock::now();
    auto* worker = new UASD(this, frame.data(), frame.size(), reply, 1, portName, baud, waitMs, *line, false);
    // A late answer caught in the settle, or one that comes later still, is
    // traced back by the search.
    worker->SetSettleMs(settleMs);
    if (worker->Run() != wxTHREAD_NO_ERROR) {
        delete worker;  // a detached thread that never ran is not deleted by the toolkit
        answer.kind = ProbeAnswer::Kind::LineFailed;
        answer.reason = _("The transaction could not be started").utf8_string();
        return answer;
    }
    bool failedOpen = false;
    std::optional<double> writtenAt, readAt;  // as the lines stamp them
    for (bool finished = false; !finished;) {
        std::unique_ptr<wxEvent> event;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            queueSignal.wait(lock, [this] { return !queued.empty(); });
            event = std::move(queued.front());
            queued.pop_front();
        }
        const auto* posted = static_cast<const wxThreadEvent*>(event.get());
        const wxString text = posted->GetString();
        switch (posted->GetId()) {
        case WorkerFinished:
            finished = true;
            if (posted->GetInt() == LineLost) answer.kind = ProbeAnswer::Kind::LineFailed;
            break;
        case LogLine:
            if (text == openFailed) {
                failedOpen = true;
                answer.kind = ProbeAnswer::Kind::LineFailed;
            }
            if (DecodeColour(posted->GetInt()) == GREEN) writtenAt = PrefixTimeMs(text.utf8_string());
            if (DecodeColour(posted->GetInt()) == BLUE) readAt = PrefixTimeMs(text.utf8_string());
            // Bytes dropped before the frame: a late answer to a probe before.
            if (DecodeColour(posted->GetInt()) == ORANGE && !text.StartsWith(BlankPrefix())) answer.lateBytes = true;
            // The system's reason follows a failed open or ends a lost line.
            if (DecodeColour(posted->GetInt()) == RED && text != openFailed)
                answer.reason = text.Mid(BlankPrefix().length()).utf8_string();
            break;
        default:
            if (posted->GetInt() > 0 && !failedOpen) {
                answer.kind = ProbeAnswer::Kind::Answered;
                answer.status = reply[0];
                answer.replyMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                if (writtenAt && readAt && *readAt >= *writtenAt) answer.replyMs = *readAt - *writtenAt;
            }
            break;
        }
    }
    answer.elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (answer.kind == ProbeAnswer::Kind::LineFailed) End();
    return answer;
}

}  // namespace rq::serial
