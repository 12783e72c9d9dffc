// The settings store: file creation, what a save keeps and adds, integer
// reads, encodings in and out.

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "config/surrogates.h"
#include "support/work_dir.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/log.h>

namespace fs = std::filesystem;
using rq::config::EnsureFileExists;
using rq::config::IniFile;
using rq::config::kSettingsPath;
using rq::test::NativeLines;
using rq::test::WorkDir;
namespace keys = rq::config::keys;
namespace defaults = rq::config::defaults;

namespace {

// Strict UTF-8: no overlongs, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        unsigned long point = 0;
        if (lead < 0x80) { ++i; continue; }
        if ((lead & 0xE0) == 0xC0) { extra = 1; point = lead & 0x1F; }
        else if ((lead & 0xF0) == 0xE0) { extra = 2; point = lead & 0x0F; }
        else if ((lead & 0xF8) == 0xF0) { extra = 3; point = lead & 0x07; }
        else return false;
        if (i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        static const unsigned long smallest[] = {0, 0x80, 0x800, 0x10000};
        if (point < smallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

bool StartsWithUtf8Mark(const std::string& text)
{
    return text.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

// UTF-16 bytes with a byte-order mark, from UTF-16 code units.
std::string Utf16WithMark(const std::u16string& units, bool bigEndian)
{
    std::string bytes = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
    for (char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

}  // namespace

// ---- creation ----

TEST(IniFileTest, FirstRunCreatesConfigDirectoryAndEmptyFile)
{
    WorkDir dir;
    {
        IniFile settings(kSettingsPath);
        ASSERT_TRUE(settings.stream);
        ASSERT_TRUE(settings.config);
        EXPECT_EQ(settings.config->Read(keys::Lang, defaults::Lang), 58);
        EXPECT_EQ(settings.config->Read(keys::Width, defaults::Width), 64);
    }
    EXPECT_TRUE(fs::is_directory(fs::path(dir.Path()) / "Config"));
    ASSERT_TRUE(fs::is_regular_file(fs::path(dir.Path()) / kSettingsPath));
    EXPECT_EQ(fs::file_size(fs::path(dir.Path()) / kSettingsPath), 0u);

    // Reading writes no defaults: a save of an untouched store leaves it empty.
    IniFile settings(kSettingsPath);
    EXPECT_TRUE(settings.Save());
    EXPECT_EQ(dir.ReadFile(kSettingsPath), "");
}

TEST(IniFileTest, CloseWithoutSaveLeavesChangesOffTheDisk)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, "[LED]\nWidth=64\n");
    {
        IniFile settings(kSettingsPath);
        settings.config->Write(keys::Width, 96L);
        settings.Close();
        EXPECT_FALSE(settings.config);
        EXPECT_FALSE(settings.stream);
        settings.Close();  // a second close is harmless
        EXPECT_FALSE(settings.Save()) << "a closed store has nothing to save";
    }
    EXPECT_EQ(dir.ReadFile(kSettingsPath), "[LED]\nWidth=64\n");
}

TEST(EnsureFileExistsTest, CreatesLastDirectoryLevelAndEmptyFile)
{
    WorkDir dir;
    EXPECT_TRUE(EnsureFileExists("Config/New.ini"));
    ASSERT_TRUE(fs::is_regular_file(fs::path(dir.Path()) / "Config/New.ini"));
    EXPECT_EQ(fs::file_size(fs::path(dir.Path()) / "Config/New.ini"), 0u);

    EXPECT_TRUE(EnsureFileExists("Plain.ini")) << "a file in the working directory needs no directory";
    EXPECT_TRUE(dir.Exists("Plain.ini"));
}

TEST(EnsureFileExistsTest, DoesNotCreateMissingParents)
{
    WorkDir dir;
    wxLogNull quiet;
    EXPECT_FALSE(EnsureFileExists("Outer/Inner/New.ini"));
    EXPECT_FALSE(dir.Exists("Outer"));
}

TEST(EnsureFileExistsTest, KeepsAnExistingFile)
{
    WorkDir dir;
    dir.WriteFile("Config/Config.ini", "[LED]\nWidth=96\n");
    EXPECT_TRUE(EnsureFileExists("Config/Config.ini"));
    EXPECT_EQ(dir.ReadFile("Config/Config.ini"), "[LED]\nWidth=96\n");
}

TEST(EnsureFileExistsTest, FailsWhenADirectoryHasTheName)
{
    WorkDir dir;
    fs::create_directories(fs::path(dir.Path()) / "Config/Config.ini");
    wxLogNull quiet;
    EXPECT_FALSE(EnsureFileExists("Config/Config.ini"));
}

TEST(IniFileTest, UnopenableFileGivesDefaultsAndSaveFails)
{
    WorkDir dir;
    wxLogNull quiet;
    IniFile settings("Outer/Inner/Config.ini");
    ASSERT_TRUE(settings.config);
    EXPECT_EQ(settings.config->Read(keys::Width, defaults::Width), 64);
    settings.config->Write(keys::Width, 96L);
    EXPECT_FALSE(settings.Save());
    EXPECT_FALSE(dir.Exists("Outer"));
}

// ---- what a save keeps and where it adds ----

TEST(IniFileTest, SaveKeepsCommentsAndUnknownKeysInPlace)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath,
                  "; bench PC 3\n"
                  "[Setting]\n"
                  "lang=46\n"
                  "# kept by hand\n"
                  "Custom=x\n"
                  "[LED]\n"
                  "Width=64\n"
                  "; panel of the front door\n"
                  "Unknown=7\n"
                  "[Other]\n"
                  "Foo=bar\n");
    {
        IniFile settings(kSettingsPath);
        settings.config->Write(keys::Width, 96L);
        settings.config->Write(keys::Mode, "RQ-M4T");
        settings.config->Write(keys::RollSpeed, 50L);
        settings.config->Write(keys::High, 32L);
        settings.config->Write(keys::BlinkEnable, 1L);
        ASSERT_TRUE(settings.Save());
    }
    EXPECT_EQ(dir.ReadFile(kSettingsPath),
              NativeLines("; bench PC 3\n"
              "[Setting]\n"
              "lang=46\n"
              "# kept by hand\n"
              "Custom=x\n"
              "Mode=RQ-M4T\n"
              "[LED]\n"
              "Width=96\n"
              "; panel of the front door\n"
              "Unknown=7\n"
              "High=32\n"
              "[Other]\n"
              "Foo=bar\n"
              "[Roll]\n"
              "Speed=50\n"
              "[Blinking]\n"
              "Enable=1\n"));
}

TEST(IniFileTest, KeyCaseIsPartOfTheFormat)
{
    WorkDir dir;
    {
        IniFile settings(kSettingsPath);
        settings.config->Write(keys::LedId, 7L);
        settings.config->Write(keys::NewId, 8L);
        settings.config->Write(keys::Lang, 46L);
        settings.config->Write(keys::BlinkOn, 500L);
        ASSERT_TRUE(settings.Save());
    }
    EXPECT_EQ(dir.ReadFile(kSettingsPath),
              NativeLines("[LED]\nid=7\nNewId=8\n[Setting]\nlang=46\n[Blinking]\nOninterval=500\n"));
}

// ---- integer reads ----

struct IntegerCase {
    const char* stored;
    long expected;
};

class IniIntegerReadTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(IniIntegerReadTest, NonNumbersReadAsTheDefault)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, std::string("[LED]\nWidth=") + GetParam().stored + "\n");
    IniFile settings(kSettingsPath);
    EXPECT_EQ(settings.config->Read(keys::Width, defaults::Width), GetParam().expected);
    // Reading changes nothing: the odd value stays until a handler writes the key.
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(dir.ReadFile(kSettingsPath), NativeLines(std::string("[LED]\nWidth=") + GetParam().stored + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Values, IniIntegerReadTest,
                         testing::Values(IntegerCase{"96", 96}, IntegerCase{"-5", -5}, IntegerCase{"0", 0},
                                         IntegerCase{"abc", 64}, IntegerCase{"12abc", 64},
                                         IntegerCase{"0x10", 64}, IntegerCase{"1.5", 64},
                                         IntegerCase{"99999999999999999999999", 64}));

// ---- encodings ----

struct EncodingCase {
    const char* name;
    std::string bytes;
};

class IniEncodingTest : public testing::TestWithParam<EncodingCase> {};

// Characters outside the Basic Multilingual Plane (an emoji, a CJK
// Extension B character) in a comment, a key and a value: on Windows each is
// two UTF-16 units of the string and must come back whole.
const char kChineseIni[] = "; 😀 𠮷\n[Text]\nName=中文屏 😀𠮷\n𠮷=😀\n[LED]\nWidth=96\n";
const char16_t kChineseIni16[] = u"; 😀 𠮷\n[Text]\nName=中文屏 😀𠮷\n𠮷=😀\n[LED]\nWidth=96\n";

TEST_P(IniEncodingTest, ReadsTheTextAndSavesUtf8WithoutMark)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, GetParam().bytes);
    IniFile settings(kSettingsPath);
    EXPECT_EQ(settings.config->Read("Text/Name", wxString()), wxString::FromUTF8("中文屏 😀𠮷"));
    EXPECT_EQ(settings.config->Read(wxString::FromUTF8("Text/𠮷"), wxString()), wxString::FromUTF8("😀"));
    EXPECT_EQ(settings.config->Read(keys::Width, defaults::Width), 96);
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(dir.ReadFile(kSettingsPath), NativeLines(kChineseIni));
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniEncodingTest,
    testing::Values(EncodingCase{"Utf8", kChineseIni},
                    EncodingCase{"Utf8WithMark", std::string("\xEF\xBB\xBF") + kChineseIni},
                    EncodingCase{"Utf16LittleEndianWithMark", Utf16WithMark(kChineseIni16, false)},
                    EncodingCase{"Utf16BigEndianWithMark", Utf16WithMark(kChineseIni16, true)}),
    [](const testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

// Files no converter reads cleanly: nothing crashes, the lines that can be
// read are read, and the next save writes clean UTF-8 without wiping them.
struct DamagedCase {
    const char* name;
    std::string bytes;
    long width;              // LED/Width as read (64: the default)
    const char* keptInSave;  // a text the saved file must still hold
    bool kept;               // not read cleanly: a copy of the bytes is kept before the save
};

class IniDamagedFileTest : public testing::TestWithParam<DamagedCase> {};

TEST_P(IniDamagedFileTest, DoesNotCrashAndSavesCleanUtf8)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, GetParam().bytes);
    wxLogNull quiet;
    IniFile settings(kSettingsPath);
    ASSERT_TRUE(settings.config);
    EXPECT_EQ(settings.config->Read(keys::Width, defaults::Width), GetParam().width);
    settings.config->Write(keys::High, 32L);
    ASSERT_TRUE(settings.Save());
    const std::string saved = dir.ReadFile(kSettingsPath);
    EXPECT_TRUE(IsValidUtf8(saved)) << saved;
    EXPECT_FALSE(StartsWithUtf8Mark(saved));
    EXPECT_NE(saved.find(NativeLines(GetParam().keptInSave)), std::string::npos) << saved;
    EXPECT_NE(saved.find("High=32"), std::string::npos) << saved;
    EXPECT_EQ(settings.ParsedCleanly(), !GetParam().kept);
    EXPECT_EQ(dir.Exists(std::string(kSettingsPath) + ".bad"), GetParam().kept);
    if (GetParam().kept) {
        EXPECT_EQ(dir.ReadFile(std::string(kSettingsPath) + ".bad"), GetParam().bytes) << "the bytes as they were";
    }
}

std::string AllByteValues()
{
    std::string bytes;
    for (int i = 0; i < 512; ++i) bytes += static_cast<char>((i * 37) & 0xFF);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniDamagedFileTest,
    testing::Values(
        DamagedCase{"InvalidUtf8", "[LED]\nWidth=96\nName=\xC3\x28\xFF\n", 96, "Width=96", false},
        // The mark promises UTF-8 and the bytes break it: the file is read
        // anyway, so the save at exit does not wipe the operator's settings.
        DamagedCase{"InvalidUtf8AfterMark", "\xEF\xBB\xBF[LED]\nWidth=96\nName=\xC3\x28\xFF\n", 96, "Width=96", true},
        DamagedCase{"Utf16OddLength",
                    Utf16WithMark(u"[LED]\nWidth=96\n[Roll]\nSpeed=5\n", false) + "\x41", 96, "Width=96", true},
        DamagedCase{"Utf16LoneSurrogate", Utf16WithMark(u"[LED]\nWidth=96\nName=\xD800\n", false), 96, "Width=96", true},
        // Only the lone unit is replaced; the pair after it stays one character.
        DamagedCase{"Utf16LoneSurrogateBesideAPair", Utf16WithMark(u"[LED]\nWidth=96\nName=\xD800𠮷\n", false), 96,
                    "Name=\xEF\xBF\xBD\xF0\xA0\xAE\xB7\n", true},
        DamagedCase{"NulByte", std::string("[LED]\nWidth=96\nName=a\0b\n", 24), 96, "Width=96", true},
        DamagedCase{"OnlyAMark", "\xEF\xBB\xBF", 64, "[LED]", false},
        DamagedCase{"UnclosedGroup", "[LED\nWidth=96\n", 64, "[LED]", true},
        DamagedCase{"AllByteValues", AllByteValues(), 64, "[LED]", true}),
    [](const testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

// ---- GBK: what Notepad's "ANSI" on Chinese Windows and Chinese editors save ----

// "; 三号工位的设置", "Mode=三号屏" and a value "中文屏", in GBK.
const char kGbkIni[] = "; \xC8\xFD\xBA\xC5\xB9\xA4\xCE\xBB\xB5\xC4\xC9\xE8\xD6\xC3\n"
                       "[Setting]\nMode=\xC8\xFD\xBA\xC5\xC6\xC1\n[Text]\nName=\xD6\xD0\xCE\xC4\xC6\xC1\n";
const char kGbkIniAsUtf8[] = "; 三号工位的设置\n[Setting]\nMode=三号屏\n[Text]\nName=中文屏\n[LED]\nHigh=32\n";

TEST(IniFileTest, GbkFileIsReadAsGbkKeptAndSavedAsUtf8)
{
    WorkDir dir;
    const std::string copy = std::string(kSettingsPath) + ".bad";
    dir.WriteFile(kSettingsPath, kGbkIni);
    {
        IniFile settings(kSettingsPath);
        EXPECT_TRUE(settings.readAsGbk);
        EXPECT_TRUE(settings.ParsedCleanly()) << settings.problems[0];
        EXPECT_EQ(settings.config->Read(keys::Mode, wxString()), wxString::FromUTF8("三号屏"));
        EXPECT_FALSE(dir.Exists(copy)) << "no copy before a save";
        settings.config->Write(keys::High, 32L);
        ASSERT_TRUE(settings.Save());
        EXPECT_EQ(settings.keptCopyPath, copy);
    }
    EXPECT_EQ(dir.ReadFile(kSettingsPath), NativeLines(kGbkIniAsUtf8));
    EXPECT_EQ(dir.ReadFile(copy), kGbkIni) << "the bytes as they were";

    // Now UTF-8: read as such, and no further copy.
    IniFile again(kSettingsPath);
    EXPECT_FALSE(again.readAsGbk);
    ASSERT_TRUE(again.Save());
    EXPECT_FALSE(dir.Exists(copy + ".1"));
    EXPECT_EQ(dir.ReadFile(kSettingsPath), NativeLines(kGbkIniAsUtf8));
}

// ---- surrogates, in both string widths (UTF-16 on Windows, UTF-32 on Linux) ----

struct SurrogateCase {
    const char* name;
    std::u16string units;
    std::u16string clean;
};

class LoneSurrogateTest : public testing::TestWithParam<SurrogateCase> {};

TEST_P(LoneSurrogateTest, PairsStayAndLoneUnitsBecomeReplacementCharacters)
{
    EXPECT_EQ(rq::config::WithoutLoneSurrogates(std::u16string_view(GetParam().units)), GetParam().clean);
}

INSTANTIATE_TEST_SUITE_P(
    Utf16, LoneSurrogateTest,
    testing::Values(SurrogateCase{"NoSurrogates", u"Name=中文屏", u"Name=中文屏"},
                    SurrogateCase{"Pairs", u"😀𠮷x😀", u"😀𠮷x😀"},
                    SurrogateCase{"LoneHigh", u"a\xD83D" u"b", u"a\xFFFD" u"b"},
                    SurrogateCase{"LoneLow", u"a\xDE00" u"b", u"a\xFFFD" u"b"},
                    SurrogateCase{"HighAtTheEnd", u"x\xD842", u"x\xFFFD"},
                    SurrogateCase{"LowBeforeHigh", u"\xDE00\xD83D", u"\xFFFD\xFFFD"},
                    SurrogateCase{"HighBeforeAPair", u"\xD83D😀", u"\xFFFD😀"},
                    SurrogateCase{"PairBeforeALow", u"😀\xDE00", u"😀\xFFFD"}),
    [](const testing::TestParamInfo<SurrogateCase>& info) { return std::string(info.param.name); });

TEST(CodePointSurrogateTest, KeepEveryCharacterAndReplaceSurrogatesAndOutOfRange)
{
    const std::u32string points = {U'A', 0x1F600, 0x20BB7, 0xD83D, 0xDE00, 0x10FFFF, 0x110000};
    const std::u32string clean = {U'A', 0x1F600, 0x20BB7, 0xFFFD, 0xFFFD, 0x10FFFF, 0xFFFD};
    EXPECT_EQ(rq::config::WithoutLoneSurrogates(std::u32string_view(points)), clean);
}

// A value written by the program goes to disk as one 4-byte UTF-8 sequence.
TEST(IniFileTest, SavesAValueOutsideTheBasicPlaneWhole)
{
    WorkDir dir;
    {
        IniFile settings(kSettingsPath);
        settings.config->Write("Text/Name", wxString::FromUTF8("屏 😀𠮷"));
        ASSERT_TRUE(settings.Save());
    }
    EXPECT_NE(dir.ReadFile(kSettingsPath).find(NativeLines("Name=屏 😀𠮷\n")), std::string::npos) << dir.ReadFile(kSettingsPath);
    IniFile again(kSettingsPath);
    EXPECT_EQ(again.config->Read("Text/Name", wxString()), wxString::FromUTF8("屏 😀𠮷"));
}

// ---- a file that did not parse cleanly: named once, kept before a save ----

// Counts what reaches the active log target.
class CountingLog : public wxLog {
public:
    int messages = 0;

protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++messages; }
};

TEST(IniFileTest, ProblemsNameTheFullPathAndLineAndAreNotLogged)
{
    WorkDir dir;
    const std::string bytes = "[LED]\nWidth=96\nHigh=32\nno equals sign\n[Roll\nSpeed=5\n";
    dir.WriteFile(kSettingsPath, bytes);
    CountingLog counter;
    wxLog* previous = wxLog::SetActiveTarget(&counter);
    {
        wxLogNull quiet;  // a caller that silenced the log still learns of the problems
        IniFile settings(kSettingsPath);
        const std::string full = (fs::path(dir.Path()) / kSettingsPath).make_preferred().string();
        ASSERT_EQ(settings.problems.size(), 2u);
        EXPECT_EQ(settings.problems[0].utf8_string(), "file '" + full + "', line 4: '=' expected.");
        EXPECT_NE(settings.problems[1].utf8_string().find("'" + full + "'"), std::string::npos) << settings.problems[1];
        // (The toolkit's text for an unclosed group loses its line number:
        // it formats the end of the line as a character.)
        EXPECT_FALSE(settings.ParsedCleanly());
        EXPECT_EQ(settings.config->Read(keys::Width, defaults::Width), 96) << "what can be read is read";
    }
    wxLog::SetActiveTarget(previous);
    EXPECT_EQ(counter.messages, 0);
    EXPECT_EQ(dir.ReadFile(kSettingsPath), bytes) << "reading changes nothing";
}

TEST(IniFileTest, DamagedFileIsKeptOnceBeforeTheSaveUnderAFreeName)
{
    WorkDir dir;
    const std::string bytes = "[LED]\nWidth=96\nmy own note\n";
    const std::string copy = std::string(kSettingsPath) + ".bad";
    dir.WriteFile(kSettingsPath, bytes);
    dir.WriteFile(copy, "an earlier copy");
    dir.WriteFile(copy + ".1", "another earlier copy");

    IniFile settings(kSettingsPath);
    ASSERT_FALSE(settings.ParsedCleanly());
    EXPECT_FALSE(dir.Exists(copy + ".2")) << "no copy before a save";
    settings.config->Write(keys::High, 32L);
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(dir.ReadFile(copy + ".2"), bytes);
    EXPECT_EQ(settings.keptCopyPath, copy + ".2");
    EXPECT_EQ(dir.ReadFile(copy), "an earlier copy");
    EXPECT_EQ(dir.ReadFile(copy + ".1"), "another earlier copy");
    EXPECT_NE(dir.ReadFile(kSettingsPath).find("High=32"), std::string::npos);

    ASSERT_TRUE(settings.Save());
    EXPECT_FALSE(dir.Exists(copy + ".3")) << "one copy per store";
}

TEST(IniFileTest, FileThatStaysDamagedIsNotCopiedAtEveryExit)
{
    WorkDir dir;
    const std::string copy = std::string(kSettingsPath) + ".bad";
    dir.WriteFile(kSettingsPath, "[LED]\nWidth=96\nWidth=80\n");
    for (int run = 0; run < 3; ++run) {
        IniFile settings(kSettingsPath);
        ASSERT_FALSE(settings.ParsedCleanly()) << "the second entry stays: run " << run;
        ASSERT_TRUE(settings.Save());
    }
    EXPECT_TRUE(dir.Exists(copy));
    EXPECT_FALSE(dir.Exists(copy + ".2"));
    EXPECT_NE(dir.ReadFile(kSettingsPath).find("Width=80"), std::string::npos) << "the toolkit keeps the line";
}

TEST(IniFileTest, CleanFileGetsNoCopy)
{
    WorkDir dir;
    dir.WriteFile(kSettingsPath, "; my comment\n[LED]\nWidth=96\n");
    IniFile settings(kSettingsPath);
    EXPECT_TRUE(settings.ParsedCleanly());
    settings.config->Write(keys::High, 32L);
    ASSERT_TRUE(settings.Save());
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(fs::path(dir.Path()) / "Config")) {
        entries.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(entries, std::vector<std::string>{"Config.ini"});
    EXPECT_TRUE(settings.keptCopyPath.empty());
}

TEST(IniFileTest, CopyNamesAndNamedMessages)
{
    EXPECT_EQ(rq::config::CopyName("C/Config.ini", 0), "C/Config.ini.bad");
    EXPECT_EQ(rq::config::CopyName("C/Config.ini", 3), "C/Config.ini.bad.3");
    EXPECT_EQ(rq::config::NameTheFile("file '', line 4: '=' expected.", "/w/Config/Config.ini"),
              "file '/w/Config/Config.ini', line 4: '=' expected.");
    EXPECT_EQ(rq::config::NameTheFile("file '': unexpected character ] at line 2.", "/w/a.ini"),
              "file '/w/a.ini': unexpected character ] at line 2.");
    EXPECT_EQ(rq::config::NameTheFile("something else", "/w/a.ini"), "/w/a.ini: something else");
}
