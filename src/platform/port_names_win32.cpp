#include "platform/port_names.h"

#include <optional>
#include <utility>

namespace rq::platform {

namespace {

// Windows names its serial ports COM1 upwards; the port layer adds the "\\.\"
// prefix that ports above COM9 need.
const int kHighestPortNumber = 256;

}  // namespace

std::vector<std::string> SystemPortNames()
{
    std::vector<std::string> names;
    names.reserve(kHighestPortNumber);
    for (int number = 1; number <= kHighestPortNumber; ++number) names.push_back("COM" + std::to_string(number));
    return names;
}

std::string SystemStableNameDirectory()
{
    return {};
}

std::vector<std::string> StablePortNames(const std::string& /*directory*/, const std::vector<std::string>& /*consoles*/)
{
    return {};
}

std::vector<std::string> StablePortNames(const std::string& /*directory*/)
{
    return {};
}

std::string GroupGrantingAccess(const std::string& /*name*/, int /*openErrorCode*/)
{
    // A refused open on Windows (ERROR_ACCESS_DENIED) means another program
    // holds the port; there is no group to join.
    return {};
}

}  // namespace rq::platform
