#pragma once
// A controller's line reached over the network through a serial device
// server: "rfc2217://HOST:PORT" (telnet with COM-PORT-OPTION, the server's
// line set to the rate and 8N1) or "tcp://HOST:PORT" (the bytes as they are,
// the server's own line settings apply); the scheme in any case. No
// authentication: keep such servers on the station's own network.
//
// Only the answer to our frame may pass for it. What the server sends in the
// first moments of a connection (a late reply it still held, a refusal) is
// dropped; a server that closes the connection before our frame turns us
// away (another client holds its line), which is an open failure, as is a
// server that speaks the other scheme. A line of text followed by the close,
// however late, is the server's refusal too, never a sign's reply.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "line/serial_port.h"
#include "line/tcp_socket.h"
#include "line/telnet_codec.h"

namespace rq::platform {

// How long an open may take, connect and negotiation together.
constexpr int NETWORK_OPEN_TIMEOUT_MS = 2000;

struct NetworkAddress {
    bool telnet = false;  // rfc2217:// rather than tcp://
    std::string host;
    std::string port;
};

// True when `name` names a network line by its scheme.
bool IsNetworkPortName(const std::string& name);
// The parts of a network port name; nothing when it is not one or is malformed.
std::optional<NetworkAddress> ParseNetworkPortName(const std::string& name);

class NetworkLine final : public SerialLine {
public:
    // Connects (a connection turned away as the line is in use is tried
    // again, three times in all),
    // sets the server's line on rfc2217://, and lets the connection settle;
    // within NETWORK_OPEN_TIMEOUT_MS.
    bool Open(const std::string& name, long baud) override;
    bool IsOpen() const override;
    std::size_t Write(const std::uint8_t* data, std::size_t length, int timeoutMs) override;
    // A send returns once the bytes are the network's; nothing more to wait for.
    bool Drain(int timeoutMs) override;
    // Drops what has arrived; on rfc2217:// also has the server drop what its
    // line received (PURGE-DATA) and drops what comes before it confirms.
    bool DiscardInput() override;
    std::size_t Read(std::uint8_t* data, std::size_t length, int timeoutMs) override;
    void Close() override;
    // Only rfc2217:// sets the server's line to the rate.
    bool SetsTheLineRate() const override { return telnet; }
    bool TurnedAway() const override;
    bool ClosedByFarEnd() const override { return socket.ClosedByPeer(); }
    const std::string& LastErrorMessage() const override;
    int LastErrorCode() const override;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    // How one step of an open ended: a turned-away connection is tried again.
    enum class Step { Done, TurnedAway, Failed };

    // Receives once, decodes, answers the server; the count of bytes
    // received, or -1 when the connection is gone.
    int Pump(int timeoutMs);
    // Receives what is already there, without waiting; false when the
    // connection is gone.
    bool PumpWaiting();
    Step Greet(long baud, TimePoint deadline);
    Step Negotiate(long baud, TimePoint connected, TimePoint deadline);
    Step NotTelnet(TimePoint connected, TimePoint deadline);
    Step Settle(TimePoint connected, TimePoint deadline);
    Step Gone();
    Step Overlong();
    bool RefusedLate();
    std::string ServerText() const;

    TcpSocket socket;
    bool telnet = false;
    std::string where;  // "HOST:PORT" as given, for the reasons that name the other scheme
    TelnetCodec codec;
    std::vector<std::uint8_t> pending;  // data received, not yet read
    std::vector<std::uint8_t> opening;  // the first bytes of the connection, as they came
    bool purgeAnswered = true;          // false once the server left a purge unconfirmed
    bool unanswered = true;             // nothing read since the connection was made
};

}  // namespace rq::platform
