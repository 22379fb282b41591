// SPDX-License-Identifier: Apache-2.0
// "Calibrate..." in the console's real window on the virtual printer: the sheet printed, the
// printer's own picture of it read, every certain reading saved at once and the verification
// sheet lining up; and every text of the window whole, in English and Chinese.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>
#include <wx/wx.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/calibrate_texts.h"
#include "app/console.h"
#include "app/session.h"
#include "cli/calibrate_cmd.h"
#include "cli/cli.h"
#include "platform/scanner.h"
#include "support/fakes.h"
#include "vernier/vernier.h"
#include "vprinter.h"
#include "wx_support.h"
#include "wxapp/calibrate_window.h"
#include "wxapp/history_window.h"
#include "wxapp/scan_window.h"

namespace {

using namespace std::chrono_literals;

// Record offsets of the six first-pass bidirectional fields: text high .. photo.
const uint8_t BIDIR_OFFSETS[6] = {0x03, 0x04, 0x05, 0x1e, 0x1f, 0x20};
// A board that lines up at 20 in every mode, with a record off by a different amount in each.
const int START[11] = {20, 18, 23, 21, 17, 22, 19, 24, 16, 20, 22};

// The sheet's picture at 300 dpi: every print is read there, and quickly.
void configure(const std::string& dir) {
    std::ofstream cfg(dir + "/printer.cfg");
    cfg << "sheet_dpi = 300\nbidir_columns = -8\nstart_bidir = ";
    for (int i = 0; i < 11; ++i) cfg << (i ? "," : "") << START[i];
    cfg << "\n";
}

class WxCalibrate : public WxConsoleTest {
  protected:
    // A sheet printed by the command line on a printer of its own, once for the suite: the
    // picture the text checks read.
    static std::string* sheetPicture;
    static TempDir* sheetDir;
    static void SetUpTestSuite() {
        Session session;
        sheetDir = new TempDir;
        TempDir logs;
        configure(sheetDir->path);
        CliOptions o;
        o.virtualPrinterDir = sheetDir->path;
        o.logDir = logs.path;
        o.fastClock = true;
        ASSERT_EQ(Cli_CalibrateCommand({}, o), 0);
        std::filesystem::path last;
        for (const auto& e : std::filesystem::directory_iterator(sheetDir->path + "/jobs"))
            if (e.path().string().find("-sheet.png") != std::string::npos && e.path() > last)
                last = e.path();
        sheetPicture = new std::string(last.string());
    }
    static void TearDownTestSuite() {
        delete sheetPicture;
        delete sheetDir;
        sheetPicture = nullptr;
        sheetDir = nullptr;
    }

    // The console on a board of START's mechanics, with its "History..." and "Calibrate..."
    // buttons, and the calibration window opened by a real click on its button.
    wxFrame* openWindow() {
        VPrinter_Detach();
        configure(stateDir);
        EXPECT_TRUE(VPrinter_Attach(stateDir));
        startConsole();
        EXPECT_TRUE(WxHistory_Install());
        EXPECT_TRUE(WxCalibrate_Install());
        EXPECT_TRUE(WxCalibrate_Install());  // a second call adds nothing
        wxWindow* button = WxDialog_Frame()->FindWindow("headalign-calibrate");
        EXPECT_NE(button, nullptr);
        if (!button) return nullptr;
        // Beside "History...", on its row, clear of it.
        const wxRect history = WxDialog_Frame()->FindWindow("headalign-history")->GetRect();
        EXPECT_EQ(button->GetRect().y, history.y);
        EXPECT_GT(button->GetRect().x, history.GetRight());
        EXPECT_LE(button->GetBestSize().x, button->GetSize().x);
        const wxRect r = button->GetScreenRect();
        wxUIActionSimulator mouse;
        mouse.MouseMove(wxPoint(r.x + r.width / 2, r.y + r.height / 2));
        settle(50);
        mouse.MouseClick();
        settle(200);
        auto* window =
            dynamic_cast<wxFrame*>(wxWindow::FindWindowByName("headalign-calibrate-window"));
        EXPECT_NE(window, nullptr);
        if (!window) WxUi_Screenshot(buildFile("calibrate-console.png"));
        if (window) {
            EXPECT_TRUE(window->IsShown());
        }
        return window;
    }

    template <class T>
    static T* part(wxWindow* window, const char* name) {
        auto* found = dynamic_cast<T*>(window->FindWindow(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The operator presses a button of the window; false when it is greyed.
    bool press(wxWindow* window, const char* name) {
        auto* button = part<wxButton>(window, name);
        if (!button || !button->IsEnabled() || !button->IsShown()) return false;
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
        settle(50);
        return true;
    }
    // Waits (in real time) until the window has read what it was given.
    void waitIdle() {
        const wxMilliClock_t end = wxGetLocalTimeMillis() + 120000;
        while (WxCalibrate_Busy() && wxGetLocalTimeMillis() < end) settle(20);
        EXPECT_FALSE(WxCalibrate_Busy());
        settle(100);
    }
    static std::string cell(wxListCtrl* table, long row, int column) {
        return table->GetItemText(row, column).utf8_string();
    }
    static std::string label(wxWindow* window, const char* name) {
        auto* t = dynamic_cast<wxStaticText*>(window->FindWindow(name));
        return t ? t->GetLabel().utf8_string() : "";
    }
    uint8_t stored(int field) {
        uint8_t record[56];
        VPrinter_StoredRecord(record);
        return record[BIDIR_OFFSETS[field]];
    }
    void readFile(wxWindow* window, const std::string& path) {
        WxBoxes_SetFileChooser([path](wxFileDialog&, std::string* chosen) {
            *chosen = path;
            return true;
        });
        ASSERT_TRUE(press(window, "headalign-calibrate-read"));
        waitIdle();
        WxBoxes_SetFileChooser(nullptr);
    }

    // Every text of the window shows whole: labels, buttons and the check box at their best
    // size, every column of the table as wide as its header and each of its cells.
    void expectEveryTextFits(wxWindow* window, const char* language) {
        std::vector<wxWindow*> all{window};
        for (size_t i = 0; i < all.size(); ++i)
            for (wxWindow* child : all[i]->GetChildren()) all.push_back(child);
        int texts = 0;
        for (wxWindow* w : all) {
            if (!w->IsShown()) continue;
            if (auto* table = dynamic_cast<wxListCtrl*>(w)) {
                int total = 0;
                for (int c = 0; c < table->GetColumnCount(); ++c) {
                    wxListItem header;
                    header.SetMask(wxLIST_MASK_TEXT);
                    table->GetColumn(c, header);
                    const int width = table->GetColumnWidth(c);
                    total += width;
                    EXPECT_LT(table->GetTextExtent(header.GetText()).x, width)
                        << language << ": header " << header.GetText().utf8_string();
                    for (long r = 0; r < table->GetItemCount(); ++r)
                        EXPECT_LT(table->GetTextExtent(table->GetItemText(r, c)).x, width)
                            << language << ": " << table->GetItemText(r, c).utf8_string();
                    texts += 1 + int(table->GetItemCount());
                }
                EXPECT_LE(total, table->GetClientSize().x) << language << ": the table scrolls";
                continue;
            }
            const bool textual = dynamic_cast<wxStaticText*>(w) || dynamic_cast<wxButton*>(w) ||
                                 dynamic_cast<wxCheckBox*>(w) || dynamic_cast<wxStaticBox*>(w);
            if (!textual || w->GetLabel().empty()) continue;
            ++texts;
            const wxSize best = w->GetBestSize();
            EXPECT_LE(best.x, w->GetSize().x) << language << ": " << w->GetLabel().utf8_string();
            EXPECT_LE(best.y, w->GetSize().y) << language << ": " << w->GetLabel().utf8_string();
            // Inside the window (the panel that fills it).
            wxWindow* panel = window->GetChildren().front();
            // (A frame's own place on GTK is that of its border, below its label.)
            const wxRect inWindow =
                w->GetParent() == panel
                    ? w->GetRect()
                    : wxRect(w->GetScreenPosition() - panel->GetScreenPosition(), w->GetSize());
            EXPECT_TRUE(wxRect(window->GetClientSize()).Contains(inWindow))
                << language << ": " << w->GetLabel().utf8_string()
                << " outside the window: " << inWindow.x << "," << inWindow.y << " "
                << inWindow.width << "x" << inWindow.height << " in " << window->GetClientSize().x
                << "x" << window->GetClientSize().y;
        }
        EXPECT_GT(texts, 15) << language;
        // On the screen, whole.
        EXPECT_TRUE(wxRect(wxGetDisplaySize()).Contains(window->GetScreenRect())) << language;
    }
};
std::string* WxCalibrate::sheetPicture = nullptr;
TempDir* WxCalibrate::sheetDir = nullptr;

// Print, the virtual printer's own picture read, SAVE, and the verification sheet reads "00".
TEST_F(WxCalibrate, TheSheetIsPrintedReadSavedAndVerified) {
    wxFrame* window = openWindow();
    ASSERT_NE(window, nullptr);
    auto* table = part<wxListCtrl>(window, "headalign-calibrate-table");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->GetItemCount(), 0);
    EXPECT_FALSE(press(window, "headalign-calibrate-save"));  // nothing read yet
    // The virtual printer's picture is read as soon as the sheet is out.
    ASSERT_TRUE(press(window, "headalign-calibrate-print"));
    waitIdle();
    ASSERT_EQ(table->GetItemCount(), 6) << label(window, "headalign-calibrate-picture-status");
    int toEnter = 0;
    for (long r = 0; r < 6; ++r) {
        EXPECT_EQ(cell(table, r, 1), "first");
        EXPECT_EQ(cell(table, r, 3), "yes") << r;
        toEnter += cell(table, r, 5).rfind("SAVE enters", 0) == 0;
    }
    EXPECT_GE(toEnter, 4);
    auto* picture = part<wxStaticBitmap>(window, "headalign-calibrate-picture");
    ASSERT_NE(picture, nullptr);
    EXPECT_GT(picture->GetBitmap().GetHeight(), 200);
    // One SAVE enters them all; the console shows what is stored now.
    ASSERT_TRUE(press(window, "headalign-calibrate-save"));
    EXPECT_NE(label(window, "headalign-calibrate-save-status").find("Saved"), std::string::npos);
    int changed = 0;
    for (int f = 0; f < 6; ++f) changed += stored(f) != START[f];
    EXPECT_EQ(changed, toEnter);
    EXPECT_FALSE(press(window, "headalign-calibrate-save"));  // saved once
    EXPECT_TRUE(WxUi_ScreenshotOf(buildFile("calibrate-en_US.png"), window));
    // The verification sheet lines up in every mode.
    ASSERT_TRUE(press(window, "headalign-calibrate-verify"));
    waitIdle();
    ASSERT_EQ(table->GetItemCount(), 6);
    for (long r = 0; r < 6; ++r) EXPECT_EQ(cell(table, r, 5), "confirmed: \"00\" lines up") << r;
    EXPECT_EQ(label(window, "headalign-calibrate-verify-status"), "Verified: every mode lines up.");
    EXPECT_FALSE(press(window, "headalign-calibrate-save"));  // nothing to enter
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
}

// Every text fits, in both languages, with a table that says what to do about prints cut off
// the picture beside the ones read.
TEST_F(WxCalibrate, EveryTextFitsInBothLanguages) {
    ASSERT_NE(sheetPicture, nullptr);
    VernierImage sheet;
    std::string error;
    ASSERT_TRUE(Vernier_LoadImage(*sheetPicture, &sheet, &error)) << error;
    // The sheet cut after its first prints: the rest are missing.
    VernierImage cut = sheet;
    cut.height = sheet.height * 2 / 5;
    cut.rgb.resize(size_t(cut.width) * cut.height * 3);
    const std::string cutPath = work.path + "/cut.png";
    ASSERT_TRUE(Vernier_SavePng(cutPath, cut));
    for (const char* lang : {"en_US.UTF-8", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(lang);
        useLanguage(lang);
        wxFrame* window = openWindow();
        ASSERT_NE(window, nullptr);
        const bool chinese = std::string(lang).rfind("zh", 0) == 0;
        EXPECT_EQ(window->GetTitle().utf8_string(), chinese ? "校准向导" : "Calibrate");
        expectEveryTextFits(window, lang);
        readFile(window, cutPath);
        auto* table = part<wxListCtrl>(window, "headalign-calibrate-table");
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->GetItemCount(), 6);
        int missing = 0;
        for (long r = 0; r < 6; ++r)
            missing += cell(table, r, 5) == calibrateText(CAL_TODO_MISSING);
        EXPECT_GE(missing, 2);
        EXPECT_LE(missing, 5);
        expectEveryTextFits(window, lang);
        EXPECT_TRUE(WxUi_ScreenshotOf(
            buildFile(chinese ? "calibrate-cut-zh_CN.png" : "calibrate-cut-en_US.png"), window));
        window->Destroy();
        TearDown();
        SetUp();
    }
}

// Scan: the whole sheet through the scanner seam on a worker (SANE's pnm back end serving the
// sheet's picture), kept in the log folder and read; a scanner's refusal said in its words.
TEST_F(WxCalibrate, TheScanButtonReadsTheSheetFromTheScanner) {
    ASSERT_NE(sheetPicture, nullptr);
    wxFrame* window = openWindow();
    ASSERT_NE(window, nullptr);
    auto* scan = part<wxButton>(window, "headalign-calibrate-scan");
    ASSERT_NE(scan, nullptr);
    // The window's watcher sets the button a moment after the search has ended.
    const wxMilliClock_t end = wxGetLocalTimeMillis() + 30000;
    while (!scan->IsEnabled() && wxGetLocalTimeMillis() < end) settle(20);
    ASSERT_TRUE(WxScanner_Looked());
    ASSERT_TRUE(scan->IsEnabled()) << "SANE's test back end offers a scanner";
    VernierImage sheet;
    std::string error;
    ASSERT_TRUE(Vernier_LoadImage(*sheetPicture, &sheet, &error)) << error;
    wxServeThroughPnm(sheet, work.path);
    EXPECT_TRUE(press(window, "headalign-calibrate-scan"));
    EXPECT_TRUE(WxCalibrate_Busy());
    EXPECT_FALSE(scan->IsEnabled());  // one at a time
    waitIdle();
    Scanner_Install(nullptr);
    auto* table = part<wxListCtrl>(window, "headalign-calibrate-table");
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->GetItemCount(), 6) << label(window, "headalign-calibrate-picture-status");
    for (long r = 0; r < 6; ++r) EXPECT_EQ(cell(table, r, 3), "yes") << r;
    EXPECT_EQ(wxKeptScans(work.path, "Scan_Sheet_"), 1);
    wxServeCoverOpen();
    EXPECT_TRUE(press(window, "headalign-calibrate-scan"));
    waitIdle();
    Scanner_Install(nullptr);
    EXPECT_EQ(label(window, "headalign-calibrate-picture-status"),
              "the scanner's cover is open: close it and scan again");
    EXPECT_EQ(table->GetItemCount(), 6);  // what was read stays
    // A scan that does not end: Cancel stops it, and so does closing the window.
    static const ScannerBackend stuck{
        .list = Scanner_Backend()->list,
        .scan =
            [](const ScanRequest& request, ImagePixels*, std::string*) {
                while (!request.cancel->load()) std::this_thread::sleep_for(1ms);
                return ScanStatus::Cancelled;
            },
    };
    Scanner_Install(&stuck);
    EXPECT_TRUE(press(window, "headalign-calibrate-scan"));
    EXPECT_TRUE(WxCalibrate_Busy());
    EXPECT_TRUE(press(window, "headalign-calibrate-cancel"));
    waitIdle();
    EXPECT_EQ(label(window, "headalign-calibrate-picture-status"),
              Scanner_StatusText(ScanStatus::Cancelled, "", false));
    EXPECT_TRUE(press(window, "headalign-calibrate-scan"));
    EXPECT_TRUE(WxCalibrate_Busy());
    EXPECT_TRUE(window->Close());
    settle(100);
    EXPECT_EQ(wxWindow::FindWindowByName("headalign-calibrate-window"), nullptr);
    EXPECT_FALSE(WxCalibrate_Busy());
    Scanner_Install(nullptr);
}

}  // namespace
