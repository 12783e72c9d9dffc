#pragma once
// What one simulated sign holds: the settings its commands set and the text
// it shows. Plain C++: a frame's command goes in, the state comes out, so the
// readings can be tested without a terminal or a window. The command codes
// and payload layouts are written here on their own, as a controller's
// firmware would have them, not taken from the program's encoders.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rq::sim {

enum class Align { Left, Center, Right };

struct SignState {
    int id = -1;  // -1: the lone sign without --ids, which takes every address
    int widthDots = 0;
    int heightDots = 0;
    bool pitchP10 = false;  // the scan byte tells P10 from the others only
    int scrollLevel = 0;
    int scrollSpeed = 0;
    int brightness = 0;  // 0..15, or kBrightnessAuto
    Align align = Align::Center;
    bool blank = false;
    bool blinking = false;
    int blinkOnMs = 0;
    int blinkOffMs = 0;
    int timedElapsed = 0;
    int timedSpeed = 0;
    int defaultEncoding = 1;
    std::u32string defaultMessage;
    int encoding = 1;
    std::u32string message;
    // When the current text began to show: blinking and scrolling count from here.
    std::int64_t shownSinceMs = 0;
    // The last frame addressed to it and the status it answered.
    std::string lastFrame;
    int lastStatus = -1;
};

constexpr int kBrightnessAuto = 255;

// The factory settings: what a new sign has and "Defult Set" restores.
SignState FactorySign(int id, std::int64_t nowMs);

// Applies one accepted command: `command` starts at the command code and
// ends with the last payload byte.
void ApplyCommand(SignState& sign, const std::uint8_t* command, std::size_t size, std::int64_t nowMs);

// The text of a message in encoding 1 (GBK) or 2 (UTF-16LE); a byte sequence
// that does not decode becomes U+FFFD.
std::u32string DecodeText(int encoding, const std::uint8_t* bytes, std::size_t size);

// GBK alone, the same way; one file per OS (gbk_posix.cpp, gbk_win32.cpp).
std::u32string DecodeGbk(const std::uint8_t* bytes, std::size_t size);

std::string ToUtf8(const std::u32string& text);

// Whether the text is lit at `nowMs` (blinking off phase: not).
bool TextLit(const SignState& sign, std::int64_t nowMs);

// Dots per second of a message wider than its panel.
int ScrollDotsPerSecond(const SignState& sign);

// The sign's state as one JSON object on one line, at time `nowMs`.
std::string StateJson(const SignState& sign, std::int64_t nowMs);

// Its settings in a few words, for the window.
std::string SettingsText(const SignState& sign);

}  // namespace rq::sim
