#pragma once
// What the simulated controller needs of the OS, one file per OS
// (line_posix.cpp, line_win32.cpp): the stop waker, the listening socket and
// its client, the pseudo-terminal (POSIX only) and where its font lies. The
// frames, the bus, the pacing and the signs stay in plain C++ above this.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rq::sim {

// A file descriptor, or a Winsock SOCKET (whose INVALID_SOCKET is also -1 here).
using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

// ---- stopping ----
// Makes SIGINT, SIGTERM and SIGHUP (POSIX), or Ctrl-C, Ctrl-Break and closing
// the console (Windows), ask the line to stop; sets up the sockets' library.
bool InstallStopWaker();
// Asks the line to stop, from any thread or a signal handler. The request
// stays: every later wait sees it.
void RequestStop();
// Whether a stop was asked for within `waitMs`.
bool StopRequested(int waitMs);

// ---- waiting ----
enum class Ready {
    Stop,  // a stop was asked for
    Timeout,
    Input,  // bytes, a client to accept, or an end that a read will tell
    Hangup,  // the other side went away (or the handle failed)
    Failed,  // the wait itself failed (the message is printed)
    Knock,  // another client waits at `knocking`
};
// Waits at most `timeoutMs` (-1: no limit) for `handle`, a stop, or a client
// at the listener `knocking` (kNoHandle: none watched).
Ready WaitForLine(Handle handle, int timeoutMs, Handle knocking = kNoHandle);

// ---- the TCP line ----
// Listens on IPv4 `host` (four dotted numbers) and `port` (0: a free one);
// `name` becomes tcp://HOST:PORT with the port in use. Prints why it failed.
Handle OpenListener(const std::uint8_t host[4], std::uint16_t port, std::string& name);
// The waiting client, without delay on small writes; kNoHandle if none.
Handle AcceptClient(Handle listener);
// Bytes read (> 0), 0 when there is nothing now, -1 when the other side has
// closed the line or it failed.
long ReadLine(Handle handle, std::uint8_t* buffer, std::size_t size);
// Writes all of them, waiting a little for room; gives up when the other side
// has gone or does not read.
void WriteLine(Handle handle, const std::uint8_t* bytes, std::size_t count);
void CloseLine(Handle handle);

// ---- the pseudo-terminal (POSIX only) ----
struct Terminal {
    Handle master = kNoHandle;
    int slave = -1;  // held open, so that a client closing its port is no hang-up
    std::string path;
};
// False on Windows, where a client reaches the simulator over TCP only.
bool HasPseudoTerminal();
bool OpenTerminal(Terminal& terminal);
// The rate the client set on the terminal; 0 when it cannot be told.
long TerminalRate(const Terminal& terminal);
// Closing the master discards what the client has not read: waits (bounded)
// until the client has taken what was written, or a stop.
void WaitUntilTerminalRead(const Terminal& terminal, int limitMs);
void CloseTerminal(Terminal& terminal);
// Makes `link` a symbolic link to `target`, replacing a stale link (never a
// file); removes it only while it still points there.
bool MakeLink(const std::string& link, const std::string& target);
void RemoveLink(const std::string& link, const std::string& target);

// ---- files and the command line: names in UTF-8 ----
// The arguments, program name first. Windows: from the wide command line, so
// that a name outside the ANSI code page arrives whole; elsewhere argv.
std::vector<std::string> Arguments(int argc, char** argv);
// std::fopen for a UTF-8 name (Windows opens it by its wide name).
std::FILE* OpenFile(const std::string& path, const char* mode);
// The 16-dot font used when --font is not given.
std::string DefaultFontPath();
// Creates the directory unless it exists; prints why it failed.
bool MakeDirectory(const std::string& path);

}  // namespace rq::sim
