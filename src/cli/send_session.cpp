#include "cli/send_session.h"

#include <chrono>

#include <wx/app.h>
#include <wx/intl.h>

#include "cli/send_report.h"
#include "protocol/status.h"
#include "serial/uasd.h"

namespace rq::cli {

namespace serial = rq::serial;

namespace {

// The window's reply wait: this many polls of one millisecond.
const int kReplyPolls = 500;

// Only a guard: every posted event wakes the wait at once.
constexpr auto kWakeGuard = std::chrono::milliseconds(100);

}  // namespace

SendSession::SendSession(const Request& request, bool colour, std::FILE* out)
    : request(request), colour(colour), out(out), portName(wxString::FromUTF8(request.port.c_str()))
{
    Bind(wxEVT_THREAD, &SendSession::OnThreadEvent, this);
}

SendSession::~SendSession()
{
    Unbind(wxEVT_THREAD, &SendSession::OnThreadEvent, this);
}

int SendSession::Run(const std::uint8_t* frame, std::size_t length)
{
    if (request.repeat <= 1) return ExitStatusOf(RunOnce(frame, length).outcome);

    RepeatTally tally;
    for (int i = 0; i < request.repeat; ++i) {
        const Transaction transaction = RunOnce(frame, length);
        tally.Add(transaction.outcome, transaction.milliseconds);
    }
    std::fputs(tally.Summary().c_str(), out);
    std::fflush(out);
    return tally.ExitStatus();
}

SendSession::Transaction SendSession::RunOnce(const std::uint8_t* frame, std::size_t length)
{
    finished = false;
    openFailed = false;
    replied = false;
    resultLine.clear();
    replyBuffer[0] = 0;
    // Every command is answered by one status byte.
    replyLength = 1;

    Print(serial::BannerText(wxString::FromUTF8(request.title.c_str())), serial::PLUM, true);

    Transaction transaction;
    const auto start = std::chrono::steady_clock::now();
    auto* worker = new serial::UASD(this, frame, length, replyBuffer, replyLength, portName, request.baud, kReplyPolls);
    if (worker->Run() != wxTHREAD_NO_ERROR) {
        // A detached thread that never ran is not deleted by the toolkit.
        delete worker;
        resultLine = serial::BlankPrefix() + _("The transaction could not be started");
        resultColour = serial::RED;
        Print(resultLine, resultColour, false);
        transaction.outcome = Outcome::NotStarted;
    } else {
        WaitForWorker();
        if (openFailed)
            transaction.outcome = Outcome::OpenFailed;
        else if (replied)
            transaction.outcome = OutcomeOfStatus(replyBuffer[0]);
        else
            transaction.outcome = Outcome::TimedOut;
    }
    transaction.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    if (request.quiet && !resultLine.empty()) {
        // Print only what ended the transaction, in its colour.
        const std::string line = resultLine.utf8_string();
        std::fputs((colour ? AnsiColoured(line, resultColour.r, resultColour.g, resultColour.b, false) : line).c_str(),
                   out);
        std::fputc('\n', out);
        std::fflush(out);
    }
    return transaction;
}

void SendSession::QueueEvent(wxEvent* event)
{
    wxEvtHandler::QueueEvent(event);
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        eventQueued = true;
    }
    queueSignal.notify_one();
}

void SendSession::WaitForWorker()
{
    while (!finished) {
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            queueSignal.wait_for(lock, kWakeGuard, [this] { return eventQueued; });
            eventQueued = false;
        }
        // Handles the queued events in posting order, on this thread.
        wxAppConsole::GetInstance()->ProcessPendingEvents();
    }
}

// The window's handling of the worker's events (its OnThreadEvent), printing
// where the window appends to its log pane.
void SendSession::OnThreadEvent(wxThreadEvent& event)
{
    event.Skip();
    const wxString text = event.GetString();
    switch (event.GetId()) {
    case serial::WorkerFinished:
        finished = true;
        break;
    case serial::LogLine: {
        const serial::Rgb lineColour = serial::DecodeColour(event.GetInt());
        // The worker's only line with a blank prefix that names the port and
        // the baud rate is the failed open.
        if (text == serial::BlankPrefix() + wxString::Format(_("Open Failed : %s ,%d "), portName, request.baud))
            openFailed = true;
        if (lineColour == serial::RED) {
            resultLine = text;
            resultColour = lineColour;
        }
        Print(text, lineColour, false);
        break;
    }
    default:
        if (replyLength != 0 && event.GetInt() != 0) {
            DecodeStatus(event.GetInt(), text);
        } else {
            resultLine = text + _("System error");
            resultColour = serial::RED;
            Print(resultLine, serial::RED, false);
        }
        break;
    }
}

void SendSession::DecodeStatus(int /*received*/, const wxString& prefix)
{
    const rq::protocol::StatusMeaning meaning = rq::protocol::DecodeStatusByte(replyBuffer[0]);
    replied = true;
    resultLine = prefix + wxGetTranslation(meaning.text);
    resultColour = meaning.success ? serial::BLUE : serial::RED;
    Print(resultLine, resultColour, false);
}

void SendSession::Print(const wxString& text, serial::Rgb lineColour, bool bold)
{
    if (request.quiet) return;
    const std::string line = text.utf8_string();
    std::fputs((colour ? AnsiColoured(line, lineColour.r, lineColour.g, lineColour.b, bold) : line).c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

}  // namespace rq::cli
