// The simulated controller's line: the pseudo-terminal or the TCP port and
// its client, the bytes on the wire both ways, frames cut off the input, the
// replies as they fall due, and the answering loop.

#include "sim/simulator.h"

#include <algorithm>

namespace rq::sim {

namespace {

// Silence on the line this long ends a frame that is shorter than announced.
constexpr int FRAME_GAP_MS = 100;
// How long a reply may wait to be read before a hang-up cuts it off.
constexpr int DRAIN_LIMIT_MS = 1000;
// A byte on an 8N1 line: start bit, eight data bits, stop bit.
constexpr long BITS_PER_BYTE = 10;

}  // namespace

std::int64_t WallMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool Simulator::OpenListener()
{
    listener = rq::sim::OpenListener(options.listen->host, options.listen->port, slavePath);
    // The line's name says how to reach it: tcp://, or rfc2217:// for telnet.
    if (listener != kNoHandle && options.telnet) slavePath = "rfc2217://" + slavePath.substr(6);
    return listener != kNoHandle;
}

bool Simulator::Start()
{
    if (options.listen) {
        if (!OpenListener()) return false;
    } else if (!OpenTerminal()) {
        return false;
    }
    return Prepare();
}

bool Simulator::OpenTerminal()
{
    if (!rq::sim::OpenTerminal(terminal)) return false;
    master = terminal.master;
    slavePath = terminal.path;
    return true;
}

bool Simulator::Prepare()
{
    if (!options.snapshotDir.empty()) {
        if (!rq::sim::MakeDirectory(options.snapshotDir)) return false;
        snapshots = std::make_unique<SnapshotWriter>(options.snapshotDir, font);
    }
    if (!options.recordPath.empty()) {
        record = rq::sim::OpenFile(options.recordPath, "a");
        if (!record) {
            std::perror(("rq-m4x-sim: " + options.recordPath).c_str());
            return false;
        }
    }
    if (!options.statePath.empty()) {
        stateFile = rq::sim::OpenFile(options.statePath, "a");
        if (!stateFile) {
            std::perror(("rq-m4x-sim: " + options.statePath).c_str());
            return false;
        }
    }
    {
        const std::int64_t now = WallMs();
        std::lock_guard lock(board.mutex);
        board.line = slavePath;
        if (bus) {
            for (const auto& entry : *bus) board.signs[entry.first] = rq::sim::FactorySign(entry.first, now);
        } else {
            board.signs[-1] = rq::sim::FactorySign(-1, now);
        }
    }
    if (!options.linkPath.empty()) {
        if (!rq::sim::MakeLink(options.linkPath, slavePath)) return false;
        linkMade = true;
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);
    return true;
}

void Simulator::Shutdown()
{
    snapshots.reset();
    if (linkMade) {
        rq::sim::RemoveLink(options.linkPath, slavePath);
        linkMade = false;
    }
    if (record) {
        std::fclose(record);
        record = nullptr;
    }
    if (stateFile) {
        std::fclose(stateFile);
        stateFile = nullptr;
    }
    if (listener != kNoHandle) {
        rq::sim::CloseLine(master);
        rq::sim::CloseLine(listener);
    } else {
        rq::sim::CloseTerminal(terminal);
    }
    master = listener = kNoHandle;
}

bool Simulator::Record(const Bytes& frame)
{
    if (!record) return true;
    std::fprintf(record, "%s\n", HexLine(frame).c_str());
    return std::fflush(record) == 0;
}

int Simulator::TimeoutMs() const
{
    auto until = Clock::time_point::max();
    if (!input.empty()) until = lastByte + std::chrono::milliseconds(FRAME_GAP_MS);
    if (!arriving.empty()) until = std::min(until, arriving.front().arrives);
    if (!pending.empty()) until = std::min(until, NextReplyByte());
    if (until == Clock::time_point::max()) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

// Cuts the next frame off the input: a whole frame as its length byte
// announces, or whatever arrived once the line has been silent for a gap.
std::optional<Bytes> Simulator::TakeFrame(bool gapElapsed)
{
    if (input.empty()) return std::nullopt;
    std::size_t take = 0;
    if (input[0] == START_BYTE && input.size() >= 2 && input[1] >= MIN_FRAME && input.size() >= input[1])
        take = input[1];
    else if (gapElapsed)
        take = input.size();
    if (take == 0) return std::nullopt;
    Bytes frame(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(take));
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(take));
    return frame;
}

// A sign cannot have a frame before its last byte has crossed the line, nor
// answer sooner than its reply's first byte takes: every byte takes its time
// at the line's rate, as on a real line. A raw TCP line has no rate of its
// own; without --paced RATE it is taken for the usual 9600.
long Simulator::ClientRate() const
{
    if (options.telnet) return static_cast<long>(telnet.Baud());
    if (options.listen) return 0;
    return rq::sim::TerminalRate(terminal);
}

Clock::duration Simulator::ByteTime() const
{
    constexpr long kRawTcpRate = 9600;
    long rate = options.pacedRate;
    if (!rate && options.telnet) rate = static_cast<long>(telnet.Baud());
    else if (!rate && options.listen) rate = kRawTcpRate;
    else if (!rate) rate = rq::sim::TerminalRate(terminal);
    if (rate <= 0) return Clock::duration::zero();  // hung up (B0) or unknown: a kind line
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(BITS_PER_BYTE * 1000000000LL / rate));
}

// Puts bytes read from the client on the wire: each takes its time after the
// one before it, or after its arrival when the line was idle.
void Simulator::Receive(const std::uint8_t* bytes, std::size_t count)
{
    const auto now = Clock::now();
    const Clock::duration byteTime = ByteTime();
    for (std::size_t i = 0; i < count; ++i) {
        const auto begins = std::max(now, lineFree);
        lineFree = begins + byteTime;
        arriving.push_back({bytes[i], begins, lineFree});
    }
}

// Bytes from the client: on a telnet line its commands are answered, and
// only the data goes on the wire.
void Simulator::ReceiveFromClient(const std::uint8_t* bytes, std::size_t count)
{
    if (!options.telnet) {
        Receive(bytes, count);
        return;
    }
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> answers;
    telnet.Receive(bytes, count, data, answers);
    if (!answers.empty()) WriteToClient(answers.data(), answers.size());
    if (!data.empty()) Receive(data.data(), data.size());
}

// Hands the sign the bytes whose time on the wire is over, frame by frame. A
// frame is whole at its last byte's arrival. Silence is measured on the wire,
// not between reads: at a low rate a frame read at once spreads over more
// than the gap, and one written in two parts may still be without a pause.
bool Simulator::Deliver()
{
    const auto gap = std::chrono::milliseconds(FRAME_GAP_MS);
    const auto now = Clock::now();
    while (!arriving.empty() && arriving.front().arrives <= now) {
        const OnTheWire next = arriving.front();
        if (!input.empty() && next.begins - lastByte >= gap && !HandleFrames(true)) return false;
        arriving.pop_front();
        input.push_back(next.byte);
        lastByte = next.arrives;
        if (!HandleFrames(false)) return false;
    }
    const bool silent = now - lastByte >= gap && (arriving.empty() || arriving.front().begins - lastByte >= gap);
    return input.empty() || !silent || HandleFrames(true);
}

bool Simulator::HandleFrames(bool gapElapsed)
{
    // A frame cut off by silence is judged once the gap has passed.
    const auto complete = gapElapsed ? lastByte + std::chrono::milliseconds(FRAME_GAP_MS) : lastByte;
    while (auto frame = TakeFrame(gapElapsed)) {
        if (!HandleFrame(*frame, complete)) return false;
        const bool goOn = SendDueReplies();
        QueueSnapshots();
        if (!goOn) return false;
    }
    return true;
}


// When the next reply byte goes out: a reply's first byte one byte time
// after it is due and the line is free, each other one byte time after the
// one before.
Clock::time_point Simulator::NextReplyByte() const
{
    const PendingReply& reply = pending.front();
    if (reply.sent > 0) return reply.next;
    return std::max(reply.due, replyLineFree) + reply.byteTime;
}

void Simulator::WriteReply(const std::uint8_t* bytes, std::size_t count)
{
    if (options.telnet) {
        const std::vector<std::uint8_t> escaped = rq::sim::TelnetServer::Escape(bytes, count);
        WriteToClient(escaped.data(), escaped.size());
    } else {
        WriteToClient(bytes, count);
    }
}

void Simulator::WriteToClient(const std::uint8_t* bytes, std::size_t count)
{
    if (master == kNoHandle) return;  // the TCP client has gone
    rq::sim::WriteLine(master, bytes, count);
}

// Writes the reply bytes whose time has come; returns false after the last
// reply.
bool Simulator::SendDueReplies()
{
    while (!pending.empty()) {
        const auto now = Clock::now();
        const auto at = NextReplyByte();
        if (at > now) return true;
        PendingReply& reply = pending.front();
        std::size_t count = reply.bytes.size() - reply.sent;
        // Paced, the bytes whose time has come (a late wake-up may owe several).
        if (reply.byteTime > Clock::duration::zero())
            count = std::min<std::size_t>(count, static_cast<std::size_t>(1 + (now - at) / reply.byteTime));
        WriteReply(reply.bytes.data() + reply.sent, count);
        reply.sent += count;
        replyLineFree = at + reply.byteTime * static_cast<long>(count - 1);
        reply.next = replyLineFree + reply.byteTime;
        if (reply.sent < reply.bytes.size()) continue;
        const bool last = reply.last;
        pending.pop_front();
        if (last) {
            WaitUntilReplyRead();
            return false;
        }
        // A device server in "short connection" mode closes after each reply.
        if (options.shortConnection) DropClient();
    }
    return true;
}

// Closing the master hangs the terminal up and discards what the client has
// not read yet, so a reply followed by a hang-up waits (bounded) for the
// client to take it.
void Simulator::WaitUntilReplyRead()
{
    // A socket sends what was written before it closes.
    if (listener != kNoHandle) return;
    rq::sim::WaitUntilTerminalRead(terminal, DRAIN_LIMIT_MS);
}

// A second client, while one holds the line, is told so and let go at once,
// as a serial device server does; its frames never reach the bus.
void Simulator::TurnAway()
{
    const Handle other = rq::sim::AcceptClient(listener);
    if (other == kNoHandle) return;
    std::vector<std::uint8_t> words;
    // A telnet server opens with its offers, then says why it hangs up.
    if (options.telnet) words = rq::sim::TelnetServer().Greeting();
    const std::string text = "Port already in use by another client\r\n";
    words.insert(words.end(), text.begin(), text.end());
    rq::sim::WriteLine(other, words.data(), words.size());
    rq::sim::CloseLine(other);
}

// A TCP client that went away: the line waits for the next one. False on a
// pseudo-terminal.
bool Simulator::DropClient()
{
    if (listener == kNoHandle) return false;
    rq::sim::CloseLine(master);
    master = kNoHandle;
    return true;
}

int Simulator::Run()
{
    using rq::sim::Ready;
    for (;;) {
        // A TCP line waits for its client; one at a time, as a device server serves.
        const bool waiting = listener != kNoHandle && master == kNoHandle;
        const Ready ready = rq::sim::WaitForLine(waiting ? listener : master, TimeoutMs(), waiting ? kNoHandle : listener);
        if (ready == Ready::Failed) return 1;
        if (ready == Ready::Stop) return 0;
        if (ready == Ready::Knock) TurnAway();
        if (waiting) {
            if (ready == Ready::Input) master = rq::sim::AcceptClient(listener);
            if (master != kNoHandle && options.telnet) {
                // A telnet server speaks first, as the client expects.
                telnet = rq::sim::TelnetServer();
                const std::vector<std::uint8_t> greeting = telnet.Greeting();
                WriteToClient(greeting.data(), greeting.size());
            }
            if (!Deliver()) return 0;
            if (!SendDueReplies()) return 0;
            continue;
        }

        if (ready == Ready::Input) {
            std::uint8_t buffer[512];
            const long n = rq::sim::ReadLine(master, buffer, sizeof buffer);
            if (n > 0) {
                ReceiveFromClient(buffer, static_cast<std::size_t>(n));
            } else if (n < 0) {
                if (DropClient()) continue;
                if (rq::sim::StopRequested(10)) return 0;
            }
        } else if (ready == Ready::Hangup) {
            if (DropClient()) continue;
            // Not expected while the slave is held open; never spin on it.
            if (rq::sim::StopRequested(10)) return 0;
        }

        if (!Deliver()) return 0;
        if (!SendDueReplies()) return 0;
    }
}

}  // namespace rq::sim
