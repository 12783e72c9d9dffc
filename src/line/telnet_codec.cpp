#include "line/telnet_codec.h"

namespace rq::platform {

using namespace telnet;

namespace {

// Options we speak ourselves (WILL) and let the server speak (DO).
bool AcceptLocal(std::uint8_t option)
{
    return option == BINARY || option == COM_PORT_OPTION;
}

bool AcceptRemote(std::uint8_t option)
{
    return option == BINARY || option == SUPPRESS_GO_AHEAD;
}

void Put(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option)
{
    out.push_back(IAC);
    out.push_back(verb);
    out.push_back(option);
}

void PutPortCommand(std::vector<std::uint8_t>& out, std::uint8_t command, const std::vector<std::uint8_t>& value)
{
    out.push_back(IAC);
    out.push_back(SB);
    out.push_back(COM_PORT_OPTION);
    out.push_back(command);
    for (std::uint8_t byte : value) {
        out.push_back(byte);
        // A value byte of 0xFF is doubled inside a subnegotiation too.
        if (byte == IAC) out.push_back(IAC);
    }
    out.push_back(IAC);
    out.push_back(SE);
}

}  // namespace

std::vector<std::uint8_t> TelnetCodec::Start()
{
    std::vector<std::uint8_t> out;
    for (std::uint8_t option : {COM_PORT_OPTION, BINARY}) {
        Put(out, WILL, option);
        localAsked[option] = true;
    }
    for (std::uint8_t option : {BINARY, SUPPRESS_GO_AHEAD}) {
        Put(out, DO, option);
        remoteAsked[option] = true;
    }
    return out;
}

std::vector<std::uint8_t> TelnetCodec::EscapeData(const std::uint8_t* data, std::size_t length)
{
    std::vector<std::uint8_t> out;
    out.reserve(length + 4);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == IAC) out.push_back(IAC);
    }
    return out;
}

std::vector<std::uint8_t> TelnetCodec::LineSettings(long baud)
{
    const auto rate = static_cast<std::uint32_t>(baud);
    std::vector<std::uint8_t> out;
    // The rate is sent high byte first.
    PutPortCommand(out, SET_BAUDRATE,
                   {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                    static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)});
    PutPortCommand(out, SET_DATASIZE, {8});
    PutPortCommand(out, SET_PARITY, {1});   // NONE
    PutPortCommand(out, SET_STOPSIZE, {1});  // 1 stop bit
    PutPortCommand(out, SET_CONTROL, {1});   // no flow control
    return out;
}

std::vector<std::uint8_t> TelnetCodec::PurgeReceived()
{
    std::vector<std::uint8_t> out;
    PutPortCommand(out, PURGE_DATA, {1});  // the server's receive buffer
    return out;
}

void TelnetCodec::Receive(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
                          std::vector<std::uint8_t>& answers)
{
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (state) {
        case State::Data:
            if (byte == IAC)
                state = State::Command;
            else
                data.push_back(byte);
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
                state = State::Data;  // NOP, GA and the like carry nothing for us
            }
            break;
        case State::Option:
            Negotiate(verb, byte, answers);
            state = State::Data;
            break;
        case State::Subnegotiation:
            if (byte == IAC)
                state = State::SubnegotiationCommand;
            else
                Keep(byte);
            break;
        case State::SubnegotiationCommand:
            if (byte == IAC) {
                Keep(IAC);
                state = State::Subnegotiation;
            } else {
                // SE ends it; anything else is a broken server's, ended too.
                Subnegotiation();
                state = State::Data;
            }
            break;
        }
    }
}

void TelnetCodec::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& answers)
{
    switch (verb) {
    case DO:
        if (AcceptLocal(option)) {
            if (!localOn[option] && !localAsked[option]) Put(answers, WILL, option);
            localOn[option] = true;
            if (option == COM_PORT_OPTION) portOptionAgreed = true;
        } else if (!localAsked[option]) {
            Put(answers, WONT, option);
        }
        localAsked[option] = false;
        break;
    case DONT:
        if (localOn[option] && !localAsked[option]) Put(answers, WONT, option);
        if (option == COM_PORT_OPTION && !localOn[option]) portOptionRefused = true;
        localOn[option] = false;
        localAsked[option] = false;
        break;
    case WILL:
        if (AcceptRemote(option)) {
            if (!remoteOn[option] && !remoteAsked[option]) Put(answers, DO, option);
            remoteOn[option] = true;
        } else if (!remoteAsked[option]) {
            Put(answers, DONT, option);
        }
        remoteAsked[option] = false;
        break;
    case WONT:
        if (remoteOn[option] && !remoteAsked[option]) Put(answers, DONT, option);
        remoteOn[option] = false;
        remoteAsked[option] = false;
        break;
    default:
        break;
    }
}

// A server that never ends its subnegotiation must not fill our memory: what
// goes beyond the limit is dropped, and the subnegotiation read as nothing.
void TelnetCodec::Keep(std::uint8_t byte)
{
    if (sub.size() < SUBNEGOTIATION_LIMIT)
        sub.push_back(byte);
    else
        subnegotiationOverlong = true;
}

void TelnetCodec::Subnegotiation()
{
    if (sub.size() >= SUBNEGOTIATION_LIMIT) return;
    // The answers we read: the rate the server set, high byte first, and
    // the confirmation of a purge.
    if (sub.size() == 6 && sub[0] == COM_PORT_OPTION && sub[1] == SERVER_OFFSET + SET_BAUDRATE) {
        acknowledgedBaud = (std::uint32_t{sub[2]} << 24) | (std::uint32_t{sub[3]} << 16) |
                           (std::uint32_t{sub[4]} << 8) | std::uint32_t{sub[5]};
    }
    if (sub.size() == 3 && sub[0] == COM_PORT_OPTION && sub[1] == SERVER_OFFSET + PURGE_DATA) ++purgesAcknowledged;
}

}  // namespace rq::platform
