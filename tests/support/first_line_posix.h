#pragma once
// The first line a child process prints on a pipe, as the simulated
// controller prints its line's name once it is ready.

#include <string>

namespace rq::test {

// Reads up to the first newline on `fd`, giving up after `limitMs` or when the
// writer closes without one (then empty).
std::string ReadFirstLine(int fd, int limitMs);

}  // namespace rq::test
