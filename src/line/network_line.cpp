#include "line/network_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace rq::platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kTelnetScheme[] = "rfc2217://";
constexpr char kRawScheme[] = "tcp://";

// A server still closing its line after the previous connection turns the
// next one away for a few milliseconds; another client may hold it for
// long. Try again, a few times, backing off.
constexpr int kTries = 3;
constexpr int kRetryPauseMs[kTries - 1] = {50, 150};
// A telnet server speaks first, at once; a raw port stays silent.
constexpr int kServerFirstMs = 100;
// After connect, whatever arrives is no reply to our frame: a device server
// opens its line as the connection comes and passes on what the line held
// (ser2net within about 10 ms on the loopback). Listen this long, and while
// bytes still come, until they pause, up to the limit.
constexpr int kSettleMs = 30;
constexpr int kSettleQuietMs = 10;
constexpr int kSettleLimitMs = 200;
// A server that does not confirm a purge in this time is not waited for again.
constexpr int kPurgeAckMs = 200;
// Reads of what is already there before giving up on a server that never
// stops sending.
constexpr int kWaitingReads = 64;
constexpr std::size_t kServerTextLimit = 120;
// The most data held unread.
constexpr std::size_t kPendingLimit = 4096;
// A server's refusal closes the connection right behind its words.
constexpr int kRefusalCloseMs = 100;

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const std::size_t length = std::strlen(prefix);
    if (text.size() < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        // ASCII only: the letters of a scheme, whatever the locale.
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

bool ContainsNoCase(const std::string& text, const char* lowerPart)
{
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower.find(lowerPart) != std::string::npos;
}

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Rounded up: a wait that ends short of its time point only spins.
int MsLeftUp(Clock::time_point until)
{
    const auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

bool IsNetworkPortName(const std::string& name)
{
    return StartsWithNoCase(name, kTelnetScheme) || StartsWithNoCase(name, kRawScheme);
}

std::optional<NetworkAddress> ParseNetworkPortName(const std::string& name)
{
    NetworkAddress address;
    std::string rest;
    if (StartsWithNoCase(name, kTelnetScheme)) {
        address.telnet = true;
        rest = name.substr(std::strlen(kTelnetScheme));
    } else if (StartsWithNoCase(name, kRawScheme)) {
        rest = name.substr(std::strlen(kRawScheme));
    } else {
        return std::nullopt;
    }
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    address.host = rest.substr(0, colon);
    address.port = rest.substr(colon + 1);
    // An IPv6 address comes in brackets, as in a URL.
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
    if (address.port.empty() || address.port.size() > 5 ||
        !std::all_of(address.port.begin(), address.port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const long number = std::stol(address.port);
    if (number < 1 || number > 65535) return std::nullopt;
    return address;
}

bool NetworkLine::Open(const std::string& name, long baud)
{
    Close();
    const auto address = ParseNetworkPortName(name);
    if (!address) {
        socket.SetError(EINVAL, "Not a network port name: expected rfc2217://HOST:PORT or tcp://HOST:PORT");
        return false;
    }
    if (address->telnet && baud <= 0) {
        socket.SetError(EINVAL, "Invalid baud rate");
        return false;
    }
    const auto deadline = Clock::now() + milliseconds(NETWORK_OPEN_TIMEOUT_MS);
    telnet = address->telnet;
    where = name.substr(name.find("://") + 3);
    for (int attempt = 1;; ++attempt) {
        if (!socket.Connect(address->host, address->port, std::max(MsLeft(deadline), 1))) return false;
        const Step step = Greet(baud, deadline);
        if (step == Step::Done) return true;
        const std::string message = socket.LastErrorMessage();
        const int code = socket.LastErrorCode();
        Close();
        socket.SetError(code, message);
        if (step == Step::Failed || attempt == kTries) return false;
        const int pause = kRetryPauseMs[attempt - 1];
        if (MsLeft(deadline) <= pause) return false;
        std::this_thread::sleep_for(milliseconds(pause));
    }
}

NetworkLine::Step NetworkLine::Greet(long baud, TimePoint deadline)
{
    const auto connected = Clock::now();
    codec = TelnetCodec();
    pending.clear();
    opening.clear();
    purgeAnswered = true;
    unanswered = true;
    if (telnet) {
        const Step step = Negotiate(baud, connected, deadline);
        if (step != Step::Done) return step;
    }
    return Settle(connected, deadline);
}

NetworkLine::Step NetworkLine::Negotiate(long baud, TimePoint connected, TimePoint deadline)
{
    // Our requests are recorded before the server's offers are read, so that
    // an offer of the same option counts as the answer to ours.
    const std::vector<std::uint8_t> greeting = codec.Start();
    // What we said to a raw port would go out on its bus: let the server
    // speak first, as a telnet server does at once.
    const auto listenEnd = std::min(connected + milliseconds(kServerFirstMs), deadline);
    while (opening.empty() && Clock::now() < listenEnd) {
        if (Pump(MsLeftUp(listenEnd)) < 0) return Gone();
    }
    // A refusal's text and the close come right behind the first bytes.
    if (!PumpWaiting()) return Gone();
    if (!opening.empty() && opening[0] != telnet::IAC) return NotTelnet(connected, deadline);
    // A server that waits for its client hears us after the pause.
    if (socket.Send(greeting.data(), greeting.size(), MsLeft(deadline)) < greeting.size()) return Gone();
    bool settingsSent = false;
    while (codec.AcknowledgedBaud() == 0) {
        if (!opening.empty() && opening[0] != telnet::IAC) return NotTelnet(connected, deadline);
        if (codec.SubnegotiationOverlong()) return Overlong();
        if (codec.PortOptionRefused()) {
            socket.SetError(EPROTONOSUPPORT, "The server does not set serial lines (RFC 2217 refused)");
            return Step::Failed;
        }
        if (codec.PortOptionAgreed() && !settingsSent) {
            const std::vector<std::uint8_t> settings = TelnetCodec::LineSettings(baud);
            if (socket.Send(settings.data(), settings.size(), MsLeft(deadline)) < settings.size()) return Gone();
            settingsSent = true;
        }
        if (MsLeft(deadline) == 0) {
            if (opening.empty()) return NotTelnet(connected, deadline);
            socket.SetError(ETIMEDOUT, "The server did not answer the serial line settings");
            return Step::Failed;
        }
        if (Pump(MsLeft(deadline)) < 0) return Gone();
    }
    if (codec.AcknowledgedBaud() != static_cast<std::uint32_t>(baud)) {
        socket.SetError(EINVAL, "The server set " + std::to_string(codec.AcknowledgedBaud()) + " baud instead of " +
                                    std::to_string(baud));
        return Step::Failed;
    }
    return Step::Done;
}

// Data, or silence, where telnet was expected: a raw port. Its refusal (text,
// then the close) says more than the scheme does, so it is awaited a moment.
NetworkLine::Step NetworkLine::NotTelnet(TimePoint connected, TimePoint deadline)
{
    const auto until = std::min(connected + milliseconds(kSettleMs), deadline);
    while (Clock::now() < until) {
        if (Pump(MsLeftUp(until)) < 0) return Gone();
    }
    socket.SetError(EPROTONOSUPPORT, "The server does not speak telnet (RFC 2217): use tcp://" + where);
    return Step::Failed;
}

NetworkLine::Step NetworkLine::Settle(TimePoint connected, TimePoint deadline)
{
    const auto limit = std::min(connected + milliseconds(kSettleLimitMs), deadline);
    auto until = std::min(connected + milliseconds(kSettleMs), limit);
    while (Clock::now() < until) {
        const int received = Pump(MsLeftUp(until));
        if (received < 0) return Gone();
        if (codec.SubnegotiationOverlong()) return Overlong();
        // A telnet server opens with a command: IAC, then WILL, WONT, DO, DONT or SB.
        if (!telnet && opening.size() >= 2 && opening[0] == telnet::IAC &&
            (opening[1] == telnet::SB || (opening[1] >= telnet::WILL && opening[1] <= telnet::DONT))) {
            socket.SetError(EPROTONOSUPPORT, "The server speaks telnet (RFC 2217): use rfc2217://" + where);
            return Step::Failed;
        }
        if (received > 0) until = std::min(std::max(until, Clock::now() + milliseconds(kSettleQuietMs)), limit);
    }
    pending.clear();
    return Step::Done;
}

// RFC 2217's subnegotiations are a few bytes: a server that sends more
// speaks no protocol of ours.
NetworkLine::Step NetworkLine::Overlong()
{
    socket.SetError(EPROTO, "The server sent a telnet subnegotiation longer than " +
                                std::to_string(telnet::SUBNEGOTIATION_LIMIT) + " bytes");
    return Step::Failed;
}

// The server closed the connection before our frame: it turns us away, in
// its own words when it gave any. Another client holding its line (or the
// server still closing it after the last connection) passes, so that is
// tried again; anything else it says (its own device missing) stays so.
NetworkLine::Step NetworkLine::Gone()
{
    if (!socket.ClosedByPeer()) return Step::Failed;
    const std::string text = ServerText();
    const bool inUse = text.empty() || ContainsNoCase(text, "in use");
    std::string reason = inUse ? "Line in use: the server turned the connection away"
                               : "The server turned the connection away";
    if (!text.empty()) reason += " (\"" + text + "\")";
    // Not EBUSY: a held local port is "in use by another program", but here
    // the server's own words say more than that.
    socket.SetError(ECONNREFUSED, reason);
    return inUse ? Step::TurnedAway : Step::Failed;
}

// The server's own words, from the data received: printable ASCII, each run
// of anything else one space.
std::string NetworkLine::ServerText() const
{
    std::string text;
    for (std::uint8_t byte : pending) {
        if (text.size() >= kServerTextLimit) break;
        if (byte > ' ' && byte < 0x7F)
            text += static_cast<char>(byte);
        else if (!text.empty() && text.back() != ' ')
            text += ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// A sign answers with one byte; a line of text that the server follows
// with its close is the server's refusal, come after the open's settle
// (a slow network, a server slow to find its device missing).
bool NetworkLine::RefusedLate()
{
    if (pending.size() < 2) return false;
    for (const std::uint8_t byte : pending) {
        if ((byte < ' ' && byte != '\r' && byte != '\n' && byte != '\t') || byte >= 0x7F) return false;
    }
    const auto until = Clock::now() + milliseconds(kRefusalCloseMs);
    while (Clock::now() < until) {
        if (Pump(MsLeftUp(until)) < 0) {
            Gone();
            return true;
        }
    }
    return false;
}

bool NetworkLine::TurnedAway() const
{
    // Only a server's words and its close give this reason after the connect.
    return socket.IsOpen() && socket.LastErrorCode() == ECONNREFUSED;
}

bool NetworkLine::IsOpen() const
{
    return socket.IsOpen();
}

std::size_t NetworkLine::Write(const std::uint8_t* data, std::size_t length, int timeoutMs)
{
    if (!telnet) return socket.Send(data, length, timeoutMs);
    const std::vector<std::uint8_t> wire = TelnetCodec::EscapeData(data, length);
    const std::size_t sent = socket.Send(wire.data(), wire.size(), timeoutMs);
    if (sent == wire.size()) return length;
    // Count only the data bytes that went whole.
    std::size_t dataBytes = 0;
    for (std::size_t i = 0; i < sent; ++i, ++dataBytes) {
        if (wire[i] == telnet::IAC) {
            if (i + 1 >= sent) break;
            ++i;
        }
    }
    return dataBytes;
}

bool NetworkLine::Drain(int /*timeoutMs*/)
{
    return socket.IsOpen();
}

bool NetworkLine::DiscardInput()
{
    bool alive = PumpWaiting();
    if (alive && telnet && purgeAnswered && codec.PortOptionAgreed()) {
        // The server may hold bytes from its line that it has not sent yet.
        const unsigned confirmed = codec.PurgesAcknowledged();
        const std::vector<std::uint8_t> purge = TelnetCodec::PurgeReceived();
        alive = socket.Send(purge.data(), purge.size(), kPurgeAckMs) == purge.size();
        // What comes before the confirmation left the server's line before the purge.
        const auto until = Clock::now() + milliseconds(kPurgeAckMs);
        while (alive && codec.PurgesAcknowledged() == confirmed) {
            if (Clock::now() >= until) {
                purgeAnswered = false;
                break;
            }
            alive = Pump(MsLeftUp(until)) >= 0;
        }
    }
    pending.clear();
    return alive;
}

int NetworkLine::Pump(int timeoutMs)
{
    std::uint8_t buffer[512];
    const std::size_t n = socket.Receive(buffer, sizeof buffer, timeoutMs);
    if (n == 0) return socket.LastErrorCode() == 0 ? 0 : -1;
    for (std::size_t i = 0; i < n && opening.size() < 2; ++i) opening.push_back(buffer[i]);
    std::vector<std::uint8_t> answers;
    // A server that opened with data is no telnet server: nothing it sends is
    // answered, or the answers would go out on its bus.
    if (telnet && opening[0] == telnet::IAC)
        codec.Receive(buffer, n, pending, answers);
    else
        pending.insert(pending.end(), buffer, buffer + n);
    // A server that sends without end while we wait (an open, a purge) must
    // not fill our memory: replies are one byte, its words a line; the
    // first bytes are kept.
    if (pending.size() > kPendingLimit) pending.resize(kPendingLimit);
    if (!answers.empty() && socket.Send(answers.data(), answers.size(), 100) < answers.size()) return -1;
    return static_cast<int>(n);
}

bool NetworkLine::PumpWaiting()
{
    for (int i = 0; i < kWaitingReads; ++i) {
        const int received = Pump(0);
        if (received < 0) return false;
        if (received == 0) break;
    }
    return true;
}

std::size_t NetworkLine::Read(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    // A packet may hold only negotiation: keep receiving until data or
    // time-out. The wait is rounded up, never down: a 1 ms read must take its
    // millisecond, or the worker's count of reads would end the reply wait
    // early (where a short sleep returns at once, as under Wine).
    while (pending.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        if (Pump(static_cast<int>(left)) < 0) return 0;
    }
    if (unanswered && RefusedLate()) return 0;
    unanswered = false;
    const std::size_t n = std::min(length, pending.size());
    std::copy(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n), data);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void NetworkLine::Close()
{
    socket.Close();
    pending.clear();
}

const std::string& NetworkLine::LastErrorMessage() const
{
    return socket.LastErrorMessage();
}

int NetworkLine::LastErrorCode() const
{
    return socket.LastErrorCode();
}

}  // namespace rq::platform
