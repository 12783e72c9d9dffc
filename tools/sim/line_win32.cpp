// The simulator's line on Windows: a TCP socket only (Windows has no
// pseudo-terminal), WSAPoll, and a loopback datagram that a console control
// handler sends to wake the wait.

#include "sim/line.h"

#include <cstdio>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include "line/system_message_win32.h"

namespace rq::sim {

namespace {

// The waker: a datagram socket on the loopback that the stop request sends
// one byte to. Nobody reads it, so every later wait sees it too.
SOCKET waker = INVALID_SOCKET;
sockaddr_in wakerAddress{};

void PrintSystemError(const std::string& what, unsigned long code)
{
    std::fprintf(stderr, "rq-m4x-sim: %s: %s\n", what.c_str(), rq::platform::SystemMessage(code).c_str());
}

// Called on a thread of the system's. The record and state files are flushed
// frame by frame, so closing the console, after which Windows ends the
// process soon, loses nothing written.
BOOL WINAPI OnConsoleControl(DWORD)
{
    RequestStop();
    return TRUE;
}

SOCKET NewSocket(int type, int protocol)
{
    return WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

}  // namespace

bool InstallStopWaker()
{
    WSADATA data;
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        PrintSystemError("Winsock", static_cast<unsigned long>(started));
        return false;
    }
    waker = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
    wakerAddress.sin_family = AF_INET;
    wakerAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof wakerAddress;
    if (waker == INVALID_SOCKET ||
        bind(waker, reinterpret_cast<sockaddr*>(&wakerAddress), sizeof wakerAddress) == SOCKET_ERROR ||
        getsockname(waker, reinterpret_cast<sockaddr*>(&wakerAddress), &size) == SOCKET_ERROR) {
        PrintSystemError("stop waker", static_cast<unsigned long>(WSAGetLastError()));
        return false;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return true;
}

void RequestStop()
{
    const char byte = 1;
    sendto(waker, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&wakerAddress), sizeof wakerAddress);
}

bool StopRequested(int waitMs)
{
    WSAPOLLFD entry{waker, POLLRDNORM, 0};
    return WSAPoll(&entry, 1, waitMs) > 0;
}

Ready WaitForLine(Handle handle, int timeoutMs, Handle knocking)
{
    WSAPOLLFD entries[3] = {{static_cast<SOCKET>(handle), POLLRDNORM, 0},
                            {waker, POLLRDNORM, 0},
                            {static_cast<SOCKET>(knocking), POLLRDNORM, 0}};
    const int ready = WSAPoll(entries, knocking == kNoHandle ? 2 : 3, timeoutMs);
    if (ready == SOCKET_ERROR) {
        PrintSystemError("WSAPoll", static_cast<unsigned long>(WSAGetLastError()));
        return Ready::Failed;
    }
    if (ready == 0) return Ready::Timeout;
    if (entries[1].revents & POLLRDNORM) return Ready::Stop;
    if (entries[2].revents & POLLRDNORM) return Ready::Knock;
    // Bytes that came before the end are read first; the read then tells the end.
    if (entries[0].revents & POLLRDNORM) return Ready::Input;
    if (entries[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Ready::Hangup;
    return Ready::Timeout;
}

Handle OpenListener(const std::uint8_t host[4], std::uint16_t port, std::string& name)
{
    // No SO_REUSEADDR: on Windows it lets another program take a port in use.
    const SOCKET listener = NewSocket(SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    // Network byte order: the first number of the dotted address first.
    auto* bytes = reinterpret_cast<std::uint8_t*>(&address.sin_addr.s_addr);
    for (int i = 0; i < 4; ++i) bytes[i] = host[i];
    address.sin_port = htons(port);
    int size = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        ::listen(listener, 4) == SOCKET_ERROR ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == SOCKET_ERROR) {
        PrintSystemError("--listen", static_cast<unsigned long>(WSAGetLastError()));
        if (listener != INVALID_SOCKET) closesocket(listener);
        return kNoHandle;
    }
    name = "tcp://" + std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) +
           "." + std::to_string(bytes[3]) + ":" + std::to_string(ntohs(address.sin_port));
    return static_cast<Handle>(listener);
}

Handle AcceptClient(Handle listener)
{
    const SOCKET client = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (client == INVALID_SOCKET) return kNoHandle;
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
    const BOOL one = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<Handle>(client);
}

long ReadLine(Handle handle, std::uint8_t* buffer, std::size_t size)
{
    const int n = recv(static_cast<SOCKET>(handle), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && (WSAGetLastError() == WSAEWOULDBLOCK || WSAGetLastError() == WSAEINTR)) return 0;
    return -1;
}

void WriteLine(Handle handle, const std::uint8_t* bytes, std::size_t count)
{
    const SOCKET socket = static_cast<SOCKET>(handle);
    std::size_t done = 0;
    while (done < count) {
        const int n = send(socket, reinterpret_cast<const char*>(bytes + done), static_cast<int>(count - done), 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            WSAPOLLFD entry{socket, POLLWRNORM, 0};
            if (WSAPoll(&entry, 1, 100) <= 0) return;
        } else {
            return;
        }
    }
}

void CloseLine(Handle handle)
{
    if (handle != kNoHandle) closesocket(static_cast<SOCKET>(handle));
}

bool HasPseudoTerminal()
{
    return false;
}

bool OpenTerminal(Terminal&)
{
    std::fputs("rq-m4x-sim: Windows has no pseudo-terminal\n", stderr);
    return false;
}

long TerminalRate(const Terminal&)
{
    return 0;
}

void WaitUntilTerminalRead(const Terminal&, int) {}

void CloseTerminal(Terminal& terminal)
{
    CloseLine(terminal.master);
    terminal.master = kNoHandle;
}

bool MakeLink(const std::string& link, const std::string&)
{
    std::fprintf(stderr, "rq-m4x-sim: %s: no terminal to link to on Windows\n", link.c_str());
    return false;
}

void RemoveLink(const std::string&, const std::string&) {}

namespace {

std::wstring Wide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                        nullptr);
    return narrow;
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

// fonts\unifont.hex beside the program, as the zip and the installer put it.
std::string DefaultFontPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return "fonts\\unifont.hex";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return Utf8(path) + "fonts\\unifont.hex";
}

bool MakeDirectory(const std::string& path)
{
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return true;
    PrintSystemError(path, error);
    return false;
}

}  // namespace rq::sim
