#pragma once
// Debian's ser2net on 127.0.0.1 in front of a simulated controller's
// terminal, started with a YAML file of its own: the serial device server a
// network port name reaches. Linux only.

#include <string>

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

}  // namespace rq::test
