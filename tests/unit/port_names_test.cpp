// Port names: the natural order of device names, the family order of the
// Linux list, the stable names of adapters (links of the test's own to
// pseudo-terminals), the candidate override used by every dialog test, and
// when the dialog names a group to join.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/port_names.h"
#include "support/work_dir.h"

using rq::platform::DeviceAccess;

namespace {

struct OrderCase {
    std::string a;
    std::string b;
    bool aFirst;
};

class NaturalLessTest : public testing::TestWithParam<OrderCase> {};

TEST_P(NaturalLessTest, OrdersAsExpected)
{
    const OrderCase& c = GetParam();
    EXPECT_EQ(rq::platform::NaturalLess(c.a, c.b), c.aFirst) << c.a << " vs " << c.b;
    // The reverse must hold too, except for equal names.
    if (c.a != c.b) {
        EXPECT_EQ(rq::platform::NaturalLess(c.b, c.a), !c.aFirst) << c.b << " vs " << c.a;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, NaturalLessTest,
    testing::Values(OrderCase{"ttyUSB2", "ttyUSB10", true},
                    OrderCase{"ttyS9", "ttyS10", true},
                    OrderCase{"ttyS10", "ttyS9", false},
                    OrderCase{"ttyS1", "ttyS1", false},
                    OrderCase{"/dev/ttyUSB99", "/dev/ttyUSB100", true},
                    OrderCase{"COM9", "COM10", true},
                    OrderCase{"COM256", "COM26", false},
                    OrderCase{"ttyS", "ttyS0", true},          // a prefix comes first
                    OrderCase{"ttyS01", "ttyS1", true},        // equal values: text order
                    OrderCase{"ttyS1", "ttyS02", true},        // value before leading zeros
                    OrderCase{"ttyACM0", "ttyAMA0", true},     // letters compare as text
                    OrderCase{"a2b10", "a2b9", false},         // every digit run by value
                    OrderCase{"x18446744073709551616", "x18446744073709551617", true}));  // beyond 64 bits

TEST(SortPortNames, FamiliesInGivenOrderNumbersNaturally)
{
    std::vector<std::string> names = {"/dev/rfcomm0",  "/dev/ttyUSB10", "/dev/ttyS10", "/dev/ttyAMA0",
                                      "/dev/ttyUSB2",  "/dev/ttyS2",    "/dev/ttyACM1", "/dev/other",
                                      "/dev/ttyACM0",  "/dev/ttyS0"};
    rq::platform::SortPortNames(names, {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyAMA", "/dev/rfcomm"});
    const std::vector<std::string> expected = {"/dev/ttyS0",   "/dev/ttyS2",   "/dev/ttyS10", "/dev/ttyUSB2",
                                               "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyAMA0",
                                               "/dev/rfcomm0", "/dev/other"};
    EXPECT_EQ(names, expected);
}

// The registry walk behind the Windows list: a value too long for the buffer
// is passed over; a key deleted mid-walk answers with an error for ever, and
// the walk must end there (the enumerator gives up after 50 questions so a
// walk that does not stop fails instead of hanging).
TEST(EnumeratedStrings, EndsOnAnyErrorButMoreData)
{
    unsigned long asked = 0;
    const std::vector<std::string> names = rq::platform::EnumeratedStrings([&asked](unsigned long index) {
        ++asked;
        rq::platform::EnumeratedValue value;
        if (asked > 50) value.result = rq::platform::kEnumNoMoreItems;
        else if (index == 1) value.result = rq::platform::kEnumMoreData;
        else if (index >= 3) value.result = 1018;  // ERROR_KEY_DELETED
        else value.text = "COM" + std::to_string(index + 1);
        return value;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM3"}));
    EXPECT_EQ(asked, 4u) << "the walk went on past a persistent error";
}

// The scan of /dev and the kernel's console list are Linux's.
#ifndef _WIN32
TEST(SystemPortNames, OnlySerialCharacterDevicesInStableOrder)
{
    // Looks at /dev without opening anything.
    const std::vector<std::string> names = rq::platform::SystemPortNames();
    std::vector<std::string> sorted = names;
    rq::platform::SortPortNames(sorted, {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyAMA", "/dev/rfcomm"});
    EXPECT_EQ(names, sorted);
    for (const std::string& name : names) {
        struct stat status {};
        ASSERT_EQ(stat(name.c_str(), &status), 0) << name;
        EXPECT_TRUE(S_ISCHR(status.st_mode)) << name;
        EXPECT_EQ(name.find("/dev/"), 0u) << name;
        EXPECT_NE(name.find_last_of("0123456789"), std::string::npos) << name;
        EXPECT_EQ(name.find_last_of("0123456789"), name.size() - 1) << name;
    }
    EXPECT_EQ(rq::platform::SystemPortNames(), names);
}

#endif

TEST(ConsoleDevicePaths, ReadsTheKernelsList)
{
    using rq::platform::ConsoleDevicePaths;
    EXPECT_EQ(ConsoleDevicePaths("tty0 ttyS0\n"), (std::vector<std::string>{"/dev/tty0", "/dev/ttyS0"}));
    EXPECT_EQ(ConsoleDevicePaths("ttyAMA0"), (std::vector<std::string>{"/dev/ttyAMA0"}));
    EXPECT_TRUE(ConsoleDevicePaths("").empty());
    EXPECT_TRUE(ConsoleDevicePaths(" \n").empty());
}

#ifndef _WIN32
TEST(SystemPortNames, LeavesOutTheActiveConsoles)
{
    std::ifstream in("/sys/class/tty/console/active");
    std::ostringstream content;
    content << in.rdbuf();
    const auto consoles = rq::platform::ConsoleDevicePaths(content.str());
    for (const std::string& name : rq::platform::SystemPortNames()) {
        for (const std::string& console : consoles) EXPECT_NE(name, console);
    }
}

#endif

TEST(CandidatePortNames, OverrideReplacesTheSystemListUntilCleared)
{
    const std::vector<std::string> fake = {"/tmp/b-port", "/tmp/a-port"};
    rq::platform::SetCandidatePortNames(fake);
    EXPECT_EQ(rq::platform::CandidatePortNames(), fake);  // as given, not re-sorted
    rq::platform::SetCandidatePortNames({});
    EXPECT_TRUE(rq::platform::CandidatePortNames().empty());
    rq::platform::ClearCandidatePortNames();
    std::vector<std::string> system = rq::platform::SystemPortNames();
    const std::vector<std::string> stable =
        rq::platform::StablePortNames(rq::platform::SystemStableNameDirectory());
    system.insert(system.end(), stable.begin(), stable.end());
    EXPECT_EQ(rq::platform::CandidatePortNames(), system);
}

// ---- described ports (--list-ports, and Windows' port dialog) ----

struct DescribedCase {
    const char* what;
    std::vector<std::string> names;
    rq::platform::PortDescriptions descriptions;
    std::vector<rq::platform::ListedPort> listed;
    std::vector<std::string> shown;  // as the port dialog shows each
};

class DescribedPortsTest : public testing::TestWithParam<DescribedCase> {};

TEST_P(DescribedPortsTest, EachPortOnceWithItsDescriptions)
{
    const DescribedCase& c = GetParam();
    const auto listed = rq::platform::ListPortsWithDescriptions(c.names, c.descriptions);
    EXPECT_EQ(listed, c.listed) << c.what;
    std::vector<std::string> shown;
    for (const auto& port : listed) shown.push_back(rq::platform::DisplayedPortName(port));
    EXPECT_EQ(shown, c.shown) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DescribedPortsTest,
    testing::Values(
        DescribedCase{"Windows: friendly names name the port in brackets",
                      {"COM1", "COM5", "COM10"},
                      {{"COM5", "USB-SERIAL CH340 (COM5)"}, {"COM1", "Communications Port (COM1)"}},
                      {{"COM1", "Communications Port (COM1)"}, {"COM5", "USB-SERIAL CH340 (COM5)"}, {"COM10", ""}},
                      {"Communications Port (COM1)", "USB-SERIAL CH340 (COM5)", "COM10"}},
        DescribedCase{"Windows compares port names without regard to case; the list keeps the system's spelling",
                      {"COM3", "com3"},
                      {{"com3", "USB Serial Port (COM3)"}},
                      {{"COM3", "USB Serial Port (COM3)"}},
                      {"USB Serial Port (COM3)"}},
        DescribedCase{"a description of a port the list lacks is dropped; COM1 is not COM12",
                      {"COM1"},
                      {{"COM12", "Prolific USB-to-Serial Comm Port (COM12)"}, {"COM1", "Bluetooth link (COM12)"}},
                      {{"COM1", "Bluetooth link (COM12)"}},
                      {"Bluetooth link (COM12) (COM1)"}},
        DescribedCase{"Linux: every stable name of a device, in the order given",
                      {"/dev/ttyUSB0", "/dev/ttyUSB1"},
                      {{"/dev/ttyUSB1", "/dev/serial/by-id/usb-FTDI_A1-port0"},
                       {"/dev/ttyUSB1", "/dev/serial/by-id/usb-FTDI_A1-if01-port0"},
                       {"/dev/ttyUSB0", ""}},
                      {{"/dev/ttyUSB0", ""},
                       {"/dev/ttyUSB1", "/dev/serial/by-id/usb-FTDI_A1-port0, /dev/serial/by-id/usb-FTDI_A1-if01-port0"}},
                      {"/dev/ttyUSB0",
                       "/dev/serial/by-id/usb-FTDI_A1-port0, /dev/serial/by-id/usb-FTDI_A1-if01-port0 (/dev/ttyUSB1)"}},
        DescribedCase{"nothing listed", {}, {{"COM5", "USB-SERIAL CH340 (COM5)"}}, {}, {}}),
    [](const testing::TestParamInfo<DescribedCase>& info) { return "Case" + std::to_string(info.index); });

TEST(DescribedPorts, DescriptionsFromTheSourceSetUntilCleared)
{
    rq::platform::SetCandidatePortNames({"COM7", "COM2"});
    rq::platform::SetPortDescriptionSource([] {
        return rq::platform::PortDescriptions{{"COM7", "USB-SERIAL CH340 (COM7)"}};
    });
    EXPECT_EQ(rq::platform::DescribedPorts(),
              (std::vector<rq::platform::ListedPort>{{"COM7", "USB-SERIAL CH340 (COM7)"}, {"COM2", ""}}));
    rq::platform::ClearCandidatePortNames();
    rq::platform::SetCandidatePortNames({"COM7"});
    EXPECT_EQ(rq::platform::DescribedPorts(), (std::vector<rq::platform::ListedPort>{{"COM7", ""}}))
        << "cleared: the system's descriptions, which know no COM7 here";
    rq::platform::ClearCandidatePortNames();
}

#ifdef _WIN32
// The suites map COM1 to COM16 in Wine's port list; COM1 to COM10 lead to
// paths that do not exist, so a list made by opening ports would lack them.
// Wine adds names of its own for the host's serial devices after them.
TEST(SystemPortNames, WindowsListsItsPortsInNaturalOrderWithoutOpeningThem)
{
    const std::vector<std::string> names = rq::platform::SystemPortNames();
    std::string all;
    for (const std::string& name : names) all += name + " ";
    std::printf("SERIALCOMM: %s\n", all.c_str());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), rq::platform::NaturalLess)) << all;
    if (!std::getenv("RQ_SIM_PORTS")) GTEST_SKIP() << "not in the Wine suites' prefix";
    ASSERT_GE(names.size(), 16u) << all;
    for (int n = 1; n <= 16; ++n) EXPECT_EQ(names[n - 1], "COM" + std::to_string(n)) << all;
    EXPECT_TRUE(rq::platform::SystemListsPorts());
}
#endif

#ifndef _WIN32
// Stable adapter names are links under /dev/serial/by-id, which only Linux
// makes.
// ---- stable names ----

// A pseudo-terminal whose slave node exists while the master is held.
class LivePty {
public:
    LivePty()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            close(slave);
            path = name;
        }
    }
    ~LivePty()
    {
        if (master >= 0) close(master);
    }
    LivePty(const LivePty&) = delete;
    LivePty& operator=(const LivePty&) = delete;

    std::string path;

private:
    int master = -1;
};

// A by-id directory of the test's own: links named as udev names adapters.
class StableNamesTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(a.path.empty());
        ASSERT_FALSE(b.path.empty());
        ASSERT_FALSE(console.path.empty());
        ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    }
    void TearDown() override { rq::platform::SetCandidatePortNames({}); }

    std::string Link(const std::string& name, const std::string& target) const
    {
        const std::string path = directory + "/" + name;
        EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
        return path;
    }

    rq::test::WorkDir work;
    const std::string directory = work.Path() + "/by-id";
    LivePty a;
    LivePty b;
    LivePty console;
};

TEST_F(StableNamesTest, LinksToLiveDevicesInNaturalOrderTheRestLeftOut)
{
    const std::string tenth = Link("usb-FTDI_FT232R_USB_UART_A10-if00-port0", a.path);
    const std::string ninth = Link("usb-FTDI_FT232R_USB_UART_A9-if00-port0", b.path);
    const std::string chained = Link("usb-WCH_CH340-if00-port0", ninth);  // a link to a link
    Link("usb-Prolific_PL2303-if00-port0", work.Path() + "/unplugged");   // leads nowhere
    Link("usb-Console_Adapter-if00-port0", console.path);
    work.WriteFile("by-id/notes.txt", "");                                 // no device
    ASSERT_EQ(mkdir((directory + "/subdirectory").c_str(), 0755), 0);

    // The console named by a link of its own is recognised all the same.
    const std::string consoleAlias = work.Path() + "/console-alias";
    ASSERT_EQ(symlink(console.path.c_str(), consoleAlias.c_str()), 0);
    EXPECT_EQ(rq::platform::StablePortNames(directory, {consoleAlias}),
              (std::vector<std::string>{ninth, tenth, chained}));
    EXPECT_EQ(rq::platform::StablePortNames(directory, {}),
              (std::vector<std::string>{directory + "/usb-Console_Adapter-if00-port0", ninth, tenth, chained}));
}

TEST_F(StableNamesTest, NoNameOfTheSystemConsoleGetsThrough)
{
    // Looked at, never opened.
    const std::string live = Link("usb-Live_Adapter-if00-port0", a.path);
    std::ifstream in("/sys/class/tty/console/active");
    std::ostringstream content;
    content << in.rdbuf();
    std::vector<std::string> targets = rq::platform::ConsoleDevicePaths(content.str());
    targets.push_back("/dev/console");
    targets.push_back("/dev/tty");
    for (std::size_t k = 0; k < targets.size(); ++k) Link("usb-Console_" + std::to_string(k) + "-if00", targets[k]);
    EXPECT_EQ(rq::platform::StablePortNames(directory), std::vector<std::string>{live});
}

TEST_F(StableNamesTest, MissingDirectoryListsNothing)
{
    EXPECT_TRUE(rq::platform::StablePortNames(work.Path() + "/no-serial/by-id").empty());
    EXPECT_EQ(rq::platform::SystemStableNameDirectory(), "/dev/serial/by-id");
}

TEST_F(StableNamesTest, CandidatesAreThePlainNamesThenTheStableOnes)
{
    const std::string stableA = Link("usb-RQ_Adapter_2-if00-port0", a.path);
    const std::string stableB = Link("usb-RQ_Adapter_10-if00-port0", b.path);
    // A stable name stays listed beside the plain name of its device.
    rq::platform::SetCandidatePortNames({b.path, a.path});
    EXPECT_EQ(rq::platform::CandidatePortNames(), (std::vector<std::string>{b.path, a.path}))
        << "plain names set alone: no directory is looked at";
    rq::platform::SetStableNameDirectory(directory);
    EXPECT_EQ(rq::platform::CandidatePortNames(), (std::vector<std::string>{b.path, a.path, stableA, stableB}));
    // Setting the plain names again forgets the directory.
    rq::platform::SetCandidatePortNames({a.path});
    EXPECT_EQ(rq::platform::CandidatePortNames(), std::vector<std::string>{a.path});
}

TEST_F(StableNamesTest, DescribedPortsArePlainNamesDescribedByTheirStableNames)
{
    const std::string first = Link("usb-RQ_Adapter_A-if00-port0", a.path);
    const std::string viaLink = Link("usb-RQ_Adapter_A-if01-port0", first);
    rq::platform::SetCandidatePortNames({b.path, a.path});
    rq::platform::SetStableNameDirectory(directory);
    EXPECT_EQ(rq::platform::DescribedPorts(),
              (std::vector<rq::platform::ListedPort>{{b.path, ""}, {a.path, first + ", " + viaLink}}));
    EXPECT_FALSE(rq::platform::SystemListsPorts());
}

#endif

struct HintCase {
    const char* what;
    DeviceAccess access;
    std::string group;
};

DeviceAccess Access(bool denied, const char* group, unsigned long gid, bool readWrite, bool member)
{
    DeviceAccess access;
    access.permissionDenied = denied;
    access.groupName = group;
    access.groupId = gid;
    access.groupMayReadWrite = readWrite;
    access.alreadyMember = member;
    return access;
}

class PermissionHintTest : public testing::TestWithParam<HintCase> {};

TEST_P(PermissionHintTest, NamesOnlyAGroupThatHelps)
{
    EXPECT_EQ(rq::platform::PermissionHintGroup(GetParam().access), GetParam().group) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, PermissionHintTest,
    testing::Values(HintCase{"dialout device refused", Access(true, "dialout", 20, true, false), "dialout"},
                    HintCase{"uucp device refused", Access(true, "uucp", 10, true, false), "uucp"},
                    HintCase{"failed for another reason", Access(false, "dialout", 20, true, false), ""},
                    HintCase{"console group", Access(true, "tty", 5, true, false), ""},
                    HintCase{"root group by name", Access(true, "root", 0, true, false), ""},
                    HintCase{"gid 0 under another name", Access(true, "wheel", 0, true, false), ""},
                    HintCase{"group may not write", Access(true, "dialout", 20, false, false), ""},
                    HintCase{"already a member", Access(true, "dialout", 20, true, true), ""},
                    HintCase{"group unknown", Access(true, "", 1234, true, false), ""}));

// The dialout hint reads a device node's group and mode: Linux's.
#ifndef _WIN32
// The OS side: reads the group and mode of the node. Changing a file's group
// to one this process does not hold needs root; elsewhere the case is skipped.
class GroupGrantingAccessTest : public testing::Test {
protected:
    void SetUp() override
    {
        const group* dialout = getgrnam("dialout");
        if (!dialout) GTEST_SKIP() << "no dialout group on this machine";
        dialoutId = dialout->gr_gid;
        work.WriteFile("device", "");
        path = work.Path() + "/device";
        if (chown(path.c_str(), static_cast<uid_t>(-1), dialoutId) != 0) GTEST_SKIP() << "cannot change the group";
        if (getegid() == dialoutId) GTEST_SKIP() << "this process already holds dialout";
        gid_t groups[256];
        const int count = getgroups(256, groups);
        for (int k = 0; k < count; ++k) {
            if (groups[k] == dialoutId) GTEST_SKIP() << "this process already holds dialout";
        }
    }

    rq::test::WorkDir work;
    std::string path;
    gid_t dialoutId = 0;
};

TEST_F(GroupGrantingAccessTest, RefusedDialoutDeviceNamesDialout)
{
    ASSERT_EQ(chmod(path.c_str(), 0660), 0);
    EXPECT_EQ(rq::platform::GroupGrantingAccess(path, EACCES), "dialout");
}

TEST_F(GroupGrantingAccessTest, NoHintForOtherFailures)
{
    ASSERT_EQ(chmod(path.c_str(), 0660), 0);
    EXPECT_EQ(rq::platform::GroupGrantingAccess(path, ENOENT), "");
    EXPECT_EQ(rq::platform::GroupGrantingAccess(path, EBUSY), "");
    EXPECT_EQ(rq::platform::GroupGrantingAccess(path, 0), "");
}

TEST_F(GroupGrantingAccessTest, NoHintWhenTheGroupMayNotWrite)
{
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(rq::platform::GroupGrantingAccess(path, EACCES), "");
}

TEST_F(GroupGrantingAccessTest, NoHintForAVanishedNode)
{
    EXPECT_EQ(rq::platform::GroupGrantingAccess(work.Path() + "/gone", EACCES), "");
}

TEST_F(GroupGrantingAccessTest, NoHintForTheConsoleGroup)
{
    const group* tty = getgrnam("tty");
    if (!tty) GTEST_SKIP() << "no tty group on this machine";
    ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), tty->gr_gid), 0);
    ASSERT_EQ(chmod(path.c_str(), 0660), 0);
    EXPECT_EQ(rq::platform::GroupGrantingAccess(path, EACCES), "");
}

#endif

}  // namespace
