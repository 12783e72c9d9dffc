#pragma once
// How one line of the transaction log is made: the 17-character prefix that
// aligns every message column, the byte dump, the banner and the colours.
// Plain formatting only, so the window and the worker share it and tests can
// check it without a window.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <wx/datetime.h>
#include <wx/string.h>

namespace rq::serial {

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr bool operator==(Rgb a, Rgb b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}
constexpr bool operator!=(Rgb a, Rgb b) { return !(a == b); }

// The colours of the log lines.
inline constexpr Rgb PLUM{98, 53, 98};       // command banner
inline constexpr Rgb OLIVE{128, 128, 0};     // port opened
inline constexpr Rgb GREEN{0, 128, 0};       // frame written
inline constexpr Rgb MAGENTA{190, 0, 190};   // bytes sent
inline constexpr Rgb BLUE{0, 0, 255};        // reply read, success
inline constexpr Rgb ORANGE{219, 71, 0};     // bytes received
inline constexpr Rgb RED{255, 0, 0};         // failures
inline constexpr Rgb MAROON{128, 0, 0};      // port closed

// A colour travels inside a thread event's integer: red in bits 0-7, green in
// 8-15, blue in 16-23.
constexpr int EncodeColour(Rgb colour)
{
    return colour.r + colour.g * 256 + colour.b * 65536;
}

constexpr Rgb DecodeColour(int value)
{
    return Rgb{static_cast<std::uint8_t>(value & 0xFF),
               static_cast<std::uint8_t>((value >> 8) & 0xFF),
               static_cast<std::uint8_t>((value >> 16) & 0xFF)};
}

constexpr int TIME_PREFIX_WIDTH = 17;

// "hh:mm:ss.mmm" of the local time followed by five blanks.
wxString TimePrefix(const wxDateTime& time);
// The time of a time-stamped line, in milliseconds since midnight; none for a
// line with the blank prefix.
std::optional<double> PrefixTimeMs(const std::string& line);
// TIME_PREFIX_WIDTH blanks, for lines that carry no time.
wxString BlankPrefix();
// " %.2X" per byte, all on one line; the caller puts "DATA : " in front.
wxString HexDump(const std::uint8_t* bytes, std::size_t count);
// The bold line that opens each command in the log.
wxString BannerText(const wxString& title);

// What heads each run (rq-m4x-send --log) or each transaction (the window's
// log file) in a log file: "==== <date time>  port <port>  baud <baud>  <what>",
// with a "port <port>  baud <baud>" for each line a run goes over.
struct LoggedLine {
    std::string port;
    int baud;
};
std::string LogHeader(const std::string& localTime, const std::vector<LoggedLine>& lines, const std::string& what);
// The local date and time of such a header: "2026-12-08 22:20:20".
std::string LogHeaderTime(const wxDateTime& time);

// Identifiers of the worker's thread events.
enum WorkerEventId {
    LogLine = 1,          // integer: colour; text: prefix + message
    ReplyReceived = 2,    // integer: bytes received; text: the blank prefix
    WorkerFinished = -1,  // last event of every transaction; integer: a WorkerEnd
};

// How a transaction ended, in WorkerFinished's integer, for a caller that must
// tell a lost line from a silent controller (the window needs only the log).
enum WorkerEnd {
    EndedNormally = 0,  // opened or not, answered or not: the log lines say
    LineLost = 1,       // the line went away mid-transaction (an adapter pulled out)
};

}  // namespace rq::serial
