#pragma once
// The telnet side of a network line that speaks RFC 2217: 0xFF doubled in the
// data, option negotiation, and the COM-PORT-OPTION commands that set the
// server's serial line. Pure code over byte buffers; the socket is elsewhere.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq::platform {

namespace telnet {
constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;
constexpr std::uint8_t BINARY = 0;
constexpr std::uint8_t SUPPRESS_GO_AHEAD = 3;
constexpr std::uint8_t COM_PORT_OPTION = 44;
// Client commands of COM-PORT-OPTION; the server answers each with 100 added.
constexpr std::uint8_t SET_BAUDRATE = 1;
constexpr std::uint8_t SET_DATASIZE = 2;
constexpr std::uint8_t SET_PARITY = 3;
constexpr std::uint8_t SET_STOPSIZE = 4;
constexpr std::uint8_t SET_CONTROL = 5;
constexpr std::uint8_t PURGE_DATA = 12;
constexpr std::uint8_t SERVER_OFFSET = 100;
// The longest subnegotiation kept. The COM-PORT-OPTION answers we read are
// a few bytes; what goes beyond is skipped, never stored.
constexpr std::size_t SUBNEGOTIATION_LIMIT = 64;
}  // namespace telnet

class TelnetCodec {
public:
    // What the client says first: it will speak COM-PORT-OPTION, and both
    // directions are binary, so CR and NUL pass as they are. Records the
    // requests made, so the server's answers to them are not answered again.
    std::vector<std::uint8_t> Start();

    // The data as it goes on the wire: each 0xFF doubled.
    static std::vector<std::uint8_t> EscapeData(const std::uint8_t* data, std::size_t length);

    // The commands that set `baud`, 8 data bits, no parity, 1 stop bit and no
    // flow control on the server's line.
    static std::vector<std::uint8_t> LineSettings(long baud);

    // The command that has the server drop what it received from its line
    // and has not sent us yet.
    static std::vector<std::uint8_t> PurgeReceived();

    // Takes bytes as received (they may end anywhere, even inside a command):
    // data bytes go to `data`, answers the server must get go to `answers`.
    void Receive(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
                 std::vector<std::uint8_t>& answers);

    // The server agreed to COM-PORT-OPTION (DO), or refused it (DONT).
    bool PortOptionAgreed() const { return portOptionAgreed; }
    bool PortOptionRefused() const { return portOptionRefused; }
    // The rate the server reported after SET-BAUDRATE; 0 until it has.
    std::uint32_t AcknowledgedBaud() const { return acknowledgedBaud; }
    // How many PURGE-DATA commands the server has confirmed.
    unsigned PurgesAcknowledged() const { return purgesAcknowledged; }
    // The server sent a subnegotiation longer than SUBNEGOTIATION_LIMIT.
    bool SubnegotiationOverlong() const { return subnegotiationOverlong; }

private:
    enum class State { Data, Command, Option, Subnegotiation, SubnegotiationCommand };

    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers);
    void Keep(std::uint8_t byte);
    void Subnegotiation();

    State state = State::Data;
    std::uint8_t verb = 0;
    std::vector<std::uint8_t> sub;
    // Options in effect on our side (WILL) and on the server's (DO), and
    // whether we asked first, so an answer to our own request is not answered.
    std::array<bool, 256> localOn{};
    std::array<bool, 256> remoteOn{};
    std::array<bool, 256> localAsked{};
    std::array<bool, 256> remoteAsked{};
    bool portOptionAgreed = false;
    bool portOptionRefused = false;
    std::uint32_t acknowledgedBaud = 0;
    unsigned purgesAcknowledged = 0;
    bool subnegotiationOverlong = false;
};

}  // namespace rq::platform
