// Window icons by name from the images beside the program (on Windows from
// the executable's icon resources), and the dialogs wearing theirs.
#include <gtest/gtest.h>

#include <string>

#include <wx/log.h>
#include <wx/settings.h>

#include "dialogs/commun_set.h"
#include "dialogs/kq_about.h"
#include "dialogs/named_icon.h"
#include "platform/port_names.h"
#include "support/work_dir.h"

namespace {

class CountingLog : public wxLog {
public:
    int messages = 0;

protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++messages; }
};

// Windows loads an icon resource at the system's icon size.
int Side(int imageSide)
{
#ifdef __WXMSW__
    (void)imageSide;
    return wxSystemSettings::GetMetric(wxSYS_ICON_X);
#else
    return imageSide;
#endif
}

struct IconCase {
    const char* name;
    int side;
};

class NamedIconTest : public testing::TestWithParam<IconCase> {};

TEST_P(NamedIconTest, LoadsTheBundledImageAtItsSize)
{
    rq::test::WorkDir work;
    work.CopyRuntimeData(false, true, false);
    const wxIcon icon = LoadNamedIcon(GetParam().name);
    ASSERT_TRUE(icon.IsOk()) << GetParam().name;
    EXPECT_EQ(icon.GetWidth(), Side(GetParam().side));
    EXPECT_EQ(icon.GetHeight(), Side(GetParam().side));
}

INSTANTIATE_TEST_SUITE_P(Bundled, NamedIconTest,
                         testing::Values(IconCase{"aaaa", 128}, IconCase{"RC_Comm", 32}, IconCase{"RC_About", 48}));

#ifdef __WXMSW__
TEST(NamedIcon, MissingIconIsInvalidAndQuiet)
{
    CountingLog counter;
    wxLog* previous = wxLog::SetActiveTarget(&counter);
    const wxIcon missing = LoadNamedIcon("NoSuchIcon");  // no such resource
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_FALSE(missing.IsOk());
    EXPECT_EQ(counter.messages, 0);
}
#else
TEST(NamedIcon, MissingIconIsInvalidAndQuiet)
{
    rq::test::WorkDir work;
    CountingLog counter;
    wxLog* previous = wxLog::SetActiveTarget(&counter);
    const wxIcon missing = LoadNamedIcon("RC_Comm");  // no img/ here
    work.WriteFile("img/RC_About.png", "not a picture");
    const wxIcon broken = LoadNamedIcon("RC_About");
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_FALSE(missing.IsOk());
    EXPECT_FALSE(broken.IsOk());
    EXPECT_EQ(counter.messages, 0);
}
#endif

TEST(NamedIcon, DialogsWearTheirIcons)
{
    rq::test::WorkDir work;
    work.CopyRuntimeData(false, true, false);
    rq::platform::SetCandidatePortNames({});
    _CommunSet settings(nullptr, "Serial port settings", "COM1", 9600, "img//devices64.png", 2);
    ASSERT_EQ(settings.GetIcons().GetIconCount(), 1u);
    EXPECT_EQ(settings.GetIcons().GetIconByIndex(0).GetWidth(), Side(32));
    EXPECT_TRUE(settings.DeviceBitmap->GetBitmap().IsOk());
    EXPECT_TRUE(settings.OkButton->GetBitmap().IsOk());
    _KQ_About about(nullptr, "About", "About");
    // One 48-pixel image (GetIcon() would look for the system's size).
    ASSERT_EQ(about.GetIcons().GetIconCount(), 1u);
    EXPECT_EQ(about.GetIcons().GetIconByIndex(0).GetWidth(), Side(48));
    EXPECT_NE(about.AboutBitmap, nullptr);
}

}  // namespace
