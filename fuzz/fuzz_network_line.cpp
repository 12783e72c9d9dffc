// A network line opened against a server that sends arbitrary bytes, then one
// transaction: the telnet decoder and its answers, the refusal and scheme
// checks. No crash or hang, memory bounded whatever the server sends (an
// endless subnegotiation too), nothing said to a raw port's bus, a failed
// open's reason printable and short. The simulator's telnet server reads the
// same bytes as a client's. The socket is a fake playing the input, and time
// is virtual (the monotonic clock and the sleeps below), so the open's waits
// of up to two seconds cost nothing.
//
// Input: flags (bit 0: rfc2217://; bits 1-2: after its pieces the server
// 0 closes, 1 stays silent, 2 repeats the last piece every millisecond), then
// pieces: a length byte, a delay byte (ms after the previous piece), the bytes.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
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

// Far above what a line holds, far below what an unbounded buffer reaches.
constexpr std::size_t kMemoryBound = 64 * 1024;

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool virtualTime = false;
long long nowMs = 0;

enum class End { Close, Silent, Repeat };

struct Piece {
    long long at;  // ms after the connect
    std::vector<std::uint8_t> bytes;
};

struct Server {
    std::vector<Piece> pieces;
    End end = End::Close;
    long long connectedAt = 0;
    std::size_t piece = 0;  // the next to send, and how much of it went
    std::size_t offset = 0;
    std::size_t heard = 0;  // bytes the client sent
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
    if (!virtualTime || id != CLOCK_MONOTONIC) return static_cast<int>(syscall(SYS_clock_gettime, id, time));
    *time = {static_cast<time_t>(nowMs / 1000), static_cast<long>(nowMs % 1000 * 1000000)};
    return 0;
}

extern "C" int nanosleep(const timespec* wanted, timespec* left)
{
    if (!virtualTime) return static_cast<int>(syscall(SYS_nanosleep, wanted, left));
    nowMs += wanted->tv_sec * 1000 + (wanted->tv_nsec + 999999) / 1000000;
    return 0;
}

namespace rq::platform {

struct TcpSocket::Impl {
    bool open = false;
    bool closedByPeer = false;
    int errorCode = 0;
    std::string errorMessage;
};

TcpSocket::TcpSocket() : impl(std::make_unique<Impl>()) {}
TcpSocket::~TcpSocket() = default;

bool TcpSocket::Connect(const std::string&, const std::string&, int)
{
    *impl = Impl();
    impl->open = true;
    server.connectedAt = ++nowMs;
    server.piece = server.offset = 0;
    return true;
}

bool TcpSocket::IsOpen() const
{
    return impl->open;
}

std::size_t TcpSocket::Send(const std::uint8_t*, std::size_t length, int)
{
    impl->errorCode = 0;
    if (impl->closedByPeer) SetError(EPIPE, "Broken pipe");
    if (impl->closedByPeer) return 0;
    server.heard += length;
    return length;
}

std::size_t TcpSocket::Receive(std::uint8_t* data, std::size_t length, int timeoutMs)
{
    CheckMemory();
    impl->errorCode = 0;
    const long long until = nowMs + std::max(timeoutMs, 0);
    const bool more = server.piece < server.pieces.size();
    if (!more && server.end == End::Close) {
        impl->closedByPeer = true;
        SetError(ECONNRESET, "Connection closed by the server");
        return 0;
    }
    if (!more && (server.end == End::Silent || server.pieces.empty())) {
        nowMs = until;
        return 0;
    }
    // The next piece, or the last once more a millisecond after the one before.
    const Piece& piece = more ? server.pieces[server.piece] : server.pieces.back();
    const long long at = more ? server.connectedAt + piece.at : nowMs + 1;
    if (at > until) {
        nowMs = until;
        return 0;
    }
    nowMs = std::max(nowMs, at);
    const std::size_t n = std::min(length, piece.bytes.size() - (more ? server.offset : 0));
    std::memcpy(data, piece.bytes.data() + (more ? server.offset : 0), n);
    if (more && (server.offset += n) == piece.bytes.size()) {
        ++server.piece;
        server.offset = 0;
    }
    return n;
}

void TcpSocket::Close()
{
    impl->open = false;
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
    for (std::size_t i = 1; i + 2 < size;) {
        const std::size_t end = std::min(size, i + 2 + std::max<std::size_t>(data[i], 1));
        at += data[i + 1];
        server.pieces.push_back({at, std::vector<std::uint8_t>(data + i + 2, data + end)});
        i = end;
    }

    // The simulator's server reads the pieces from a client (the last one
    // again and again from one that never stops).
    server.baseline = __sanitizer_get_current_allocated_bytes();
    {
        rq::sim::TelnetServer simulated;
        simulated.Greeting();
        std::vector<std::uint8_t> received, answers;
        std::size_t fed = 0;
        for (std::size_t i = 0; i < server.pieces.size(); ++i) {
            const bool again = server.end == End::Repeat && i + 1 == server.pieces.size();
            do {
                simulated.Receive(server.pieces[i].bytes.data(), server.pieces[i].bytes.size(), received, answers);
                fed += server.pieces[i].bytes.size();
                received.clear();  // its caller's to pass on
                answers.clear();
            } while (again && fed < 2 * kMemoryBound);
            CheckMemory();
        }
    }

    virtualTime = true;
    nowMs = 1000000000;
    server.baseline = __sanitizer_get_current_allocated_bytes();
    {
        rq::platform::NetworkLine line;
        const bool opened = line.Open(telnet ? "rfc2217://127.0.0.1:4001" : "tcp://127.0.0.1:4001", 9600);
        CheckMemory();
        Check(telnet || server.heard == 0, "nothing reaches a raw port's bus before the frame");
        // Data first where telnet was asked for: a raw port, whose bus must not get our telnet.
        if (telnet && !server.pieces.empty() && server.pieces[0].at < 99 && server.pieces[0].bytes[0] != 0xFF)
            Check(!opened && server.heard == 0, "a raw port found on rfc2217:// hears nothing");
        if (!opened) {
            const std::string& reason = line.LastErrorMessage();
            Check(!reason.empty() && line.LastErrorCode() != 0 && reason.size() < 300, "a failed open says why, briefly");
            for (const char c : reason) Check(c >= ' ' && c < 0x7F, "the reason is printable ASCII");
        } else {
            const std::uint8_t frame[] = {0xA1, 0x07, 0xF8, 0x01, 0x63, 0xFF, 0x51};
            const std::size_t heard = server.heard;
            if (line.DiscardInput() && line.Write(frame, sizeof frame, 100) == sizeof frame)
                Check(telnet || server.heard == heard + sizeof frame, "a raw line sends the frame as it is");
            std::uint8_t reply[4];
            for (int poll = 0; poll < 500 && line.IsOpen(); ++poll) {
                if (line.Read(reply, 1, 1) == 0 && line.LastErrorCode() != 0) break;
            }
            CheckMemory();
        }
    }
    virtualTime = false;
    return 0;
}
