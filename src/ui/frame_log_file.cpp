// The window's record: the log file that keeps every transaction (File >
// "Log to File..."), and the log pane's context menu.
#include "ui/rq_m4t_frame.h"

#include <cerrno>
#include <cstring>

#include <wx/ffile.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/wxcrt.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "serial/log_line.h"
#include "ui/log_colour.h"

using namespace rq::config;

namespace {

const char kLogWildcard[] = "Log files (*.log)|*.log|Text files (*.txt)|*.txt|All files (*)|*";

wxString SystemReason(int error)
{
    return wxString(std::strerror(error), wxConvLibc);
}

}  // namespace

void RQ_M4TFrame::OpenLogRecord(const wxString& title)
{
    logRecordFailed = false;
    if (logFileName.empty()) return;
    // Opened for each transaction, so a file moved, removed or made writable
    // between two presses is taken as it is now.
    logRecord = wxFopen(logFileName, "ab");
    if (!logRecord) {
        logRecordFailed = true;
        logRecordReason = SystemReason(errno);
        return;
    }
    const std::string header = rq::serial::LogHeader(rq::serial::LogHeaderTime(wxDateTime::Now()), {{comPort, baud}},
                                                     title.utf8_string());
    WriteLogRecord(header);
}

void RQ_M4TFrame::WriteLogRecord(const wxString& text)
{
    if (!logRecord) return;
    const std::string line = text.utf8_string() + "\n";
    if (std::fwrite(line.data(), 1, line.size(), logRecord) != line.size() || std::fflush(logRecord) != 0) {
        const int error = errno;
        std::fclose(logRecord);
        logRecord = nullptr;
        logRecordFailed = true;
        logRecordReason = SystemReason(error);
        SayLogFileFailed();
    }
}

void RQ_M4TFrame::CloseLogRecord()
{
    if (!logRecord) return;
    const bool clean = std::ferror(logRecord) == 0;
    const bool closed = std::fclose(logRecord) == 0;
    const int error = errno;
    logRecord = nullptr;
    if (!(clean && closed) && !logRecordFailed) {
        logRecordFailed = true;
        logRecordReason = SystemReason(error);
        SayLogFileFailed();
    }
}

void RQ_M4TFrame::SayLogFileFailed()
{
    // Said once a transaction; the transaction itself goes on.
    AppendLog(rq::serial::BlankPrefix() + wxString::Format(_("Cannot write to the log file %s: %s"), logFileName,
                                                           logRecordReason),
              ToColour(rq::serial::RED), false);
    logRecordReason.clear();
}

void RQ_M4TFrame::OnLogToFile(wxCommandEvent& event)
{
    event.Skip();
    if (MenuBar->IsChecked(idMenuLogToFile)) {
        const wxFileName current(logFileName);
        wxFileDialog dialog(this, _("Choose the log file"), current.GetPath(),
                            logFileName.empty() ? wxString("rq-m4x.log") : current.GetFullName(), kLogWildcard,
                            wxFD_SAVE);
        if (dialog.ShowModal() != wxID_OK) {
            MenuBar->Check(idMenuLogToFile, false);
            return;
        }
        logFileName = dialog.GetPath();
    } else {
        logFileName.clear();
    }
    settings->config->Write(keys::LogFile, logFileName);
}

void RQ_M4TFrame::OnLogContextMenu(wxContextMenuEvent&)
{
    wxMenu menu;
    menu.Append(idMenuLogCopy, "Copy");
    menu.Append(idMenuLogSelectAll, "Select All");
    menu.AppendSeparator();
    menu.Append(idMenuLogSaveAs, "Save As...");
    menu.Enable(idMenuLogCopy, LogView->CanCopy());
    PopupMenu(&menu);
}

void RQ_M4TFrame::OnLogCopy(wxCommandEvent&)
{
    LogView->Copy();
}

void RQ_M4TFrame::OnLogSelectAll(wxCommandEvent&)
{
    LogView->SelectAll();
}

void RQ_M4TFrame::OnLogSaveAs(wxCommandEvent&)
{
    wxFileDialog dialog(this, _("Save the log as"), wxEmptyString, "rq-m4x-log.txt", kLogWildcard,
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) return;
    const std::string text = LogView->GetValue().utf8_string();
    wxFFile file;
    bool written = false;
    {
        wxLogNull quiet;  // the failure is said below, in the program's words
        written = file.Open(dialog.GetPath(), "wb") && file.Write(text.data(), text.size()) == text.size() &&
                  file.Close();
    }
    if (!written)
        wxMessageBox(wxString::Format(_("Cannot write to %s: %s"), dialog.GetPath(), SystemReason(errno)),
                     wxMessageBoxCaptionStr, wxOK | wxCENTRE);
}
