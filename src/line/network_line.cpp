#include "line/network_line.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace rq::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kTelnetScheme[] = "rfc2217://";
constexpr char kRawScheme[] = "tcp://";
constexpr int kRetryPauseMs = 5;

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

bool IsNetworkPortName(const std::string& name)
{
    return StartsWith(name, kTelnetScheme) || StartsWith(name, kRawScheme);
}

std::optional<NetworkAddress> ParseNetworkPortName(const std::string& name)
{
    NetworkAddress address;
    std::string rest;
    if (StartsWith(name, kTelnetScheme)) {
        address.telnet = true;
        rest = name.substr(std::strlen(kTelnetScheme));
    } else if (StartsWith(name, kRawScheme)) {
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(NETWORK_OPEN_TIMEOUT_MS);
    telnet = address->telnet;
    for (;;) {
        if (!socket.Connect(address->host, address->port, std::max(MsLeft(deadline), 1))) return false;
        codec = TelnetCodec();
        pending.clear();
        if (!telnet || Negotiate(baud, MsLeft(deadline))) return true;
        const std::string message = socket.LastErrorMessage();
        const int code = socket.LastErrorCode();
        // A server still closing the line after the previous connection turns
        // the next one away before the line is set: try again while the open
        // has time left.
        const bool turnedAway = socket.ClosedByPeer() && codec.AcknowledgedBaud() == 0;
        socket.Close();
        socket.SetError(code, message);
        if (!turnedAway || MsLeft(deadline) <= kRetryPauseMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
    }
}

bool NetworkLine::Negotiate(long baud, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::vector<std::uint8_t> greeting = codec.Start();
    if (socket.Send(greeting.data(), greeting.size(), MsLeft(deadline)) < greeting.size()) return false;
    bool settingsSent = false;
    while (codec.AcknowledgedBaud() == 0) {
        if (codec.PortOptionRefused()) {
            socket.SetError(EPROTONOSUPPORT, "The server does not set serial lines (RFC 2217 refused)");
            return false;
        }
        if (codec.PortOptionAgreed() && !settingsSent) {
            const std::vector<std::uint8_t> settings = TelnetCodec::LineSettings(baud);
            if (socket.Send(settings.data(), settings.size(), MsLeft(deadline)) < settings.size()) return false;
            settingsSent = true;
        }
        if (MsLeft(deadline) == 0) {
            socket.SetError(ETIMEDOUT, "The server did not answer the serial line settings");
            return false;
        }
        if (!Pump(MsLeft(deadline))) return false;
    }
    if (codec.AcknowledgedBaud() != static_cast<std::uint32_t>(baud)) {
        socket.SetError(EINVAL, "The server set " + std::to_string(codec.AcknowledgedBaud()) + " baud instead of " +
                                    std::to_string(baud));
        return false;
    }
    // Bytes the line carried before this transaction are no reply to it.
    pending.clear();
    return true;
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
    pending.clear();
    return socket.IsOpen();
}

bool NetworkLine::Pump(int timeoutMs)
{
    std::uint8_t buffer[512];
    const std::size_t n = socket.Receive(buffer, sizeof buffer, timeoutMs);
    if (n == 0) return socket.LastErrorCode() == 0;
    if (!telnet) {
        pending.insert(pending.end(), buffer, buffer + n);
        return true;
    }
    std::vector<std::uint8_t> answers;
    codec.Receive(buffer, n, pending, answers);
    if (!answers.empty() && socket.Send(answers.data(), answers.size(), 100) < answers.size()) return false;
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
        if (!Pump(static_cast<int>(left))) return 0;
    }
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
