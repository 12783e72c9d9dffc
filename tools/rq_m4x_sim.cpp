// rq-m4x-sim: a simulated LED sign controller on a pseudo-terminal.
//
// Prints the terminal's path on stdout, then answers every command frame that
// arrives with one status byte, as a controller does. The frame checks are
// written here on their own, not borrowed from the program, so that a fault in
// the program's frame encoder shows up as a wrong status instead of being
// mirrored. Options make it misbehave for tests: stay silent, answer late,
// answer other bytes, or hang up. With --ids it is a bus of controllers, each
// answering to its own ID, as the signs of one RS-485 line do. With --paced
// bytes take their time on the wire both ways, as on a real line: a
// pseudo-terminal passes them at once. Each sign keeps what its commands set
// (tools/sim/sign.*): --state, --snapshot and --show let one see it.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/board.h"
#include "sim/line.h"
#include "sim/panel.h"
#include "sim/sign.h"
#include "sim/telnet_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using rq::sim::Handle;
using rq::sim::kNoHandle;

constexpr std::uint8_t START_BYTE = 0xA1;
constexpr std::uint8_t END_BYTE = 0x51;
constexpr std::uint8_t STATUS_SUCCESS = 0x0F;
constexpr std::uint8_t STATUS_CHECKSUM = 0xF0;
constexpr std::uint8_t STATUS_UNKNOWN_CODE = 0xF1;
constexpr std::uint8_t STATUS_LENGTH = 0xF2;
constexpr int MIN_FRAME = 6;
// Silence on the line this long ends a frame that is shorter than announced.
constexpr int FRAME_GAP_MS = 100;
// How long a reply may wait to be read before a hang-up cuts it off.
constexpr int DRAIN_LIMIT_MS = 1000;
// A byte on an 8N1 line: start bit, eight data bits, stop bit.
constexpr long BITS_PER_BYTE = 10;

constexpr std::uint8_t KNOWN_CODES[] = {0x21, 0x65, 0x6A, 0x63, 0x99, 0x9A, 0x41, 0x60, 0x43, 0x20, 0x01, 0x02};
constexpr std::uint8_t CODE_CHANGE_ID = 0x21;

// The payload length of each command with a fixed one; -1: a text of any length.
struct Payload {
    std::uint8_t code;
    int length;
};
constexpr Payload PAYLOADS[] = {{0x21, 1}, {0x65, 4}, {0x6A, 1}, {0x63, 0}, {0x99, 0}, {0x9A, 0},
                                {0x41, 7}, {0x60, 5}, {0x43, 1}, {0x20, -1}, {0x01, -1}, {0x02, -1}};

// The controllers of a bus: ID -> the status it answers with instead of its
// judgement (--fail), if any.
using Bus = std::map<int, std::optional<std::uint8_t>>;

struct ListenAddress {
    std::uint8_t host[4];
    std::uint16_t port;
};

struct Options {
    bool silent = false;
    int delayMs = 0;
    std::optional<Bytes> reply;
    std::optional<std::uint8_t> status;
    bool hangupBefore = false;
    bool hangupAfter = false;
    std::string recordPath;
    std::string linkPath;
    long count = 0;  // 0: no limit
    std::optional<Bus> bus;  // --ids: a bus of controllers
    std::map<int, std::uint8_t> failures;  // --fail ID:HEX
    bool paced = false;  // --paced: bytes take their time on the wire
    long pacedRate = 0;  // --paced RATE; 0: the rate set on the terminal
    std::string statePath;  // --state FILE
    std::string snapshotDir;  // --snapshot DIR
    bool show = false;  // --show
    std::string fontPath = rq::sim::DefaultFontPath();  // --font FILE
    std::optional<ListenAddress> listen;  // --listen tcp://HOST:PORT or rfc2217://HOST:PORT
    bool telnet = false;  // --listen rfc2217://: the line speaks telnet
};

const char USAGE[] =
    "Usage: rq-m4x-sim [OPTIONS]\n"
    "\n"
    "A simulated RQ-M4T LED sign controller on a pseudo-terminal, for tests, benchmarks\n"
    "and demonstrations. Prints the path of its terminal, then answers every command\n"
    "frame with a status byte: 0F good frame, F0 bad checksum, F1 unknown command, F2 bad\n"
    "length or end byte. It runs until it is stopped (SIGINT, SIGTERM; Ctrl-C on Windows)\n"
    "or an option ends it. On Windows, which has no pseudo-terminal, it needs --listen.\n"
    "\n"
    "Options:\n"
    "  --link PATH      also make PATH a symbolic link to the terminal (removed on exit)\n"
    "  --record FILE    append every frame received to FILE, one hex line per frame\n"
    "  --count N        end after answering N frames\n"
    "  --ids LIST       act as a bus of controllers with the IDs of LIST (0..255 and\n"
    "                   ranges, e.g. 1-32,40): a frame addressed to one of them is\n"
    "                   answered, a frame addressed to another ID gets no answer, as from\n"
    "                   an absent sign, and a frame without an address is answered once.\n"
    "                   \"Change ID\" moves a controller to its new ID\n"
    "  --fail ID:HEX    the controller ID answers with the status byte HEX (F0, F1, ...);\n"
    "                   may be given for several IDs; needs --ids\n"
    "  --silent         answer nothing (record only)\n"
    "  --delay MS       answer MS milliseconds late\n"
    "  --paced [RATE]   take each byte's time on the wire (10 bits a byte) at the rate\n"
    "                   the client set on the terminal (or with RFC 2217), or at RATE:\n"
    "                   a frame is whole only once its last byte would have arrived,\n"
    "                   the delay counts from then, and the reply's bytes go out one\n"
    "                   byte time apart. A tcp:// line has no rate of its own: give RATE\n"
    "  --status HEX     answer every frame with the status byte HEX\n"
    "  --reply HEX...   answer every frame with these bytes\n"
    "  --hangup-before  hang up when the first frame arrives, without answering\n"
    "  --hangup-after   hang up after answering the first frame\n"
    "  --state FILE     after every frame, append each sign's state to FILE as one\n"
    "                   JSON line (\"t\": the time in ms since 1970)\n"
    "  --snapshot DIR   after every frame, write a PNG of each sign's panel into DIR\n"
    "                   (sign-ID-N.png, or sign-N.png without --ids; N counts frames)\n"
    "  --listen tcp://HOST:PORT, --listen rfc2217://HOST:PORT\n"
    "                   serve the line on a TCP port (one client at a time, as a\n"
    "                   serial device server does) instead of a pseudo-terminal;\n"
    "                   rfc2217:// speaks telnet and takes the client's serial\n"
    "                   settings (RFC 2217; --paced without RATE uses its rate).\n"
    "                   HOST is an IPv4 address, PORT 0 picks a free port. Prints\n"
    "                   the line's name, SCHEME://HOST:PORT\n"
    "  --show           open a window with one panel per sign\n"
    "  --font FILE      the 16-dot font in Unifont's hex format (default\n"
    "                   /usr/share/unifont/unifont.hex; on Windows\n"
    "                   fonts\\unifont.hex beside the program)\n"
    "  -h, --help       print this help\n"
    "  --version        print the version\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by a signal or by --count, --hangup-before or --hangup-after\n"
    "  1  the terminal, the link or the record file could not be set up\n"
    "  2  bad options (on Windows also: no --listen)\n"
    "\n"
    "Examples:\n"
    "A bus of 32 signs that answer after 16 ms, sign 7 with a checksum error, and\n"
    "brightness 8 for all of them:\n"
    "\n"
    "  rq-m4x-sim --ids 1-32 --fail 7:F0 --delay 16 --link /tmp/bus &\n"
    "\n"
    "  rq-m4x-send --port /tmp/bus --ids 1-32 --keep-going bright 8\n";

void Usage()
{
    std::fputs(USAGE, stderr);
}

// "1-32,40": IDs 0..255 and ranges.
bool ParseIdList(const std::string& text, Bus& bus)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = item.find('-');
        const std::string firstText = item.substr(0, dash);
        const std::string lastText = dash == std::string::npos ? firstText : item.substr(dash + 1);
        const auto digits = [](const std::string& t) {
            return !t.empty() && t.size() <= 3 &&
                   std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
        };
        if (!digits(firstText) || !digits(lastText)) return false;
        const int first = std::stoi(firstText);
        const int last = std::stoi(lastText);
        if (last > 255 || first > last) return false;
        for (int id = first; id <= last; ++id) bus[id] = std::nullopt;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool ParseHexBytes(const std::string& text, Bytes& out)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool ParseNumber(const char* text, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

// Four numbers 0..255 with dots between them, as inet_pton reads them.
bool ParseIpv4(const std::string& text, std::uint8_t host[4])
{
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.', start) : text.size();
        if (dot == std::string::npos) return false;
        const std::string digits = text.substr(start, dot - start);
        if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0') ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        const int value = std::stoi(digits);
        if (value > 255) return false;
        host[part] = static_cast<std::uint8_t>(value);
        start = dot + 1;
    }
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long number = 0;
        if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--hangup-before") {
            options.hangupBefore = true;
        } else if (arg == "--hangup-after") {
            options.hangupAfter = true;
        } else if (arg == "--delay" && hasValue && ParseNumber(argv[i + 1], number) && number <= 600000) {
            options.delayMs = static_cast<int>(number);
            ++i;
        } else if (arg == "--paced") {
            options.paced = true;
            // An optional rate: the next argument when it is a number.
            if (hasValue && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]))) {
                if (!ParseNumber(argv[i + 1], number) || number == 0 || number > 100000000) return false;
                options.pacedRate = number;
                ++i;
            }
        } else if (arg == "--count" && hasValue && ParseNumber(argv[i + 1], number) && number > 0) {
            options.count = number;
            ++i;
        } else if (arg == "--record" && hasValue) {
            options.recordPath = argv[++i];
        } else if (arg == "--link" && hasValue) {
            options.linkPath = argv[++i];
        } else if (arg == "--status" && hasValue) {
            Bytes status;
            if (!ParseHexBytes(argv[i + 1], status) || status.size() != 1) return false;
            options.status = status[0];
            ++i;
        } else if (arg == "--state" && hasValue) {
            options.statePath = argv[++i];
        } else if (arg == "--snapshot" && hasValue) {
            options.snapshotDir = argv[++i];
        } else if (arg == "--font" && hasValue) {
            options.fontPath = argv[++i];
        } else if (arg == "--listen" && hasValue) {
            // tcp://HOST:PORT or rfc2217://HOST:PORT, HOST an IPv4 address.
            const std::string url = argv[++i];
            const std::size_t colon = url.rfind(':');
            options.telnet = url.rfind("rfc2217://", 0) == 0;
            const std::size_t host = options.telnet ? 10 : 6;
            if ((!options.telnet && url.rfind("tcp://", 0) != 0) || colon == std::string::npos || colon < host)
                return false;
            ListenAddress address{};
            if (!ParseIpv4(url.substr(host, colon - host), address.host) ||
                !ParseNumber(url.substr(colon + 1).c_str(), number) || number > 65535)
                return false;
            address.port = static_cast<std::uint16_t>(number);
            options.listen = address;
        } else if (arg == "--show") {
            options.show = true;
        } else if (arg == "--ids" && hasValue) {
            Bus bus;
            if (!ParseIdList(argv[++i], bus)) return false;
            options.bus = bus;
        } else if (arg == "--fail" && hasValue) {
            const std::string value = argv[++i];
            const std::size_t colon = value.find(':');
            Bytes status;
            if (colon == std::string::npos || !ParseNumber(value.substr(0, colon).c_str(), number) || number > 255 ||
                !ParseHexBytes(value.substr(colon + 1), status) || status.size() != 1)
                return false;
            options.failures[static_cast<int>(number)] = status[0];
        } else if (arg == "--reply") {
            // Every following argument up to the next option is part of the reply.
            Bytes reply;
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                if (!ParseHexBytes(argv[i + 1], reply)) return false;
                ++i;
            }
            if (reply.empty()) return false;
            options.reply = reply;
        } else {
            return false;
        }
    }
    // A link points at a terminal, which a TCP line has not; nor has a raw
    // one a rate that the client set.
    if (options.listen && !options.linkPath.empty()) return false;
    if (options.listen && !options.telnet && options.paced && options.pacedRate == 0) {
        std::fputs("rq-m4x-sim: --paced needs a RATE on a tcp:// line\n", stderr);
        return false;
    }
    // A failing controller must be one of the bus.
    if (!options.failures.empty() && !options.bus) return false;
    for (const auto& [id, status] : options.failures) {
        if (options.bus->count(id) == 0) return false;
        (*options.bus)[id] = status;
    }
    return true;
}

bool IsKnownCode(std::uint8_t code)
{
    return std::find(std::begin(KNOWN_CODES), std::end(KNOWN_CODES), code) != std::end(KNOWN_CODES);
}

// The status a controller gives a complete frame (or what arrived of one
// before the line fell silent).
std::uint8_t Judge(const Bytes& frame)
{
    const std::size_t size = frame.size();
    if (size < MIN_FRAME || frame[0] != START_BYTE) return STATUS_LENGTH;
    const std::uint8_t length = frame[1];
    if (length < MIN_FRAME || size != length) return STATUS_LENGTH;
    if (static_cast<std::uint8_t>(~length) != frame[2]) return STATUS_LENGTH;
    if (frame[size - 1] != END_BYTE) return STATUS_LENGTH;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 2 < size; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
    if (sum != frame[size - 2]) return STATUS_CHECKSUM;
    // The command code follows the address when the frame carries one. The
    // checksum sits right after the shortest frame's code, so it is not a code.
    if (IsKnownCode(frame[3])) return STATUS_SUCCESS;
    if (size > MIN_FRAME && IsKnownCode(frame[4])) return STATUS_SUCCESS;
    return STATUS_UNKNOWN_CODE;
}

bool PayloadFits(std::uint8_t code, std::size_t length)
{
    for (const Payload& payload : PAYLOADS) {
        if (payload.code == code) return payload.length < 0 || static_cast<std::size_t>(payload.length) == length;
    }
    return false;
}

// The address of a frame that passed Judge, if it carries one. The envelope
// does not say whether an address is there, so the frame is read both ways
// and the reading whose command code and payload length agree wins. When
// both agree, a command whose payload has a fixed length beats a text of any
// length ("Bright Set" with level 1 also reads as an empty message to ID
// 0x43); otherwise the frame is taken as addressed, as a bus controller would.
std::optional<std::uint8_t> AddressOf(const Bytes& frame)
{
    const std::size_t size = frame.size();
    if (size <= MIN_FRAME || !PayloadFits(frame[4], size - MIN_FRAME - 1)) return std::nullopt;
    const auto fixed = [](std::uint8_t code) {
        for (const Payload& payload : PAYLOADS)
            if (payload.code == code) return payload.length >= 0;
        return false;
    };
    if (PayloadFits(frame[3], size - MIN_FRAME) && fixed(frame[3]) && !fixed(frame[4])) return std::nullopt;
    return frame[3];
}

std::string HexLine(const Bytes& frame)
{
    std::string line;
    char text[4];
    for (std::size_t i = 0; i < frame.size(); ++i) {
        std::snprintf(text, sizeof text, "%.2X", frame[i]);
        if (i) line += ' ';
        line += text;
    }
    return line;
}

std::int64_t WallMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class Simulator {
public:
    Simulator(const Options& options, rq::sim::Board& board, const rq::sim::BitmapFont& font)
        : options(options), bus(options.bus), board(board), font(font)
    {
    }
    ~Simulator() { Shutdown(); }

    bool Start();
    int Run();

private:
    struct PendingReply {
        Clock::time_point due;
        Bytes bytes;
        bool last;  // hang up or stop once this reply has gone out
        Clock::duration byteTime;  // zero: all at once
        std::size_t sent = 0;
        Clock::time_point next{};  // when byte `sent` goes out, once the first has
    };
    // A received byte still on the wire: it began once the line was free for
    // it and reaches the sign when its last bit has.
    struct OnTheWire {
        std::uint8_t byte;
        Clock::time_point begins;
        Clock::time_point arrives;
    };

    bool Record(const Bytes& frame);
    bool OpenListener();
    bool OpenTerminal();
    bool Prepare();
    bool DropClient();
    // The signs take a frame as the bus answered it (`status`: the first
    // reply byte, -1 for none) and show what it set.
    void TakeIntoSigns(const Bytes& frame, int status);
    void Observe();
    // The status the bus answers a frame with; none when no controller answers.
    std::optional<std::uint8_t> BusAnswer(const Bytes& frame);
    // Each returns false when the simulator is to stop.
    bool HandleFrame(const Bytes& frame, Clock::time_point complete);
    bool HandleFrames(bool gapElapsed);
    bool Deliver();
    bool SendDueReplies();
    void Receive(const std::uint8_t* bytes, std::size_t count);
    Clock::duration ByteTime() const;
    Clock::time_point NextReplyByte() const;
    void WriteReply(const std::uint8_t* bytes, std::size_t count);
    void WriteToClient(const std::uint8_t* bytes, std::size_t count);
    void ReceiveFromClient(const std::uint8_t* bytes, std::size_t count);
    void WaitUntilReplyRead();
    void Shutdown();
    int TimeoutMs() const;
    std::optional<Bytes> TakeFrame(bool gapElapsed);

    const Options& options;
    Handle master = kNoHandle;  // the pseudo-terminal, or the TCP client while one is connected
    Handle listener = kNoHandle;
    rq::sim::Terminal terminal;
    std::string slavePath;
    bool linkMade = false;
    FILE* record = nullptr;
    std::deque<OnTheWire> arriving;
    Clock::time_point lineFree{};  // when the last received byte arrives
    Bytes input;
    Clock::time_point lastByte{};
    std::deque<PendingReply> pending;
    Clock::time_point replyLineFree{};  // when the last reply byte went out
    long frames = 0;
    std::optional<Bus> bus;
    rq::sim::Board& board;
    const rq::sim::BitmapFont& font;
    FILE* stateFile = nullptr;
    rq::sim::TelnetServer telnet;  // the client's telnet state, with rfc2217://
};

bool Simulator::OpenListener()
{
    listener = rq::sim::OpenListener(options.listen->host, options.listen->port, slavePath);
    // The line's name says how to reach it: tcp://, or rfc2217:// for telnet.
    if (listener != kNoHandle && options.telnet) slavePath = "rfc2217://" + slavePath.substr(6);
    return listener != kNoHandle;
}

bool Simulator::Start()
{
    if (options.listen) {
        if (!OpenListener()) return false;
    } else if (!OpenTerminal()) {
        return false;
    }
    return Prepare();
}

bool Simulator::OpenTerminal()
{
    if (!rq::sim::OpenTerminal(terminal)) return false;
    master = terminal.master;
    slavePath = terminal.path;
    return true;
}

bool Simulator::Prepare()
{
    if (!options.snapshotDir.empty() && !rq::sim::MakeDirectory(options.snapshotDir)) return false;
    if (!options.recordPath.empty()) {
        record = std::fopen(options.recordPath.c_str(), "a");
        if (!record) {
            std::perror(("rq-m4x-sim: " + options.recordPath).c_str());
            return false;
        }
    }
    if (!options.statePath.empty()) {
        stateFile = std::fopen(options.statePath.c_str(), "a");
        if (!stateFile) {
            std::perror(("rq-m4x-sim: " + options.statePath).c_str());
            return false;
        }
    }
    {
        const std::int64_t now = WallMs();
        std::lock_guard lock(board.mutex);
        if (bus) {
            for (const auto& entry : *bus) board.signs[entry.first] = rq::sim::FactorySign(entry.first, now);
        } else {
            board.signs[-1] = rq::sim::FactorySign(-1, now);
        }
    }
    if (!options.linkPath.empty()) {
        if (!rq::sim::MakeLink(options.linkPath, slavePath)) return false;
        linkMade = true;
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);
    return true;
}

void Simulator::Shutdown()
{
    if (linkMade) {
        rq::sim::RemoveLink(options.linkPath, slavePath);
        linkMade = false;
    }
    if (record) {
        std::fclose(record);
        record = nullptr;
    }
    if (stateFile) {
        std::fclose(stateFile);
        stateFile = nullptr;
    }
    if (listener != kNoHandle) {
        rq::sim::CloseLine(master);
        rq::sim::CloseLine(listener);
    } else {
        rq::sim::CloseTerminal(terminal);
    }
    master = listener = kNoHandle;
}

bool Simulator::Record(const Bytes& frame)
{
    if (!record) return true;
    std::fprintf(record, "%s\n", HexLine(frame).c_str());
    return std::fflush(record) == 0;
}

int Simulator::TimeoutMs() const
{
    auto until = Clock::time_point::max();
    if (!input.empty()) until = lastByte + std::chrono::milliseconds(FRAME_GAP_MS);
    if (!arriving.empty()) until = std::min(until, arriving.front().arrives);
    if (!pending.empty()) until = std::min(until, NextReplyByte());
    if (until == Clock::time_point::max()) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

// Cuts the next frame off the input: a whole frame as its length byte
// announces, or whatever arrived once the line has been silent for a gap.
std::optional<Bytes> Simulator::TakeFrame(bool gapElapsed)
{
    if (input.empty()) return std::nullopt;
    std::size_t take = 0;
    if (input[0] == START_BYTE && input.size() >= 2 && input[1] >= MIN_FRAME && input.size() >= input[1])
        take = input[1];
    else if (gapElapsed)
        take = input.size();
    if (take == 0) return std::nullopt;
    Bytes frame(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(take));
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(take));
    return frame;
}

Clock::duration Simulator::ByteTime() const
{
    if (!options.paced) return Clock::duration::zero();
    long rate = options.pacedRate;
    if (!rate) rate = options.telnet ? static_cast<long>(telnet.Baud()) : rq::sim::TerminalRate(terminal);
    if (rate <= 0) return Clock::duration::zero();  // hung up (B0) or unknown: a kind line
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(BITS_PER_BYTE * 1000000000LL / rate));
}

// Puts bytes read from the client on the wire: each takes its time after the
// one before it, or after its arrival when the line was idle.
void Simulator::Receive(const std::uint8_t* bytes, std::size_t count)
{
    const auto now = Clock::now();
    const Clock::duration byteTime = ByteTime();
    for (std::size_t i = 0; i < count; ++i) {
        const auto begins = std::max(now, lineFree);
        lineFree = begins + byteTime;
        arriving.push_back({bytes[i], begins, lineFree});
    }
}

// Bytes from the client: on a telnet line its commands are answered, and
// only the data goes on the wire.
void Simulator::ReceiveFromClient(const std::uint8_t* bytes, std::size_t count)
{
    if (!options.telnet) {
        Receive(bytes, count);
        return;
    }
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> answers;
    telnet.Receive(bytes, count, data, answers);
    if (!answers.empty()) WriteToClient(answers.data(), answers.size());
    if (!data.empty()) Receive(data.data(), data.size());
}

// Hands the sign the bytes whose time on the wire is over, frame by frame. A
// frame is whole at its last byte's arrival. Silence is measured on the wire,
// not between reads: at a low rate a frame read at once spreads over more
// than the gap, and one written in two parts may still be without a pause.
bool Simulator::Deliver()
{
    const auto gap = std::chrono::milliseconds(FRAME_GAP_MS);
    const auto now = Clock::now();
    while (!arriving.empty() && arriving.front().arrives <= now) {
        const OnTheWire next = arriving.front();
        if (!input.empty() && next.begins - lastByte >= gap && !HandleFrames(true)) return false;
        arriving.pop_front();
        input.push_back(next.byte);
        lastByte = next.arrives;
        if (!HandleFrames(false)) return false;
    }
    const bool silent = now - lastByte >= gap && (arriving.empty() || arriving.front().begins - lastByte >= gap);
    return input.empty() || !silent || HandleFrames(true);
}

bool Simulator::HandleFrames(bool gapElapsed)
{
    // A frame cut off by silence is judged once the gap has passed.
    const auto complete = gapElapsed ? lastByte + std::chrono::milliseconds(FRAME_GAP_MS) : lastByte;
    while (auto frame = TakeFrame(gapElapsed)) {
        if (!HandleFrame(*frame, complete)) return false;
        if (!SendDueReplies()) return false;
    }
    return true;
}

bool Simulator::HandleFrame(const Bytes& frame, Clock::time_point complete)
{
    ++frames;
    if (!Record(frame)) std::perror("rq-m4x-sim: record");
    if (options.hangupBefore) return false;

    const bool last = options.hangupAfter || (options.count > 0 && frames >= options.count);
    if (options.silent) {
        TakeIntoSigns(frame, -1);
        return !last;
    }

    std::uint8_t status = Judge(frame);
    if (bus) {
        const std::optional<std::uint8_t> answer = BusAnswer(frame);
        if (!answer) {
            TakeIntoSigns(frame, -1);
            return !last;
        }
        status = *answer;
    }
    Bytes reply;
    if (options.reply) reply = *options.reply;
    else reply.push_back(options.status ? *options.status : status);
    TakeIntoSigns(frame, reply[0]);
    pending.push_back({complete + std::chrono::milliseconds(options.delayMs), reply, last, ByteTime()});
    return true;
}

std::optional<std::uint8_t> Simulator::BusAnswer(const Bytes& frame)
{
    const std::uint8_t status = Judge(frame);
    // No controller can trust the address byte of a frame that fails the
    // checks; the bus answers it as one controller would.
    if (status != STATUS_SUCCESS) return status;
    const std::optional<std::uint8_t> address = AddressOf(frame);
    // Every controller takes a frame without an address; one answers it.
    if (!address) return status;
    const auto controller = bus->find(*address);
    if (controller == bus->end()) return std::nullopt;  // an absent sign
    if (controller->second) return *controller->second;
    if (frame[4] == CODE_CHANGE_ID) {
        // The controller answers to its new ID from now on.
        const int newId = frame[5];
        bus->erase(controller);
        (*bus)[newId] = std::nullopt;
    }
    return status;
}

void Simulator::TakeIntoSigns(const Bytes& frame, int status)
{
    const std::int64_t now = WallMs();
    const bool good = Judge(frame) == STATUS_SUCCESS;
    const std::optional<std::uint8_t> address = good ? AddressOf(frame) : std::nullopt;
    const int addressed = address ? *address : -1;
    {
        std::lock_guard lock(board.mutex);
        // The signs the frame is for: the lone sign takes every frame; on a
        // bus the addressed one, or all of them when there is no address.
        std::vector<int> takers;
        if (!bus) {
            takers.push_back(-1);
        } else if (good) {
            if (addressed < 0) {
                for (const auto& entry : board.signs) takers.push_back(entry.first);
            } else if (board.signs.count(addressed)) {
                takers.push_back(addressed);
            }
        }
        for (const int id : takers) {
            rq::sim::SignState& sign = board.signs[id];
            sign.lastFrame = HexLine(frame);
            sign.lastStatus = status;
            // Only a frame the sign judged good changes it.
            if (status != STATUS_SUCCESS || !good) continue;
            const std::size_t code = address ? 4 : 3;
            ApplyCommand(sign, frame.data() + code, frame.size() - 2 - code, now);
            // Without an address the bus does not move its signs (see BusAnswer).
            if (bus && !address) sign.id = id;
            if (bus && sign.id != id) {
                // "Change ID" moved it: the state goes with it.
                rq::sim::SignState moved = sign;
                board.signs.erase(id);
                board.signs[moved.id] = moved;
            }
        }
    }
    ++board.changes;
    Observe();
}

// The state lines and snapshots of every sign after a frame.
void Simulator::Observe()
{
    if (!stateFile && options.snapshotDir.empty()) return;
    const std::int64_t now = WallMs();
    std::lock_guard lock(board.mutex);
    for (const auto& [id, sign] : board.signs) {
        if (stateFile) std::fprintf(stateFile, "%s\n", rq::sim::StateJson(sign, now).c_str());
        if (!options.snapshotDir.empty()) {
            const std::string name = options.snapshotDir + "/sign-" + (id < 0 ? "" : std::to_string(id) + "-") +
                                     std::to_string(frames) + ".png";
            if (!rq::sim::WritePng(rq::sim::DrawPanel(sign, font, now), name))
                std::fprintf(stderr, "rq-m4x-sim: cannot write %s\n", name.c_str());
        }
    }
    if (stateFile) std::fflush(stateFile);
}

// When the next reply byte goes out: a reply's first byte one byte time
// after it is due and the line is free, each other one byte time after the
// one before.
Clock::time_point Simulator::NextReplyByte() const
{
    const PendingReply& reply = pending.front();
    if (reply.sent > 0) return reply.next;
    return std::max(reply.due, replyLineFree) + reply.byteTime;
}

void Simulator::WriteReply(const std::uint8_t* bytes, std::size_t count)
{
    if (options.telnet) {
        const std::vector<std::uint8_t> escaped = rq::sim::TelnetServer::Escape(bytes, count);
        WriteToClient(escaped.data(), escaped.size());
    } else {
        WriteToClient(bytes, count);
    }
}

void Simulator::WriteToClient(const std::uint8_t* bytes, std::size_t count)
{
    if (master == kNoHandle) return;  // the TCP client has gone
    rq::sim::WriteLine(master, bytes, count);
}

// Writes the reply bytes whose time has come; returns false after the last
// reply.
bool Simulator::SendDueReplies()
{
    while (!pending.empty()) {
        const auto now = Clock::now();
        const auto at = NextReplyByte();
        if (at > now) return true;
        PendingReply& reply = pending.front();
        std::size_t count = reply.bytes.size() - reply.sent;
        // Paced, the bytes whose time has come (a late wake-up may owe several).
        if (reply.byteTime > Clock::duration::zero())
            count = std::min<std::size_t>(count, static_cast<std::size_t>(1 + (now - at) / reply.byteTime));
        WriteReply(reply.bytes.data() + reply.sent, count);
        reply.sent += count;
        replyLineFree = at + reply.byteTime * static_cast<long>(count - 1);
        reply.next = replyLineFree + reply.byteTime;
        if (reply.sent < reply.bytes.size()) continue;
        const bool last = reply.last;
        pending.pop_front();
        if (last) {
            WaitUntilReplyRead();
            return false;
        }
    }
    return true;
}

// Closing the master hangs the terminal up and discards what the client has
// not read yet, so a reply followed by a hang-up waits (bounded) for the
// client to take it.
void Simulator::WaitUntilReplyRead()
{
    // A socket sends what was written before it closes.
    if (listener != kNoHandle) return;
    rq::sim::WaitUntilTerminalRead(terminal, DRAIN_LIMIT_MS);
}

// A TCP client that went away: the line waits for the next one. False on a
// pseudo-terminal.
bool Simulator::DropClient()
{
    if (listener == kNoHandle) return false;
    rq::sim::CloseLine(master);
    master = kNoHandle;
    return true;
}

int Simulator::Run()
{
    using rq::sim::Ready;
    for (;;) {
        // A TCP line waits for its client; one at a time, as a device server serves.
        const bool waiting = listener != kNoHandle && master == kNoHandle;
        const Ready ready = rq::sim::WaitForLine(waiting ? listener : master, TimeoutMs());
        if (ready == Ready::Failed) return 1;
        if (ready == Ready::Stop) return 0;
        if (waiting) {
            if (ready == Ready::Input) master = rq::sim::AcceptClient(listener);
            if (master != kNoHandle && options.telnet) {
                // A telnet server speaks first, as the client expects.
                telnet = rq::sim::TelnetServer();
                const std::vector<std::uint8_t> greeting = telnet.Greeting();
                WriteToClient(greeting.data(), greeting.size());
            }
            if (!Deliver()) return 0;
            if (!SendDueReplies()) return 0;
            continue;
        }

        if (ready == Ready::Input) {
            std::uint8_t buffer[512];
            const long n = rq::sim::ReadLine(master, buffer, sizeof buffer);
            if (n > 0) {
                ReceiveFromClient(buffer, static_cast<std::size_t>(n));
            } else if (n < 0) {
                if (DropClient()) continue;
                if (rq::sim::StopRequested(10)) return 0;
            }
        } else if (ready == Ready::Hangup) {
            if (DropClient()) continue;
            // Not expected while the slave is held open; never spin on it.
            if (rq::sim::StopRequested(10)) return 0;
        }

        if (!Deliver()) return 0;
        if (!SendDueReplies()) return 0;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("rq-m4x-sim " RQ_VERSION "\n", stdout);
            return 0;
        }
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
    // Without a terminal only a TCP line can be served.
    if (!options.listen && !rq::sim::HasPseudoTerminal()) {
        std::fputs("rq-m4x-sim: Windows has no pseudo-terminal: give --listen tcp://HOST:PORT or\n"
                   "rfc2217://HOST:PORT, e.g.\n"
                   "  rq-m4x-sim --listen tcp://127.0.0.1:0\n",
                   stderr);
        return 2;
    }
    if (!rq::sim::InstallStopWaker()) return 1;

    rq::sim::BitmapFont font;
    const bool drawing = options.show || !options.snapshotDir.empty();
    if (drawing && !font.Load(options.fontPath))
        std::fprintf(stderr, "rq-m4x-sim: cannot read the font %s: characters are drawn as boxes\n",
                     options.fontPath.c_str());
    rq::sim::Board board;
    Simulator simulator(options, board, font);
    if (!simulator.Start()) return 1;
    // The toolkit aborts without a display: serve on without the window.
    const bool display = rq::sim::DisplayAvailable();
    if (options.show && !display)
        std::fputs("rq-m4x-sim: no display for --show; serving without the window\n", stderr);
    if (!options.show || !display) return simulator.Run();

    // The line on a thread of its own; the window on the main thread, as the
    // toolkit wants. Closing the window stops the line, and a stopped line
    // closes the window.
    int status = 0;
    std::thread line([&] {
        status = simulator.Run();
        rq::sim::CloseWindow();
    });
    const int shown = rq::sim::ShowWindow(argc, argv, board, font, rq::sim::RequestStop);
    if (shown < 0) std::fputs("rq-m4x-sim: the window did not open; serving without it\n", stderr);
    line.join();
    return shown > 0 ? shown : status;
}
