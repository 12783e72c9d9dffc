// The simulator's command line: each option read into Options.

#include "sim/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rq::sim {

const char USAGE[] =
    "Usage: rq-m4x-sim [OPTIONS]\n"
    "\n"
    "A simulated RQ-M4T LED sign controller on a pseudo-terminal, for tests, benchmarks\n"
    "and demonstrations. Prints the path of its terminal, then answers every command\n"
    "frame with a status byte: 0F good frame, F0 bad checksum, F1 unknown command, F2 bad\n"
    "length (of the frame or of the command's payload) or end byte; a half-received\n"
    "frame is judged after 100 ms of silence on the line. It runs until it is stopped\n"
    "(SIGINT, SIGTERM; Ctrl-C on Windows) or an option ends it. On Windows, which has\n"
    "no pseudo-terminal, it needs --listen.\n"
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
    "  --address on|off whether frames carry an address byte before the command code\n"
    "                   (on: as with --id, off: as for a model whose profile locks\n"
    "                   the ID). Without it each frame is read both ways and the\n"
    "                   reading whose code and payload length fit wins: a guess\n"
    "                   that a real controller never makes\n"
    "  --silent         answer nothing (record only)\n"
    "  --delay MS       answer MS milliseconds late\n"
    "  --delay ID:MS    the controller ID answers MS milliseconds late instead; may be\n"
    "                   given for several IDs; needs --ids\n"
    "  --paced [RATE]   every byte takes its time on the wire (10 bits a byte) at the\n"
    "                   rate the client set on the terminal (or with RFC 2217), always:\n"
    "                   a frame is whole only once its last byte would have arrived,\n"
    "                   the delay counts from then, and the reply's bytes go out one\n"
    "                   byte time apart. With RATE, at RATE instead. A tcp:// line has\n"
    "                   no rate of its own: 9600, or --paced RATE\n"
    "  --baud RATE      the controller reads its line at RATE only: frames sent at\n"
    "                   another rate (the one the client set on the terminal, or with\n"
    "                   RFC 2217) are recorded but unreadable, and get no answer. A\n"
    "                   tcp:// line does not carry the client's rate: there it does\n"
    "                   nothing\n"
    "  --status HEX     answer every frame with the status byte HEX\n"
    "  --reply HEX...   answer every frame with these bytes\n"
    "  --hangup-before  hang up when the first frame arrives, without answering\n"
    "  --hangup-after   hang up after answering the first frame\n"
    "  --state FILE     after every frame, append each sign's state to FILE as one\n"
    "                   JSON line (\"t\": the time in ms since 1970)\n"
    "  --snapshot DIR   after every frame, write a PNG of each sign's panel into DIR\n"
    "                   (sign-ID-N.png, or sign-N.png without --ids; N counts frames),\n"
    "                   once the reply is out; pictures that fall behind are skipped\n"
    "                   (said on standard error). A scrolling text still coming in\n"
    "                   is drawn where its start reaches the left edge\n"
    "  --listen tcp://HOST:PORT, --listen rfc2217://HOST:PORT\n"
    "                   serve the line on a TCP port (one client at a time, as a\n"
    "                   serial device server does) instead of a pseudo-terminal;\n"
    "                   rfc2217:// speaks telnet and takes the client's serial\n"
    "                   settings (RFC 2217; --paced without RATE uses its rate).\n"
    "                   HOST is an IPv4 address, PORT 0 picks a free port. Prints\n"
    "                   the line's name, SCHEME://HOST:PORT. A second client while\n"
    "                   one is connected is told the line is in use and let go\n"
    "  --short-connection\n"
    "                   with --listen: close the client's connection after each\n"
    "                   reply, as some serial device servers do; the next\n"
    "                   connection is served as usual\n"
    "  --show           open a window with one panel per sign (without a display:\n"
    "                   said on standard error, and served without the window)\n"
    "  --font FILE      the 16-dot font in Unifont's hex format (default\n"
    "                   /usr/share/unifont/unifont.hex; on Windows\n"
    "                   fonts\\unifont.hex beside the program)\n"
    "  -h, --help       print this help\n"
    "  --version        print the version\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by a signal or by --count, --hangup-before or --hangup-after\n"
    "  1  the terminal, the link, the record or state file or the snapshot folder\n"
    "     could not be set up\n"
    "  2  bad options (on Windows also: no --listen)\n"
    "\n"
    "Examples:\n"
    "A bus of 32 signs that answer after 16 ms, sign 7 with a checksum error, and\n"
    "brightness 8 for all of them:\n"
    "\n"
    "  rq-m4x-sim --ids 1-32 --fail 7:F0 --delay 16 --link /tmp/bus &\n"
    "\n"
    "  rq-m4x-send --port /tmp/bus --ids 1-32 --keep-going bright 8\n";

namespace {

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
        for (int id = first; id <= last; ++id) bus[id] = Controller{};
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

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error)
{
    const auto fail = [&](const std::string& text) {
        error = text + " (see --help)";
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // The options that take a value; the value is the next argument.
        static const char* const VALUED[][2] = {
            {"--delay", "MS or ID:MS"}, {"--count", "N"},     {"--record", "FILE"},   {"--link", "PATH"},
            {"--status", "HEX"},        {"--state", "FILE"},  {"--snapshot", "DIR"},  {"--font", "FILE"},
            {"--listen", "tcp://HOST:PORT"}, {"--ids", "LIST"}, {"--fail", "ID:HEX"}, {"--address", "on|off"},
            {"--baud", "RATE"}};
        std::string value;
        for (const auto& valued : VALUED) {
            if (arg != valued[0]) continue;
            if (i + 1 >= argc) return fail(arg + " needs a value: " + arg + " " + valued[1]);
            value = argv[++i];
        }
        const std::string given = arg + " " + value;
        long number = 0;
        if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--hangup-before") {
            options.hangupBefore = true;
        } else if (arg == "--hangup-after") {
            options.hangupAfter = true;
        } else if (arg == "--short-connection") {
            options.shortConnection = true;
        } else if (arg == "--delay") {
            // MS for every frame, or ID:MS for one controller of the bus.
            const std::size_t colon = value.find(':');
            long id = -1;
            if (colon != std::string::npos &&
                (!ParseNumber(value.substr(0, colon).c_str(), id) || id > 255))
                return fail(given + ": not an ID 0..255");
            if (!ParseNumber(value.substr(colon == std::string::npos ? 0 : colon + 1).c_str(), number) ||
                number > 600000)
                return fail(given + ": not a delay of 0..600000 ms");
            if (id < 0) options.delayMs = static_cast<int>(number);
            else options.delays[static_cast<int>(id)] = static_cast<int>(number);
        } else if (arg == "--paced") {
            options.paced = true;
            // An optional rate: the next argument when it is a number.
            if (i + 1 < argc && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]))) {
                if (!ParseNumber(argv[i + 1], number) || number == 0 || number > 100000000)
                    return fail(arg + " " + argv[i + 1] + ": not a rate of 1..100000000 baud");
                options.pacedRate = number;
                ++i;
            }
        } else if (arg == "--baud") {
            if (!ParseNumber(value.c_str(), number) || number == 0 || number > 100000000)
                return fail(given + ": not a rate of 1..100000000 baud");
            options.baud = number;
        } else if (arg == "--count") {
            if (!ParseNumber(value.c_str(), number) || number == 0) return fail(given + ": not a count above 0");
            options.count = number;
        } else if (arg == "--record") {
            options.recordPath = value;
        } else if (arg == "--link") {
            options.linkPath = value;
        } else if (arg == "--status") {
            Bytes status;
            if (!ParseHexBytes(value, status) || status.size() != 1) return fail(given + ": not one byte in hex");
            options.status = status[0];
        } else if (arg == "--state") {
            options.statePath = value;
        } else if (arg == "--snapshot") {
            options.snapshotDir = value;
        } else if (arg == "--font") {
            options.fontPath = value;
        } else if (arg == "--address") {
            if (value != "on" && value != "off") return fail(given + ": not on or off");
            options.addressing = value == "on" ? Addressing::On : Addressing::Off;
        } else if (arg == "--listen") {
            // tcp://HOST:PORT or rfc2217://HOST:PORT, HOST an IPv4 address.
            const std::size_t colon = value.rfind(':');
            options.telnet = value.rfind("rfc2217://", 0) == 0;
            const std::size_t host = options.telnet ? 10 : 6;
            if ((!options.telnet && value.rfind("tcp://", 0) != 0) || colon == std::string::npos || colon < host)
                return fail(given + ": not tcp://HOST:PORT or rfc2217://HOST:PORT");
            ListenAddress address{};
            if (!ParseIpv4(value.substr(host, colon - host), address.host))
                return fail(given + ": the host is not an IPv4 address such as 127.0.0.1");
            if (!ParseNumber(value.substr(colon + 1).c_str(), number) || number > 65535)
                return fail(given + ": not a port 0..65535");
            address.port = static_cast<std::uint16_t>(number);
            options.listen = address;
        } else if (arg == "--show") {
            options.show = true;
        } else if (arg == "--ids") {
            Bus bus;
            if (!ParseIdList(value, bus)) return fail(given + ": not a list of IDs 0..255 such as 1-32,40");
            options.bus = bus;
        } else if (arg == "--fail") {
            const std::size_t colon = value.find(':');
            Bytes status;
            if (colon == std::string::npos || !ParseNumber(value.substr(0, colon).c_str(), number) || number > 255 ||
                !ParseHexBytes(value.substr(colon + 1), status) || status.size() != 1)
                return fail(given + ": not ID:HEX such as 7:F0");
            options.failures[static_cast<int>(number)] = status[0];
        } else if (arg == "--reply") {
            // Every following argument up to the next option is part of the reply.
            Bytes reply;
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                if (!ParseHexBytes(argv[i + 1], reply)) return fail(arg + " " + argv[i + 1] + ": not bytes in hex");
                ++i;
            }
            if (reply.empty()) return fail("--reply needs a value: --reply HEX...");
            options.reply = reply;
        } else {
            return fail("unknown option " + arg);
        }
    }
    // A link points at a terminal, which a TCP line has not; nor has a raw
    // one a rate that the client set.
    if (options.listen && !options.linkPath.empty()) return fail("--link and --listen exclude each other");
    if (options.listen && !options.telnet && options.paced && options.pacedRate == 0)
        return fail("--paced needs a RATE on a tcp:// line");
    if (options.shortConnection && !options.listen) return fail("--short-connection needs --listen");
    // A controller given its own behaviour must be one of the bus.
    const auto onBus = [&](const char* option, int id) {
        if (!options.bus) return fail(std::string(option) + " " + std::to_string(id) + ":... needs --ids");
        if (options.bus->count(id) == 0)
            return fail(std::string(option) + " " + std::to_string(id) + ":...: ID " + std::to_string(id) +
                        " is not on the bus (--ids)");
        return true;
    };
    for (const auto& [id, status] : options.failures) {
        if (!onBus("--fail", id)) return false;
        (*options.bus)[id].failure = status;
    }
    for (const auto& [id, ms] : options.delays) {
        if (!onBus("--delay", id)) return false;
        (*options.bus)[id].delayMs = ms;
    }
    return true;
}

}  // namespace rq::sim
