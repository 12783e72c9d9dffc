#include "sim/sign.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace rq::sim {

namespace {

// Command codes as the controller knows them.
constexpr std::uint8_t CHANGE_ID = 0x21;
constexpr std::uint8_t TIMED_SCROLL = 0x65;
constexpr std::uint8_t ALIGNMENT = 0x6A;
constexpr std::uint8_t BLANK = 0x63;
constexpr std::uint8_t RESET = 0x99;
constexpr std::uint8_t FACTORY = 0x9A;
constexpr std::uint8_t LED_PARAMETERS = 0x41;
constexpr std::uint8_t BLINKING = 0x60;
constexpr std::uint8_t BRIGHTNESS = 0x43;
constexpr std::uint8_t DEFAULT_MESSAGE = 0x20;
constexpr std::uint8_t MESSAGE_GBK = 0x01;
constexpr std::uint8_t MESSAGE_UTF16 = 0x02;
constexpr std::uint8_t SCAN_P10 = 0x41;
constexpr std::uint8_t ALIGN_LEFT = 1;
constexpr std::uint8_t ALIGN_RIGHT = 2;
constexpr std::uint8_t ALIGN_CENTER = 4;
constexpr char32_t REPLACEMENT = 0xFFFD;

// 16-bit fields come low byte first.
int Word(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

std::u32string DecodeUtf16(const std::uint8_t* bytes, std::size_t size)
{
    std::u32string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char32_t unit = static_cast<char32_t>(Word(bytes + i));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
            const char32_t low = static_cast<char32_t>(Word(bytes + i + 2));
            if (low >= 0xDC00 && low < 0xE000) {
                text += 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
                continue;
            }
        }
        text += unit >= 0xD800 && unit < 0xE000 ? REPLACEMENT : unit;
    }
    if (size % 2) text += REPLACEMENT;
    return text;
}

const char* AlignName(Align align)
{
    switch (align) {
    case Align::Left: return "left";
    case Align::Right: return "right";
    default: return "center";
    }
}

}  // namespace

SignState FactorySign(int id, std::int64_t nowMs)
{
    SignState sign;
    sign.id = id;
    sign.widthDots = 128;
    sign.heightDots = 32;
    sign.pitchP10 = true;
    sign.scrollLevel = 0;
    sign.scrollSpeed = 3;
    sign.brightness = 15;
    sign.align = Align::Center;
    sign.blinkOnMs = 500;
    sign.blinkOffMs = 500;
    sign.shownSinceMs = nowMs;
    return sign;
}

std::u32string DecodeText(int encoding, const std::uint8_t* bytes, std::size_t size)
{
    return encoding == 2 ? DecodeUtf16(bytes, size) : DecodeGbk(bytes, size);
}

void ApplyCommand(SignState& sign, const std::uint8_t* command, std::size_t size, std::int64_t nowMs)
{
    if (size == 0) return;
    const std::uint8_t* payload = command + 1;
    const std::size_t length = size - 1;
    switch (command[0]) {
    case CHANGE_ID:
        if (length >= 1) sign.id = payload[0];
        break;
    case TIMED_SCROLL:
        if (length < 4) break;
        sign.timedElapsed = Word(payload);
        sign.timedSpeed = Word(payload + 2);
        sign.shownSinceMs = nowMs;
        break;
    case ALIGNMENT:
        // Another code leaves the alignment as it was.
        if (length < 1) break;
        if (payload[0] == ALIGN_LEFT) sign.align = Align::Left;
        else if (payload[0] == ALIGN_CENTER) sign.align = Align::Center;
        else if (payload[0] == ALIGN_RIGHT) sign.align = Align::Right;
        break;
    case BLANK:
        sign.blank = true;
        break;
    case RESET: {
        // As after a power cycle: the settings stay, the default message shows.
        sign.blank = false;
        sign.message = sign.defaultMessage;
        sign.encoding = sign.defaultEncoding;
        sign.shownSinceMs = nowMs;
        break;
    }
    case FACTORY: {
        SignState factory = FactorySign(sign.id, nowMs);
        factory.lastFrame = sign.lastFrame;
        factory.lastStatus = sign.lastStatus;
        sign = factory;
        break;
    }
    case LED_PARAMETERS:
        if (length < 7) break;
        sign.widthDots = payload[0] * 8;
        sign.heightDots = payload[1] * 8;
        sign.pitchP10 = payload[5] == SCAN_P10;
        sign.scrollLevel = payload[6] >> 4;
        sign.scrollSpeed = payload[6] & 0x0F;
        sign.shownSinceMs = nowMs;
        break;
    case BLINKING:
        if (length < 5) break;
        sign.blinking = payload[0] != 0;
        sign.blinkOnMs = Word(payload + 1);
        sign.blinkOffMs = Word(payload + 3);
        sign.shownSinceMs = nowMs;
        break;
    case BRIGHTNESS:
        if (length < 1) break;
        sign.brightness = payload[0] == kBrightnessAuto ? kBrightnessAuto : std::min<int>(payload[0], 15);
        break;
    case DEFAULT_MESSAGE:
        if (length < 1) break;
        sign.defaultEncoding = payload[0] == 2 ? 2 : 1;
        sign.defaultMessage = DecodeText(sign.defaultEncoding, payload + 1, length - 1);
        break;
    case MESSAGE_GBK:
    case MESSAGE_UTF16:
        sign.encoding = command[0];
        sign.message = DecodeText(command[0], payload, length);
        sign.blank = false;
        sign.shownSinceMs = nowMs;
        break;
    default:
        break;
    }
}

std::string ToUtf8(const std::u32string& text)
{
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool TextLit(const SignState& sign, std::int64_t nowMs)
{
    if (sign.blank) return false;
    // Blinking needs both phases; with one of them 0 the text stays lit.
    if (!sign.blinking || sign.blinkOnMs <= 0 || sign.blinkOffMs <= 0) return true;
    const std::int64_t period = sign.blinkOnMs + sign.blinkOffMs;
    const std::int64_t phase = ((nowMs - sign.shownSinceMs) % period + period) % period;
    return phase < sign.blinkOnMs;
}

int ScrollDotsPerSecond(const SignState& sign)
{
    if (sign.timedSpeed > 0) return sign.timedSpeed;
    return (sign.scrollSpeed + 1) * 4;
}

std::string StateJson(const SignState& sign, std::int64_t nowMs)
{
    nlohmann::ordered_json j;
    j["t"] = nowMs;
    j["id"] = sign.id < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(sign.id);
    j["width"] = sign.widthDots;
    j["height"] = sign.heightDots;
    j["pitch"] = sign.pitchP10 ? "P10" : "other";
    j["scroll_level"] = sign.scrollLevel;
    j["scroll_speed"] = sign.scrollSpeed;
    j["brightness"] = sign.brightness == kBrightnessAuto ? nlohmann::ordered_json("auto")
                                                         : nlohmann::ordered_json(sign.brightness);
    j["align"] = AlignName(sign.align);
    j["blank"] = sign.blank;
    j["blinking"] = sign.blinking;
    j["blink_on_ms"] = sign.blinkOnMs;
    j["blink_off_ms"] = sign.blinkOffMs;
    j["timed_elapsed"] = sign.timedElapsed;
    j["timed_speed"] = sign.timedSpeed;
    j["default_encoding"] = sign.defaultEncoding;
    j["default_message"] = ToUtf8(sign.defaultMessage);
    j["encoding"] = sign.encoding;
    j["message"] = ToUtf8(sign.message);
    j["shown_since"] = sign.shownSinceMs;
    j["lit"] = TextLit(sign, nowMs) && !sign.message.empty();
    j["last_frame"] = sign.lastFrame;
    j["status"] = sign.lastStatus;
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string SettingsText(const SignState& sign)
{
    std::string text = std::to_string(sign.widthDots) + " x " + std::to_string(sign.heightDots) + " dots, " +
                       (sign.pitchP10 ? "P10" : "other pitch") + ", scroll " + std::to_string(sign.scrollLevel) +
                       "/" + std::to_string(sign.scrollSpeed) + ", brightness " +
                       (sign.brightness == kBrightnessAuto ? std::string("auto") : std::to_string(sign.brightness)) +
                       ", " + AlignName(sign.align);
    if (sign.blank) text += ", blank";
    if (sign.blinking)
        text += ", blinking " + std::to_string(sign.blinkOnMs) + "/" + std::to_string(sign.blinkOffMs) + " ms";
    if (sign.timedElapsed || sign.timedSpeed)
        text += ", timed scroll " + std::to_string(sign.timedElapsed) + "/" + std::to_string(sign.timedSpeed);
    if (!sign.defaultMessage.empty()) text += ", default \"" + ToUtf8(sign.defaultMessage) + "\"";
    return text;
}

}  // namespace rq::sim
