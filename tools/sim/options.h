#pragma once
// The simulator's options as the command line gives them, and their usage
// text. Plain C++.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/line.h"

namespace rq::sim {

using Bytes = std::vector<std::uint8_t>;

// The controllers of a bus: ID -> the status it answers with instead of its
// judgement (--fail), if any.
using Bus = std::map<int, std::optional<std::uint8_t>>;

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

// Prints the usage on standard error.
void Usage();

bool ParseOptions(int argc, char** argv, Options& options);

}  // namespace rq::sim
