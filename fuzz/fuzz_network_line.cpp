// A network line opened against a server that sends arbitrary bytes: the
// telnet decoder and its answers, the refusal and the scheme checks of the
// open, then one transaction. No crash or hang, memory bounded whatever the
// server sends (an endless subnegotiation included), nothing said to a raw
// port before the frame, and a failed open's reason printable and short.
// The simulator's telnet server reads the same bytes as a client's.
//
// The socket is a fake playing the input as a server's script, and time is
// virtual (monotonic clock and sleeps below), so an open's waits of up to
// two seconds cost nothing.
//
// Input: a flags byte (bit 0: rfc2217://, bits 1-2: after the script the
// server 0 closes, 1 stays silent, 2 repeats its last piece every
// millisecond for ever), then pieces: a length byte, a delay byte (ms after
// the previous piece) and that many bytes.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sanitizer/allocator_interface.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "line/network_line.h"
#include "line/tcp_socket.h"
#include "sim/telnet_server.h"

namespace {

// Far above what the line needs to hold, far below what an unbounded buffer
// reaches from a server sending for the open's two seconds.
constexpr std::size_t kMemoryBound = 64 * 1024;

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// ---- virtual time: the monotonic clock and the sleeps of this process ----

bool virtualTime = false;
long long nowNs = 0;

void Advance(long long ms)
{
    nowNs += ms * 1000000;
}

long long NowMs()
{
    return nowNs / 1000000;
}

// ---- the server's script ----

enum class End { Close, Silent, Repeat };

struct Piece {
    long long at;  // virtual ms
    std::vector<std::uint8_t> bytes;
};

struct Server {
    std::vector<Piece> pieces;
    End end = End::Close;
    // One connection's progress.
    bool connected = false;
    long long connectedAt = 0;
    std::size_t piece = 0;
    std::size_t offset = 0;
    long long repeatAt = 0;
    // What the client said, on every connection.
    std::size_t sentBytes = 0;
    std::size_t baseline = 0;
} server;

void CheckMemory()
{
    Check(__sanitizer_get_current_allocated_bytes() < server.baseline + kMemoryBound,
          "memory stays bounded while the server sends");
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, timespec* time)
{
    if (virtualTime && id == CLOCK_MONOTONIC) {
        time->tv_sec = nowNs / 1000000000;
        time->tv_nsec = nowNs % 1000000000;
        return 0;
    }
    return static_cast<int>(syscall(SYS_clock_gettime, id, time));
}

extern "C" int nanosleep(const timespec* wanted, timespec* left)
{
    if (virtualTime) {
        nowNs += wanted->tv_sec * 1000000000LL + wanted->tv_nsec;
        return 0;
    }
    return static_cast<int>(syscall(SYS_nanosleep, wanted, left));
}

// ---- the fake socket ----

namespace rq::platform {

struct TcpSocket::Impl {
    bool open = false;
    int errorCode = 0;
    std::string errorMessage;
    bool closedByPeer = false;
};

TcpSocket::TcpSocket() : impl(std::make_unique<Impl>()) {}
TcpSocket::~TcpSocket() = default;

bool TcpSocket::Connect(const std::string&, const std::string&, int)
{
    Advance(1);
    impl->open = true;
    impl->errorCode = 0;
    impl->closedByPeer = false;
    server.connected = true;
    server.connectedAt = NowMs();
    server.piece = 0;
    server.offset = 0;
    server.repeatAt = 0;
    return true;
}

bool TcpSocket::IsOpen() const
{
    return impl->open;
}

std::size_t TcpSocket::Send(const std::uint8_t*, std::size_t length, int)
{
    impl->errorCode = 0;
    if (!impl->open || impl->closedByPeer) {
        SetError(EPIPE, "Broken pipe");
        impl->closedByPeer = true;
        return 0;
    }
    server.sentBytes += length;
    return length;
}

std::size_t TcpSocket::Receive(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    CheckMemory();
    impl->errorCode = 0;
    if (!impl->open) {
        SetError(EBADF, "Bad file descriptor");
        return 0;
    }
    const long long until = NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    if (server.piece < server.pieces.size()) {
        const Piece& piece = server.pieces[server.piece];
        const long long at = server.connectedAt + piece.at;
        if (at > until) {
            Advance(until - NowMs());
            return 0;
        }
        if (at > NowMs()) Advance(at - NowMs());
        const std::size_t n = std::min(length, piece.bytes.size() - server.offset);
        std::memcpy(data, piece.bytes.data() + server.offset, n);
        server.offset += n;
        if (server.offset == piece.bytes.size()) {
            ++server.piece;
            server.offset = 0;
        }
        return n;
    }
    if (server.end == End::Repeat && !server.pieces.empty()) {
        // A server that never stops: the last piece again, every millisecond.
        const std::vector<std::uint8_t>& bytes = server.pieces.back().bytes;
        if (server.repeatAt == 0) server.repeatAt = NowMs();
        if (server.repeatAt > until) {
            Advance(until - NowMs());
            return 0;
        }
        if (server.repeatAt > NowMs()) Advance(server.repeatAt - NowMs());
        server.repeatAt = NowMs() + 1;
        const std::size_t n = std::min(length, bytes.size());
        std::memcpy(data, bytes.data(), n);
        return n;
    }
    if (server.end == End::Close) {
        impl->closedByPeer = true;
        SetError(ECONNRESET, "Connection closed by the server");
        return 0;
    }
    Advance(until - NowMs());
    return 0;
}

void TcpSocket::Close()
{
    impl->open = false;
    server.connected = false;
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const bool telnet = data[0] & 1;
    server = Server();
    server.end = static_cast<End>(((data[0] >> 1) & 3) % 3);
    long long at = 0;
    for (std::size_t i = 1; i + 2 <= size;) {
        const std::size_t length = std::max<std::size_t>(data[i], 1);
        at += data[i + 1];
        i += 2;
        Piece piece{at, std::vector<std::uint8_t>(data + i, data + std::min(size, i + length))};
        i += piece.bytes.size();
        if (!piece.bytes.empty()) server.pieces.push_back(std::move(piece));
    }

    // The simulator's server reads the same bytes from a client.
    server.baseline = __sanitizer_get_current_allocated_bytes();
    {
        rq::sim::TelnetServer simulated;
        simulated.Greeting();
        std::vector<std::uint8_t> received, answers;
        std::size_t fed = 0;
        for (std::size_t i = 0; i < server.pieces.size(); ++i) {
            // A client that never stops: the last piece again, up to twice the bound.
            const bool again = server.end == End::Repeat && i + 1 == server.pieces.size();
            do {
                const std::vector<std::uint8_t>& bytes = server.pieces[i].bytes;
                simulated.Receive(bytes.data(), bytes.size(), received, answers);
                fed += bytes.size();
                // What it answers and passes on is its caller's to send; the rest it holds.
                received.clear();
                answers.clear();
            } while (again && fed < 2 * kMemoryBound);
            CheckMemory();
        }
    }

    virtualTime = true;
    nowNs = 1000000000000LL;
    server.baseline = __sanitizer_get_current_allocated_bytes();
    {
        rq::platform::NetworkLine line;
        const std::string name = telnet ? "rfc2217://127.0.0.1:4001" : "tcp://127.0.0.1:4001";
        const bool opened = line.Open(name, 9600);
        CheckMemory();
        if (!telnet) Check(server.sentBytes == 0, "nothing reaches a raw port's bus before the frame");
        // Data first, where telnet was asked for: a raw port, whose bus must not get our telnet opening.
        if (telnet && !server.pieces.empty() && server.pieces[0].at < 99 && server.pieces[0].bytes[0] != 0xFF)
            Check(!opened && server.sentBytes == 0, "a raw port found on rfc2217:// hears nothing");
        if (!opened) {
            const std::string& reason = line.LastErrorMessage();
            Check(!reason.empty() && line.LastErrorCode() != 0, "a failed open says why");
            Check(reason.size() < 300, "the reason is short");
            for (const char c : reason) Check(c >= ' ' && c < 0x7F, "the reason is printable ASCII");
        } else {
            const std::uint8_t frame[] = {0xA1, 0x07, 0xF8, 0x01, 0x63, 0xFF, 0x51};
            const std::size_t sentBefore = server.sentBytes;
            if (line.DiscardInput() && line.Write(frame, sizeof frame, 100) == sizeof frame)
                Check(telnet || server.sentBytes == sentBefore + sizeof frame, "a raw line sends the frame as it is");
            std::uint8_t reply[4];
            for (int poll = 0; poll < 500 && line.IsOpen(); ++poll) {
                if (line.Read(reply, 1, 1) == 0 && line.LastErrorCode() != 0) break;
            }
            CheckMemory();
        }
        line.Close();
    }
    virtualTime = false;
    return 0;
}
