// The window of the simulated bus and the PNG snapshots: the toolkit's part
// of the simulator. Each sign's panel is drawn by DrawPanel, as in a snapshot.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
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
bool windowOpened = false;

// The window looks for new frames and animation steps this often.
constexpr int TICK_MS = 20;
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

// Redraws a panel only when its lit dots or its brightness changed, and
// repaints only that panel: a scrolling text costs one panel's picture per
// step, a still one nothing.
class BoardCanvas : public wxScrolledWindow {
public:
    BoardCanvas(wxWindow* parent, Board& board, const BitmapFont& font)
        : wxScrolledWindow(parent), board(board), font(font), timer(this)
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        SetScrollRate(10, 10);
        Bind(wxEVT_PAINT, &BoardCanvas::OnPaint, this);
        Bind(wxEVT_TIMER, &BoardCanvas::OnTimer, this);
        timer.Start(TICK_MS);
    }

    // Lays the panels out now; the size they need.
    wxSize Settle()
    {
        seenChanges = board.changes;
        Update(NowMs(), true);
        return GetVirtualSize();
    }

private:
    struct Panel {
        PanelDots dots;
        int brightness = -1;
        wxBitmap bitmap;
        wxRect rect;  // in the canvas's virtual coordinates
        std::vector<wxString> lines;
    };

    void OnTimer(wxTimerEvent&)
    {
        if (closeRequested) {
            GetParent()->Close(true);
            return;
        }
        const std::int64_t now = NowMs();
        const unsigned changes = board.changes;
        if (changes != seenChanges) {
            seenChanges = changes;
            Update(now, true);
            Refresh(false);
            return;
        }
        if (now < nextChange || nextChange < 0) return;
        for (const std::size_t index : Update(now, false)) {
            wxRect rect = panels[index].rect;
            CalcScrolledPosition(rect.x, rect.y, &rect.x, &rect.y);
            RefreshRect(rect, false);
        }
    }

    // Brings the panels up to date; returns the indexes of those whose picture changed.
    std::vector<std::size_t> Update(std::int64_t now, bool relayout)
    {
        std::vector<std::size_t> changed;
        std::lock_guard lock(board.mutex);
        if (panels.size() != board.signs.size()) {
            panels.assign(board.signs.size(), Panel{});
            relayout = true;
        }
        wxClientDC dc(this);
        dc.SetFont(TextFont());
        nextChange = -1;
        int y = MARGIN;
        int widest = 0;
        std::size_t index = 0;
        for (const auto& [key, sign] : board.signs) {
            Panel& panel = panels[index];
            PanelDots dots = LightDots(sign, font, now);
            if (relayout || dots.lit != panel.dots.lit || dots.width != panel.dots.width ||
                sign.brightness != panel.brightness) {
                const PanelImage image = DrawPanel(dots, sign);
                panel.bitmap = image.width > 0 && image.height > 0
                                   ? wxBitmap(wxImage(image.width, image.height,
                                                      const_cast<unsigned char*>(image.rgb.data()), true))
                                   : wxBitmap();
                panel.dots = std::move(dots);
                panel.brightness = sign.brightness;
                changed.push_back(index);
            }
            if (relayout) {
                const wxString id = sign.id < 0 ? wxString("any") : wxString::Format("%d", sign.id);
                panel.lines = {"ID " + id + ": " + wxString::FromUTF8(SettingsText(sign)),
                               sign.lastFrame.empty() ? wxString("no frame yet")
                                                      : wxString(sign.lastFrame) + "  ->  " +
                                                            StatusText(sign.lastStatus)};
                const int width = panel.bitmap.IsOk() ? panel.bitmap.GetWidth() : 0;
                const int height = panel.bitmap.IsOk() ? panel.bitmap.GetHeight() : 0;
                panel.rect = wxRect(MARGIN, y, width, height);
                y += height + 4;
                widest = std::max(widest, width);
                for (const wxString& line : panel.lines) {
                    const wxSize size = dc.GetTextExtent(line);
                    widest = std::max(widest, size.x);
                    y += size.y + 2;
                }
                y += MARGIN;
            }
            const int next = NextChangeMs(sign, font, now);
            if (next >= 0 && (nextChange < 0 || now + next < nextChange)) nextChange = now + next;
            ++index;
        }
        if (relayout) SetVirtualSize(widest + 2 * MARGIN, y);
        return changed;
    }

    static wxFont TextFont() { return wxFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE)); }

    void OnPaint(wxPaintEvent&)
    {
        wxAutoBufferedPaintDC dc(this);
        DoPrepareDC(dc);
        // A step of an animation repaints within one panel, whose picture
        // covers it whole: no need to clear first.
        wxRect box = GetUpdateRegion().GetBox();
        CalcUnscrolledPosition(box.x, box.y, &box.x, &box.y);
        const bool withinPanel = std::any_of(panels.begin(), panels.end(), [&](const Panel& panel) {
            return panel.bitmap.IsOk() && panel.rect.Contains(box);
        });
        dc.SetBackground(wxBrush(wxColour(32, 32, 32)));
        if (!withinPanel) dc.Clear();
        dc.SetTextForeground(wxColour(220, 220, 220));
        dc.SetFont(TextFont());
        for (const Panel& panel : panels) {
            if (panel.bitmap.IsOk()) dc.DrawBitmap(panel.bitmap, panel.rect.GetPosition());
            int y = panel.rect.GetBottom() + 1 + 4;
            for (const wxString& line : panel.lines) {
                dc.DrawText(line, MARGIN, y);
                y += dc.GetTextExtent(line).y + 2;
            }
        }
    }

    Board& board;
    const BitmapFont& font;
    wxTimer timer;
    std::vector<Panel> panels;
    unsigned seenChanges = ~0u;
    std::int64_t nextChange = -1;
};

class BoardFrame : public wxFrame {
public:
    BoardFrame(Board& board, const BitmapFont& font, void (*stop)())
        : wxFrame(nullptr, wxID_ANY, "rq-m4x-sim"), stop(stop)
    {
        auto* canvas = new BoardCanvas(this, board, font);
        // Room for every panel, within the screen.
        const wxRect screen = wxGetClientDisplayRect();
        const wxSize wanted = canvas->Settle();
        SetClientSize(std::min(wanted.x, screen.width * 9 / 10), std::min(wanted.y, screen.height * 9 / 10));
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
        windowOpened = true;
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

bool DisplayAvailable()
{
#ifdef __WXMSW__
    return true;
#else
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
#endif
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
    // Without a display the line goes on serving, without its window.
    if (!windowOpened && !closeRequested) return -1;
    stop();
    return status;
}

}  // namespace rq::sim
