#include "sim/telnet_server.h"

namespace rq::sim {

namespace {

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
constexpr std::uint8_t SET_BAUDRATE = 1;
constexpr std::uint8_t SET_DATASIZE = 2;
constexpr std::uint8_t SET_PARITY = 3;
constexpr std::uint8_t SET_STOPSIZE = 4;
constexpr std::uint8_t SET_CONTROL = 5;
constexpr std::uint8_t PURGE_DATA = 12;
constexpr std::uint8_t SERVER_OFFSET = 100;
// COM-PORT-OPTION commands are a few bytes: a client's longer subnegotiation
// is skipped past, not stored, and answered with nothing.
constexpr std::size_t SUBNEGOTIATION_LIMIT = 64;

// What the server does on its own side, and what it lets the client do.
bool ServerWill(std::uint8_t option)
{
    return option == BINARY || option == SUPPRESS_GO_AHEAD;
}
bool ServerLets(std::uint8_t option)
{
    return option == BINARY || option == COM_PORT_OPTION;
}

void Command(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option)
{
    out.insert(out.end(), {IAC, verb, option});
}

}  // namespace

std::vector<std::uint8_t> TelnetServer::Greeting()
{
    std::vector<std::uint8_t> out;
    for (const std::uint8_t option : {BINARY, SUPPRESS_GO_AHEAD}) {
        localAsked[option] = true;
        Command(out, WILL, option);
    }
    for (const std::uint8_t option : {BINARY, COM_PORT_OPTION}) {
        remoteAsked[option] = true;
        Command(out, DO, option);
    }
    return out;
}

std::vector<std::uint8_t> TelnetServer::Escape(const std::uint8_t* data, std::size_t length)
{
    std::vector<std::uint8_t> out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == IAC) out.push_back(IAC);
    }
    return out;
}

void TelnetServer::Receive(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
                           std::vector<std::uint8_t>& answers)
{
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (state) {
        case State::Data:
            if (byte == IAC) state = State::Command;
            else data.push_back(byte);
            break;
        case State::Command:
            if (byte == IAC) {
                data.push_back(IAC);
                state = State::Data;
            } else if (byte >= WILL && byte <= DONT) {
                verb = byte;
                state = State::Option;
            } else if (byte == SB) {
                sub.clear();
                state = State::Subnegotiation;
            } else {
                state = State::Data;  // NOP, AYT and the like: nothing to do
            }
            break;
        case State::Option:
            Negotiate(verb, byte, answers);
            state = State::Data;
            break;
        case State::Subnegotiation:
            if (byte == IAC) state = State::SubnegotiationCommand;
            else if (sub.size() <= SUBNEGOTIATION_LIMIT) sub.push_back(byte);
            break;
        case State::SubnegotiationCommand:
            if (byte == SE) {
                PortCommand(answers);
                state = State::Data;
            } else {
                if (sub.size() <= SUBNEGOTIATION_LIMIT) sub.push_back(byte);  // IAC IAC: a 0xFF in the value
                state = State::Subnegotiation;
            }
            break;
        }
    }
}

void TelnetServer::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers)
{
    switch (verb) {
    case WILL:
        if (!ServerLets(option)) {
            Command(answers, DONT, option);
        } else if (!remoteOn[option]) {
            remoteOn[option] = true;
            if (!remoteAsked[option]) Command(answers, DO, option);
        }
        remoteAsked[option] = false;
        break;
    case WONT:
        if (remoteOn[option] && !remoteAsked[option]) Command(answers, DONT, option);
        remoteOn[option] = false;
        remoteAsked[option] = false;
        break;
    case DO:
        if (!ServerWill(option)) {
            Command(answers, WONT, option);
        } else if (!localOn[option]) {
            localOn[option] = true;
            if (!localAsked[option]) Command(answers, WILL, option);
        }
        localAsked[option] = false;
        break;
    case DONT:
        if (localOn[option] && !localAsked[option]) Command(answers, WONT, option);
        localOn[option] = false;
        localAsked[option] = false;
        break;
    }
}

// A COM-PORT-OPTION command: the server does what it asks and answers with
// the command plus 100 and the value now in force. A value of 0 asks for the
// current one.
void TelnetServer::PortCommand(std::vector<std::uint8_t>& answers)
{
    if (sub.size() < 2 || sub.size() > SUBNEGOTIATION_LIMIT || sub[0] != COM_PORT_OPTION) return;
    const std::uint8_t command = sub[1];
    std::vector<std::uint8_t> value(sub.begin() + 2, sub.end());
    switch (command) {
    case SET_BAUDRATE:
        if (value.size() != 4) return;
        if (const std::uint32_t asked = std::uint32_t{value[0]} << 24 | std::uint32_t{value[1]} << 16 |
                                        std::uint32_t{value[2]} << 8 | value[3])
            baud = asked;
        value = {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                 static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
        break;
    case SET_DATASIZE:
    case SET_PARITY:
    case SET_STOPSIZE:
    case SET_CONTROL:
        // The line is 8N1 without flow control, and says so when asked.
        if (value.size() != 1) return;
        if (value[0] == 0) value[0] = command == SET_DATASIZE ? 8 : 1;
        break;
    case PURGE_DATA:
        // Replies go to the client as the sign gives them: nothing waits to be dropped.
        if (value.size() != 1) return;
        break;
    default:
        return;
    }
    answers.insert(answers.end(), {IAC, SB, COM_PORT_OPTION, static_cast<std::uint8_t>(command + SERVER_OFFSET)});
    for (const std::uint8_t byte : value) {
        answers.push_back(byte);
        if (byte == IAC) answers.push_back(IAC);
    }
    answers.insert(answers.end(), {IAC, SE});
}

}  // namespace rq::sim
