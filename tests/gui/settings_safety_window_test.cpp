// The window and its settings file in bad conditions: a settings file in any
// encoding or damaged still lets the window come up and loses nothing at
// exit; a Config directory that became read-only or vanished during the run
// keeps what is on disk, and closing the window does not crash.
//
// Toolkit assertions fail these tests (see main.cpp): in the program each
// would be a modal box at start-up.
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <wx/log.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "gui/frame_fixture.h"

namespace fs = std::filesystem;
using rq::config::IniFile;
using rq::test::DestroyNow;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

const char kSettings[] = "Config/Config.ini";

// A file or directory nobody may change while it lives: the immutable flag
// for root (who passes every mode check), write bits off for anyone else. On
// Windows the read-only attribute, which holds for files only.
class ReadOnly {
public:
    explicit ReadOnly(const fs::path& path) : path(path)
    {
#ifdef _WIN32
        if (fs::is_directory(path) || !rq::test::ReadOnlyFilesRefuseWriting()) return;
#else
        if (geteuid() == 0) {
            immutable = SetImmutable(true);
            return;
        }
#endif
        mode = fs::status(path).permissions();
        fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        changedMode = true;
    }
    ~ReadOnly()
    {
        if (immutable) SetImmutable(false);
        if (changedMode) fs::permissions(path, mode);
    }
    bool Holds() const { return immutable || changedMode; }

private:
#ifdef _WIN32
    bool SetImmutable(bool) { return false; }
#else
    bool SetImmutable(bool on)
    {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        close(fd);
        return done;
    }
#endif

    fs::path path;
    bool immutable = false;
    bool changedMode = false;
    fs::perms mode{};
};

std::vector<std::string> EntriesOf(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    return names;
}

// A file that any rewrite would change: CRLF line ends and a blank line,
// which the toolkit writes back as LF without the blank line.
const std::string kOnDisk = "; the bench's settings\r\n\r\n[Setting]\r\nMode=RQ-M4T\r\n[LED]\r\nWidth=96\r\nid=1\r\n";

class SettingsAtExit : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.CopyRuntimeData();
        dir.WriteFile(kSettings, kOnDisk);
        frame = new TestableFrame;
        ASSERT_EQ(frame->WidthText->GetValue(), "96");
        // A change made during the run: every command records the typed ID.
        frame->IdText->SetValue("7");
        frame->SendCommand(nullptr, "Black");
        ASSERT_FALSE(frame->IsBusy());
    }

    void TearDown() override
    {
        if (frame) DestroyNow(frame);
    }

    WorkDir dir;
    TestableFrame* frame = nullptr;
};

}  // namespace

TEST_F(SettingsAtExit, ReadOnlyConfigDirectoryKeepsTheFileOnDisk)
{
    const fs::path config = fs::path(dir.Path()) / "Config";
    {
        ReadOnly locked(config);
        if (!locked.Holds()) GTEST_SKIP() << "this file system cannot make a directory read-only for root";
        wxLogNull quiet;  // the failed save is the toolkit's to report
        DestroyNow(frame);
        frame = nullptr;
    }
    EXPECT_EQ(dir.ReadFile(kSettings), kOnDisk);
    EXPECT_EQ(EntriesOf(config), std::vector<std::string>{"Config.ini"});
}

TEST_F(SettingsAtExit, ReadOnlyConfigFileIsNotReplaced)
{
    const fs::path file = fs::path(dir.Path()) / kSettings;
    {
        ReadOnly locked(file);
        if (!locked.Holds()) GTEST_SKIP() << "this file system cannot make a file read-only for root";
        wxLogNull quiet;
        DestroyNow(frame);
        frame = nullptr;
    }
    EXPECT_EQ(dir.ReadFile(kSettings), kOnDisk);
    EXPECT_EQ(EntriesOf(file.parent_path()), std::vector<std::string>{"Config.ini"});
}

TEST_F(SettingsAtExit, VanishedConfigDirectoryLosesNothingAndDoesNotCrash)
{
    fs::rename(fs::path(dir.Path()) / "Config", fs::path(dir.Path()) / "Config.moved");
    {
        wxLogNull quiet;
        DestroyNow(frame);
        frame = nullptr;
    }
    EXPECT_EQ(dir.ReadFile("Config.moved/Config.ini"), kOnDisk);
    EXPECT_EQ(EntriesOf(fs::path(dir.Path()) / "Config.moved"), std::vector<std::string>{"Config.ini"});
}

TEST_F(SettingsAtExit, WritableDirectorySavesTheRunsChanges)
{
    // The counterpart of the cases above: with nothing in the way the change
    // made during the run does reach the disk.
    DestroyNow(frame);
    frame = nullptr;
    IniFile saved(kSettings);
    EXPECT_EQ(saved.config->ReadLong(rq::config::keys::LedId, 0), 7);
    EXPECT_EQ(saved.config->ReadLong(rq::config::keys::Width, 0), 96);
}

namespace {

std::string Utf16(const std::u16string& text, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

struct StartupFile {
    const char* name;
    std::string bytes;
    const char* width;     // what WidthText shows; nullptr: not checked
    const char* comPort;   // what ComPortText shows; nullptr: not checked
    bool keepsText;        // the saved file still holds kKeptComment and kKeptEntry
};

void PrintTo(const StartupFile& file, std::ostream* out) { *out << file.name; }

// 64 KiB of noise, always the same, that starts with no byte-order mark.
std::string RandomBytes()
{
    std::mt19937 random(20261208);
    std::string bytes(64 * 1024, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    bytes[0] = 'x';
    return bytes;
}

std::string Utf8(const std::u16string& text)
{
    const std::string bytes = Utf16(text, false).substr(2);
    return wxString(bytes.data(), wxMBConvUTF16LE(), bytes.size()).utf8_string();
}

class StartupWithSettings : public ::testing::TestWithParam<StartupFile> {};

// Text beyond ASCII in a comment and in an entry of the operator's own, which
// must come back unchanged in the file written at exit; an emoji and a CJK
// Extension B character are two UTF-16 units each on Windows.
const char16_t kSettingsText[] =
    u"; Pr\u00FCfplatz 3 \u6D4B\u8BD5 \U0001F600\n[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=/dev/ttyUSB7\n"
    u"[LED]\nWidth=96\n[Notes]\nowner=J\u00FCrgen \u5F20\u4E09 \U00020BB7\n";
const char kKeptComment[] = "; Pr\xC3\xBC" "fplatz 3 \xE6\xB5\x8B\xE8\xAF\x95 \xF0\x9F\x98\x80\n";
const char kKeptEntry[] = "owner=J\xC3\xBCrgen \xE5\xBC\xA0\xE4\xB8\x89 \xF0\xA0\xAE\xB7\n";

}  // namespace

TEST_P(StartupWithSettings, WindowComesUpAndKeepsTheValuesAtExit)
{
    WorkDir dir;
    dir.CopyRuntimeData();
    dir.WriteFile(kSettings, GetParam().bytes);
    auto* frame = new TestableFrame;
    const wxString width = frame->WidthText->GetValue();
    if (GetParam().width) {
        EXPECT_EQ(width, GetParam().width);
    }
    if (GetParam().comPort) {
        EXPECT_EQ(frame->ComPortText->GetValue().utf8_string(), GetParam().comPort);
    }
    EXPECT_FALSE(frame->profile.model.empty()) << "no profile loaded";
    DestroyNow(frame);

    // What was read is on disk after the exit, now as UTF-8.
    IniFile saved(kSettings);
    EXPECT_EQ(wxString::Format("%ld", saved.config->ReadLong(rq::config::keys::Width, 64)), width)
        << "the exit lost a value the window had read";
    if (GetParam().comPort) {
        EXPECT_EQ(saved.config->Read(rq::config::keys::ComPort, wxString()).utf8_string(), GetParam().comPort);
    }
    const std::string text = dir.ReadFile(kSettings);
    EXPECT_FALSE(text.rfind("\xEF\xBB\xBF", 0) == 0) << "saved with a byte-order mark";
    if (GetParam().keepsText) {
        EXPECT_NE(text.find(rq::test::NativeLines(kKeptComment)), std::string::npos) << text;
        EXPECT_NE(text.find(rq::test::NativeLines(kKeptEntry)), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, StartupWithSettings,
    ::testing::Values(
        StartupFile{"Utf8", Utf8(kSettingsText), "96", "/dev/ttyUSB7", true},
        StartupFile{"Utf8WithMark", "\xEF\xBB\xBF" + Utf8(kSettingsText), "96", "/dev/ttyUSB7", true},
        StartupFile{"Utf16LittleEndianWithMark", Utf16(kSettingsText, false), "96", "/dev/ttyUSB7", true},
        StartupFile{"Utf16BigEndianWithMark", Utf16(kSettingsText, true), "96", "/dev/ttyUSB7", true},
        // Not UTF-8: a byte of another code page in the port name.
        StartupFile{"InvalidUtf8", "[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=/dev/tty\xDCSB0\n[LED]\nWidth=96\n",
                    "96", nullptr, false},
        StartupFile{"Utf16WithLoneSurrogate", Utf16(u"; \xD800\n[Setting]\nMode=RQ-M4T\n[LED]\nWidth=96\n", false),
                    "96", nullptr, false},
        StartupFile{"ZeroBytes", std::string(64, '\0'), "64", nullptr, false},
        StartupFile{"ZeroByteThenText", std::string("\0[LED]\nWidth=96\n", 16), nullptr, nullptr, false},
        StartupFile{"GroupTwice", "[LED]\nWidth=96\n[Setting]\nMode=RQ-M4T\n[LED]\nHigh=32\n", "96", nullptr, false},
        StartupFile{"EntryWithoutName", "[Setting]\nMode=RQ-M4T\n[LED]\n=5\nWidth=96\n", "96", nullptr, false},
        // Found by the fuzzer: an entry the toolkit's INI dialect marks
        // immutable reads as usual.
        StartupFile{"ImmutableEntry", "[SerialPort]\n!COM=/dev/ttyUSB3\n[Setting]\nMode=RQ-M4T\n[LED]\nWidth=96\n",
                    "96", "/dev/ttyUSB3", false},
        StartupFile{"RandomBytes", RandomBytes(), "64", nullptr, false}),
    [](const ::testing::TestParamInfo<StartupFile>& info) { return std::string(info.param.name); });

// A model whose name holds a character outside the Basic Multilingual Plane:
// the saved Setting/Mode still names it, in either encoding of the file.
TEST(StartupWithSettingsModel, ModeNamingAModelOutsideTheBasicPlaneSelectsItAndIsKept)
{
    const std::string model = "RQ-M4T \xF0\xA0\xAE\xB7\xF0\x9F\x98\x80";  // "RQ-M4T 𠮷😀"
    const std::u16string settings = u"[Setting]\nMode=RQ-M4T \U00020BB7\U0001F600\n[LED]\nWidth=96\n";
    for (const bool utf16 : {false, true}) {
        SCOPED_TRACE(utf16 ? "UTF-16" : "UTF-8");
        WorkDir dir;
        dir.CopyRuntimeData();
        const fs::path modes = fs::path(dir.Path()) / "Modes";
        fs::copy_file(modes / "RQ-M4T.ini", modes / fs::u8path(model + ".ini"));
        dir.WriteFile(kSettings, utf16 ? Utf16(settings, false) : Utf8(settings));
        auto* frame = new TestableFrame;
        EXPECT_EQ(frame->ModelChoice->GetStringSelection().utf8_string(), model);
        EXPECT_EQ(frame->profile.name.utf8_string(), model);
        EXPECT_EQ(frame->profile.model, "RQ-M4T") << "the profile was not loaded";
        DestroyNow(frame);
        EXPECT_NE(dir.ReadFile(kSettings).find(rq::test::NativeLines("Mode=" + model + "\n")), std::string::npos) << dir.ReadFile(kSettings);
    }
}
