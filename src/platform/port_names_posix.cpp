#include "platform/port_names.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <utility>

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rq::platform {

namespace {

const char* const kDeviceDirectory = "/dev";
const char* const kActiveConsoles = "/sys/class/tty/console/active";
const char* const kStableNameDirectory = "/dev/serial/by-id";
// Nodes that stand for a console or this process's own terminal whatever the
// kernel's list says.
const char* const kConsoleAliases[] = {"/dev/console", "/dev/tty"};

// Serial device families, in the order the port list shows them: built-in
// UARTs, USB adapters, USB modems, the Raspberry Pi's UARTs, Bluetooth.
const std::vector<std::string>& Families()
{
    static const std::vector<std::string> families = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};
    return families;
}

// A family prefix followed by a number, nothing else ("ttyUSB0", not "ttyUSB").
bool IsSerialDeviceName(const std::string& entry)
{
    for (const std::string& prefix : Families()) {
        if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) continue;
        bool digitsOnly = true;
        for (std::size_t k = prefix.size(); k < entry.size(); ++k) {
            if (entry[k] < '0' || entry[k] > '9') digitsOnly = false;
        }
        if (digitsOnly) return true;
    }
    return false;
}

std::vector<std::string> ActiveConsoles()
{
    std::ifstream in(kActiveConsoles);
    std::ostringstream content;
    content << in.rdbuf();
    return ConsoleDevicePaths(content.str());
}

// The device numbers of `consoles`, links followed; names that lead to no
// character device are dropped.
std::vector<dev_t> DeviceNumbers(const std::vector<std::string>& consoles)
{
    std::vector<dev_t> numbers;
    for (const std::string& path : consoles) {
        struct stat status {};
        if (stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode)) numbers.push_back(status.st_rdev);
    }
    return numbers;
}

// Whether `path` leads, links followed, to a character device other than a
// console. Any name may be a link: compare the devices, not the names.
bool IsNonConsoleDevice(const std::string& path, const std::vector<dev_t>& consoles)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    return std::find(consoles.begin(), consoles.end(), status.st_rdev) == consoles.end();
}

std::vector<std::string> ConsolesAndAliases()
{
    std::vector<std::string> consoles = ActiveConsoles();
    consoles.insert(consoles.end(), std::begin(kConsoleAliases), std::end(kConsoleAliases));
    return consoles;
}

// The kernel makes every /dev/ttyS node whether or not a UART answers there;
// it reports the port's type as 0 ("unknown") where none does.
bool UartMissing(const std::string& entryName)
{
    if (entryName.compare(0, 4, "ttyS") != 0) return false;
    std::ifstream in("/sys/class/tty/" + entryName + "/type");
    std::string type;
    return static_cast<bool>(in >> type) && type == "0";
}

bool ProcessHoldsGroup(gid_t group)
{
    if (getegid() == group) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int k = 0; k < filled; ++k) {
        if (groups[static_cast<std::size_t>(k)] == group) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> SystemPortNames()
{
    std::vector<std::string> names;
    const std::vector<dev_t> consoles = DeviceNumbers(ConsolesAndAliases());
    DIR* directory = opendir(kDeviceDirectory);
    if (!directory) return names;
    while (const dirent* entry = readdir(directory)) {
        const std::string entryName = entry->d_name;
        if (!IsSerialDeviceName(entryName) || UartMissing(entryName)) continue;
        // Only character devices: a stale regular file of that name is no port.
        const std::string path = std::string(kDeviceDirectory) + "/" + entryName;
        if (!IsNonConsoleDevice(path, consoles)) continue;
        names.push_back(path);
    }
    closedir(directory);
    std::vector<std::string> prefixes;
    for (const std::string& family : Families()) prefixes.push_back(std::string(kDeviceDirectory) + "/" + family);
    SortPortNames(names, prefixes);
    return names;
}

std::string SystemStableNameDirectory()
{
    return kStableNameDirectory;
}

std::vector<std::string> StablePortNames(const std::string& directory, const std::vector<std::string>& consoles)
{
    std::vector<std::string> names;
    const std::vector<dev_t> consoleDevices = DeviceNumbers(consoles);
    DIR* listing = opendir(directory.c_str());
    if (!listing) return names;  // no adapter with a stable name plugged in
    while (const dirent* entry = readdir(listing)) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        const std::string path = directory + "/" + entryName;
        if (IsNonConsoleDevice(path, consoleDevices)) names.push_back(path);
    }
    closedir(listing);
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

std::vector<std::string> StablePortNames(const std::string& directory)
{
    return StablePortNames(directory, ConsolesAndAliases());
}

PortDescriptions SystemPortDescriptions(const std::string& stableDirectory)
{
    PortDescriptions descriptions;
    if (stableDirectory.empty()) return descriptions;
    for (const std::string& link : StablePortNames(stableDirectory)) {
        char* target = realpath(link.c_str(), nullptr);
        if (!target) continue;
        descriptions.emplace_back(target, link);
        std::free(target);
    }
    return descriptions;
}

bool SystemListsPorts()
{
    return false;
}

bool PortHeldByAnotherProgram(int openErrorCode)
{
    // The port layer's exclusive lock turns another holder into EBUSY.
    return openErrorCode == EBUSY;
}

std::string GroupGrantingAccess(const std::string& name, int openErrorCode)
{
    DeviceAccess access;
    access.permissionDenied = openErrorCode == EACCES;
    if (!access.permissionDenied) return {};
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) return {};
    access.groupId = status.st_gid;
    access.groupMayReadWrite = (status.st_mode & S_IRGRP) && (status.st_mode & S_IWGRP);
    access.alreadyMember = ProcessHoldsGroup(status.st_gid);
    // getgrgid_r with a buffer that grows until the entry fits.
    std::vector<char> buffer(1024);
    for (;;) {
        group entry {};
        group* found = nullptr;
        const int result = getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found);
        if (result == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result == 0 && found && found->gr_name) access.groupName = found->gr_name;
        break;
    }
    return PermissionHintGroup(access);
}

}  // namespace rq::platform
