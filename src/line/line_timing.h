#pragma once
// How long bytes take on an 8N1 serial line, and the write time-out that
// follows from it. Plain arithmetic, no OS calls: the worker asks for the
// time-out and the port layer of each OS applies it.

#include <cstddef>

namespace rq::platform {

// Microseconds that `length` bytes need on the wire at `baud` with one start
// bit, eight data bits and one stop bit (ten bits a byte), rounded up;
// 0 for no bytes or a rate that is not positive.
long long WireTimeUs(std::size_t length, long baud);

// The time-out for writing a frame of `length` bytes at `baud`: one
// millisecond per byte, but never less than the wire time with half again as
// margin plus 20 ms, so that no frame is cut off by its own time-out at a slow
// rate. At least 1 ms; at most INT_MAX.
int WriteTimeoutMs(std::size_t length, long baud);

// The fastest rate the settings offer. Where the rate on the wire is not ours
// to set (a raw TCP device server runs its line at its own), a reply is judged
// as if the line were this fast, so that a sign on a faster line than we
// believe still has its answer taken.
constexpr long FASTEST_OFFERED_BAUD = 128000;

// The microseconds after a write's start before which nothing received can be
// the answer to a frame of `length` bytes at `baud`: the frame's time on the
// wire, and the first byte of the answer's own.
long long EarliestReplyUs(std::size_t length, long baud);

}  // namespace rq::platform
