#include "support/first_line_posix.h"

#include <cerrno>
#include <chrono>

#include <poll.h>
#include <unistd.h>

namespace rq::test {

std::string ReadFirstLine(int fd, int limitMs)
{
    using Clock = std::chrono::steady_clock;
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return {};
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return {};
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace rq::test
