// The window of the simulated bus and the PNG snapshots: the toolkit's part
// of the simulator. Each sign's panel is drawn by DrawPanel, as in a snapshot.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/rawbmp.h>
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

// Room for every panel, within the screen; the rest scrolls.
void FitToScreen(wxWindow* frame, wxSize wanted)
{
    const wxRect screen = wxGetClientDisplayRect();
    frame->SetClientSize(std::min(wanted.x, screen.width * 9 / 10), std::min(wanted.y, screen.height * 9 / 10));
}

// Each panel keeps its picture as bitmaps, one per row of dots. A step of an
// animation writes only the cells whose dots changed and repaints only their
// rectangle, so a scrolling text costs the rows it moves through, a still one
// nothing; the whole picture is drawn again (DrawPanel, as in a snapshot) only
// when a frame arrives or the panel's size or brightness changes. The
// captions are bitmaps too, made when laid out: the toolkit hands a paint the
// box around all changed rectangles, which spans the captions between the
// panels, and drawing a bitmap that the clip leaves out costs next to nothing,
// where laying out text does not.
class BoardCanvas : public wxScrolledWindow {
public:
    BoardCanvas(wxWindow* parent, Board& board, const BitmapFont& font)
        : wxScrolledWindow(parent), board(board), font(font), timer(this),
          textFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE))
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        // Set, not inherited: a paint's device context asks for the font, and
        // the toolkit's default costs a theme look-up each time.
        SetFont(textFont);
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
    using PixelFormat = wxNativePixelData::Iterator::PixelFormat;
    static constexpr int PIXEL_BYTES = PixelFormat::SizePixel;

    struct Caption {
        wxBitmap bitmap;
        wxRect rect;
    };

    struct Panel {
        PanelDots dots;  // as the bitmaps show them
        int brightness = -1;
        std::vector<wxBitmap> rows;  // one per row of dots, kCellPixels high
        // A dark and a lit cell's rows in the bitmaps' own pixel layout.
        unsigned char cells[2][kCellPixels][kCellPixels * PIXEL_BYTES] = {};
        wxRect rect;  // in the canvas's virtual coordinates
        std::vector<Caption> captions;
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
            const wxSize before = GetVirtualSize();
            Update(now, true);
            // "LED Set" grows or shrinks the panels: the window follows, within the screen.
            if (GetVirtualSize() != before) FitToScreen(GetParent(), GetVirtualSize());
            Refresh(false);
            return;
        }
        if (now < nextChange || nextChange < 0) return;
        Update(now, false);
        for (wxRect rect : dirty) {
            if (rect.IsEmpty()) continue;
            CalcScrolledPosition(rect.x, rect.y, &rect.x, &rect.y);
            RefreshRect(rect, false);
        }
    }

    // Brings the panels up to date; `dirty` gets the rectangles whose picture changed.
    void Update(std::int64_t now, bool relayout)
    {
        dirty.clear();
        // Copied under the lock, drawn outside it: the line never waits for a picture.
        {
            std::lock_guard lock(board.mutex);
            signs = board.signs;
            busFrame = board.lastBusFrame;
            busStatus = board.lastBusStatus;
        }
        if (panels.size() != signs.size()) {
            panels.assign(signs.size(), Panel{});
            relayout = true;
        }
        nextChange = -1;
        int y = MARGIN;
        int widest = 0;
        std::size_t index = 0;
        for (const auto& [key, sign] : signs) {
            Panel& panel = panels[index];
            LightDots(sign, font, now, scratch);
            if (relayout || scratch.width != panel.dots.width || scratch.height != panel.dots.height ||
                sign.brightness != panel.brightness) {
                DrawWhole(panel, sign);
                dirty.push_back(panel.rect);
            } else {
                const std::optional<wxRect> changed = DrawChangedCells(panel);
                if (!changed) DrawWhole(panel, sign);
                dirty.push_back(changed ? *changed : panel.rect);
            }
            if (relayout) {
                const wxString id = sign.id < 0 ? wxString("any") : wxString::Format("%d", sign.id);
                std::vector<wxString> lines = {"ID " + id + ": " + wxString::FromUTF8(SettingsText(sign)),
                                               sign.lastFrame.empty() ? wxString("no frame yet")
                                                                      : wxString(sign.lastFrame) + "  ->  " +
                                                                            StatusText(sign.lastStatus)};
                // The text as decoded, also when it scrolls out of sight.
                if (!sign.message.empty()) lines.push_back("text: \"" + wxString::FromUTF8(ToUtf8(sign.message)) + "\"");
                panel.rect = wxRect(MARGIN, y, panel.dots.width * kCellPixels, panel.dots.height * kCellPixels);
                y += panel.rect.height + 4;
                widest = std::max(widest, panel.rect.width);
                panel.captions.clear();
                for (const wxString& line : lines) {
                    Caption caption = DrawCaption(line);
                    caption.rect.SetPosition(wxPoint(MARGIN, y));
                    widest = std::max(widest, caption.rect.width);
                    y += caption.rect.height + 2;
                    panel.captions.push_back(caption);
                }
                y += MARGIN;
            }
            const int next = NextChangeMs(sign, font, now);
            if (next >= 0 && (nextChange < 0 || now + next < nextChange)) nextChange = now + next;
            ++index;
        }
        if (relayout) {
            // A frame that no sign could take as its own shows under the bus.
            busCaption = Caption();
            if (!busFrame.empty()) {
                busCaption = DrawCaption("bus: " + wxString(busFrame) + "  ->  " + StatusText(busStatus));
                busCaption.rect.SetPosition(wxPoint(MARGIN, y));
                widest = std::max(widest, busCaption.rect.width);
                y += busCaption.rect.height + MARGIN;
            }
            SetVirtualSize(widest + 2 * MARGIN, y);
        }
    }

    Caption DrawCaption(const wxString& line)
    {
        Caption caption;
        wxMemoryDC dc;
        dc.SetFont(textFont);
        const wxSize size = dc.GetTextExtent(line);
        caption.rect.SetSize(size);
        if (size.x <= 0 || size.y <= 0) return caption;
        caption.bitmap = wxBitmap(size.x, size.y);
        dc.SelectObject(caption.bitmap);
        dc.SetBackground(wxBrush(BACKGROUND));
        dc.Clear();
        dc.SetTextForeground(TEXT_COLOUR);
        dc.DrawText(line, 0, 0);
        dc.SelectObject(wxNullBitmap);
        return caption;
    }

    // The panel's picture from `scratch`, drawn whole.
    void DrawWhole(Panel& panel, const SignState& sign)
    {
        const PanelImage image = DrawPanel(scratch, sign);
        panel.rows.clear();
        if (image.width > 0 && image.height > 0) {
            const wxImage whole(image.width, image.height, const_cast<unsigned char*>(image.rgb.data()), true);
            for (int y = 0; y < scratch.height; ++y)
                panel.rows.emplace_back(whole.GetSubImage(wxRect(0, y * kCellPixels, image.width, kCellPixels)));
        }
        const CellPixels rgb = DrawCells(sign);
        for (int lit = 0; lit < 2; ++lit)
            for (int py = 0; py < kCellPixels; ++py)
                for (int px = 0; px < kCellPixels; ++px) {
                    unsigned char* pixel = &panel.cells[lit][py][px * PIXEL_BYTES];
                    std::fill(pixel, pixel + PIXEL_BYTES, 0xFF);  // opaque where there is alpha
                    pixel[PixelFormat::RED] = rgb.rgb[lit][py][px * 3];
                    pixel[PixelFormat::GREEN] = rgb.rgb[lit][py][px * 3 + 1];
                    pixel[PixelFormat::BLUE] = rgb.rgb[lit][py][px * 3 + 2];
                }
        std::swap(panel.dots, scratch);
        panel.brightness = sign.brightness;
    }

    // Writes the cells whose dots differ between the bitmaps and `scratch`;
    // returns their bounding rectangle in virtual coordinates (empty: none
    // changed), or nothing when the bitmaps' pixels could not be reached
    // (then draw it whole).
    std::optional<wxRect> DrawChangedCells(Panel& panel)
    {
        const int width = scratch.width;
        int left = width, top = scratch.height, right = -1, bottom = -1;
        for (int y = 0; y < scratch.height && y < static_cast<int>(panel.rows.size()); ++y) {
            std::optional<wxNativePixelData> data;
            unsigned char* origin = nullptr;
            int stride = 0;
            for (int x = 0; x < width; ++x) {
                const std::size_t at = static_cast<std::size_t>(y * width + x);
                const bool lit = scratch.lit[at];
                if (lit == panel.dots.lit[at]) continue;
                if (!data) {
                    data.emplace(panel.rows[static_cast<std::size_t>(y)]);
                    if (!*data) return std::nullopt;
                    origin = wxNativePixelData::Iterator(*data).m_ptr;
                    stride = data->GetRowStride();
                }
                unsigned char* row = origin + static_cast<std::ptrdiff_t>(x) * kCellPixels * PIXEL_BYTES;
                for (int py = 0; py < kCellPixels; ++py, row += stride)
                    std::memcpy(row, panel.cells[lit ? 1 : 0][py], sizeof panel.cells[0][0]);
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        std::swap(panel.dots, scratch);
        if (right < 0) return wxRect();
        return wxRect(panel.rect.x + left * kCellPixels, panel.rect.y + top * kCellPixels,
                      (right - left + 1) * kCellPixels, (bottom - top + 1) * kCellPixels);
    }

    void OnPaint(wxPaintEvent&)
    {
        wxAutoBufferedPaintDC dc(this);
        DoPrepareDC(dc);
        // A step of an animation repaints within panels, whose pictures cover
        // it whole: no need to clear first.
        wxRect box = GetUpdateRegion().GetBox();
        CalcUnscrolledPosition(box.x, box.y, &box.x, &box.y);
        const bool withinPanel = std::any_of(panels.begin(), panels.end(), [&](const Panel& panel) {
            return !panel.rows.empty() && panel.rect.Contains(box);
        });
        dc.SetBackground(wxBrush(BACKGROUND));
        if (!withinPanel) dc.Clear();
        for (const Panel& panel : panels) {
            if (panel.rect.Intersects(box)) {
                wxPoint at = panel.rect.GetPosition();
                for (const wxBitmap& row : panel.rows) {
                    if (at.y + kCellPixels > box.y && at.y < box.GetBottom() + 1) dc.DrawBitmap(row, at);
                    at.y += kCellPixels;
                }
            }
            for (const Caption& caption : panel.captions)
                if (caption.bitmap.IsOk() && caption.rect.Intersects(box))
                    dc.DrawBitmap(caption.bitmap, caption.rect.GetPosition());
        }
        if (busCaption.bitmap.IsOk() && busCaption.rect.Intersects(box))
            dc.DrawBitmap(busCaption.bitmap, busCaption.rect.GetPosition());
    }

    const wxColour BACKGROUND{32, 32, 32};
    const wxColour TEXT_COLOUR{220, 220, 220};
    Board& board;
    const BitmapFont& font;
    wxTimer timer;
    wxFont textFont;
    std::vector<Panel> panels;
    std::map<int, SignState> signs;  // as the board held them at the last step
    std::string busFrame;
    int busStatus = -1;
    Caption busCaption;
    PanelDots scratch;  // the dots of the step being drawn; swapped with a panel's
    std::vector<wxRect> dirty;
    unsigned seenChanges = ~0u;
    std::int64_t nextChange = -1;
};

class BoardFrame : public wxFrame {
public:
    BoardFrame(Board& board, const BitmapFont& font, void (*stop)())
        : wxFrame(nullptr, wxID_ANY, "rq-m4x-sim: " + wxString::FromUTF8(board.line)), stop(stop)
    {
        // The frame is painted too, under the canvas, and its device context
        // asks for the font and colours: set ones spare the theme look-ups.
        SetFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE));
        SetForegroundColour(wxColour(220, 220, 220));
        SetBackgroundColour(wxColour(32, 32, 32));
        auto* canvas = new BoardCanvas(this, board, font);
        FitToScreen(this, canvas->Settle());
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
void (*displayLost)() = nullptr;

class SimApp : public wxApp {
public:
    bool OnInit() override
    {
        delete wxLog::SetActiveTarget(new wxLogStderr);
        if (closeRequested) return false;
        auto* frame = new BoardFrame(*shownBoard, *shownFont, stopLine);
        frame->Show();
        windowOpened = true;
        WhenDisplayLost(displayLost);
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

int ShowWindow(int argc, char** argv, Board& board, const BitmapFont& font, void (*stop)(), void (*lost)())
{
    shownBoard = &board;
    shownFont = &font;
    stopLine = stop;
    displayLost = lost;
    // A display that cannot be opened is said on standard error: the
    // toolkit's own log would try to show it in a message box.
    delete wxLog::SetActiveTarget(new wxLogStderr);
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
