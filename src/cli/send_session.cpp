#include "cli/send_session.h"

#include <chrono>

#include <wx/app.h>
#include <wx/intl.h>

#include "cli/send_report.h"
#include "protocol/status.h"
#include "line/serial_line.h"
#include "serial/uasd.h"

namespace rq::cli {

namespace serial = rq::serial;

namespace {

// Only a guard: every posted event wakes the wait at once.
constexpr auto kWakeGuard = std::chrono::milliseconds(100);

}  // namespace

std::string LocalTimeIso8601(const wxDateTime& time)
{
    // The offset the local zone had at that moment, summer time included.
    const wxDateTime::Tm local = time.GetTm(wxDateTime::Local);
    const wxDateTime::Tm utc = time.GetTm(wxDateTime::UTC);
    long minutes = ((local.hour - utc.hour) * 60L) + (local.min - utc.min);
    if (local.mday != utc.mday) {
        // The two sides of midnight: a day apart, whichever the month.
        const bool localAhead = local.year > utc.year || (local.year == utc.year && (local.mon > utc.mon ||
                                                          (local.mon == utc.mon && local.mday > utc.mday)));
        minutes += localAhead ? 24 * 60 : -24 * 60;
    }
    return Iso8601(local.year, static_cast<int>(local.mon) + 1, local.mday, local.hour, local.min, local.sec,
                   local.msec, static_cast<int>(minutes));
}

SendSession::SendSession(Reporter& reporter, bool keepOpen) : reporter(reporter), keepOpen(keepOpen)
{
    Bind(wxEVT_THREAD, &SendSession::OnThreadEvent, this);
}

SendSession::~SendSession()
{
    CloseKeptLine();
    Unbind(wxEVT_THREAD, &SendSession::OnThreadEvent, this);
}

rq::platform::SerialLine* SendSession::KeptLine(const Request& request)
{
    if (keptLine && (keptPort != request.port || keptBaud != request.baud)) CloseKeptLine();
    if (!keptLine) {
        keptLine = rq::platform::MakeSerialLine(request.port);
        keptPort = request.port;
        keptBaud = request.baud;
        keptLineLost = false;
        keptLineReopened = false;
    }
    if (keptLineLost) {
        // Once: a line that keeps going away is not worth a run of retries.
        if (keptLineReopened) return nullptr;
        keptLineReopened = true;
        keptLineLost = false;
        Report(serial::BlankPrefix() + wxString::Format(_("The line was lost: opening %s again"), portName),
               serial::OLIVE, false);
    }
    return keptLine.get();
}

void SendSession::CloseKeptLine()
{
    if (keptLine && keptLine->IsOpen()) {
        keptLine->Close();
        Report(serial::BlankPrefix() + wxString::Format(_("Close: %s"), wxString::FromUTF8(keptPort.c_str())),
               serial::MAROON, false);
    }
    keptLine.reset();
}

void SendSession::EndRun()
{
    CloseKeptLine();
}

TransactionRecord SendSession::Transact(const PlannedTransaction& transaction, bool lastOnLine)
{
    const Request& request = transaction.request;
    portName = wxString::FromUTF8(request.port.c_str());
    baud = request.baud;
    finished = false;
    openFailed = false;
    lineLost = false;
    replied = false;
    reason.clear();
    resultLine.clear();
    replyBuffer[0] = 0;
    // Every command is answered by one status byte.
    replyLength = 1;

    Report(serial::BannerText(wxString::FromUTF8(request.title.c_str())), serial::PLUM, true);

    TransactionRecord record;
    record.started = LocalTimeIso8601(wxDateTime::UNow());
    const auto start = std::chrono::steady_clock::now();
    serial::UASD* worker = nullptr;
    if (!keepOpen) {
        worker = new serial::UASD(this, transaction.frame.data(), transaction.frame.size(), replyBuffer, replyLength,
                                  portName, baud, request.replyWaitMs);
    } else if (rq::platform::SerialLine* line = KeptLine(request)) {
        worker = new serial::UASD(this, transaction.frame.data(), transaction.frame.size(), replyBuffer, replyLength,
                                  portName, baud, request.replyWaitMs, *line, lastOnLine);
    }
    if (worker) worker->SetSettleMs(request.settleMs);
    if (!worker) {
        // Lost twice: the rest of the line's transactions are not sent.
        resultLine = serial::BlankPrefix() + wxString::Format(_("%s was lost again and is not opened"), portName);
        resultColour = serial::RED;
        Report(resultLine, resultColour, false);
        record.outcome = Outcome::NotSent;
    } else if (worker->Run() != wxTHREAD_NO_ERROR) {
        // A detached thread that never ran is not deleted by the toolkit.
        delete worker;
        resultLine = serial::BlankPrefix() + _("The transaction could not be started");
        resultColour = serial::RED;
        Report(resultLine, resultColour, false);
        record.outcome = Outcome::NotStarted;
    } else {
        WaitForWorker();
        if (openFailed) {
            record.outcome = Outcome::OpenFailed;
        } else if (lineLost) {
            record.outcome = Outcome::LineLost;
            keptLineLost = true;
            reason = resultLine.Mid(serial::BlankPrefix().length());
        } else if (replied) {
            record.outcome = OutcomeOfStatus(replyBuffer[0]);
            record.reply = std::vector<std::uint8_t>(replyBuffer, replyBuffer + replyLength);
        } else {
            record.outcome = Outcome::TimedOut;
        }
    }
    record.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    record.resultLine = resultLine.utf8_string();
    record.resultColour = resultColour;
    record.reason = reason.utf8_string();
    return record;
}

void SendSession::QueueEvent(wxEvent* event)
{
    // Signalled under the lock: once the session has taken the last event it
    // may end and destroy the condition, which must not be in use then.
    std::lock_guard<std::mutex> lock(queueMutex);
    queued.emplace_back(event);
    queueSignal.notify_one();
}

void SendSession::WaitForWorker()
{
    while (!finished) {
        std::unique_ptr<wxEvent> event;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            queueSignal.wait_for(lock, kWakeGuard, [this] { return !queued.empty(); });
            if (queued.empty()) continue;
            event = std::move(queued.front());
            queued.pop_front();
        }
        // Handles the queued events in posting order, on this thread.
        ProcessEvent(*event);
    }
}

// The window's handling of the worker's events (its OnThreadEvent), reporting
// where the window appends to its log pane.
void SendSession::OnThreadEvent(wxThreadEvent& event)
{
    event.Skip();
    const wxString text = event.GetString();
    switch (event.GetId()) {
    case serial::WorkerFinished:
        finished = true;
        lineLost = event.GetInt() == serial::LineLost;
        break;
    case serial::LogLine: {
        const serial::Rgb lineColour = serial::DecodeColour(event.GetInt());
        // The worker's only line with a blank prefix that names the port and
        // the baud rate is the failed open. The system's reason follows it;
        // the result stays the failed open.
        const bool afterFailedOpen = openFailed;
        if (afterFailedOpen && lineColour == serial::RED && reason.empty())
            reason = text.Mid(serial::BlankPrefix().length());
        if (text == serial::BlankPrefix() + wxString::Format(_("Open Failed : %s ,%d "), portName, baud))
            openFailed = true;
        if (lineColour == serial::RED && !afterFailedOpen) {
            resultLine = text;
            resultColour = lineColour;
        }
        Report(text, lineColour, false);
        break;
    }
    default:
        if (replyLength != 0 && event.GetInt() != 0) {
            DecodeStatus(text);
        } else {
            resultLine = text + _("System error");
            resultColour = serial::RED;
            Report(resultLine, serial::RED, false);
        }
        break;
    }
}

void SendSession::DecodeStatus(const wxString& prefix)
{
    const rq::protocol::StatusMeaning meaning = rq::protocol::DecodeStatusByte(replyBuffer[0]);
    replied = true;
    resultLine = prefix + wxGetTranslation(meaning.text);
    resultColour = meaning.success ? serial::BLUE : serial::RED;
    Report(resultLine, resultColour, false);
}

void SendSession::Report(const wxString& text, serial::Rgb colour, bool bold)
{
    reporter.Line(text.utf8_string(), colour, bold);
}

}  // namespace rq::cli
