// The window of the simulated bus and the PNG snapshots: the toolkit's part
// of the simulator. Each sign's panel is drawn by DrawPanel, as in a snapshot.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/scrolwin.h>
#include <wx/timer.h>
#include <wx/wx.h>

#include "sim/board.h"
#include "sim/panel.h"

namespace rq::sim {

namespace {

std::atomic<bool> closeRequested{false};

// Poll for new frames this often; an animation asks for its own pace.
constexpr int POLL_MS = 50;
constexpr int MARGIN = 12;

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

wxString StatusText(int status)
{
    switch (status) {
    case -1: return "no answer";
    case 0x0F: return "0F Success";
    case 0xF0: return "F0 Checksum error";
    case 0xF1: return "F1 Undefined instruction";
    case 0xF2: return "F2 Length error";
    default: return wxString::Format("%.2X Unknown error", status);
    }
}

class BoardCanvas : public wxScrolledWindow {
public:
    BoardCanvas(wxWindow* parent, Board& board, const BitmapFont& font)
        : wxScrolledWindow(parent), board(board), font(font), timer(this)
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        SetScrollRate(10, 10);
        Bind(wxEVT_PAINT, &BoardCanvas::OnPaint, this);
        Bind(wxEVT_TIMER, &BoardCanvas::OnTimer, this);
        timer.Start(POLL_MS);
    }

private:
    void OnTimer(wxTimerEvent&)
    {
        if (closeRequested) {
            GetParent()->Close(true);
            return;
        }
        const std::int64_t now = NowMs();
        if (board.changes != seenChanges || (nextChange >= 0 && now >= nextChange)) Refresh(false);
    }

    void OnPaint(wxPaintEvent&)
    {
        wxAutoBufferedPaintDC dc(this);
        DoPrepareDC(dc);
        dc.SetBackground(wxBrush(wxColour(32, 32, 32)));
        dc.Clear();
        dc.SetTextForeground(wxColour(220, 220, 220));
        dc.SetFont(wxFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE)));
        const std::int64_t now = NowMs();
        seenChanges = board.changes;
        nextChange = -1;
        std::lock_guard lock(board.mutex);
        int y = MARGIN;
        int widest = 0;
        for (const auto& [key, sign] : board.signs) {
            PanelImage image = DrawPanel(sign, font, now);
            if (image.width > 0 && image.height > 0) {
                wxImage picture(image.width, image.height, image.rgb.data(), true);
                dc.DrawBitmap(wxBitmap(picture), MARGIN, y);
            }
            y += image.height + 4;
            widest = std::max(widest, image.width);
            const wxString id = sign.id < 0 ? wxString("any") : wxString::Format("%d", sign.id);
            std::vector<wxString> lines = {
                "ID " + id + ": " + wxString::FromUTF8(SettingsText(sign)),
                sign.lastFrame.empty() ? wxString("no frame yet")
                                       : wxString(sign.lastFrame) + "  ->  " + StatusText(sign.lastStatus)};
            for (const wxString& line : lines) {
                dc.DrawText(line, MARGIN, y);
                const wxSize size = dc.GetTextExtent(line);
                widest = std::max(widest, size.x);
                y += size.y + 2;
            }
            y += MARGIN;
            const int next = NextChangeMs(sign, font, now);
            if (next >= 0 && (nextChange < 0 || now + next < nextChange)) nextChange = now + next;
        }
        const wxSize wanted(widest + 2 * MARGIN, y);
        if (wanted != GetVirtualSize()) SetVirtualSize(wanted);
    }

    Board& board;
    const BitmapFont& font;
    wxTimer timer;
    unsigned seenChanges = ~0u;
    std::int64_t nextChange = -1;
};

class BoardFrame : public wxFrame {
public:
    BoardFrame(Board& board, const BitmapFont& font, void (*stop)())
        : wxFrame(nullptr, wxID_ANY, "rq-m4x-sim"), stop(stop)
    {
        new BoardCanvas(this, board, font);
        SetClientSize(FromDIP(wxSize(1360, 480)));
        Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
            this->stop();
            event.Skip();
        });
    }

private:
    void (*stop)();
};

Board* shownBoard = nullptr;
const BitmapFont* shownFont = nullptr;
void (*stopLine)() = nullptr;

class SimApp : public wxApp {
public:
    bool OnInit() override
    {
        delete wxLog::SetActiveTarget(new wxLogStderr);
        if (closeRequested) return false;
        auto* frame = new BoardFrame(*shownBoard, *shownFont, stopLine);
        frame->Show();
        return true;
    }
};

}  // namespace

bool WritePng(const PanelImage& image, const std::string& path)
{
    if (image.width <= 0 || image.height <= 0) return false;
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    std::vector<std::uint8_t> rgb = image.rgb;
    wxImage picture(image.width, image.height, rgb.data(), true);
    wxLogNull quiet;
    return picture.SaveFile(wxString::FromUTF8(path.c_str()), wxBITMAP_TYPE_PNG);
}

void CloseWindow()
{
    closeRequested = true;
}

int ShowWindow(int argc, char** argv, Board& board, const BitmapFont& font, void (*stop)())
{
    shownBoard = &board;
    shownFont = &font;
    stopLine = stop;
    wxApp::SetInstance(new SimApp);
    // The toolkit gets the program's name only: the options are the simulator's.
    int toolkitArgc = argc > 0 ? 1 : 0;
    const int status = wxEntry(toolkitArgc, argv);
    // A window that never opened (no display) still stops the line.
    stop();
    return status;
}

}  // namespace rq::sim
