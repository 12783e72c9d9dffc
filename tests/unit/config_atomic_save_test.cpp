// A save replaces the settings file whole or not at all: failures leave the
// old file, a process killed in the middle of saving leaves the old or the
// new content, never a truncated or mixed one.

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "support/work_dir.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wx/log.h>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using rq::config::IniFile;
using rq::config::kSettingsPath;
using rq::test::WorkDir;

namespace {

constexpr int kDroppedPrivileges = 90;  // exit code: setuid refused, the test cannot run

#ifdef _WIN32
// Windows: a read-only attribute binds every user alike, so the body runs
// here; only Wine run by root ignores it.
int RunInChild(const std::function<int()>& body)
{
    return body();
}

bool BecomeOrdinaryUser()
{
    return rq::test::ReadOnlyFilesRefuseWriting();
}
#else
// Runs `body` in a forked child and returns its exit code (-1 when it did not
// exit normally). The child never returns into the test framework.
int RunInChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Root passes every permission check; a check of what a read-only file or
// directory does needs an ordinary user.
bool BecomeOrdinaryUser()
{
    if (geteuid() != 0) return true;
    return setgid(65534) == 0 && setuid(65534) == 0;
}
#endif

std::vector<std::string> EntriesOf(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    return names;
}

// Writes every entry of a large settings file with values of one generation.
void FillLarge(IniFile& settings, char generation)
{
    for (int group = 0; group < 40; ++group) {
        for (int entry = 0; entry < 60; ++entry) {
            settings.config->Write(wxString::Format("Group%02d/Entry%02d", group, entry),
                                   wxString::Format("%c-%02d-%02d-0123456789abcdefghijklmnopqrstuvwxyz", generation,
                                                    group, entry));
        }
    }
}

}  // namespace

TEST(IniFileSaveTest, LeavesNoTemporaryFileBehind)
{
    WorkDir dir;
    IniFile settings(kSettingsPath);
    settings.config->Write(rq::config::keys::Width, 96L);
    ASSERT_TRUE(settings.Save());
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(EntriesOf(fs::path(dir.Path()) / "Config"), std::vector<std::string>{"Config.ini"});
    EXPECT_EQ(dir.ReadFile(kSettingsPath), rq::test::NativeLines("[LED]\nWidth=96\n"));
}

// File modes and a directory that refuses new entries are POSIX's; Windows
// has neither (its directories' read-only flag does not stop a new file).
#ifndef _WIN32
TEST(IniFileSaveTest, KeepsTheFileMode)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, "[LED]\nWidth=64\n");
    const fs::path file = fs::path(dir.Path()) / kSettingsPath;
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    IniFile settings(kSettingsPath);
    settings.config->Write(rq::config::keys::Width, 96L);
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(IniFileSaveTest, ReadOnlyDirectoryFailsAndKeepsTheOldFile)
{
    WorkDir dir;
    const std::string old = "; old\n[LED]\nWidth=64\n";
    dir.WriteFile(kSettingsPath, old);
    const fs::path config = fs::path(dir.Path()) / "Config";
    // Readable and writable file, in a directory nobody may add to.
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(config / "Config.ini", fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                                             fs::perms::others_exec));
    fs::permissions(config, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);

    const int result = RunInChild([] {
        if (!BecomeOrdinaryUser()) return kDroppedPrivileges;
        wxLogNull quiet;
        IniFile settings(kSettingsPath);
        settings.config->Write(rq::config::keys::Width, 96L);
        return settings.Save() ? 1 : 0;
    });
    fs::permissions(config, fs::perms::owner_all);
    if (result == kDroppedPrivileges) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(result, 0) << "the save must report failure";
    EXPECT_EQ(dir.ReadFile(kSettingsPath), old);
    EXPECT_EQ(EntriesOf(config), std::vector<std::string>{"Config.ini"});
}

#endif

TEST(IniFileSaveTest, ReadOnlyFileIsNotReplaced)
{
    WorkDir dir;
    const std::string old = "[LED]\nWidth=64\n";
    dir.WriteFile(kSettingsPath, old);
    const fs::path config = fs::path(dir.Path()) / "Config";
    // A writable directory: only the file's own mode protects it.
    fs::permissions(dir.Path(), fs::perms::all);
    fs::permissions(config, fs::perms::all);
    fs::permissions(config / "Config.ini", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    const int result = RunInChild([] {
        if (!BecomeOrdinaryUser()) return kDroppedPrivileges;
        wxLogNull quiet;
        IniFile settings(kSettingsPath);
        settings.config->Write(rq::config::keys::Width, 96L);
        return settings.Save() ? 1 : 0;
    });
    fs::permissions(config / "Config.ini", fs::perms::owner_read | fs::perms::owner_write);  // removable again
    if (result == kDroppedPrivileges) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(result, 0) << "the save must report failure";
    EXPECT_EQ(dir.ReadFile(kSettingsPath), old);
    EXPECT_EQ(EntriesOf(config), std::vector<std::string>{"Config.ini"});
}

// A file-size limit and a forked child killed mid-save are POSIX's.
#ifndef _WIN32
// A disk that fills up half-way through the new content: the file-size limit
// stops the write the way a full disk does.
TEST(IniFileSaveTest, FullDiskFailsAndKeepsTheOldFile)
{
    WorkDir dir;
    const std::string old = "; old\n[LED]\nWidth=64\n";
    dir.WriteFile(kSettingsPath, old);

    const int result = RunInChild([] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        wxLogNull quiet;
        IniFile settings(kSettingsPath);
        FillLarge(settings, 'N');  // far more than 4096 bytes
        return settings.Save() ? 1 : 0;
    });
    EXPECT_EQ(result, 0) << "the save must report failure";
    EXPECT_EQ(dir.ReadFile(kSettingsPath), old);
    EXPECT_EQ(EntriesOf(fs::path(dir.Path()) / "Config"), std::vector<std::string>{"Config.ini"});
}

// A file that must be kept before it is rewritten (it did not parse cleanly,
// or it was read as GBK) on a disk with room for the small new content but
// not for the copy of the large old one: without its copy it stays as it is.
struct UncopiableCase {
    const char* name;
    std::string firstLines;  // then a large group of notes the run deletes
    bool gbk;
};

class UncopiableFileTest : public testing::TestWithParam<UncopiableCase> {};

TEST_P(UncopiableFileTest, IsNotReplacedWhenNoCopyCanBeMade)
{
    WorkDir dir;
    std::string old = GetParam().firstLines + "[Notes]\n";
    // "三号工位" in GBK or UTF-8.
    const std::string station = GetParam().gbk ? "\xC8\xFD\xBA\xC5\xB9\xA4\xCE\xBB" : "x";
    for (int line = 0; line < 600; ++line) old += "note" + std::to_string(line) + "=" + station + "\n";
    ASSERT_GT(old.size(), 4096u);
    dir.WriteFile(kSettingsPath, old);

    const int result = RunInChild([] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        wxLogNull quiet;
        IniFile settings(kSettingsPath);
        if (settings.ParsedCleanly() && !settings.readAsGbk) return 3;
        settings.config->DeleteGroup("Notes");
        settings.config->Write(rq::config::keys::Width, 96L);
        return settings.Save() ? 1 : 0;
    });
    EXPECT_EQ(result, 0) << "the save must report failure";
    EXPECT_EQ(dir.ReadFile(kSettingsPath), old);
    EXPECT_EQ(EntriesOf(fs::path(dir.Path()) / "Config"), std::vector<std::string>{"Config.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, UncopiableFileTest,
    testing::Values(UncopiableCase{"Damaged", "[LED]\nWidth=64\nmy own note\n", false},
                    UncopiableCase{"Gbk", "; \xC8\xFD\xBA\xC5\n[LED]\nWidth=64\n", true}),
    [](const testing::TestParamInfo<UncopiableCase>& info) { return std::string(info.param.name); });

TEST(IniFileSaveTest, KilledSavesLeaveTheOldOrTheNewFile)
{
    WorkDir dir;
    const std::string path = kSettingsPath;
    std::string contentA;
    std::string contentB;
    {
        IniFile settings(path);
        FillLarge(settings, 'A');
        ASSERT_TRUE(settings.Save());
        contentA = dir.ReadFile(path);
    }
    auto started = std::chrono::steady_clock::now();
    {
        dir.WriteFile("Config/B.ini", contentA);
        IniFile settings("Config/B.ini");
        FillLarge(settings, 'B');
        ASSERT_TRUE(settings.Save());
        contentB = dir.ReadFile("Config/B.ini");
        fs::remove(fs::path(dir.Path()) / "Config/B.ini");
    }
    // One load, fill and save: the span in which the kills should land.
    const auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_NE(contentA, contentB);
    ASSERT_GT(contentA.size(), 100000u);
    ASSERT_EQ(contentA.size(), contentB.size()) << "equal sizes: a mixed file would not show in its length";

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 50; ++round) {
        int saves[2];
        ASSERT_EQ(pipe(saves), 0);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(saves[0]);
            wxLogNull quiet;
            for (unsigned n = 0;; ++n) {
                IniFile settings(path);
                FillLarge(settings, n % 2 ? 'A' : 'B');
                if (!settings.Save()) _exit(3);
                if (write(saves[1], "s", 1) != 1) _exit(4);
            }
        }
        close(saves[1]);
        // Let the child finish 0 to 2 saves, then kill it at a random moment
        // of the following ones. The random delay chooses the moment; it
        // waits for nothing.
        const int completed = std::uniform_int_distribution<int>(0, 2)(random);
        bool saving = true;
        for (int n = 0; saving && n < completed; ++n) {
            pollfd ready{saves[0], POLLIN, 0};
            char byte = 0;
            saving = poll(&ready, 1, 30000) == 1 && read(saves[0], &byte, 1) == 1;
        }
        if (saving) {
            const auto delay = std::uniform_int_distribution<long long>(0, 2 * saveTime.count())(random);
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
        }
        kill(child, SIGKILL);  // before any assertion: the child would save forever
        int status = 0;
        waitpid(child, &status, 0);
        close(saves[0]);
        ASSERT_TRUE(saving) << "round " << round << ": the child stopped saving";
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child ended by itself, status " << status;

        const std::string now = dir.ReadFile(path);
        ASSERT_TRUE(now == contentA || now == contentB)
            << "round " << round << ": the file holds " << now.size() << " bytes of neither content";
    }
}
#endif
