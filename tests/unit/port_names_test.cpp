// Port names: the natural order of device names, the family order of the
// Linux list, the candidate override used by every dialog test, and when the
// dialog names a group to join.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
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
    EXPECT_EQ(rq::platform::CandidatePortNames(), rq::platform::SystemPortNames());
}

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
