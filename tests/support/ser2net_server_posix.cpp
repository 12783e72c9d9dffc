#include "support/ser2net_server.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace rq::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int START_LIMIT_MS = 5000;
constexpr char kSer2net[] = "/usr/sbin/ser2net";

// True once something listens on 127.0.0.1:port, read from the kernel's table
// so that no connection is made (ser2net would open the device for it).
bool Listening(int port)
{
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "0A") return true;
    }
    return false;
}

void SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, DONT = 254, COM_PORT_OPTION = 44;

std::string PortAnswer(std::uint8_t command, const std::vector<std::uint8_t>& value)
{
    std::string answer = {char(IAC), char(SB), char(COM_PORT_OPTION), char(command + 100)};
    for (std::uint8_t byte : value) {
        answer += char(byte);
        if (byte == IAC) answer += char(IAC);
    }
    return answer + char(IAC) + char(SE);
}

}  // namespace

ScriptedServer::ScriptedServer(Script given) : script(std::move(given))
{
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        listen(listener, script.neverAccept ? 0 : 8) != 0 || pipe2(stopPipe, O_CLOEXEC) != 0) {
        if (listener >= 0) close(listener);
        throw std::runtime_error("ScriptedServer: cannot listen");
    }
    port = ntohs(address.sin_port);
    if (!script.neverAccept) {
        server = std::thread(&ScriptedServer::Serve, this);
        return;
    }
    // Connections nobody takes fill the queue, until one gets no answer.
    for (int i = 0; i < 4; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
        pollfd answered{filler, POLLOUT, 0};
        if (poll(&answered, 1, 200) == 0) break;
    }
}

ScriptedServer::~ScriptedServer()
{
    if (server.joinable()) {
        const char stop = 0;
        static_cast<void>(write(stopPipe[1], &stop, 1));
        server.join();
    }
    for (int fd : fillers) close(fd);
    for (int fd : {listener, stopPipe[0], stopPipe[1]}) close(fd);
}

void ScriptedServer::Serve()
{
    int client = -1;
    for (;;) {
        pollfd entries[2] = {{stopPipe[0], POLLIN, 0}, {client >= 0 ? client : listener, POLLIN, 0}};
        if (poll(entries, 2, -1) < 0 && errno != EINTR) break;
        if (entries[0].revents != 0) break;
        if (entries[1].revents == 0) continue;
        if (client < 0) {
            client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++connections;
            telnetInput.clear();
            holding = script.held;
            // A slow server (or network): the client has written its frame by then.
            std::this_thread::sleep_for(std::chrono::milliseconds(script.greetingAfterMs));
            SendAll(client, script.greeting);
            if (script.hangUp) {
                close(client);
                client = -1;
            }
            continue;
        }
        std::uint8_t buffer[512];
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) {
            close(client);
            client = -1;
            continue;
        }
        Answer(client, buffer, static_cast<std::size_t>(n));
    }
    if (client >= 0) close(client);
}

// Data gets what the line held, then the reply. On telnet, commands are taken
// whole (they may come in pieces) and only the rate and the purge answered.
void ScriptedServer::Answer(int client, const std::uint8_t* bytes, std::size_t length)
{
    std::string data;
    if (!script.telnet) {
        data.assign(bytes, bytes + length);
    } else {
        telnetInput.append(bytes, bytes + length);
        std::size_t i = 0;
        while (i < telnetInput.size()) {
            const auto byte = static_cast<std::uint8_t>(telnetInput[i]);
            if (byte != IAC) {
                data += char(byte);
                ++i;
                continue;
            }
            if (i + 1 >= telnetInput.size()) break;
            const auto command = static_cast<std::uint8_t>(telnetInput[i + 1]);
            if (command == IAC) {
                data += char(IAC);
                i += 2;
            } else if (command >= WILL && command <= DONT) {
                if (i + 2 >= telnetInput.size()) break;
                i += 3;
            } else if (command == SB) {
                std::vector<std::uint8_t> sub;
                std::size_t j = i + 2;
                for (; j + 1 < telnetInput.size(); ++j) {
                    const auto at = static_cast<std::uint8_t>(telnetInput[j]);
                    if (at == IAC && static_cast<std::uint8_t>(telnetInput[j + 1]) == SE) break;
                    sub.push_back(at);
                    if (at == IAC) ++j;
                }
                if (j + 1 >= telnetInput.size()) break;
                i = j + 2;
                if (sub.size() == 6 && sub[0] == COM_PORT_OPTION && sub[1] == 1) {
                    std::vector<std::uint8_t> rate(sub.begin() + 2, sub.end());
                    lineBaud = (std::uint32_t{rate[0]} << 24) | (std::uint32_t{rate[1]} << 16) |
                               (std::uint32_t{rate[2]} << 8) | rate[3];
                    if (script.setBaud != 0)
                        rate = {std::uint8_t(script.setBaud >> 24), std::uint8_t(script.setBaud >> 16),
                                std::uint8_t(script.setBaud >> 8), std::uint8_t(script.setBaud)};
                    SendAll(client, PortAnswer(1, rate));
                } else if (sub.size() == 3 && sub[0] == COM_PORT_OPTION && sub[1] == 12) {
                    SendAll(client, holding + PortAnswer(12, {sub[2]}));
                    holding.clear();
                }
            } else {
                i += 2;
            }
        }
        telnetInput.erase(0, i);
    }
    if (data.empty() || (holding.empty() && script.reply.empty())) return;
    // The sign answers once the frame has crossed its line, and its answer's
    // first byte takes its own time. What the line held goes with it (a server
    // that packs what its line receives): only a purge keeps it from passing
    // for the reply.
    const long baud = lineBaud != 0 ? static_cast<long>(lineBaud) : 9600;
    std::this_thread::sleep_for(std::chrono::microseconds((data.size() + 1) * 10 * 1000000 / baud + 1));
    SendAll(client, holding + script.reply);
    // The next transaction finds something held again.
    holding = script.held;
}

int UnusedLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("UnusedLoopbackPort: no port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

Ser2netServer::Ser2netServer(const std::string& device, Mode mode, bool rawBeside) : mode(mode)
{
    std::string pattern = (fs::temp_directory_path() / "rq-ser2net-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("Ser2netServer: mkdtemp failed");
    directory = pattern;
    port = UnusedLoopbackPort();
    while (rawBeside && (rawPort == 0 || rawPort == port)) rawPort = UnusedLoopbackPort();

    const std::string config = (fs::path(directory) / "ser2net.yaml").string();
    {
        std::ofstream yaml(config);
        yaml << "%YAML 1.1\n---\n"
             << "connection: &sign\n"
             << "  accepter: " << (mode == Mode::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1," << port
             << "\n"
             << "  connector: serialdev," << device << ",9600n81,local\n"
             << "  options:\n"
             << "    mdns: false\n";
        if (rawBeside)
            yaml << "connection: &beside\n"
                 << "  accepter: tcp,127.0.0.1," << rawPort << "\n"
                 << "  connector: serialdev," << device << ",9600n81,local\n"
                 << "  options:\n"
                 << "    mdns: false\n";
    }
    std::vector<std::string> args = {kSer2net, "-n", "-c", config, "-P", (fs::path(directory) / "pid").string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Its own complaints (no mDNS in a container) go to a file beside the YAML.
    const std::string log = (fs::path(directory) / "ser2net.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&pid, kSer2net, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid = -1;
        fs::remove_all(directory);
        throw std::runtime_error("Ser2netServer: cannot start /usr/sbin/ser2net (scripts/install-deps installs it)");
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(START_LIMIT_MS);
    while (!Listening(port) || (rawPort != 0 && !Listening(rawPort))) {
        if (Clock::now() >= deadline) {
            Stop();
            fs::remove_all(directory);
            throw std::runtime_error("Ser2netServer: ser2net does not listen");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Ser2netServer::~Ser2netServer()
{
    Stop();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}

std::string Ser2netServer::PortName() const
{
    return (mode == Mode::Rfc2217 ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(port);
}

std::string Ser2netServer::RawBesideName() const
{
    return rawPort != 0 ? "tcp://127.0.0.1:" + std::to_string(rawPort) : std::string();
}

void Ser2netServer::Stop()
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(START_LIMIT_MS);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = -1;
}

}  // namespace rq::test
