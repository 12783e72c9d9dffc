#pragma once
// A message box a test expects: checks its text, caption and OK-only buttons,
// and answers OK. Use with wxTEST_DIALOG(call, ExpectMessageBox(text, caption)).
#include <string>

#include <gtest/gtest.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

namespace rq::test {

class ExpectMessageBox : public wxExpectModalBase<wxMessageDialog, ExpectMessageBox> {
public:
    ExpectMessageBox(std::string message, std::string caption)
        : message(std::move(message)), caption(std::move(caption))
    {
    }

protected:
    int OnInvoked(wxMessageDialog* box) const override
    {
        EXPECT_EQ(box->GetMessage().utf8_string(), message);
        EXPECT_EQ(box->GetCaption().utf8_string(), caption);
        EXPECT_EQ(box->GetMessageDialogStyle() & (wxOK | wxCANCEL | wxYES_NO), wxOK);
        return wxID_OK;
    }

private:
    std::string message;
    std::string caption;
};

}  // namespace rq::test
