#pragma once
// A TCP client connection with millisecond time-outs, one file per OS
// (tcp_socket_posix.cpp, tcp_socket_win32.cpp). It keeps the OS reason of
// the last failure, as the serial port does.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rq::platform {

class TcpSocket {
public:
    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves `host` and connects to `port` within `timeoutMs` in all.
    bool Connect(const std::string& host, const std::string& port, int timeoutMs);
    bool IsOpen() const;
    // Sends all `length` bytes within `timeoutMs`; returns the count sent.
    std::size_t Send(const std::uint8_t* data, std::size_t length, int timeoutMs);
    // Waits at most `timeoutMs` for bytes; returns the count received, 0 on
    // time-out and at once when the server has closed or reset the connection
    // (then LastErrorCode is not 0).
    std::size_t Receive(std::uint8_t* data, std::size_t length, int timeoutMs);
    void Close();

    const std::string& LastErrorMessage() const;
    int LastErrorCode() const;
    // The server closed the connection (since the last Connect).
    bool ClosedByPeer() const;
    // Records a failure found above the socket (a refused negotiation).
    void SetError(int code, const std::string& message);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace rq::platform
