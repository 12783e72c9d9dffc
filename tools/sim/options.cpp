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
    "  --paced [RATE]   every byte takes its time on the wire (10 bits a byte) at the\n"
    "                   rate the client set on the terminal (or with RFC 2217), always:\n"
    "                   a frame is whole only once its last byte would have arrived,\n"
    "                   the delay counts from then, and the reply's bytes go out one\n"
    "                   byte time apart. With RATE, at RATE instead. A tcp:// line has\n"
    "                   no rate of its own: 9600, or --paced RATE\n"
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

}  // namespace

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

}  // namespace rq::sim
