// The simulator's line on POSIX: a pseudo-terminal or a TCP socket, poll(),
// and a pipe that a signal handler writes to wake the wait.

#include "sim/line.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "line/termios2_linux.h"

namespace rq::sim {

namespace {

int stopPipe[2] = {-1, -1};

void OnSignal(int)
{
    RequestStop();
}

bool MakeRaw(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

bool InstallStopWaker()
{
    if (pipe(stopPipe) != 0) {
        std::perror("rq-m4x-sim: pipe");
        return false;
    }
    for (int fd : stopPipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void RequestStop()
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(stopPipe[1], &byte, 1);
    errno = saved;
}

bool StopRequested(int waitMs)
{
    pollfd entry{stopPipe[0], POLLIN, 0};
    return poll(&entry, 1, waitMs) > 0;
}

Ready WaitForLine(Handle handle, int timeoutMs, Handle knocking)
{
    pollfd entries[3] = {{static_cast<int>(handle), POLLIN, 0},
                         {stopPipe[0], POLLIN, 0},
                         {static_cast<int>(knocking), POLLIN, 0}};
    const int ready = poll(entries, knocking == kNoHandle ? 2 : 3, timeoutMs);
    if (ready < 0 && errno != EINTR) {
        std::perror("rq-m4x-sim: poll");
        return Ready::Failed;
    }
    if (ready <= 0) return Ready::Timeout;
    if (entries[1].revents & POLLIN) return Ready::Stop;
    if (entries[2].revents & POLLIN) return Ready::Knock;
    if (entries[0].revents & POLLIN) return Ready::Input;
    if (entries[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Ready::Hangup;
    return Ready::Timeout;
}

Handle OpenListener(const std::uint8_t host[4], std::uint16_t port, std::string& name)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    // Network byte order: the first number of the dotted address first.
    auto* bytes = reinterpret_cast<std::uint8_t*>(&address.sin_addr.s_addr);
    for (int i = 0; i < 4; ++i) bytes[i] = host[i];
    address.sin_port = htons(port);
    socklen_t size = sizeof address;
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("rq-m4x-sim: --listen");
        if (listener >= 0) close(listener);
        return kNoHandle;
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    name = std::string("tcp://") + text + ":" + std::to_string(ntohs(address.sin_port));
    return listener;
}

Handle AcceptClient(Handle listener)
{
    const int client = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return kNoHandle;
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return client;
}

long ReadLine(Handle handle, std::uint8_t* buffer, std::size_t size)
{
    const ssize_t n = read(static_cast<int>(handle), buffer, size);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;
}

void WriteLine(Handle handle, const std::uint8_t* bytes, std::size_t count)
{
    const int fd = static_cast<int>(handle);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd entry{fd, POLLOUT, 0};
            if (poll(&entry, 1, 100) <= 0) return;
        } else {
            return;
        }
    }
}

void CloseLine(Handle handle)
{
    if (handle != kNoHandle) close(static_cast<int>(handle));
}

bool HasPseudoTerminal()
{
    return true;
}

bool OpenTerminal(Terminal& terminal)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    terminal.master = master;
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("rq-m4x-sim: pseudo-terminal");
        return false;
    }
    const char* name = ptsname(master);
    if (!name) {
        std::perror("rq-m4x-sim: ptsname");
        return false;
    }
    terminal.path = name;
    // Holding the slave open means the master sees no hang-up when a client
    // closes the port between transactions.
    terminal.slave = open(terminal.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.slave < 0 || !MakeRaw(terminal.slave) || !MakeRaw(master)) {
        std::perror("rq-m4x-sim: terminal settings");
        return false;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return true;
}

// Master and slave share one set of settings. The kernel gives the rate as a
// number whether it was set with a B constant or as a number (BOTHER), which
// the C library's cfgetospeed cannot tell.
long TerminalRate(const Terminal& terminal)
{
    const int fd = terminal.slave;
#if RQ_HAVE_TERMIOS2
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) == 0) return static_cast<long>(settings.c_ospeed);
#endif
    termios settings1{};
    if (tcgetattr(fd, &settings1) != 0) return 0;
    switch (cfgetospeed(&settings1)) {
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

void WaitUntilTerminalRead(const Terminal& terminal, int limitMs)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto limit = start + std::chrono::milliseconds(limitMs);
    // The reply reaches the slave's queue a moment after the write; a queue
    // still empty well after that means the client has already read it.
    const auto settled = start + std::chrono::milliseconds(200);
    bool seen = false;
    while (Clock::now() < limit) {
        int queued = 0;
        if (ioctl(terminal.slave, FIONREAD, &queued) != 0) return;
        if (queued > 0) seen = true;
        else if (seen || Clock::now() >= settled) return;
        if (StopRequested(2)) return;
    }
}

void CloseTerminal(Terminal& terminal)
{
    if (terminal.slave >= 0) close(terminal.slave);
    CloseLine(terminal.master);
    terminal.slave = -1;
    terminal.master = kNoHandle;
}

bool MakeLink(const std::string& link, const std::string& target)
{
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        // Replace a stale link from an earlier run, never a real file.
        if (!S_ISLNK(info.st_mode) || unlink(link.c_str()) != 0) {
            std::fprintf(stderr, "rq-m4x-sim: %s exists and is not a link\n", link.c_str());
            return false;
        }
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::perror(("rq-m4x-sim: " + link).c_str());
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target)
{
    char text[4096];
    const ssize_t n = readlink(link.c_str(), text, sizeof text - 1);
    if (n >= 0 && target == std::string(text, static_cast<std::size_t>(n))) unlink(link.c_str());
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

std::string DefaultFontPath()
{
    return "/usr/share/unifont/unifont.hex";
}

bool MakeDirectory(const std::string& path)
{
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    std::perror(("rq-m4x-sim: " + path).c_str());
    return false;
}

}  // namespace rq::sim
