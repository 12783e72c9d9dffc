// The About dialog: its text line by line with styles, the picture only when
// img/about.bmp exists, and the ways out of its modal run.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/richtext/richtextbuffer.h>
#include <wx/timer.h>
#include <wx/tokenzr.h>
#include <wx/utils.h>

#include "dialogs/dialog_ids.h"
#include "dialogs/kq_about.h"
#include "support/work_dir.h"
#include "gui/key_press.h"

namespace {

const char* const kHeading = "About RQ-M4x - LED Test";

std::string Narrow(const wxString& text)
{
    return text.utf8_string();
}

std::vector<std::string> Lines(const wxRichTextCtrl* text)
{
    std::vector<std::string> lines;
    for (long k = 0; k < text->GetNumberOfLines(); ++k) lines.push_back(Narrow(text->GetLineText(k)));
    return lines;
}

// The style of the first character of `needle` in the text.
wxRichTextAttr StyleOf(wxRichTextCtrl* text, const std::string& needle)
{
    const long at = static_cast<long>(text->GetValue().find(wxString::FromUTF8(needle)));
    EXPECT_NE(at, static_cast<long>(wxString::npos)) << needle;
    wxRichTextAttr style;
    EXPECT_TRUE(text->GetStyle(at, style)) << needle;
    return style;
}

class CountingLog : public wxLog {
public:
    int messages = 0;

protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++messages; }
};

class AboutTest : public testing::Test {
protected:
    std::unique_ptr<_KQ_About> Make()
    {
        return std::make_unique<_KQ_About>(nullptr, kHeading, kHeading);
    }

    rq::test::WorkDir work;
};

TEST_F(AboutTest, TextLineByLine)
{
    auto dialog = Make();
    EXPECT_EQ(Lines(dialog->AboutText), (std::vector<std::string>{
                                            kHeading,
                                            "",
                                            "Version : 1.0.3.411",
                                            "Date : 2015.08.21  R&D : TELVO",
                                            "",
                                            "TELVO",
                                            "support@telvo.example  QQ: 800012345",
                                            "www.telvo.example",
                                            "",
                                            "Copyright (C) 2012-2015 TELVO",
                                        }));
}

#ifndef _WIN32
// One version everywhere: what each command-line tool prints for --version
// is what the About box shows. (On Windows the unit tests compare the
// tool's version resource.)
TEST_F(AboutTest, ToolsPrintTheVersionTheAboutBoxShows)
{
    auto dialog = Make();
    std::string shown;
    for (const std::string& line : Lines(dialog->AboutText)) {
        if (line.rfind("Version : ", 0) == 0) shown = line.substr(10);
    }
    ASSERT_FALSE(shown.empty());
    for (const auto& [name, path] : {std::pair<std::string, std::string>{"rq-m4x-send", RQ_SEND_EXECUTABLE},
                                     std::pair<std::string, std::string>{"rq-m4x-sim", RQ_SIM_EXECUTABLE}}) {
        wxArrayString output, errors;
        const long status = wxExecute("\"" + wxString::FromUTF8(path) + "\" --version", output, errors,
                                      wxEXEC_SYNC | wxEXEC_NODISABLE);
        EXPECT_EQ(status, 0) << path;
        ASSERT_EQ(output.size(), 1u) << path;
        EXPECT_EQ(Narrow(output[0]), name + " " + shown);
    }
}
#endif

TEST_F(AboutTest, StylesOfHeadingLinkAndNotice)
{
    auto dialog = Make();
    wxRichTextCtrl* text = dialog->AboutText;

    const wxRichTextAttr heading = StyleOf(text, kHeading);
    EXPECT_EQ(heading.GetFontWeight(), wxFONTWEIGHT_BOLD);
    EXPECT_EQ(heading.GetFontSize(), 18);

    const wxRichTextAttr version = StyleOf(text, "Version");
    EXPECT_NE(version.GetFontWeight(), wxFONTWEIGHT_BOLD);
    EXPECT_NE(version.GetFontSize(), 18);

    const wxRichTextAttr link = StyleOf(text, "www.telvo.example");
    EXPECT_EQ(link.GetTextColour(), wxColour(0, 0, 255));
    EXPECT_TRUE(link.HasURL());
    EXPECT_EQ(Narrow(link.GetURL()), "www.telvo.example");

    const wxRichTextAttr notice = StyleOf(text, "Copyright");
    EXPECT_EQ(notice.GetTextColour(), wxColour(0, 0, 0));
    EXPECT_FALSE(notice.HasURL());

    const wxRichTextAttr contact = StyleOf(text, "support@");
    EXPECT_FALSE(contact.HasURL());
    EXPECT_NE(contact.GetTextColour(), wxColour(0, 0, 255));
}

TEST_F(AboutTest, ControlsAndReadOnlyText)
{
    auto dialog = Make();
    EXPECT_EQ(Narrow(dialog->GetTitle()), kHeading);
    EXPECT_EQ(dialog->AboutText->GetPosition(), wxPoint(100, 0));
    EXPECT_EQ(dialog->AboutText->GetSize(), wxSize(350, 200));
    EXPECT_EQ(Narrow(dialog->AboutText->GetName()), "ID_RICHTC_M");
    EXPECT_EQ(dialog->AboutText->GetId(), rq::dialogs::AboutTextId);
    EXPECT_FALSE(dialog->AboutText->IsEditable());
    EXPECT_TRUE(dialog->AboutText->HasFlag(wxRE_MULTILINE));
    EXPECT_EQ(dialog->AboutText->GetFont().GetPointSize(), 9);

    EXPECT_EQ(Narrow(dialog->AboutOkButton->GetLabel()), "&OK");
    EXPECT_EQ(dialog->AboutOkButton->GetPosition(), wxPoint(330, 210));
    EXPECT_EQ(dialog->AboutOkButton->GetSize(), wxSize(96, 24));
    EXPECT_EQ(Narrow(dialog->AboutOkButton->GetName()), "ID_BUTTON_OK");
    EXPECT_EQ(dialog->AboutOkButton->GetId(), rq::dialogs::AboutOkButtonId);
    EXPECT_NE(dialog->AboutOkButton->GetId(), wxID_OK);
    EXPECT_LT(rq::dialogs::AboutOkButtonId, rq::dialogs::AboutTextId);
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->AboutOkButton);

    // The operator's typing does not reach a read-only pane.
    const wxString before = dialog->AboutText->GetValue();
    wxKeyEvent key(wxEVT_CHAR);
    key.m_keyCode = 'x';
    key.m_uniChar = 'x';
    key.SetEventObject(dialog->AboutText);
    dialog->AboutText->GetEventHandler()->ProcessEvent(key);
    EXPECT_EQ(dialog->AboutText->GetValue(), before);
}

TEST_F(AboutTest, NoPictureAndNoMessageWithoutTheFile)
{
    CountingLog counter;
    wxLog* previous = wxLog::SetActiveTarget(&counter);
    {
        auto dialog = Make();
        EXPECT_EQ(dialog->AboutBitmap, nullptr);
        EXPECT_EQ(dialog->AboutText->GetPosition(), wxPoint(100, 0));
        EXPECT_EQ(Lines(dialog->AboutText).size(), 10u);
    }
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_EQ(counter.messages, 0);
}

TEST_F(AboutTest, PictureShownWhenTheFileExists)
{
    work.WriteFile("img/.keep", "");
    wxImage picture(100, 200);
    picture.SetRGB(wxRect(0, 0, 100, 200), 200, 30, 30);
    ASSERT_TRUE(picture.SaveFile("img/about.bmp", wxBITMAP_TYPE_BMP));
    auto dialog = Make();
    ASSERT_NE(dialog->AboutBitmap, nullptr);
    EXPECT_TRUE(dialog->AboutBitmap->GetBitmap().IsOk());
    EXPECT_EQ(dialog->AboutBitmap->GetBitmap().GetSize(), wxSize(100, 200));
    EXPECT_EQ(dialog->AboutBitmap->GetSize(), wxSize(100, 200));
    EXPECT_EQ(dialog->AboutText->GetPosition(), wxPoint(100, 0));
}

// Runs the dialog modally and takes the given way out once the loop runs.
void RunModalAndLeave(_KQ_About& dialog, std::function<void()> leave)
{
    bool left = false;
    dialog.CallAfter([&] {
        leave();
        left = true;
    });
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        ADD_FAILURE() << "the modal run did not end";
        dialog.EndModal(wxID_ABORT);
    });
    guard.StartOnce(20000);
    const int code = dialog.ShowModal();
    guard.Stop();
    EXPECT_TRUE(left);
    EXPECT_NE(code, wxID_ABORT);
    EXPECT_FALSE(dialog.IsShown());
}

TEST_F(AboutTest, OkButtonEndsTheModalRun)
{
    auto dialog = Make();
    RunModalAndLeave(*dialog, [&] {
        wxCommandEvent press(wxEVT_BUTTON, dialog->AboutOkButton->GetId());
        press.SetEventObject(dialog->AboutOkButton);
        dialog->AboutOkButton->GetEventHandler()->ProcessEvent(press);
    });
}

TEST_F(AboutTest, CloseBoxEndsTheModalRun)
{
    auto dialog = Make();
    RunModalAndLeave(*dialog, [&] { dialog->Close(); });
}

TEST_F(AboutTest, EscKeyEndsTheModalRunAsOkDoes)
{
    if (!rq::test::KeyboardReachesWindows()) GTEST_SKIP() << "key presses need a window manager";
    auto dialog = Make();
    RunModalAndLeave(*dialog, [&] {
        rq::test::FocusedChild(dialog.get());
        rq::test::PressKey(WXK_ESCAPE);
    });
}

}  // namespace
