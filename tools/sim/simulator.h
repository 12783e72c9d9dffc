#pragma once
// The simulated controller's line and the signs behind it: frames are cut
// from the bytes the client sends, judged, answered (late, paced, or not at
// all on request), and taken into the signs of the bus. simulator.cpp keeps
// the line and the answering loop, bus.cpp what the bus makes of a frame.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sim/board.h"
#include "sim/frame_check.h"
#include "sim/line.h"
#include "sim/options.h"
#include "sim/panel.h"
#include "sim/snapshots.h"
#include "sim/telnet_server.h"

namespace rq::sim {

using Clock = std::chrono::steady_clock;

// The time in ms since 1970, as the state lines give it.
std::int64_t WallMs();

class Simulator {
public:
    Simulator(const Options& options, rq::sim::Board& board, const rq::sim::BitmapFont& font)
        : options(options), bus(options.bus), board(board), font(font)
    {
    }
    ~Simulator() { Shutdown(); }

    bool Start();
    int Run();
    // Removes the link, closes the files and the line, and writes the
    // snapshots still waiting.
    void Shutdown();

private:
    struct PendingReply {
        Clock::time_point due;
        Bytes bytes;
        bool last;  // hang up or stop once this reply has gone out
        Clock::duration byteTime;  // zero: all at once
        std::size_t sent = 0;
        Clock::time_point next{};  // when byte `sent` goes out, once the first has
    };
    // A received byte still on the wire: it began once the line was free for
    // it and reaches the sign when its last bit has.
    struct OnTheWire {
        std::uint8_t byte;
        Clock::time_point begins;
        Clock::time_point arrives;
    };

    bool Record(const Bytes& frame);
    bool OpenListener();
    bool OpenTerminal();
    bool Prepare();
    bool DropClient();
    // The signs take a frame as the bus answered it (`status`: the first
    // reply byte, -1 for none) and show what it set.
    void TakeIntoSigns(const Bytes& frame, const FrameReading& reading, int status);
    void QueueSnapshots();
    // The status the bus answers a frame with, and how late (`delayMs`);
    // none when no controller answers.
    std::optional<std::uint8_t> BusAnswer(const Bytes& frame, const FrameReading& reading, int& delayMs);
    void TurnAway();
    // Each returns false when the simulator is to stop.
    bool HandleFrame(const Bytes& frame, Clock::time_point complete);
    bool HandleFrames(bool gapElapsed);
    bool Deliver();
    bool SendDueReplies();
    void Receive(const std::uint8_t* bytes, std::size_t count);
    Clock::duration ByteTime() const;
    // The rate the client set (on the terminal, or with RFC 2217); 0: not known.
    long ClientRate() const;
    Clock::time_point NextReplyByte() const;
    void WriteReply(const std::uint8_t* bytes, std::size_t count);
    void WriteToClient(const std::uint8_t* bytes, std::size_t count);
    void ReceiveFromClient(const std::uint8_t* bytes, std::size_t count);
    void WaitUntilReplyRead();
    int TimeoutMs() const;
    std::optional<Bytes> TakeFrame(bool gapElapsed);

    const Options& options;
    Handle master = kNoHandle;  // the pseudo-terminal, or the TCP client while one is connected
    Handle listener = kNoHandle;
    rq::sim::Terminal terminal;
    std::string slavePath;
    bool linkMade = false;
    FILE* record = nullptr;
    std::deque<OnTheWire> arriving;
    Clock::time_point lineFree{};  // when the last received byte arrives
    Bytes input;
    Clock::time_point lastByte{};
    std::deque<PendingReply> pending;
    Clock::time_point replyLineFree{};  // when the last reply byte went out
    long frames = 0;
    std::optional<Bus> bus;
    rq::sim::Board& board;
    const rq::sim::BitmapFont& font;
    FILE* stateFile = nullptr;
    std::unique_ptr<SnapshotWriter> snapshots;  // with --snapshot
    struct Snapshot {
        long frame;
        std::map<int, SignState> signs;
        std::int64_t nowMs;
    };
    std::optional<Snapshot> snapshotDue;  // the last frame's, until its reply is out
    rq::sim::TelnetServer telnet;  // the client's telnet state, with rfc2217://
};

}  // namespace rq::sim
