// SPDX-License-Identifier: Apache-2.0
// "History..." in the console's real window: the button after "Import", and the window with
// the drift in words, the picture and the entries, in English and Chinese.
#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/wx.h>

#include <filesystem>

#include "app/console.h"
#include "history/history.h"
#include "support/product_internals.h"
#include "wx_support.h"
#include "wxapp/history_window.h"

namespace {

class WxHistory : public WxConsoleTest {
  protected:
    // Four weeks of text mid needing a group more each week, corrected each time.
    int recordMonth() {
        int64_t t0 = 0;
        History_ParseTime("2026-11-02T09:00:00Z", &t0);
        int count = 0;
        for (int week = 0; week < 5; ++week) {
            HistoryEntry r;
            r.time = t0 + week * 7 * 86400;
            r.mode = 6;
            r.reading = 1.0;
            r.certain = true;
            r.source = "align --scan";
            EXPECT_TRUE(History_Record(r));
            HistoryEntry s;
            s.kind = HISTORY_SAVE;
            s.time = r.time;
            s.source = "align --apply";
            s.changes.push_back({"bidirTextMid", 6, 1, 10 + week, 11 + week});
            EXPECT_TRUE(History_Record(s));
            count += 2;
        }
        return count;
    }
};

TEST_F(WxHistory, TheWindowShowsTheDriftThePictureAndTheEntries) {
    for (const char* lang : {"en_US.UTF-8", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(lang);
        useLanguage(lang);
        startConsole();
        History_UsePrinter(stateDir);
        std::filesystem::remove(History_FilePath(History_PrinterKey(stateDir)));
        const int entries = recordMonth();
        ASSERT_TRUE(WxHistory_Install());
        ASSERT_TRUE(WxHistory_Install());  // a second call adds nothing
        auto* button = dynamic_cast<wxButton*>(WxDialog_Frame()->FindWindow("headalign-history"));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->IsShown());
        // After "Import", on its row, clear of it.
        const wxRect import = control(ID_IMPORT)->GetRect();
        EXPECT_EQ(button->GetRect().y, import.y);
        EXPECT_GT(button->GetRect().x, import.GetRight());
        // The button opens the window.
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
        settle();
        wxWindow* window = wxWindow::FindWindowByName("headalign-history-window");
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->IsShown());
        auto* words = dynamic_cast<wxStaticText*>(window->FindWindow("headalign-history-words"));
        ASSERT_NE(words, nullptr);
        const bool chinese = std::string(lang).rfind("zh", 0) == 0;
        EXPECT_EQ(
            words->GetLabel().ToStdString(wxConvUTF8),
            chinese ? "模式 6 在 28 天内漂移了 +4 组" : "mode 6 has drifted +4 groups in 28 days");
        auto* plot = dynamic_cast<wxStaticBitmap*>(window->FindWindow("headalign-history-plot"));
        ASSERT_NE(plot, nullptr);
        EXPECT_GT(plot->GetBitmap().GetWidth(), 600);
        auto* list = dynamic_cast<wxListCtrl*>(window->FindWindow("headalign-history-list"));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetItemCount(), entries);
        // Newest first.
        EXPECT_EQ(list->GetItemText(0, 0).ToStdString(), "2026-11-30 09:00");
        // Shown again, it is the same window, refreshed.
        HistoryEntry v;
        v.kind = HISTORY_VERIFICATION;
        v.mode = 6;
        v.aligned = true;
        History_ParseTime("2026-12-01", &v.time);
        ASSERT_TRUE(History_Record(v));
        EXPECT_EQ(WxHistory_Show(), window);
        list = dynamic_cast<wxListCtrl*>(window->FindWindow("headalign-history-list"));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetItemCount(), entries + 1);
        EXPECT_TRUE(WxUi_Screenshot(buildFile(chinese ? "history-zh_CN.png" : "history-en_US.png"),
                                    window));
        window->Destroy();
        TearDown();
        SetUp();
    }
}

TEST_F(WxHistory, NoPrinterChosenOpensNothing) {
    startConsole();
    History_Stop();
    EXPECT_EQ(WxHistory_Show(), nullptr);
}

}  // namespace
