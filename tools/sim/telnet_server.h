#pragma once
// The server's side of a telnet line that speaks RFC 2217, as a serial device
// server plays it: it offers binary data and COM-PORT-OPTION at once, agrees
// to the client's serial settings and reports them back, confirms purges, and
// doubles 0xFF in the data it sends. Written apart from the program's own
// client codec, so that a fault there shows up here instead of being mirrored.
// Pure code over byte buffers; the socket is elsewhere.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq::sim {

class TelnetServer {
public:
    // What the server says as soon as a client connects.
    std::vector<std::uint8_t> Greeting();

    // Takes bytes from the client (they may end anywhere, even inside a
    // command): data bytes go to `data`, what the server answers to `answers`.
    void Receive(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
                 std::vector<std::uint8_t>& answers);

    // Data as it goes to the client: each 0xFF doubled.
    static std::vector<std::uint8_t> Escape(const std::uint8_t* data, std::size_t length);

    // The rate the client set with SET-BAUDRATE; 0 until it has.
    std::uint32_t Baud() const { return baud; }

private:
    enum class State { Data, Command, Option, Subnegotiation, SubnegotiationCommand };

    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers);
    void PortCommand(std::vector<std::uint8_t>& answers);

    State state = State::Data;
    std::uint8_t verb = 0;
    std::vector<std::uint8_t> sub;
    // Options in effect on the server's side (WILL) and the client's (DO),
    // and whether the server asked first, so an answer is not answered again.
    std::array<bool, 256> localOn{};
    std::array<bool, 256> remoteOn{};
    std::array<bool, 256> localAsked{};
    std::array<bool, 256> remoteAsked{};
    std::uint32_t baud = 0;
};

}  // namespace rq::sim
