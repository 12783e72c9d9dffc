#pragma once
// The serial port names the port dialog tries to open, in a stable order, and
// the one fix an operator can make when a port exists but may not be opened.
// The OS parts live in port_names_posix.cpp and port_names_win32.cpp; the
// ordering, the hint decision and the test override in port_names.cpp.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rq::platform {

// The names of the ports this machine has: on Windows the values of the
// registry's list of serial ports (HARDWARE\DEVICEMAP\SERIALCOMM), in
// natural order (COM2 before COM10), opening none;
// on Linux the serial device nodes that exist (/dev/ttyS*, /dev/ttyUSB*,
// /dev/ttyACM*, /dev/ttyAMA*, /dev/rfcomm*), family by family in that order,
// numbers in natural order within a family. The kernel's active consoles are
// left out: opening one would reconfigure the system console.
std::vector<std::string> SystemPortNames();

// Where Linux keeps the stable names of serial adapters: links named after
// maker, model and serial number ("/dev/serial/by-id"), which follow the
// adapter from socket to socket where /dev/ttyUSBn goes by plug-in order.
// Empty on Windows, where a COM number stays with its adapter.
std::string SystemStableNameDirectory();

// The entries of `directory` that lead to a character device, as paths inside
// it, in natural order. Links that lead nowhere are left out, and so are those
// that lead to the same device as one of `consoles` (compared after following
// links, so no name of the system console gets through). Opens nothing.
std::vector<std::string> StablePortNames(const std::string& directory, const std::vector<std::string>& consoles);
// The same with the kernel's active consoles, /dev/console and /dev/tty.
std::vector<std::string> StablePortNames(const std::string& directory);

// What a port scan tries: the plain names (set by SetCandidatePortNames, else
// SystemPortNames()), then the stable names in the stable-name directory (set
// by SetStableNameDirectory, else SystemStableNameDirectory(); none while the
// plain names are set and the directory is not). A stable name is listed even
// when it leads to a plain name's device: it is the one that survives a
// re-plug. Tests give pseudo-terminal paths and directories of links to them
// here, so that no scan ever touches the machine's real devices.
std::vector<std::string> CandidatePortNames();
// Also forgets a stable-name directory set earlier.
void SetCandidatePortNames(std::vector<std::string> names);
void SetStableNameDirectory(std::string directory);
// Back to the system's names, directory and descriptions.
void ClearCandidatePortNames();

// A port as the system lists it, with what tells it apart from the others:
// on Windows its friendly name ("USB-SERIAL CH340 (COM5)"), on Linux the
// stable names that lead to it. Empty when the system knows nothing more.
struct ListedPort {
    std::string name;
    std::string description;
    bool operator==(const ListedPort& other) const { return name == other.name && description == other.description; }
};

// Pairs of a port name and a description of it, as the system gives them:
// SetupAPI's "PortName" and friendly name on Windows; on Linux a device
// path and a stable name (link) that leads to it.
using PortDescriptions = std::vector<std::pair<std::string, std::string>>;

// The plain port names, each with its descriptions (ListPortsWithDescriptions),
// from the candidates set by SetCandidatePortNames or else SystemPortNames(),
// and the descriptions set by SetPortDescriptionSource or else the system's.
// Stable names are descriptions here, not ports of their own. Opens nothing.
std::vector<ListedPort> DescribedPorts();
// For tests: where descriptions come from; an empty function restores the
// system's.
void SetPortDescriptionSource(std::function<PortDescriptions()> source);
// The system's own descriptions. On Linux the entries of `stableDirectory`
// with the device each leads to; on Windows SetupAPI's ports class (the
// directory is not used). Opens no port.
PortDescriptions SystemPortDescriptions(const std::string& stableDirectory);

// Whether the system keeps a list of its serial ports (Windows: SERIALCOMM),
// so that the port dialog lists them from there and opens none. Where it does
// not (Linux, where every /dev/ttyS node exists with or without a UART), the
// dialog lists the candidates that open.
bool SystemListsPorts();

// Whether an open that failed with `openErrorCode` (errno, or GetLastError on
// Windows) found the port held by another program.
bool PortHeldByAnotherProgram(int openErrorCode);

// The group the operator should join so that `name` opens, when an open of it
// failed with `openErrorCode` (errno on POSIX) for lack of permission and
// joining that group would help; empty otherwise (always empty on Windows,
// where a refused open means the port is in use).
std::string GroupGrantingAccess(const std::string& name, int openErrorCode);

// ---- plain functions, no OS calls ----

// One step of a walk through a registry key's values: RegEnumValueW's result
// code and, on success, the value's data when it is a string.
struct EnumeratedValue {
    long result = 0;
    std::optional<std::string> text;
};
inline constexpr long kEnumSuccess = 0;     // ERROR_SUCCESS
inline constexpr long kEnumMoreData = 234;  // ERROR_MORE_DATA: this value did not fit
inline constexpr long kEnumNoMoreItems = 259;

// The non-empty strings `next` gives for index 0, 1, 2 ... A value too big
// for the buffer is passed over; any other error ends the walk, so a key
// deleted under it, say, cannot keep it going for ever.
std::vector<std::string> EnumeratedStrings(const std::function<EnumeratedValue(unsigned long index)>& next);

// Text order in which runs of decimal digits compare by their value:
// "ttyUSB2" before "ttyUSB10", "ttyS9" before "ttyS10". Equal values with
// different leading zeros fall back to plain text order, so the order is total.
bool NaturalLess(const std::string& a, const std::string& b);

// Sorts device names by family (the position of the first prefix in
// `familyPrefixes` that the name starts with; names matching none go last),
// then in natural order.
void SortPortNames(std::vector<std::string>& names, const std::vector<std::string>& familyPrefixes);

// `names` in their order, without repeats (compared without regard to case,
// as Windows compares "COM5" and "com5"), each described by the matching
// entries of `descriptions`, joined by ", " when there are several; a
// description whose port is not among `names` is dropped.
std::vector<ListedPort> ListPortsWithDescriptions(const std::vector<std::string>& names, const PortDescriptions& descriptions);

// What the port list shows for `port`: the description when it already names
// the port in brackets (Windows' "USB-SERIAL CH340 (COM5)"), else the
// description followed by the name in brackets, else the name alone.
std::string DisplayedPortName(const ListedPort& port);

// The device paths named in the kernel's list of active consoles
// (/sys/class/tty/console/active: "tty0 ttyS0\n" gives "/dev/tty0", "/dev/ttyS0").
std::vector<std::string> ConsoleDevicePaths(const std::string& activeList);

// What is known about a device whose open failed.
struct DeviceAccess {
    bool permissionDenied = false;  // the open failed with EACCES
    std::string groupName;          // the device's group; empty when unknown
    unsigned long groupId = 0;
    bool groupMayReadWrite = false; // the group has both read and write permission
    bool alreadyMember = false;     // this process already holds the group
};

// The group worth naming in the permission hint, or empty: only for a refused
// open, only for a group that can read and write the device, not root and not
// tty (the system consoles: no operator should join it), and not a group the
// process already has (joining again would not help).
std::string PermissionHintGroup(const DeviceAccess& access);

}  // namespace rq::platform
