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

}  // namespace

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
