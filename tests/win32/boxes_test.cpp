// SPDX-License-Identifier: Apache-2.0
// The real message boxes and file dialogs of the Win32 back ends: a helper thread finds the
// window the test thread is blocked on, reads it as the operator would and answers it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/texts.h"
#include "platform/defaults.h"
#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"
#include "support/fakes.h"
#include "win32_support.h"

namespace {

// Control IDs of the system's dialogs: a message box's text, the file dialog's type list and
// name field.
constexpr int BOX_TEXT_ID = 0xFFFF;
constexpr int FILE_TYPE_LIST_ID = 0x470;
constexpr int FILE_NAME_EDIT_ID = 0x47C;
constexpr int FILE_NAME_EDIT_OLD_ID = 0x480;

HWND waitForWindow(const std::string& titleUtf8) {
    std::wstring title = Win32_ToWide(titleUtf8);
    for (int i = 0; i < 1000; ++i) {
        if (HWND w = FindWindowW(L"#32770", title.c_str())) return w;
        Sleep(10);
    }
    return nullptr;
}

struct Operator {
    std::thread thread;
    std::atomic<bool> found{false};
    std::string text;
    std::vector<std::string> entries;
    ~Operator() {
        if (thread.joinable()) thread.join();
    }
};

TEST(RealMessageBox, ShowsChineseTextInEveryLocaleAndReturnsTheButton) {
    Operator op;
    op.thread = std::thread([&] {
        HWND box = waitForWindow("Tip");
        if (!box) return;
        op.found = true;
        op.text = windowTextUtf8(GetDlgItem(box, BOX_TEXT_ID));
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    });
    int answer =
        Win32MsgBox_Backend()->show("小车受阻", "Tip", MSGBOX_OKCANCEL, MSGBOX_ICON_QUESTION);
    op.thread.join();
    ASSERT_TRUE(op.found);
    EXPECT_EQ(op.text, "小车受阻");
    EXPECT_EQ(answer, MSGBOX_RESULT_CANCEL);
}

// The text prompt built in memory: its title, prompt and first text as given, the typed line
// back on OK, nothing on Cancel.
TEST(RealTextPrompt, GivesTheTypedLineOnOkAndNothingOnCancel) {
    for (bool confirm : {true, false}) {
        SCOPED_TRACE(confirm ? "OK" : "Cancel");
        Operator op;
        op.thread = std::thread([&] {
            HWND box = waitForWindow("测量走纸 4PASS");
            if (!box) return;
            op.found = true;
            op.text =
                windowTextUtf8(GetDlgItem(box, 100)) + "|" + windowTextUtf8(GetDlgItem(box, 101));
            SetWindowTextW(GetDlgItem(box, 101), Win32_ToWide("998.5 毫米").c_str());
            PostMessageW(box, WM_COMMAND, confirm ? IDOK : IDCANCEL, 0);
        });
        std::string text = "1000";
        bool ok = Win32Dialog_Backend()->promptText(DIALOG_NONE, "测量走纸 4PASS",
                                                    "两个十字之间的距离:", &text);
        op.thread.join();
        ASSERT_TRUE(op.found);
        EXPECT_EQ(op.text, "两个十字之间的距离:|1000");
        EXPECT_EQ(ok, confirm);
        EXPECT_EQ(text, confirm ? "998.5 毫米" : "1000");
    }
}

TEST(CommandLineMessageBox, AnswersWithTheDefaultButtonWithoutAWindow) {
    const MsgBoxBackend* box = Platform_DefaultMsgBox();
    EXPECT_EQ(box->show("小车受阻", "Tip", MSGBOX_OK, MSGBOX_ICON_INFORMATION), MSGBOX_RESULT_OK);
    EXPECT_EQ(box->show("?", "Tip", MSGBOX_YESNO, MSGBOX_ICON_QUESTION), MSGBOX_RESULT_YES);
    EXPECT_EQ(FindWindowW(L"#32770", L"Tip"), nullptr);
}

struct RealFileDialog : ::testing::Test {
    HWND owner = nullptr;
    TempDir dir;
    void SetUp() override {
        owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
        ASSERT_NE(owner, nullptr);
    }
    void TearDown() override { DestroyWindow(owner); }
    FileDialogRequest request(const char* title, const std::string& name) {
        return FileDialogRequest{title, FILE_DIALOG_FILTERS, 4, windowsPath(dir.path), name};
    }
};

std::vector<std::string> listEntries(HWND list) {
    std::vector<std::string> out;
    LRESULT n = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t buffer[256] = {};
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        out.push_back(Win32_FromWide(buffer));
    }
    return out;
}

TEST_F(RealFileDialog, OpenDialogHasTheTitleAndFourFiltersAndGivesTheChosenPath) {
    std::string chosen = windowsPath(dir.path) + "\\Para_126_95.dat";
    FILE* f = std::fopen(chosen.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    Operator op;
    op.thread = std::thread([&] {
        HWND d = waitForWindow(OPEN_DIALOG_TITLE);
        if (!d) return;
        op.found = true;
        Sleep(200);  // let the dialog fill its lists
        op.entries = listEntries(GetDlgItem(d, FILE_TYPE_LIST_ID));
        HWND name = GetDlgItem(d, FILE_NAME_EDIT_ID);
        if (!name) name = GetDlgItem(d, FILE_NAME_EDIT_OLD_ID);
        SetWindowTextW(name, Win32_ToWide(chosen).c_str());
        PostMessageW(d, WM_COMMAND, IDOK, 0);
    });
    std::string path;
    bool ok =
        Win32Dialog_Backend()->fileDialog(reinterpret_cast<DialogHandle>(owner), FILE_DIALOG_OPEN,
                                          request(OPEN_DIALOG_TITLE, ""), &path);
    op.thread.join();
    ASSERT_TRUE(op.found);
    ASSERT_EQ(op.entries.size(), 4u);
    EXPECT_EQ(op.entries[0], FILE_DIALOG_FILTERS[0][0]);
    EXPECT_EQ(op.entries[3], FILE_DIALOG_FILTERS[3][0]);
    EXPECT_TRUE(ok);
    EXPECT_EQ(path, chosen);
}

TEST_F(RealFileDialog, CancelledSaveDialogGivesNothing) {
    Operator op;
    op.thread = std::thread([&] {
        HWND d = waitForWindow(SAVE_DIALOG_TITLE);
        if (!d) return;
        op.found = true;
        op.text =
            windowTextUtf8(GetDlgItem(d, FILE_NAME_EDIT_ID) ? GetDlgItem(d, FILE_NAME_EDIT_ID)
                                                            : GetDlgItem(d, FILE_NAME_EDIT_OLD_ID));
        PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
    });
    std::string path = "untouched";
    bool ok =
        Win32Dialog_Backend()->fileDialog(reinterpret_cast<DialogHandle>(owner), FILE_DIALOG_SAVE,
                                          request(SAVE_DIALOG_TITLE, "Para_126_95.dat"), &path);
    op.thread.join();
    ASSERT_TRUE(op.found);
    EXPECT_EQ(op.text, "Para_126_95.dat");
    EXPECT_FALSE(ok);
    EXPECT_EQ(path, "untouched");
}

}  // namespace
