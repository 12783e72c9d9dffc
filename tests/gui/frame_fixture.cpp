#include "gui/frame_fixture.h"

#include <cstdio>
#include <thread>

#include <wx/evtloop.h>

namespace rq::test {

void TestableFrame::Click(wxButton* button)
{
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
}

void TestableFrame::Menu(int id)
{
    wxCommandEvent command(wxEVT_MENU, id);
    command.SetEventObject(this);
    GetEventHandler()->ProcessEvent(command);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        // Let the worker thread run between rounds without a fixed sleep of
        // any length that the test's outcome depends on.
        std::this_thread::yield();
    }
    return true;
}

void DestroyNow(wxWindow* window)
{
    window->Destroy();
    // Pending deletions of top-level windows run when the application is idle.
    wxTheApp->ProcessIdle();
}

std::vector<LogLine> ReadLog(wxRichTextCtrl* log)
{
    std::vector<LogLine> lines;
    const int count = log->GetNumberOfLines();
    long position = 0;
    for (int i = 0; i < count; ++i) {
        const wxString text = log->GetLineText(i);
        const int length = log->GetLineLength(i);
        if (length == 0 && i == count - 1) break;  // the empty paragraph after the last line
        LogLine line;
        line.text = text.utf8_string();
        wxRichTextAttr attr;
        if (length > 0 && log->GetStyle(position, attr)) {
            line.colour = attr.GetTextColour();
            line.bold = attr.GetFontWeight() == wxFONTWEIGHT_BOLD;
            line.background = attr.HasBackgroundColour() ? attr.GetBackgroundColour() : log->GetBackgroundColour();
        }
        lines.push_back(line);
        position = log->XYToPosition(0, i + 1);
    }
    return lines;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count)
{
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += byte;
    }
    return out;
}

}  // namespace rq::test
