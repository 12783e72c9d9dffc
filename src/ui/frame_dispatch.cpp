// One transaction at a time: the banner, the frame, the worker, and the
// worker's events turned into log lines and the status line.
#include "ui/rq_m4t_frame.h"

#include <cstring>

#include <wx/msgdlg.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "protocol/frame.h"
#include "protocol/numbers.h"
#include "serial/log_line.h"
#include "serial/uasd.h"
#include "ui/log_colour.h"

using namespace rq::config;

namespace {

// The reply wait: this many polls of one millisecond.
const int kReplyPolls = 500;

void ShowOccupied()
{
    wxMessageBox(_("Serial port is occupied"), wxMessageBoxCaptionStr, wxOK | wxCENTRE);
}

}  // namespace

void RQ_M4TFrame::SendCommand(CommandBuilder builder, const wxString& title)
{
    const auto typedId = rq::protocol::ParseSigned(IdText->GetValue().utf8_string());
    if (typedId) {
        ledId = *typedId;
        settings->config->Write(keys::LedId, static_cast<long>(ledId));
    }

    if (worker) {
        ShowOccupied();
        return;
    }

    LogView->Clear();
    OpenLogRecord(title);
    AppendLog(rq::serial::BannerText(title), ToColour(rq::serial::PLUM), true);
    if (logRecordFailed) SayLogFileFailed();
    if (!builder) {
        AppendLog(_("undefined symbol"), ToColour(rq::serial::RED), false);
        CloseLogRecord();
        return;
    }

    std::uint8_t frame[rq::protocol::kFrameBufferSize];
    std::memset(frame, 0, sizeof frame);
    replyBuffer.reset();
    replyLength = 0;
    replyDecoder = nullptr;
    refusal.clear();

    const std::size_t length = (this->*builder)(frame);
    if (length != 0) {
        StartTransaction(frame, length);
    } else {
        AppendLog(refusal.empty() ? _("Parameter error") : refusal, ToColour(rq::serial::RED), false);
        CloseLogRecord();
    }
}

void RQ_M4TFrame::StartTransaction(const std::uint8_t* frame, std::size_t length)
{
    if (worker) {
        ShowOccupied();
        return;
    }
    const wxString portName(comPort.c_str(), wxConvLibc);
    auto* transaction = new rq::serial::UASD(this, frame, length, replyBuffer.get(), replyLength, portName,
                                             baud, kReplyPolls);
    worker = transaction;
    if (transaction->Run() != wxTHREAD_NO_ERROR) {
        // A detached thread that never ran is not deleted by the toolkit.
        delete transaction;
        worker = nullptr;
        AppendLog(rq::serial::BlankPrefix() + _("The transaction could not be started"),
                  ToColour(rq::serial::RED), false);
        CloseLogRecord();
    }
}

void RQ_M4TFrame::OnThreadEvent(wxThreadEvent& event)
{
    event.Skip();
    const wxString text = event.GetString();
    switch (event.GetId()) {
    case rq::serial::WorkerFinished:
        worker = nullptr;
        CloseLogRecord();
        break;
    case rq::serial::LogLine:
        AppendLog(text, ToColour(rq::serial::DecodeColour(event.GetInt())), false);
        break;
    default:
        if (replyBuffer && replyDecoder && replyLength != 0 && event.GetInt() != 0)
            (this->*replyDecoder)(event.GetInt(), text);
        else
            AppendLog(text + _("System error"), ToColour(rq::serial::RED), false);
        break;
    }
}

void RQ_M4TFrame::AppendLog(const wxString& text, const wxColour& colour, bool bold)
{
    LogView->MoveEnd();
    if (bold) LogView->BeginBold();
    LogView->BeginTextColour(colour);
    LogView->WriteText(text);
    LogView->EndTextColour();
    if (bold) LogView->EndBold();
    LogView->Newline();
    LogView->MoveEnd();
    LogView->ShowPosition(LogView->GetLastPosition());
    WriteLogRecord(text);
}
