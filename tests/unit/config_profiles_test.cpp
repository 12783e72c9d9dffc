// The bundled model profiles read as intended: every key they hold is one the
// program reads (a misspelt key would silently take its default), and each
// one enables what it is meant to.

#include "config/ini_file.h"
#include "config/settings_keys.h"

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using rq::config::IniFile;
namespace profile_keys = rq::config::profile_keys;

namespace {

const fs::path kModes = fs::path(RQ_SOURCE_DIR) / "data" / rq::config::kModesDirectory;

wxString ProfilePath(const char* model)
{
    return wxString::FromUTF8((kModes / (std::string(model) + rq::config::kProfileExtension)).string().c_str());
}

long ReadLong(IniFile& profile, const char* key, long fallback = -12345)
{
    return profile.config->Read(key, fallback);
}

wxString ReadText(IniFile& profile, const char* key)
{
    return profile.config->Read(key, wxS("<missing>"));
}

TEST(BundledProfilesTest, HoldOnlyKeysTheProgramReads)
{
    const std::set<std::string> known = {
        profile_keys::Baud,      profile_keys::LockBaud,   profile_keys::Model,        profile_keys::OutTime,
        profile_keys::LockSize,  profile_keys::LockScan,   profile_keys::LockScroll,   profile_keys::LockId,
        profile_keys::BrightAuto, profile_keys::BrightLevels, profile_keys::BrightAutoValue, profile_keys::Black,
        profile_keys::AlignFeature, profile_keys::ResetCommand, profile_keys::Blinking, profile_keys::Scroll,
        profile_keys::DefaultSet, profile_keys::Messages,  profile_keys::Button1,      profile_keys::Button2,
    };
    int files = 0;
    for (const auto& file : fs::directory_iterator(kModes)) {
        ++files;
        SCOPED_TRACE(file.path().filename().string());
        EXPECT_EQ(file.path().extension().string(), rq::config::kProfileExtension) << "every entry becomes a model";
        IniFile profile(wxString::FromUTF8(file.path().string().c_str()));
        wxString group;
        long groupIndex = 0;
        for (bool more = profile.config->GetFirstGroup(group, groupIndex); more;
             more = profile.config->GetNextGroup(group, groupIndex)) {
            profile.config->SetPath("/" + group);
            wxString entry;
            long entryIndex = 0;
            for (bool found = profile.config->GetFirstEntry(entry, entryIndex); found;
                 found = profile.config->GetNextEntry(entry, entryIndex)) {
                const std::string key = (group + "/" + entry).ToStdString();
                EXPECT_TRUE(known.count(key)) << "unknown key " << key;
            }
            profile.config->SetPath("/");
        }
    }
    EXPECT_GE(files, 2);
}

TEST(BundledProfilesTest, RqM4tOffersEverything)
{
    IniFile profile(ProfilePath("RQ-M4T"));
    EXPECT_EQ(ReadText(profile, profile_keys::Model), "RQ-M4T");  // the one model with commands
    EXPECT_EQ(ReadLong(profile, profile_keys::Baud), 9600);
    EXPECT_EQ(ReadLong(profile, profile_keys::LockBaud), 0);
    EXPECT_EQ(ReadLong(profile, profile_keys::OutTime), 1000);
    for (const char* lock : {profile_keys::LockSize, profile_keys::LockScan, profile_keys::LockScroll, profile_keys::LockId}) {
        EXPECT_EQ(ReadLong(profile, lock), 0) << lock;
    }
    EXPECT_EQ(ReadLong(profile, profile_keys::BrightAuto), 1);
    EXPECT_EQ(ReadLong(profile, profile_keys::BrightLevels), 16);
    for (const char* feature : {profile_keys::Black, profile_keys::AlignFeature, profile_keys::Blinking,
                                profile_keys::Scroll, profile_keys::DefaultSet}) {
        EXPECT_EQ(ReadLong(profile, feature), 1) << feature;
    }
    EXPECT_FALSE(profile.config->Read(profile_keys::ResetCommand, wxString()).empty());
    // "UNICODE" exactly: that entry selects UTF-16 for message text.
    EXPECT_EQ(ReadText(profile, profile_keys::Messages), "GBK,UNICODE");
    // Exactly the catalogue's keys, so the labels are translated.
    EXPECT_EQ(ReadText(profile, profile_keys::Button1), "Send Message");
    EXPECT_EQ(ReadText(profile, profile_keys::Button2), "Default MSG");
}

TEST(BundledProfilesTest, RqM4sLocksMostSettings)
{
    IniFile profile(ProfilePath("RQ-M4S"));
    EXPECT_EQ(ReadText(profile, profile_keys::Model), "RQ-M4S");
    EXPECT_NE(ReadLong(profile, profile_keys::LockBaud), 0);
    for (const char* lock : {profile_keys::LockSize, profile_keys::LockScan, profile_keys::LockScroll, profile_keys::LockId}) {
        EXPECT_NE(ReadLong(profile, lock), 0) << lock;
    }
    EXPECT_EQ(ReadLong(profile, profile_keys::BrightAuto), 0);
    EXPECT_EQ(ReadLong(profile, profile_keys::BrightLevels), 4);
    for (const char* feature : {profile_keys::AlignFeature, profile_keys::Blinking, profile_keys::Scroll,
                                profile_keys::DefaultSet}) {
        EXPECT_EQ(ReadLong(profile, feature), 0) << feature;
    }
    EXPECT_EQ(ReadText(profile, profile_keys::Button1), "Send Message");
    EXPECT_EQ(ReadText(profile, profile_keys::Button2), "") << "one message button only";
}

}  // namespace
