// SPDX-License-Identifier: Apache-2.0
// The console in its real window: start-up on the virtual printer, clicks by ID and with the
// mouse, message boxes answered on screen, print jobs with their progress and paper, file
// dialogs through a chooser, the Config list, the message loop and boxes of other threads.
#include <wx/combobox.h>
#include <wx/filedlg.h>
#include <wx/textdlg.h>
#include <wx/wx.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "app/console.h"
#include "job/print_job.h"
#include "platform/msgbox.h"
#include "platform/scanner.h"
#include "vernier/vernier.h"
#include "vprinter.h"
#include "wx_support.h"
#include "wxapp/scan_window.h"

namespace {

class WxConsoleBehaviour : public WxConsoleTest {
  protected:
    void storeSample() {
        std::vector<uint8_t> r = wxSampleRecord();
        VPrinter_SetStoredRecord(r.data());
    }
    std::vector<uint8_t> printerRecord() {
        uint8_t r[56];
        VPrinter_StoredRecord(r);
        return std::vector<uint8_t>(r, r + 56);
    }
    bool enabled(int id) { return control(id) && control(id)->IsEnabled(); }
    bool checked(int id) {
        return WxDialog_Backend()->isChecked(reinterpret_cast<DialogHandle>(WxDialog_Frame()), id);
    }
    std::vector<std::string> captions() {
        std::vector<std::string> c;
        for (const WxShownBox& b : boxes) c.push_back(b.caption);
        return c;
    }
};

TEST_F(WxConsoleBehaviour, StartUpOnTheVirtualPrinterShowsItsRecord) {
    storeSample();
    startConsole();
    EXPECT_TRUE(boxes.empty());
    const std::pair<int, const char*> shown[] = {
        {ID_BIDIR_TEXT_HIGH, "10"},  {ID_BIDIR_TEXT_MID, "11"},  {ID_BIDIR_TEXT_LOW, "5"},
        {ID_BIDIR_IMAGE_HIGH, "20"}, {ID_BIDIR_IMAGE_LOW, "21"}, {ID_BIDIR_PHOTO, "22"},
        {ID_PASS4, "100"},           {ID_PASS6, "300"},          {ID_PASS8, "200"},
        {ID_PASS3, "150"},           {ID_PASS2, "90"},           {ID_START_OFFSET, "12"},
        {ID_FEATHER_DEPTH, "40"},    {ID_BAND_MARGIN, "3"},      {ID_BAND_WIDTH, "4"},
    };
    for (const auto& [id, value] : shown) EXPECT_EQ(text(id), value) << id;
    EXPECT_EQ(text(ID_FEATHER_MODE), "Mode3");
    EXPECT_EQ(text(ID_SKIP_BLANK), "Close Skip LR Blank");
    EXPECT_EQ(text(ID_INK_SLOT1), "K2");
    EXPECT_EQ(text(ID_INK_SLOT8), "C1");
    EXPECT_TRUE(checked(ID_COLOR_LEFT));
    EXPECT_TRUE(checked(ID_COLOR_RIGHT));
    EXPECT_FALSE(enabled(ID_INK_SLOT1));    // ink lists start disabled
    EXPECT_FALSE(enabled(ID_BAND_MARGIN));  // colour band until its box is checked
    // No Config folder: its list, label, store button and menu entry are out of reach.
    EXPECT_FALSE(control(ID_CONFIG_LIST)->IsShown());
    EXPECT_FALSE(control(ID_CONFIG_LABEL)->IsShown());
    EXPECT_FALSE(control(ID_CONFIG_STORE)->IsShown());
    EXPECT_FALSE(WxDialog_Frame()->GetMenuBar()->FindItem(ID_CONFIG_STORE)->IsEnabled());
}

TEST_F(WxConsoleBehaviour, PrinterUnreachableAtStartThenSaveIsRefused) {
    VPrinterFaults faults;
    faults.disappearOpens = 1000;
    VPrinter_SetFaults(faults);
    startConsole();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().caption, "TIP");
    EXPECT_EQ(boxes.back().text, "Printer's parameters get failed, please check the usb cable.");
    EXPECT_EQ(text(ID_BIDIR_TEXT_HIGH), "");
    boxes.clear();
    ASSERT_TRUE(WxDialog_Click(ID_SAVE));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "The printer connected failed, please retry.");
    EXPECT_EQ(boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes[1].text, "Parameter save fail!");
    EXPECT_EQ(boxes[1].caption, "FAIL");
    EXPECT_EQ(boxes[1].buttons, MSGBOX_OK);
}

TEST_F(WxConsoleBehaviour, ClicksByIdReachTheDialogProcedure) {
    storeSample();
    useLanguage("zh_CN.UTF-8");
    startConsole();
    ASSERT_TRUE(WxDialog_Click(ID_HD_BOX));
    EXPECT_TRUE(checked(ID_HD_BOX));
    EXPECT_EQ(text(ID_BIDIR_TEXT_HIGH_LABEL), "草稿高速");
    EXPECT_EQ(text(ID_BIDIR_IMAGE_LOW_LABEL), "图像模式");
    EXPECT_TRUE(Job_HdMode());
    ASSERT_TRUE(WxDialog_Click(ID_HD_BOX));
    EXPECT_EQ(text(ID_BIDIR_TEXT_HIGH_LABEL), "文字高速");
    EXPECT_EQ(text(ID_BIDIR_TEXT_HIGH), "10");
    ASSERT_TRUE(WxDialog_Click(ID_INK_ORDER_BOX));
    EXPECT_TRUE(enabled(ID_INK_SLOT1) && enabled(ID_INK_SLOT8));
    ASSERT_TRUE(WxDialog_Click(ID_COLOR_BAND_BOX));
    EXPECT_TRUE(enabled(ID_BAND_MARGIN) && enabled(ID_BAND_WIDTH_SET) && enabled(ID_COLOR_LEFT));
    ASSERT_TRUE(WxDialog_Click(ID_COLOR_BAND_BOX));
    EXPECT_FALSE(enabled(ID_BAND_MARGIN_SET));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WxConsoleBehaviour, RealMouseClicksOnACheckBoxAndSave) {
    storeSample();
    startConsole();
    ASSERT_TRUE(WxDialog_Type(ID_PASS4_SET, "120"));
    mouseClick(ID_INK_ORDER_BOX);
    EXPECT_TRUE(checked(ID_INK_ORDER_BOX));
    EXPECT_TRUE(enabled(ID_INK_SLOT2));
    mouseClick(ID_SAVE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Parameter save successful!");
    EXPECT_EQ(boxes[0].caption, "OK");
    EXPECT_EQ(boxes[0].icon, MSGBOX_ICON_INFORMATION);
    std::vector<uint8_t> r = printerRecord();
    EXPECT_EQ(r[0x0a] | r[0x0b] << 8, 120);
    EXPECT_EQ(text(ID_PASS4), "120");
    EXPECT_EQ(text(ID_PASS4_SET), "");
}

TEST_F(WxConsoleBehaviour, PrintButtonRunsItsJobWithProgressAndShowsThePaper) {
    storeSample();
    startConsole();
    WxUi_SetAfterCommand([](int) {
        VPrinter_WaitPaper();
        if (VPrinter_LastJobNumber())
            WxUi_ShowPicture(VPrinter_JobPath(VPrinter_LastJobNumber(), ".png"), "paper");
    });
    // Looks for the progress window until it is seen or the job is over (static: the steps
    // may outlive this test).
    static bool sawProgress, jobOver;
    sawProgress = jobOver = false;
    static std::function<void()> look = [] {
        sawProgress = WxDialog_ProgressWindow() != nullptr && !WxDialog_Frame()->IsEnabled();
        if (!sawProgress && !jobOver) WxUi_After(20, look);
    };
    WxUi_After(20, look);
    ASSERT_TRUE(WxDialog_Click(ID_NOZZLE_PRINT));  // all nozzles: returns when the job has ended
    jobOver = true;
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    EXPECT_EQ(VPrinter_LastJobNumber(), 1u);
    EXPECT_TRUE(sawProgress) << "no progress window during the job";
    EXPECT_EQ(WxDialog_ProgressWindow(), nullptr);
    EXPECT_TRUE(WxDialog_Frame()->IsEnabled());
    ASSERT_NE(WxUi_PictureWindow(), nullptr);
    settle(200);
    EXPECT_TRUE(WxUi_Screenshot(buildFile("console-after-nozzle-job.png"), WxUi_PictureWindow()));
}

TEST_F(WxConsoleBehaviour, CancelInTheProgressWindowCancelsTheJob) {
    storeSample();
    startConsole();
    // Presses Cancel as soon as the progress window is up.
    static bool jobOver;
    jobOver = false;
    static std::function<void()> pressCancel = [] {
        wxWindow* p = WxDialog_ProgressWindow();
        if (!p) {
            if (!jobOver) WxUi_After(20, pressCancel);
            return;
        }
        wxWindow* cancel = p->FindWindow(wxID_CANCEL);
        wxCommandEvent e(wxEVT_BUTTON, wxID_CANCEL);
        e.SetEventObject(cancel);
        cancel->ProcessWindowEvent(e);
    };
    WxUi_After(20, pressCancel);
    // A feed-step print runs a metre of paper: Cancel lands long before its end command, which a
    // cancel may no longer overtake (a short job could end as printed first).
    ASSERT_TRUE(WxDialog_Click(ID_PASS4_PRINT));
    jobOver = true;
    EXPECT_TRUE(Job_LastOutcome().pcCancelled);
}

TEST_F(WxConsoleBehaviour, ExitAndCloseEndTheMessageLoop) {
    storeSample();
    WxUi_After(800, [] { WxDialog_Click(ID_EXIT); });
    EXPECT_EQ(runConsole(0, 1), 0);
    EXPECT_EQ(WxDialog_Frame(), nullptr);
    WxUi_After(800, [] { WxDialog_Close(); });
    EXPECT_EQ(runConsole(0, 1), 0);
    EXPECT_EQ(WxDialog_Frame(), nullptr);
}

TEST_F(WxConsoleBehaviour, BoxesOfAnotherThreadAreShownByTheDialogThread) {
    startConsole();
    answers = {MSGBOX_RESULT_CANCEL};
    std::atomic<int> result{0};
    std::thread reporter([&] {
        result = MsgBox_Show("from the transmit thread", "T", MSGBOX_OKCANCEL, MSGBOX_ICON_WARNING);
    });
    for (int i = 0; i < 500 && result == 0; ++i) {
        WxUi_Pump();
        settle(10);
    }
    reporter.join();
    EXPECT_EQ(result, MSGBOX_RESULT_CANCEL);
    ASSERT_FALSE(boxes.empty());
    EXPECT_TRUE(boxes.back().fromOtherThread);
    EXPECT_EQ(boxes.back().icon, MSGBOX_ICON_WARNING);
}

// The measure button of a pass row: its prompt in the real window, the proposal in the row's
// entry and the arithmetic in a box; SAVE delivers it.
TEST_F(WxConsoleBehaviour, MeasureButtonPromptsAndFillsItsRow) {
    storeSample();
    useLanguage("zh_CN.UTF-8");
    startConsole();
    EXPECT_EQ(text(ID_MEASURE_PASS6), "...");
    std::vector<std::string> titles;
    WxBoxes_SetPromptAnswerer([&](wxTextEntryDialog& d, std::string* typed) {
        titles.emplace_back(d.GetTitle().utf8_str());
        *typed = "1003.5";
        return true;
    });
    WxDialog_Command(ID_MEASURE_PASS6);
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_NE(titles[0].find("6PASS"), std::string::npos) << titles[0];
    EXPECT_EQ(text(ID_PASS6_SET), "10035");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("stepPass6 = 10000 x 1003.5 / 1000.0 = 10035"), std::string::npos)
        << boxes[0].text;
    boxes.clear();
    WxDialog_Command(ID_SAVE);
    std::vector<uint8_t> r = printerRecord();
    EXPECT_EQ(r[0x0c] | r[0x0d] << 8, 10035);
}

TEST_F(WxConsoleBehaviour, ExportAndImportThroughTheFileDialogs) {
    storeSample();
    fake_clock::setLocalTime(LocalTime{2026, 12, 6, 9, 5, 0});
    startConsole();
    const std::string path = work.path + "/exported.dat";
    std::vector<std::string> titles, wildcards, names;
    std::vector<long> styles;
    WxBoxes_SetFileChooser([&](wxFileDialog& d, std::string* chosen) {
        titles.emplace_back(d.GetMessage().utf8_str());
        wildcards.emplace_back(d.GetWildcard().utf8_str());
        // A dialog that takes several files has no single name to ask for.
        names.emplace_back(d.HasFlag(wxFD_MULTIPLE) ? std::string()
                                                    : std::string(d.GetFilename().utf8_str()));
        styles.push_back(d.GetWindowStyle());
        EXPECT_EQ(d.GetFilterIndex(), 0);
        EXPECT_EQ(std::string(d.GetDirectory().utf8_str()),
                  std::filesystem::current_path().string());
        *chosen = path;
        return true;
    });
    WxDialog_Command(ID_EXPORT);
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0], "选择保存文件位置```");
    EXPECT_EQ(names[0], "Para_126_95.dat");
    EXPECT_EQ(wildcards[0],
              "数据文件(*.dat)|*.dat|文本文件(*.txt)|*.txt|C/"
              "C++源文件(*.cpp;*.c;*.h)|*.cpp;*.c;*.h|All Files(*.*)|*.*");
    EXPECT_TRUE(styles[0] & wxFD_SAVE);
    EXPECT_EQ(readFileBytes(path).size(), 60u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Parameters Save(" + path + ") OK!");
    EXPECT_EQ(boxes[0].caption, "Tip");

    boxes.clear();
    answers = {MSGBOX_RESULT_OK};
    WxDialog_Command(ID_IMPORT);
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[1], "选择文件```");
    EXPECT_EQ(names[1], "");
    EXPECT_TRUE(styles[1] & wxFD_OPEN);
    EXPECT_TRUE(styles[1] & wxFD_MULTIPLE);
    EXPECT_TRUE(styles[1] & wxFD_FILE_MUST_EXIST);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Tip");
    EXPECT_EQ(boxes[0].buttons, MSGBOX_OKCANCEL);
    EXPECT_EQ(boxes[0].icon, MSGBOX_ICON_QUESTION);
    EXPECT_EQ(boxes[1].text, "Parameters'file(" + path + ") import OK!");
}

TEST_F(WxConsoleBehaviour, ConfigListLoadsTheSelectedFile) {
    std::filesystem::create_directories(work.path + "/Config");
    std::vector<uint8_t> r = wxSampleRecord();
    r[3] = 33;
    std::ofstream(work.path + "/Config/Para_1206_0905.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(r.data()), 56);
    startConsole();
    ASSERT_TRUE(control(ID_CONFIG_LIST)->IsShown());
    EXPECT_TRUE(control(ID_CONFIG_STORE)->IsShown());
    EXPECT_TRUE(WxDialog_Frame()->GetMenuBar()->FindItem(ID_CONFIG_STORE)->IsEnabled());
    ASSERT_EQ(dynamic_cast<wxComboBox*>(control(ID_CONFIG_LIST))->GetCount(), 1u);
    ASSERT_TRUE(WxDialog_Select(ID_CONFIG_LIST, 0));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Parameters'file(Para_1206_0905.dat) import OK!");
    EXPECT_EQ(text(ID_BIDIR_TEXT_HIGH), "33");
}

}  // namespace

namespace {

TEST_F(WxConsoleBehaviour, ScanButtonsStandBesideTheSixBidirectionalEntries) {
    startConsole();
    ASSERT_TRUE(WxVernier_Install());
    ASSERT_TRUE(WxVernier_Install());  // a second call adds nothing
    for (int row = 0; row < 6; ++row) {
        wxWindow* button =
            WxDialog_Frame()->FindWindow(wxString::Format("headalign-read-scan%d", row));
        ASSERT_NE(button, nullptr) << row;
        EXPECT_EQ(button->GetToolTipText(), "Read scan...");
        EXPECT_TRUE(button->IsShown());
    }
    std::string why;
    EXPECT_FALSE(WxVernier_ReadInto(0, "/nonexistent/scan.png", &why));
    EXPECT_FALSE(why.empty());
}

// "Scan" beside every "Read scan...": enabled once the scanners are found (SANE's test and pnm
// back ends here), it scans the row's print on the first of them and enters the reading.
TEST_F(WxConsoleBehaviour, ScanButtonScansThePrintIntoItsRow) {
    startConsole();
    ASSERT_TRUE(WxVernier_Install());
    auto scanButton = [](int row) {
        return WxDialog_Frame()->FindWindow(wxString::Format("headalign-scan%d", row));
    };
    for (int tries = 0; tries < 100 && !scanButton(0)->IsEnabled(); ++tries) settle(50);
    for (int row = 0; row < 6; ++row) {
        ASSERT_NE(scanButton(row), nullptr) << row;
        EXPECT_TRUE(scanButton(row)->IsEnabled()) << row;
        EXPECT_EQ(scanButton(row)->GetToolTipText(), "test:0") << row;
        // Beside its "Read scan..." button, not over it.
        wxRect read =
            WxDialog_Frame()->FindWindow(wxString::Format("headalign-read-scan%d", row))->GetRect();
        EXPECT_GT(scanButton(row)->GetRect().x, read.GetRight()) << row;
    }
    // The text-high print on the virtual printer, served by the pnm back end as its file.
    ASSERT_TRUE(WxDialog_Click(ID_BIDIR_TEXT_HIGH_PRINT));
    VPrinter_WaitPaper();
    VernierImage paper;
    std::string error;
    ASSERT_TRUE(
        Vernier_LoadImage(VPrinter_JobPath(VPrinter_LastJobNumber(), ".png"), &paper, &error))
        << error;
    wxServeThroughPnm(paper, work.path);
    std::string message;
    const bool entered = WxVernier_ScanInto(0, &message);
    Scanner_Install(nullptr);
    EXPECT_TRUE(entered) << message;
    EXPECT_EQ(text(ID_BIDIR_TEXT_HIGH_ADD), "0");
    // The scan is kept in the log folder for a later look.
    EXPECT_EQ(wxKeptScans(work.path, "Scan_M5_"), 1);
    // A scanner that answers with an error says so in the operator's words.
    wxServeCoverOpen();
    EXPECT_FALSE(WxVernier_ScanInto(1, &message));
    Scanner_Install(nullptr);
    EXPECT_EQ(message, "the scanner's cover is open: close it and scan again");
    settle();
    EXPECT_TRUE(WxUi_Screenshot(buildFile("console-scan-buttons.png")));
}

}  // namespace
