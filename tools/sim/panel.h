#pragma once
// A sign's panel as a picture: round amber LEDs, one per dot, the text in a
// 16-dot bitmap font. One drawing serves the snapshots and the window.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/sign.h"

namespace rq::sim {

// A 16-dot bitmap font in the hex format of GNU Unifont: one glyph a line,
// "4E2D:" and 32 (8 dots wide) or 64 (16 dots wide) hex digits, row by row.
class BitmapFont {
public:
    struct Glyph {
        int width = 8;
        std::uint16_t rows[16] = {};  // the leftmost dot is the highest bit used
    };
    static constexpr int kHeight = 16;

    bool Load(const std::string& path);
    // The glyph of a character; a box for one the font lacks.
    const Glyph& Find(char32_t c) const;
    int TextWidth(const std::u32string& text) const;

private:
    std::map<char32_t, Glyph> glyphs;
    Glyph box = MakeBox();
    static Glyph MakeBox();
};

// The dots of a panel that are lit at `nowMs`, row by row.
struct PanelDots {
    int width = 0;
    int height = 0;
    std::vector<bool> lit;
};
PanelDots LightDots(const SignState& sign, const BitmapFont& font, std::int64_t nowMs);
// The same into `dots`, reusing its storage (the window does this each step).
void LightDots(const SignState& sign, const BitmapFont& font, std::int64_t nowMs, PanelDots& dots);

// RGB, 3 bytes a pixel, row by row.
struct PanelImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};
// Each dot is a round LED in a cell of kCellPixels; lit ones in amber at the
// sign's brightness ("auto" is the middle level), dark ones a dim brown.
constexpr int kCellPixels = 5;
// The pixels of a dark ([0]) and a lit ([1]) dot's cell, RGB, row by row: a
// panel's picture is made of these two alone.
struct CellPixels {
    std::uint8_t rgb[2][kCellPixels][kCellPixels * 3];
};
CellPixels DrawCells(const SignState& sign);
PanelImage DrawPanel(const PanelDots& dots, const SignState& sign);
PanelImage DrawPanel(const SignState& sign, const BitmapFont& font, std::int64_t nowMs);

// How soon the picture may change again (scrolling, blinking), in ms; -1: not
// until the next command.
int NextChangeMs(const SignState& sign, const BitmapFont& font, std::int64_t nowMs);

}  // namespace rq::sim
