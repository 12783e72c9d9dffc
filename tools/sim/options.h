#pragma once
// The simulator's options as the command line gives them, and their usage
// text. Plain C++.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/frame_check.h"
#include "sim/line.h"

namespace rq::sim {

using Bytes = std::vector<std::uint8_t>;

// A controller of a bus, as the options make it misbehave.
struct Controller {
    std::optional<std::uint8_t> failure;  // --fail ID:HEX: the status it answers instead of its judgement
    std::optional<int> delayMs;  // --delay ID:MS: how late it answers, instead of --delay MS
};
// The controllers of a bus by ID.
using Bus = std::map<int, Controller>;

struct ListenAddress {
    std::uint8_t host[4];
    std::uint16_t port;
};

struct Options {
    bool silent = false;
    int delayMs = 0;
    std::optional<Bytes> reply;
    std::optional<std::uint8_t> status;
    bool hangupBefore = false;
    bool hangupAfter = false;
    std::string recordPath;
    std::string linkPath;
    long count = 0;  // 0: no limit
    std::optional<Bus> bus;  // --ids: a bus of controllers
    std::map<int, std::uint8_t> failures;  // --fail ID:HEX
    std::map<int, int> delays;  // --delay ID:MS
    Addressing addressing = Addressing::Guess;  // --address on|off
    long baud = 0;  // --baud RATE: the one rate the controller reads; 0: any
    bool shortConnection = false;  // --short-connection: the client is let go after each reply
    bool paced = false;  // --paced: bytes take their time on the wire
    long pacedRate = 0;  // --paced RATE; 0: the rate set on the terminal
    std::string statePath;  // --state FILE
    std::string snapshotDir;  // --snapshot DIR
    bool show = false;  // --show
    std::string fontPath = rq::sim::DefaultFontPath();  // --font FILE
    std::optional<ListenAddress> listen;  // --listen tcp://HOST:PORT or rfc2217://HOST:PORT
    bool telnet = false;  // --listen rfc2217://: the line speaks telnet
};

extern const char USAGE[];

// False for a bad option or value; `error` then says which, and what was wanted.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

}  // namespace rq::sim
