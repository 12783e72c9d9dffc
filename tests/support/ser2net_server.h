#pragma once
// Serial device servers on 127.0.0.1 for the network line's tests. Linux only.
// Debian's ser2net in front of a simulated controller's terminal, started
// with a YAML file of its own: the server a network port name reaches. And a
// scripted one, for what ser2net cannot be made to do on purpose.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace rq::test {

class Ser2netServer {
public:
    enum class Mode { Rfc2217, Raw };

    // Serves `device` on a free loopback port and waits (bounded) until it
    // listens; throws std::runtime_error when it does not come up.
    // With `rawBeside`, the same line is also served raw on a second port, as
    // a station's server may offer one bus both ways.
    Ser2netServer(const std::string& device, Mode mode, bool rawBeside = false);
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
    std::string PortName() const;
    int TcpPort() const { return port; }
    // "tcp://127.0.0.1:PORT" of the raw port beside; empty without one.
    std::string RawBesideName() const;

    // Ends the server (SIGTERM, then SIGKILL if it lingers) and reaps it.
    void Stop();

private:
    std::string directory;
    Mode mode;
    int port = 0;
    int rawPort = 0;
    pid_t pid = -1;
};

// A loopback port nobody listens on: a connect to it is refused.
int UnusedLoopbackPort();

// A device server that plays a script, serving one connection at a time.
class ScriptedServer {
public:
    struct Script {
        std::string greeting{};      // sent as soon as a connection is accepted
        bool hangUp = false;         // then the connection is closed
        bool telnet = false;         // answers SET-BAUDRATE and PURGE-DATA
        std::uint32_t setBaud = 0;   // the rate it says it set; 0: the rate asked for
        std::string held{};          // what its line received before each transaction: sent ahead
                                     // of the reply, or on PURGE-DATA ahead of the confirmation
        std::string reply{};         // sent whenever data comes
        bool neverAccept = false;    // its queue of connections is full: a connect gets no answer
        int greetingAfterMs = 0;     // the greeting comes this long after the accept
    };

    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int TcpPort() const { return port; }
    // Connections accepted so far.
    int Connections() const { return connections; }

private:
    void Serve();
    void Answer(int client, const std::uint8_t* bytes, std::size_t length);

    Script script;
    std::uint32_t lineBaud = 0;  // as the client set it; 0: not set
    int listener = -1;
    int port = 0;
    int stopPipe[2] = {-1, -1};
    std::vector<int> fillers;  // the connections that fill the queue
    std::atomic<int> connections{0};
    std::thread server;
    std::string telnetInput;  // a command not yet complete
    std::string holding;      // what is held now
};

}  // namespace rq::test
