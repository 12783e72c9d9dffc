// Start-up as the program does it: language from the settings file, the
// catalogue under locale/, the main window shown.
#include <filesystem>
#include <random>
#include <string>

#include <wx/log.h>
#include <wx/menu.h>

#include "app/rq_m4t_app.h"
#include "gui/frame_fixture.h"

using rq::test::DestroyNow;
using rq::test::WorkDir;

namespace {

// Collects what the toolkit would have shown the operator in a box.
class RecordingLog : public wxLog {
public:
    std::vector<wxString> messages;

protected:
    void DoLogTextAtLevel(wxLogLevel level, const wxString& msg) override
    {
        if (level <= wxLOG_Message) messages.push_back(msg);  // what a GUI log target would show
    }
};

RQ_M4TFrame* FindMainWindow()
{
    for (wxWindow* window : wxTopLevelWindows)
        if (auto* frame = dynamic_cast<RQ_M4TFrame*>(window); frame && !frame->IsBeingDeleted()) return frame;
    return nullptr;
}

struct StartedApp {
    explicit StartedApp(const std::string& settings)
    {
        dir.CopyRuntimeData();
        if (!settings.empty()) dir.WriteFile("Config/Config.ini", settings);
        previousLog = wxLog::SetActiveTarget(&log);
        testApp = wxApp::GetInstance();
        app = std::make_unique<RQ_M4TApp>();
        started = app->OnInit();
        wxLog::SetActiveTarget(previousLog);
        frame = FindMainWindow();
    }
    ~StartedApp()
    {
        if (frame) DestroyNow(frame);
        app.reset();
        // The toolkit points at the newest application object; give the test
        // application back to the following tests.
        wxApp::SetInstance(testApp);
    }
    WorkDir dir;
    RecordingLog log;
    wxLog* previousLog = nullptr;
    wxAppConsole* testApp = nullptr;
    std::unique_ptr<RQ_M4TApp> app;
    bool started = false;
    RQ_M4TFrame* frame = nullptr;
};

wxString StatusText(RQ_M4TFrame* frame, int field)
{
    return frame->GetStatusBar()->GetStatusText(field);
}

}  // namespace

TEST(AppStartup, FirstRunIsEnglishAndCreatesTheSettingsFile)
{
    StartedApp started("");
    ASSERT_TRUE(started.started);
    ASSERT_NE(started.frame, nullptr);
    EXPECT_TRUE(started.frame->IsShown());
    EXPECT_EQ(started.app->language, 58);
    EXPECT_EQ(StatusText(started.frame, 0), "Welcome!");
    EXPECT_TRUE(started.frame->GetMenuBar()->IsChecked(idMenuEnglish));
    EXPECT_TRUE(started.dir.Exists("Config/Config.ini"));
    EXPECT_EQ(started.dir.ReadFile("Config/Config.ini"), "");  // start-up itself writes nothing
    EXPECT_TRUE(started.log.messages.empty());
    DestroyNow(started.frame);
    started.frame = nullptr;
    EXPECT_FALSE(started.dir.Exists("Config/Config.ini.bad")) << "a clean file gets no copy";
}

TEST(AppStartup, ChineseShowsTheCatalogueWithoutAnyBoxForTheMissingSystemLocale)
{
    StartedApp started("[Setting]\nlang=46\n");
    ASSERT_NE(started.frame, nullptr);
    EXPECT_EQ(started.app->language, 46);
    EXPECT_TRUE(started.frame->GetMenuBar()->IsChecked(idMenuChinese));
    const wxString welcome = StatusText(started.frame, 0);
    EXPECT_NE(welcome, "Welcome!");
    EXPECT_EQ(welcome, wxGetTranslation("Welcome!"));
    // Whatever the toolkit had to say about the system locale went to
    // standard error, not to the operator.
    EXPECT_TRUE(started.log.messages.empty()) << started.log.messages.front();
}

TEST(AppStartup, LanguageNumbersResolveAsStored)
{
    for (const char* stored : {"-1", "1", "0", "abc", "123"}) {
        StartedApp started(std::string("[Setting]\nlang=") + stored + "\n");
        ASSERT_NE(started.frame, nullptr);
        const int expected = std::string(stored) == "abc" ? 58 : std::string(stored) == "123" ? 123 : 0;
        EXPECT_EQ(started.app->language, expected) << stored;
        EXPECT_TRUE(started.frame->GetMenuBar()->IsChecked(idMenuEnglish)) << stored;
    }
#ifndef _WIN32
    // The system's language, neither of the menu's two: neither is ticked.
    // (Windows takes its language from the user's settings, not LC_ALL.)
    wxString previous;
    const bool hadLanguage = wxGetEnv("LC_ALL", &previous);
    wxSetEnv("LC_ALL", "de_DE.UTF-8");
    {
        StartedApp started("[Setting]\nlang=0\n");
        ASSERT_NE(started.frame, nullptr);
        EXPECT_FALSE(started.frame->GetMenuBar()->IsChecked(idMenuEnglish));
        EXPECT_FALSE(started.frame->GetMenuBar()->IsChecked(idMenuChinese));
    }
    hadLanguage ? wxSetEnv("LC_ALL", previous) : wxUnsetEnv("LC_ALL");
#endif
}

// A settings file the parser cannot read whole: a hand-edited line without
// "=", or bytes that are no text at all. One message (not one per reading of
// the file) names it by its full path and the line; the exit save keeps the
// bytes as they were beside it.
TEST(AppStartup, DamagedSettingsFileGivesOneMessageNamingItAndIsKeptBeforeTheSave)
{
    std::mt19937 random(13);
    std::string noise;
    for (int k = 0; k < 4000; ++k) noise += static_cast<char>(random() & 0xFF);
    const std::string handEdited = "[Setting]\nMode=RQ-M4T\n[LED]\nWidth 96\n";
    for (const std::string& bytes : {handEdited, noise}) {
        StartedApp started(bytes);
        ASSERT_NE(started.frame, nullptr);
        ASSERT_EQ(started.log.messages.size(), 1u);
        const std::string message = started.log.messages.front().utf8_string();
        const std::string full = (std::filesystem::path(started.dir.Path()) / "Config/Config.ini").make_preferred().string();
        EXPECT_NE(message.find("file '" + full + "'"), std::string::npos) << message;
        if (bytes == handEdited) {
            EXPECT_NE(message.find("file '" + full + "', line 4: '=' expected.\n"), std::string::npos) << message;
        }
        EXPECT_NE(message.find(".bad"), std::string::npos) << message;
        EXPECT_FALSE(started.dir.Exists("Config/Config.ini.bad")) << "no copy before the save";

        DestroyNow(started.frame);
        started.frame = nullptr;
        EXPECT_EQ(started.dir.ReadFile("Config/Config.ini.bad"), bytes);
        EXPECT_FALSE(started.dir.Exists("Config/Config.ini.bad.1"));
        if (bytes != handEdited) continue;
        // The line stays, as a comment saying why: the next start is quiet
        // and leaves the file as it was.
        const std::string saved = started.dir.ReadFile("Config/Config.ini");
        EXPECT_EQ(saved, rq::test::NativeLines("[Setting]\nMode=RQ-M4T\n[LED]\n; The line below was not read: it is "
                                               "neither a [group] nor a name=value setting.\n; Width 96\n"));
        StartedApp again(saved);
        EXPECT_TRUE(again.log.messages.empty()) << again.log.messages.front();
        DestroyNow(again.frame);
        again.frame = nullptr;
        EXPECT_EQ(again.dir.ReadFile("Config/Config.ini"), saved);
    }
}

// A settings file saved in GBK, as Notepad's "ANSI" on Chinese Windows and
// Chinese editors save it: its text is read, one message says so, and the
// exit save keeps the bytes as they were before it writes UTF-8.
TEST(AppStartup, GbkSettingsFileIsReadSaidOnceKeptAndSavedAsUtf8)
{
    // "; 三号工位的设置" in GBK.
    const std::string bytes = "; \xC8\xFD\xBA\xC5\xB9\xA4\xCE\xBB\xB5\xC4\xC9\xE8\xD6\xC3\n[Setting]\nlang=58\n";
    StartedApp started(bytes);
    ASSERT_NE(started.frame, nullptr);
    ASSERT_EQ(started.log.messages.size(), 1u);
    const std::string full = (std::filesystem::path(started.dir.Path()) / "Config/Config.ini").make_preferred().string();
    // After the log's time stamp and level.
    const std::string message = started.log.messages.front().utf8_string();
    const std::size_t text = message.find("Warning: ");
    ASSERT_NE(text, std::string::npos) << message;
    EXPECT_EQ(message.substr(text + 9),
              "The settings file '" + full + "' is not UTF-8 text: it was read as GBK (Chinese) and is saved as UTF-8 "
              "at exit.\n\nThe settings are saved at exit as usual; the file as it is now is kept beside it, in a copy "
              "whose name ends in \".bad\".");
    EXPECT_FALSE(started.dir.Exists("Config/Config.ini.bad")) << "no copy before the save";

    DestroyNow(started.frame);
    started.frame = nullptr;
    const std::string saved = started.dir.ReadFile("Config/Config.ini");
    EXPECT_EQ(saved.rfind(rq::test::NativeLines("; 三号工位的设置\n[Setting]\nlang=58\n"), 0), 0u) << saved;
    EXPECT_EQ(started.dir.ReadFile("Config/Config.ini.bad"), bytes);
}

// A copy started as administrator makes the names with an access list that a
// normal start cannot open: the refusal means a copy is running, as an
// existing name does. Only a fresh name, or another failure, means alone.
TEST(AppStartup, ANameHeldOrBarredByAnotherCopyCountsAsRunning)
{
    EXPECT_TRUE(rq::app::HeldByAnotherCopy(false, 5));    // ERROR_ACCESS_DENIED
    EXPECT_TRUE(rq::app::HeldByAnotherCopy(true, 183));   // ERROR_ALREADY_EXISTS
    EXPECT_FALSE(rq::app::HeldByAnotherCopy(true, 0));
    EXPECT_FALSE(rq::app::HeldByAnotherCopy(false, 123)); // ERROR_INVALID_NAME
}
