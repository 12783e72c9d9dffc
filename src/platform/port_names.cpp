// The plain parts of the port list, shared by every OS: ordering, the
// console filter's parsing, the permission hint decision, and the override
// through which tests name the candidates.
#include "platform/port_names.h"

#include <algorithm>
#include <optional>

namespace rq::platform {

namespace {

std::optional<std::vector<std::string>>& CandidateOverride()
{
    static std::optional<std::vector<std::string>> names;
    return names;
}

std::optional<std::string>& StableDirectoryOverride()
{
    static std::optional<std::string> directory;
    return directory;
}

std::function<PortDescriptions()>& DescriptionSourceOverride()
{
    static std::function<PortDescriptions()> source;
    return source;
}

// The stable-name directory in force: the one set, else none while plain
// names are set, else the system's.
std::string CurrentStableDirectory()
{
    if (StableDirectoryOverride()) return *StableDirectoryOverride();
    if (CandidateOverride()) return {};
    return SystemStableNameDirectory();
}

std::string Lowered(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::vector<std::string> CandidatePortNames()
{
    std::vector<std::string> names = CandidateOverride() ? *CandidateOverride() : SystemPortNames();
    const std::string directory = CurrentStableDirectory();
    if (!directory.empty()) {
        const std::vector<std::string> stable = StablePortNames(directory);
        names.insert(names.end(), stable.begin(), stable.end());
    }
    return names;
}

std::vector<ListedPort> DescribedPorts()
{
    const std::vector<std::string> names = CandidateOverride() ? *CandidateOverride() : SystemPortNames();
    const PortDescriptions descriptions =
        DescriptionSourceOverride() ? DescriptionSourceOverride()() : SystemPortDescriptions(CurrentStableDirectory());
    return ListPortsWithDescriptions(names, descriptions);
}

void SetPortDescriptionSource(std::function<PortDescriptions()> source)
{
    DescriptionSourceOverride() = std::move(source);
}

std::vector<ListedPort> ListPortsWithDescriptions(const std::vector<std::string>& names, const PortDescriptions& descriptions)
{
    std::vector<ListedPort> ports;
    for (const std::string& name : names) {
        const std::string key = Lowered(name);
        const bool repeated = std::any_of(ports.begin(), ports.end(), [&](const ListedPort& p) { return Lowered(p.name) == key; });
        if (repeated || name.empty()) continue;
        ListedPort port{name, {}};
        for (const auto& [described, description] : descriptions) {
            if (Lowered(described) != key || description.empty()) continue;
            if (!port.description.empty()) port.description += ", ";
            port.description += description;
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string DisplayedPortName(const ListedPort& port)
{
    if (port.description.empty()) return port.name;
    const std::string bracketed = "(" + port.name + ")";
    if (Lowered(port.description).find(Lowered(bracketed)) != std::string::npos) return port.description;
    return port.description + " " + bracketed;
}

void SetCandidatePortNames(std::vector<std::string> names)
{
    CandidateOverride() = std::move(names);
    StableDirectoryOverride().reset();
}

void SetStableNameDirectory(std::string directory)
{
    StableDirectoryOverride() = std::move(directory);
}

void ClearCandidatePortNames()
{
    CandidateOverride().reset();
    StableDirectoryOverride().reset();
    DescriptionSourceOverride() = nullptr;
}

bool NaturalLess(const std::string& a, const std::string& b)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the digit runs by value: skip leading zeros, then the
            // longer run is the larger number, else the first differing digit.
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) ++endA;
            while (endB < b.size() && isDigit(b[endB])) ++endB;
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') ++startA;
            while (startB + 1 < endB && b[startB] == '0') ++startB;
            const std::size_t lengthA = endA - startA;
            const std::size_t lengthB = endB - startB;
            if (lengthA != lengthB) return lengthA < lengthB;
            const int order = a.compare(startA, lengthA, b, startB, lengthB);
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return j < b.size();
    // Same values throughout ("ttyS01" and "ttyS1"): plain text order decides.
    return a < b;
}

void SortPortNames(std::vector<std::string>& names, const std::vector<std::string>& familyPrefixes)
{
    const auto family = [&familyPrefixes](const std::string& name) {
        for (std::size_t k = 0; k < familyPrefixes.size(); ++k) {
            if (name.compare(0, familyPrefixes[k].size(), familyPrefixes[k]) == 0) return k;
        }
        return familyPrefixes.size();
    };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        const std::size_t familyA = family(a);
        const std::size_t familyB = family(b);
        if (familyA != familyB) return familyA < familyB;
        return NaturalLess(a, b);
    });
}

std::vector<std::string> ConsoleDevicePaths(const std::string& activeList)
{
    std::vector<std::string> paths;
    std::string name;
    for (std::size_t k = 0; k <= activeList.size(); ++k) {
        const char c = k < activeList.size() ? activeList[k] : ' ';
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!name.empty()) paths.push_back("/dev/" + name);
            name.clear();
        } else {
            name += c;
        }
    }
    return paths;
}

std::string PermissionHintGroup(const DeviceAccess& access)
{
    if (!access.permissionDenied) return {};
    if (access.groupName.empty() || !access.groupMayReadWrite || access.alreadyMember) return {};
    if (access.groupId == 0 || access.groupName == "root" || access.groupName == "tty") return {};
    return access.groupName;
}

std::vector<std::string> EnumeratedStrings(const std::function<EnumeratedValue(unsigned long index)>& next)
{
    std::vector<std::string> found;
    for (unsigned long index = 0;; ++index) {
        const EnumeratedValue value = next(index);
        if (value.result == kEnumMoreData) continue;
        if (value.result != kEnumSuccess) break;
        if (value.text && !value.text->empty()) found.push_back(*value.text);
    }
    return found;
}

}  // namespace rq::platform
