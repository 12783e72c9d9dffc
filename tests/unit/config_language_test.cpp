// Stored language numbers (the toolkit's 3.0 numbering) to the language in
// force and to the identifiers of the toolkit we build with.

#include "config/ini_file.h"
#include "config/language.h"
#include "config/settings_keys.h"
#include "support/work_dir.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>
#include <wx/language.h>

using rq::config::IniFile;
using rq::config::ResolveLanguageNumber;
using rq::config::ToolkitLanguage;

namespace {

struct LanguageCase {
    long stored;
    int current;
    int resolved;
    int toolkit;
};

class LanguageTableTest : public testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageTableTest, ResolvesAndMaps)
{
    const int resolved = ResolveLanguageNumber(GetParam().stored, GetParam().current);
    EXPECT_EQ(resolved, GetParam().resolved);
    EXPECT_EQ(ToolkitLanguage(resolved), GetParam().toolkit);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, LanguageTableTest,
    testing::Values(LanguageCase{58, 1, 58, wxLANGUAGE_ENGLISH},
                    LanguageCase{46, 1, 46, wxLANGUAGE_CHINESE_SIMPLIFIED},
                    LanguageCase{1, 1, 0, wxLANGUAGE_DEFAULT},   // unknown counts as the system default
                    LanguageCase{0, 1, 0, wxLANGUAGE_DEFAULT},
                    LanguageCase{-1, 1, 0, wxLANGUAGE_DEFAULT},  // not set: the start-up value 1, hence 0
                    LanguageCase{-1, 46, 46, wxLANGUAGE_CHINESE_SIMPLIFIED},
                    LanguageCase{-1, 58, 58, wxLANGUAGE_ENGLISH},
                    // The numbers the newer toolkit gives English and Chinese
                    // mean other languages in the stored numbering.
                    LanguageCase{wxLANGUAGE_ENGLISH, 1, wxLANGUAGE_ENGLISH, wxLANGUAGE_DEFAULT},
                    LanguageCase{wxLANGUAGE_CHINESE_SIMPLIFIED, 1, wxLANGUAGE_CHINESE_SIMPLIFIED, wxLANGUAGE_DEFAULT},
                    LanguageCase{7, 58, 7, wxLANGUAGE_DEFAULT},
                    LanguageCase{-2, 1, -2, wxLANGUAGE_DEFAULT}));

TEST(LanguageTest, UnknownMapsToTheToolkitsUnknown)
{
    EXPECT_EQ(ToolkitLanguage(1), wxLANGUAGE_UNKNOWN);
}

TEST(LanguageTest, NumbersBeyondIntDoNotAliasALanguage)
{
    if (sizeof(long) <= sizeof(int)) GTEST_SKIP() << "long is no wider than int here";
    const long aliasOfChinese = static_cast<long>(UINT_MAX) + 1 + 46;  // 46 once narrowed to 32 bits
    EXPECT_EQ(ResolveLanguageNumber(aliasOfChinese, 1), 0);
    EXPECT_EQ(ResolveLanguageNumber(-aliasOfChinese, 58), 0);
}

// From the settings file through the integer read with its default.
struct StoredCase {
    const char* file;  // content of Config/Config.ini
    int resolved;
};

class StoredLanguageTest : public testing::TestWithParam<StoredCase> {};

TEST_P(StoredLanguageTest, ReadsTheSettingsFile)
{
    rq::test::WorkDir dir;
    dir.WriteFile(rq::config::kSettingsPath, GetParam().file);
    IniFile settings(rq::config::kSettingsPath);
    const long stored = settings.config->Read(rq::config::keys::Lang, rq::config::defaults::Lang);
    EXPECT_EQ(ResolveLanguageNumber(stored, 1), GetParam().resolved);
}

INSTANTIATE_TEST_SUITE_P(Files, StoredLanguageTest,
                         testing::Values(StoredCase{"", 58},  // missing key: English
                                         StoredCase{"[Setting]\nlang=58\n", 58},
                                         StoredCase{"[Setting]\nlang=46\n", 46},
                                         StoredCase{"[Setting]\nlang=abc\n", 58},  // not a number: the default
                                         StoredCase{"[Setting]\nlang=-1\n", 0},
                                         StoredCase{"[Setting]\nlang=1\n", 0},
                                         StoredCase{"[Setting]\nlang=0\n", 0}));

}  // namespace
