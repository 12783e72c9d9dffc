#pragma once
// A controller's line reached over the network through a serial device
// server: "rfc2217://HOST:PORT" (telnet with COM-PORT-OPTION, the server's
// line set to the rate and 8N1) or "tcp://HOST:PORT" (the bytes as they are,
// the server's own line settings apply). No authentication: keep such servers
// on the station's own network.

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
    bool Open(const std::string& name, long baud) override;
    bool IsOpen() const override;
    std::size_t Write(const std::uint8_t* data, std::size_t length, int timeoutMs) override;
    // A send returns once the bytes are the network's; nothing more to wait for.
    bool Drain(int timeoutMs) override;
    bool DiscardInput() override;
    std::size_t Read(std::uint8_t* data, std::size_t length, int timeoutMs) override;
    void Close() override;
    const std::string& LastErrorMessage() const override;
    int LastErrorCode() const override;

private:
    // Receives once, decodes, answers the server; false when the connection is gone.
    bool Pump(int timeoutMs);
    bool Negotiate(long baud, int timeoutMs);

    TcpSocket socket;
    bool telnet = false;
    TelnetCodec codec;
    std::vector<std::uint8_t> pending;  // data received, not yet read
};

}  // namespace rq::platform
