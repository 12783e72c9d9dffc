// TCP client on POSIX sockets: non-blocking descriptor, every wait a poll()
// against a steady-clock deadline.

#include "line/tcp_socket.h"

#include "line/bounded_call.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rq::platform {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

struct Lookup {
    int result = 0;       // getaddrinfo's
    int systemError = 0;  // errno, for EAI_SYSTEM
    addrinfo* found = nullptr;
};

Lookup LookUpNow(const std::string& host, const std::string& port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    Lookup lookup;
    lookup.result = getaddrinfo(host.c_str(), port.c_str(), &hints, &lookup.found);
    lookup.systemError = errno;
    if (lookup.result != 0) lookup.found = nullptr;
    return lookup;
}

// An address written as numbers is read at once; a name may wait on a name
// server for far longer than an open may take, so it is looked up on a
// thread of its own, given up after `timeoutMs`.
std::optional<Lookup> LookUp(const std::string& host, const std::string& port, int timeoutMs)
{
    const Lookup numeric = LookUpNow(host, port, AI_NUMERICHOST);
    if (numeric.result != EAI_NONAME) return numeric;
    return CallWithin<Lookup>([host, port] { return LookUpNow(host, port, 0); },
                              [](Lookup& late) {
                                  if (late.found != nullptr) freeaddrinfo(late.found);
                              },
                              timeoutMs);
}

}  // namespace

struct TcpSocket::Impl {
    int fd = -1;
    int errorCode = 0;
    std::string errorMessage;
    bool closedByPeer = false;

    void Fail(int code)
    {
        errorCode = code;
        errorMessage = std::strerror(code);
        if (code == EPIPE || code == ECONNRESET) closedByPeer = true;
    }
};

TcpSocket::TcpSocket() : impl(std::make_unique<Impl>()) {}

TcpSocket::~TcpSocket()
{
    Close();
}

bool TcpSocket::Connect(const std::string& host, const std::string& port, int timeoutMs)
{
    Close();
    impl->errorCode = 0;
    impl->errorMessage.clear();
    impl->closedByPeer = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    const std::optional<Lookup> lookup = LookUp(host, port, timeoutMs);
    if (!lookup) {
        SetError(ETIMEDOUT, "The name lookup of " + host + " did not finish in time");
        return false;
    }
    if (lookup->result != 0) {
        SetError(lookup->result == EAI_SYSTEM ? lookup->systemError : ENOENT, gai_strerror(lookup->result));
        return false;
    }
    int addressesLeft = 0;
    for (addrinfo* address = lookup->found; address != nullptr; address = address->ai_next) ++addressesLeft;
    for (addrinfo* address = lookup->found; address != nullptr; address = address->ai_next, --addressesLeft) {
        // The time left is shared by the addresses still to try: one that
        // never answers (an IPv6 listener gone deaf) leaves the next its turn.
        const auto attemptEnd = Clock::now() + std::chrono::milliseconds(MsLeft(deadline) / addressesLeft);
        const int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                              address->ai_protocol);
        if (fd < 0) {
            impl->Fail(errno);
            continue;
        }
        int result = connect(fd, address->ai_addr, address->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            const int ready = poll(&waiting, 1, MsLeft(attemptEnd));
            int error = ETIMEDOUT;
            socklen_t size = sizeof error;
            if (ready > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            result = error == 0 ? 0 : -1;
            errno = error;
        }
        if (result == 0) {
            // One frame, one segment: do not hold small writes back.
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            impl->fd = fd;
            impl->errorCode = 0;
            impl->errorMessage.clear();
            break;
        }
        impl->Fail(errno);
        close(fd);
        if (MsLeft(deadline) == 0) break;
    }
    freeaddrinfo(lookup->found);
    return impl->fd >= 0;
}

bool TcpSocket::IsOpen() const
{
    return impl->fd >= 0;
}

std::size_t TcpSocket::Send(const std::uint8_t* data, std::size_t length, int timeoutMs)
{
    impl->errorCode = 0;
    if (impl->fd < 0) {
        impl->Fail(EBADF);
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = send(impl->fd, data + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            impl->Fail(errno);
            break;
        }
        pollfd waiting{impl->fd, POLLOUT, 0};
        if (MsLeft(deadline) == 0 || poll(&waiting, 1, MsLeft(deadline)) <= 0) {
            impl->Fail(ETIMEDOUT);
            break;
        }
    }
    return sent;
}

std::size_t TcpSocket::Receive(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    impl->errorCode = 0;
    if (impl->fd < 0) {
        impl->Fail(EBADF);
        return 0;
    }
    pollfd waiting{impl->fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, timeoutMs);
    if (ready <= 0) return 0;
    const ssize_t n = recv(impl->fd, data, length, 0);
#ifdef TCP_QUICKACK
    // A device server sends its negotiation in small pieces and may hold the
    // next one back until this one is acknowledged: acknowledge at once
    // instead of after the delayed-ACK timer (40 ms a round on Linux).
    const int on = 1;
    setsockopt(impl->fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
        impl->closedByPeer = true;
        SetError(ECONNRESET, "Connection closed by the server");
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        impl->Fail(errno);
    }
    return 0;
}

void TcpSocket::Close()
{
    if (impl->fd >= 0) close(impl->fd);
    impl->fd = -1;
}

const std::string& TcpSocket::LastErrorMessage() const
{
    return impl->errorMessage;
}

int TcpSocket::LastErrorCode() const
{
    return impl->errorCode;
}

bool TcpSocket::ClosedByPeer() const
{
    return impl->closedByPeer;
}

void TcpSocket::SetError(int code, const std::string& message)
{
    impl->errorCode = code;
    impl->errorMessage = message;
}

}  // namespace rq::platform
