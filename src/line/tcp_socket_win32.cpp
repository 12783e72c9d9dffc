// TCP client on Winsock: non-blocking socket, every wait a select() against a
// steady-clock deadline.

#include "line/tcp_socket.h"

#include "line/bounded_call.h"
#include "line/connect_retry.h"
#include "line/system_message_win32.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

namespace rq::platform {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

struct Lookup {
    int result = 0;  // getaddrinfo's: 0, or a Winsock error code
    addrinfo* found = nullptr;
};

Lookup LookUpNow(const std::string& host, const std::string& port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    Lookup lookup;
    lookup.result = getaddrinfo(host.c_str(), port.c_str(), &hints, &lookup.found);
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

// Windows answers a refused connect (a reset) by sending the SYN again for
// about two seconds before it reports the refusal. Where the system allows,
// ask it to report a reset at once. That also ends its own sending of the
// SYN again: ConnectTo does that instead.
void RefuseAtOnce(SOCKET socket)
{
#ifdef SIO_TCP_INITIAL_RTO
    TCP_INITIAL_RTO_PARAMETERS parameters{};
    parameters.Rtt = TCP_INITIAL_RTO_UNSPECIFIED_RTT;
    parameters.MaxSynRetransmissions = TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS;
    DWORD returned = 0;
    // Older systems refuse the request; they keep their own behaviour.
    WSAIoctl(socket, SIO_TCP_INITIAL_RTO, &parameters, sizeof parameters, nullptr, 0, &returned, nullptr, nullptr);
#else
    static_cast<void>(socket);
#endif
}

// Winsock is started once for the process and left running until it ends.
bool StartWinsock()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

// Waits until `socket` can be read (or written); true when it can.
bool WaitFor(SOCKET socket, bool forWrite, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &wait);
    return ready > 0 && FD_ISSET(socket, &set);
}

// Connects to one address by `attemptEnd`: a connect without an answer is
// started again on a new socket when the schedule says, the earlier ones
// still waiting, and the first to connect is returned. A refusal (or any
// answer but the end of an attempt's own time) ends it at once, with the
// system's code in `error`; INVALID_SOCKET when none connected.
SOCKET ConnectTo(const addrinfo& address, Clock::time_point attemptEnd, int& error)
{
    const auto start = Clock::now();
    const int budgetMs = MsLeft(attemptEnd);
    std::vector<SOCKET> waiting;
    SOCKET connected = INVALID_SOCKET;
    bool answered = false;
    error = WSAETIMEDOUT;
    int attempt = 0;
    while (connected == INVALID_SOCKET && !answered && Clock::now() < attemptEnd) {
        const int nextMs = ConnectAttemptStartMs(attempt, budgetMs);
        const auto next = nextMs >= 0 ? start + std::chrono::milliseconds(nextMs) : attemptEnd;
        if (nextMs >= 0 && Clock::now() >= next) {
            ++attempt;
            const SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
            if (socket == INVALID_SOCKET) {
                error = WSAGetLastError();
                break;
            }
            u_long nonBlocking = 1;
            ioctlsocket(socket, FIONBIO, &nonBlocking);
            RefuseAtOnce(socket);
            const int result = ::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0
                                   ? 0
                                   : WSAGetLastError();
            if (result == 0) {
                connected = socket;
            } else if (result == WSAEWOULDBLOCK) {
                waiting.push_back(socket);
            } else {
                error = result;
                answered = true;
                closesocket(socket);
            }
            continue;
        }
        const int waitMs = MsLeft(next < attemptEnd ? next : attemptEnd);
        if (waiting.empty()) {
            Sleep(static_cast<DWORD>(waitMs));
            continue;
        }
        // A connect that succeeds shows as writable, one that fails in the
        // error set.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (const SOCKET socket : waiting) {
            FD_SET(socket, &writable);
            FD_SET(socket, &failed);
        }
        timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
        if (select(0, nullptr, &writable, &failed, &wait) <= 0) continue;
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (FD_ISSET(*it, &writable)) {
                connected = *it;
                it = waiting.erase(it);
                break;
            }
            if (!FD_ISSET(*it, &failed)) {
                ++it;
                continue;
            }
            int soError = 0;
            int size = sizeof soError;
            getsockopt(*it, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
            closesocket(*it);
            it = waiting.erase(it);
            // An attempt whose own time ran out leaves the next its turn.
            if (soError != 0 && soError != WSAETIMEDOUT) {
                error = soError;
                answered = true;
                break;
            }
        }
    }
    for (const SOCKET socket : waiting) closesocket(socket);
    return connected;
}

}  // namespace

struct TcpSocket::Impl {
    SOCKET socket = INVALID_SOCKET;
    int errorCode = 0;
    std::string errorMessage;
    bool closedByPeer = false;

    void Fail(int code)
    {
        errorCode = code;
        errorMessage = SystemMessage(code);
        if (code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAESHUTDOWN) closedByPeer = true;
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
    if (!StartWinsock()) {
        impl->Fail(WSASYSNOTREADY);
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    const std::optional<Lookup> lookup = LookUp(host, port, timeoutMs);
    if (!lookup) {
        SetError(WSAETIMEDOUT, "The name lookup of " + host + " did not finish in time");
        return false;
    }
    if (lookup->result != 0) {
        impl->Fail(lookup->result);
        return false;
    }
    int addressesLeft = 0;
    for (addrinfo* address = lookup->found; address != nullptr; address = address->ai_next) ++addressesLeft;
    for (addrinfo* address = lookup->found; address != nullptr; address = address->ai_next, --addressesLeft) {
        // The time left is shared by the addresses still to try: one that
        // never answers (an IPv6 listener gone deaf) leaves the next its turn.
        const auto attemptEnd = Clock::now() + std::chrono::milliseconds(MsLeft(deadline) / addressesLeft);
        int error = 0;
        const SOCKET socket = ConnectTo(*address, attemptEnd, error);
        const bool connected = socket != INVALID_SOCKET;
        if (connected) {
            const BOOL on = TRUE;
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            impl->socket = socket;
            impl->errorCode = 0;
            impl->errorMessage.clear();
            break;
        }
        impl->Fail(error);
        if (MsLeft(deadline) == 0) break;
    }
    freeaddrinfo(lookup->found);
    return impl->socket != INVALID_SOCKET;
}

bool TcpSocket::IsOpen() const
{
    return impl->socket != INVALID_SOCKET;
}

std::size_t TcpSocket::Send(const std::uint8_t* data, std::size_t length, int timeoutMs)
{
    impl->errorCode = 0;
    if (impl->socket == INVALID_SOCKET) {
        impl->Fail(WSAENOTSOCK);
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    while (sent < length) {
        const int n = send(impl->socket, reinterpret_cast<const char*>(data + sent), static_cast<int>(length - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            impl->Fail(error);
            break;
        }
        if (MsLeft(deadline) == 0 || !WaitFor(impl->socket, true, MsLeft(deadline))) {
            impl->Fail(WSAETIMEDOUT);
            break;
        }
    }
    return sent;
}

std::size_t TcpSocket::Receive(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    impl->errorCode = 0;
    if (impl->socket == INVALID_SOCKET) {
        impl->Fail(WSAENOTSOCK);
        return 0;
    }
    if (!WaitFor(impl->socket, false, timeoutMs)) return 0;
    const int n = recv(impl->socket, reinterpret_cast<char*>(data), static_cast<int>(length), 0);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
        impl->closedByPeer = true;
        SetError(WSAECONNRESET, "Connection closed by the server");
        return 0;
    }
    // Only a lost connection is a failure here; anything else is no data yet.
    const int error = WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN || error == WSAENOTCONN ||
        error == WSAENETRESET)
        impl->Fail(error);
    return 0;
}

void TcpSocket::Close()
{
    if (impl->socket != INVALID_SOCKET) closesocket(impl->socket);
    impl->socket = INVALID_SOCKET;
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
