// The settings file survives what happens to a program in the field: a
// process killed at any moment of its start-up-to-exit cycle, and files
// that are damaged, oddly encoded or hand-edited.

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "support/work_dir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <wx/log.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using rq::config::IniFile;
using rq::config::kSettingsPath;
using rq::test::WorkDir;
namespace keys = rq::config::keys;

namespace {

constexpr int kUnknownKeys = 400;

// A settings file as an operator may keep it: comments and keys of another
// tool beside the program's own, all of which must survive every save.
std::string OperatorsFile()
{
    std::string text = "; settings of the bench at line 3\n[Setting]\nlang=58\nMode=RQ-M4T\n"
                       "[SerialPort]\nCOM=/dev/ttyUSB0\nBSP=9600\n[LED]\nWidth=64\nHigh=16\nid=1\n";
    text += "[Notes]\n";
    for (int i = 0; i < kUnknownKeys; ++i)
        text += "; note " + std::to_string(i) + "\nnote" + std::to_string(i) + "=kept by the operator " +
                std::to_string(i) + "\n";
    return text;
}

// What the program does from start to exit, with every value it writes
// carrying the run's generation: start-up reads the language with a store of
// its own, the window opens its store, reads, its handlers write, and the
// window's destructor saves.
bool RunOnce(long generation)
{
    {
        IniFile startup(kSettingsPath);
        startup.config->ReadLong(keys::Lang, 58);
    }
    IniFile settings(kSettingsPath);
    settings.config->Read(keys::ComPort, wxString());
    // Values of varying width, so a file cut short or mixed from two runs
    // cannot hide behind an unchanged length.
    settings.config->Write(keys::Width, generation * 8);
    settings.config->Write(keys::High, generation % 7 == 0 ? 8L : generation * 1000);
    settings.config->Write(keys::ComPort, wxString::Format("/dev/ttyUSB%ld", generation));
    settings.config->Write(keys::LedId, generation);
    settings.config->Write(keys::Mode, generation % 2 ? wxString("RQ-M4S") : wxString("RQ-M4T"));
    return settings.Save();
}

// The generation every written key agrees on; -1 when they disagree (a
// mixed file) or a kept line is missing (a truncated one).
long CheckedGeneration(const WorkDir& dir)
{
    IniFile settings(kSettingsPath);
    wxConfigBase& config = *settings.config;
    const long generation = config.ReadLong(keys::LedId, -1);
    if (generation < 0) return -1;
    if (config.ReadLong(keys::Width, -1) != generation * 8) return -1;
    if (config.ReadLong(keys::High, -1) != (generation % 7 == 0 ? 8L : generation * 1000)) return -1;
    if (config.Read(keys::ComPort, wxString()) != wxString::Format("/dev/ttyUSB%ld", generation)) return -1;
    if (config.Read(keys::Mode, wxString()) != (generation % 2 ? "RQ-M4S" : "RQ-M4T")) return -1;
    for (int i = 0; i < kUnknownKeys; ++i) {
        if (config.Read(wxString::Format("Notes/note%d", i), wxString()) !=
            wxString::Format("kept by the operator %d", i))
            return -1;
    }
    const std::string text = dir.ReadFile(kSettingsPath);
    if (text.find(rq::test::NativeLines("; note " + std::to_string(kUnknownKeys - 1) + "\n")) == std::string::npos)
        return -1;
    return generation;
}

// The operator's file saved twice, generations 0 and 1, each checked; sets
// how long one run takes: the span in which the kills land.
void SaveTwiceAndTimeARun(const WorkDir& dir, std::chrono::microseconds& runTime)
{
    dir.WriteFile(kSettingsPath, OperatorsFile());
    ASSERT_TRUE(RunOnce(0));
    ASSERT_EQ(CheckedGeneration(dir), 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunOnce(1));
    runTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_EQ(CheckedGeneration(dir), 1);
}

}  // namespace

#ifdef _WIN32
// Windows has no fork: the child is this test program again, running only the
// disabled test below in the same working directory. It appends a byte to a
// progress file after each complete run; TerminateProcess kills it.
namespace {

const char kChildVariable[] = "RQ_SETTINGS_KILL_CHILD";  // the child's first generation
const char kProgressFile[] = "runs.progress";

std::uintmax_t CompletedRuns()
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(kProgressFile, error);
    return error ? 0 : size;
}

}  // namespace

TEST(SettingsKillTest, DISABLED_ChildRunsUntilKilled)
{
    const char* first = std::getenv(kChildVariable);
    if (!first) GTEST_SKIP() << "the child of ProcessKilledAnywhereInItsRunLeavesAWholeFile";
    wxLogNull quiet;
    for (long generation = std::atol(first);; ++generation) {
        if (!RunOnce(generation)) std::_Exit(3);
        std::ofstream(kProgressFile, std::ios::app | std::ios::binary) << 'r';
    }
}

TEST(SettingsKillTest, ProcessKilledAnywhereInItsRunLeavesAWholeFile)
{
    WorkDir dir;
    std::chrono::microseconds runTime{};
    ASSERT_NO_FATAL_FAILURE(SaveTwiceAndTimeARun(dir, runTime));

    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // The child's own test output is not wanted in ours.
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    long last = 1;
    // Fewer rounds than on Linux: each starts a process, which takes long under Wine.
    for (int round = 0; round < 20; ++round) {
        fs::remove(kProgressFile);
        SetEnvironmentVariableA(kChildVariable, std::to_string(last + 1).c_str());
        std::wstring command = std::wstring(L"\"") + self +
                               L"\" --gtest_also_run_disabled_tests --gtest_filter=SettingsKillTest.DISABLED_ChildRunsUntilKilled";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdOutput = nul;
        startup.hStdError = nul;
        PROCESS_INFORMATION child{};
        const bool created =
            CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
        SetEnvironmentVariableA(kChildVariable, nullptr);
        ASSERT_TRUE(created) << "CreateProcess failed: " << GetLastError();

        // Wait for the child's first complete run, then kill it at a random
        // moment of the runs that follow. The delay only picks the moment.
        bool running = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!running && std::chrono::steady_clock::now() < deadline &&
               WaitForSingleObject(child.hProcess, 5) == WAIT_TIMEOUT)
            running = CompletedRuns() > 0;
        if (running) {
            const auto delay = std::uniform_int_distribution<long long>(0, 2 * runTime.count())(random);
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
        }
        constexpr UINT kKilled = 0xDEAD;
        TerminateProcess(child.hProcess, kKilled);  // before any assertion: the child would run forever
        WaitForSingleObject(child.hProcess, 30000);
        DWORD status = 0;
        GetExitCodeProcess(child.hProcess, &status);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        ASSERT_TRUE(running) << "round " << round << ": the child never completed a run";
        ASSERT_EQ(status, kKilled) << "round " << round << ": the child ended by itself";

        const long now = CheckedGeneration(dir);
        ASSERT_GT(now, last) << "round " << round << ": the file is damaged or went back to an older run";
        last = now;
    }
    CloseHandle(nul);
    // Whatever temporary files the kills left behind, the next run saves.
    ASSERT_TRUE(RunOnce(last + 1));
    EXPECT_EQ(CheckedGeneration(dir), last + 1);
}

#else
// A forked child killed mid-run.
TEST(SettingsKillTest, ProcessKilledAnywhereInItsRunLeavesAWholeFile)
{
    WorkDir dir;
    std::chrono::microseconds runTime{};
    ASSERT_NO_FATAL_FAILURE(SaveTwiceAndTimeARun(dir, runTime));

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    long last = 1;
    for (int round = 0; round < 40; ++round) {
        int runs[2];
        ASSERT_EQ(pipe(runs), 0);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(runs[0]);
            wxLogNull quiet;
            for (long generation = last + 1;; ++generation) {
                if (!RunOnce(generation)) _exit(3);
                if (write(runs[1], "r", 1) != 1) _exit(4);
            }
        }
        close(runs[1]);
        // Wait for the child's first complete run, then kill it at a random
        // moment of the runs that follow. The delay only picks the moment.
        pollfd ready{runs[0], POLLIN, 0};
        char byte = 0;
        const bool running = poll(&ready, 1, 30000) == 1 && read(runs[0], &byte, 1) == 1;
        if (running) {
            const auto delay = std::uniform_int_distribution<long long>(0, 2 * runTime.count())(random);
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
        }
        kill(child, SIGKILL);  // before any assertion: the child would run forever
        int status = 0;
        waitpid(child, &status, 0);
        close(runs[0]);
        ASSERT_TRUE(running) << "round " << round << ": the child never completed a run";
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child ended by itself, status " << status;

        const long now = CheckedGeneration(dir);
        ASSERT_GT(now, last) << "round " << round << ": the file is damaged or went back to an older run";
        last = now;
    }
    // Whatever temporary files the kills left behind, the next run saves.
    ASSERT_TRUE(RunOnce(last + 1));
    EXPECT_EQ(CheckedGeneration(dir), last + 1);
}

#endif

namespace {

// Counts the toolkit's assertion failures while it lives. A failed assertion
// in the program shows a modal box at start-up: none may come from the
// settings file's content.
class AssertCounter {
public:
    AssertCounter() : previous(wxSetAssertHandler(&AssertCounter::Count)) { count = 0; messages.clear(); }
    ~AssertCounter() { wxSetAssertHandler(previous); }
    static int count;
    static std::string messages;

private:
    static void Count(const wxString& file, int line, const wxString&, const wxString& cond, const wxString& msg)
    {
        ++count;
        messages += (file + ":" + wxString::Format("%d", line) + " " + cond + " " + msg + "\n").utf8_string();
    }
    wxAssertHandler_t previous;
};
int AssertCounter::count = 0;
std::string AssertCounter::messages;

std::string Utf16Le(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

struct OddFile {
    const char* name;
    std::string bytes;
    long width;  // LED/Width as the window must read it
};

void PrintTo(const OddFile& file, std::ostream* out) { *out << file.name; }

class OddSettingsFile : public ::testing::TestWithParam<OddFile> {};

}  // namespace

TEST_P(OddSettingsFile, ReadsWithoutAssertionAndSavesWithoutLoss)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, GetParam().bytes);
    AssertCounter asserts;
    wxLogNull quiet;
    {
        IniFile settings(kSettingsPath);
        EXPECT_EQ(settings.config->ReadLong(keys::Width, 64), GetParam().width);
        ASSERT_TRUE(settings.Save());
    }
    IniFile again(kSettingsPath);
    EXPECT_EQ(again.config->ReadLong(keys::Width, 64), GetParam().width) << "the save lost what was read";
    EXPECT_EQ(AssertCounter::count, 0) << AssertCounter::messages;
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, OddSettingsFile,
    ::testing::Values(
        // Power cuts leave files of zero bytes behind.
        OddFile{"OneZeroByte", std::string(1, '\0'), 64},
        OddFile{"ZeroByteThenHighByte", std::string("\0\xC9", 2), 64},
        OddFile{"ZeroBytesBehindTheText", std::string("[LED]\nWidth=96\n\0\0\0", 18), 96},
        // A UTF-16 file with one damaged unit: the rest must still be read,
        // or the save at exit would write an empty file over it.
        OddFile{"Utf16WithLoneSurrogate", Utf16Le(u"; note \xDC00\n[LED]\nWidth=96\n"), 96},
        OddFile{"Utf16WithOddLength", Utf16Le(u"[LED]\nWidth=96\n") + "\n", 96},
        // Hand-edited files.
        OddFile{"GroupTwice", "[LED]\nWidth=96\n[Roll]\nSpeed=5\n[LED]\nHigh=32\n", 96},
        OddFile{"EntryWithoutName", "[LED]\n=5\nWidth=96\n", 96},
        OddFile{"UnclosedGroup", "[LED\nWidth=96\n", 64},
        OddFile{"OnlyEqualsSigns", "[LED]\n===\nWidth=96\n", 96}),
    [](const ::testing::TestParamInfo<OddFile>& info) { return std::string(info.param.name); });
