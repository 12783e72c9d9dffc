#include "sim/panel.h"
#include "sim/line.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace rq::sim {

namespace {

constexpr int MAX_DOTS = 2048;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Where the text's first column falls on the panel: aligned when it fits,
// else moving in from the right edge and out at the left, one dot at a time.
int TextStart(const SignState& sign, int textWidth, std::int64_t nowMs)
{
    const int width = sign.widthDots;
    if (textWidth <= width) {
        if (sign.align == Align::Left) return 0;
        if (sign.align == Align::Right) return width - textWidth;
        return (width - textWidth) / 2;
    }
    const std::int64_t cycle = width + textWidth;
    const std::int64_t moved = std::max<std::int64_t>(0, nowMs - sign.shownSinceMs) * ScrollDotsPerSecond(sign) / 1000;
    return width - static_cast<int>(moved % cycle);
}

}  // namespace

BitmapFont::Glyph BitmapFont::MakeBox()
{
    Glyph glyph;
    glyph.width = 8;
    for (int row = 2; row < 14; ++row) glyph.rows[row] = (row == 2 || row == 13) ? 0x7E : 0x42;
    return glyph;
}

bool BitmapFont::Load(const std::string& path)
{
    // By its UTF-8 name on every system; text mode drops Windows' CRs.
    std::FILE* file = OpenFile(path, "r");
    if (!file) return false;
    std::string text;
    char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
    std::fclose(file);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string bits = line.substr(colon + 1);
        Glyph glyph;
        if (bits.size() == 32) glyph.width = 8;
        else if (bits.size() == 64) glyph.width = 16;
        else continue;
        const int digitsPerRow = glyph.width / 4;
        bool good = true;
        for (int row = 0; row < kHeight && good; ++row) {
            std::uint16_t value = 0;
            for (int d = 0; d < digitsPerRow; ++d) {
                const int digit = HexDigit(bits[static_cast<std::size_t>(row * digitsPerRow + d)]);
                if (digit < 0) good = false;
                value = static_cast<std::uint16_t>((value << 4) | (digit & 0xF));
            }
            glyph.rows[row] = value;
        }
        if (good) glyphs[static_cast<char32_t>(std::stoul(line.substr(0, colon), nullptr, 16))] = glyph;
    }
    return !glyphs.empty();
}

const BitmapFont::Glyph& BitmapFont::Find(char32_t c) const
{
    const auto found = glyphs.find(c);
    return found == glyphs.end() ? box : found->second;
}

int BitmapFont::TextWidth(const std::u32string& text) const
{
    int width = 0;
    for (char32_t c : text) width += Find(c).width;
    return width;
}

PanelDots LightDots(const SignState& sign, const BitmapFont& font, std::int64_t nowMs)
{
    PanelDots dots;
    LightDots(sign, font, nowMs, dots);
    return dots;
}

void LightDots(const SignState& sign, const BitmapFont& font, std::int64_t nowMs, PanelDots& dots)
{
    dots.width = std::clamp(sign.widthDots, 0, MAX_DOTS);
    dots.height = std::clamp(sign.heightDots, 0, MAX_DOTS);
    dots.lit.assign(static_cast<std::size_t>(dots.width * dots.height), false);
    if (!TextLit(sign, nowMs) || sign.message.empty()) return;
    const int top = (dots.height - BitmapFont::kHeight) / 2;
    int x = TextStart(sign, font.TextWidth(sign.message), nowMs);
    for (char32_t c : sign.message) {
        const BitmapFont::Glyph& glyph = font.Find(c);
        if (x >= dots.width) break;
        for (int row = 0; row < BitmapFont::kHeight; ++row) {
            const int y = top + row;
            if (y < 0 || y >= dots.height) continue;
            for (int col = 0; col < glyph.width; ++col) {
                const int dx = x + col;
                if (dx < 0 || dx >= dots.width) continue;
                if (glyph.rows[row] & (1u << (glyph.width - 1 - col)))
                    dots.lit[static_cast<std::size_t>(y * dots.width + dx)] = true;
            }
        }
        x += glyph.width;
    }
}

PanelImage DrawPanel(const SignState& sign, const BitmapFont& font, std::int64_t nowMs)
{
    return DrawPanel(LightDots(sign, font, nowMs), sign);
}

CellPixels DrawCells(const SignState& sign)
{
    // Brightness 0 still glows; automatic sits in the middle.
    const int level = sign.brightness == kBrightnessAuto ? 8 : sign.brightness;
    const int scale = 64 + 191 * level / 15;
    const std::uint8_t on[3] = {static_cast<std::uint8_t>(255 * scale / 255), static_cast<std::uint8_t>(176 * scale / 255),
                                0};
    const std::uint8_t off[3] = {40, 26, 8};
    // A round LED in its cell: a 4 x 4 disc without its corners, one pixel
    // apart.
    static const char DISC[kCellPixels][kCellPixels + 1] = {".XX..", "XXXX.", "XXXX.", ".XX..", "....."};
    CellPixels cells;
    for (int lit = 0; lit < 2; ++lit)
        for (int py = 0; py < kCellPixels; ++py)
            for (int px = 0; px < kCellPixels; ++px)
                for (int c = 0; c < 3; ++c)
                    cells.rgb[lit][py][px * 3 + c] = DISC[py][px] == 'X' ? (lit ? on : off)[c] : 12;
    return cells;
}

PanelImage DrawPanel(const PanelDots& dots, const SignState& sign)
{
    PanelImage image;
    image.width = dots.width * kCellPixels;
    image.height = dots.height * kCellPixels;
    image.rgb.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3);

    // Each cell row is copied whole from a lit or a dark pattern.
    const CellPixels cells = DrawCells(sign);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    for (int y = 0; y < dots.height; ++y) {
        for (int py = 0; py < kCellPixels; ++py) {
            std::uint8_t* pixel = &image.rgb[static_cast<std::size_t>(y * kCellPixels + py) * rowBytes];
            for (int x = 0; x < dots.width; ++x, pixel += kCellPixels * 3) {
                const bool lit = dots.lit[static_cast<std::size_t>(y * dots.width + x)];
                std::memcpy(pixel, cells.rgb[lit ? 1 : 0][py], kCellPixels * 3);
            }
        }
    }
    return image;
}

int NextChangeMs(const SignState& sign, const BitmapFont& font, std::int64_t nowMs)
{
    if (sign.blank || sign.message.empty()) return -1;
    int next = -1;
    // A scroll faster than 20 steps a second moves several dots a step.
    if (font.TextWidth(sign.message) > sign.widthDots) next = std::max(50, 1000 / ScrollDotsPerSecond(sign));
    if (sign.blinking && sign.blinkOnMs > 0 && sign.blinkOffMs > 0) {
        const std::int64_t period = sign.blinkOnMs + sign.blinkOffMs;
        const std::int64_t phase = ((nowMs - sign.shownSinceMs) % period + period) % period;
        const int left = static_cast<int>(phase < sign.blinkOnMs ? sign.blinkOnMs - phase : period - phase);
        next = next < 0 ? left : std::min(next, left);
    }
    return next;
}

}  // namespace rq::sim
