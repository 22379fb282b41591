// SPDX-License-Identifier: Apache-2.0
// The native console under Wine: resource 103 against the layout table, and the console's
// procedure driven through the real dialog by BM_CLICK and WM_COMMAND, in the run's language.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "app/console.h"
#include "app/texts.h"
#include "diag/errors.h"
#include "job/print_job.h"
#include "platform/dialog_model.h"
#include "platform/files.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"
#include "support/fakes.h"
#include "vprinter.h"
#include "win32_support.h"

namespace {

INT_PTR CALLBACK plainProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::string className(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name;
}

const char* expectedClass(DialogControlKind kind) {
    switch (kind) {
        case CTL_STATIC:
            return "static";
        case CTL_BUTTON:
        case CTL_CHECK:
            return "button";
        case CTL_EDIT:
        case CTL_READONLY_EDIT:
            return "edit";
        case CTL_LIST:
            return "combobox";
    }
    return "";
}

struct ResourceDialog : ::testing::Test {
    HWND dialog = nullptr;
    void SetUp() override {
        dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(CONSOLE_LAYOUT_ID),
                                    nullptr, plainProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (dialog) DestroyWindow(dialog);
    }
    RECT placeOf(HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

TEST_F(ResourceDialog, HoldsEveryControlOfTheLayoutWithItsKindPlaceAndText) {
    const DialogLayout* layout = consoleLayout();
    ASSERT_GT(layout->count, 100u);
    for (size_t i = 0; i < layout->count; ++i) {
        const DialogControlSpec& c = layout->controls[i];
        SCOPED_TRACE(c.id);
        HWND w = GetDlgItem(dialog, c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(className(w), expectedClass(c.kind));
        LONG style = GetWindowLongA(w, GWL_STYLE);
        if (c.kind == CTL_CHECK) {
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
        }
        if (c.kind == CTL_EDIT || c.kind == CTL_READONLY_EDIT) {
            EXPECT_EQ((style & ES_READONLY) != 0, c.kind == CTL_READONLY_EDIT);
        }
        if (c.kind == CTL_LIST) {
            // Drop-down with an editable field (Wine's list part shows its scroll bar only
            // when the entries need one, so its style is no witness of WS_VSCROLL).
            EXPECT_EQ(style & 3, CBS_DROPDOWN);
        }
        RECT want{c.x, c.y, c.x + c.width, c.y + c.height};
        MapDialogRect(dialog, &want);
        RECT got = placeOf(w);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        RECT size{0, 0, c.width, c.height};
        MapDialogRect(dialog, &size);
        EXPECT_EQ(got.right - got.left, size.right);
        if (c.kind == CTL_STATIC || c.kind == CTL_BUTTON || c.kind == CTL_CHECK) {
            EXPECT_EQ(windowTextUtf8(w), c.text);
            // Under the Chinese code page the ANSI text is the GBK form, byte for byte.
            if (GetACP() == 936) {
                EXPECT_EQ(dlgItemTextAnsi(dialog, c.id), Win32_ToGbk(c.text));
            }
        }
    }
}

// On screen no control covers another (a list by its field: its drop-down opens over others).
TEST_F(ResourceDialog, NoControlCoversAnother) {
    const DialogLayout* layout = consoleLayout();
    std::vector<std::pair<int, RECT>> placed;
    for (size_t i = 0; i < layout->count; ++i) {
        const DialogControlSpec& c = layout->controls[i];
        HWND w = GetDlgItem(dialog, c.id);
        ASSERT_NE(w, nullptr) << c.id;
        // A closed list's window is its field. Neighbours that touch in the layout may share a
        // pixel of rounding.
        RECT r = placeOf(w);
        InflateRect(&r, -1, -1);
        for (const auto& [other, rect] : placed) {
            RECT both{};
            EXPECT_FALSE(IntersectRect(&both, &r, &rect)) << c.id << " covers " << other;
        }
        placed.emplace_back(c.id, r);
    }
}

BOOL CALLBACK countGroupBox(HWND w, LPARAM count) {
    if ((GetWindowLongA(w, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX && className(w) == "button")
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(ResourceDialog, PopupWithCaptionSongtiFontNineFramesAndLayoutSize) {
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & DS_MODALFRAME);

    auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW lf{};
    ASSERT_GT(GetObjectW(font, sizeof lf, &lf), 0);
    EXPECT_EQ(std::wstring(lf.lfFaceName), std::wstring(L"\u5B8B\u4F53"));  // 宋体

    int frames = 0;
    EnumChildWindows(dialog, countGroupBox, reinterpret_cast<LPARAM>(&frames));
    EXPECT_EQ(frames, 9);

    RECT want{0, 0, consoleLayout()->width, consoleLayout()->height};
    MapDialogRect(dialog, &want);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
}

TEST(ResourceIcon, Icon115Loads) {
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(CONSOLE_ICON_ID)), nullptr);
}

// --- The console on the native dialog ------------------------------------------------------

std::vector<DialogModelBox> dialogBoxes;
std::vector<std::pair<FileDialogKind, FileDialogRequest>> fileRequests;
std::string nextFileAnswer;
DialogBackend recording;

int recordBox(DialogHandle, const char* text, const char* caption, int buttons, int icon) {
    dialogBoxes.push_back({text, caption, buttons, icon, true});
    return MSGBOX_RESULT_OK;
}
bool recordFileDialog(DialogHandle, FileDialogKind kind, const FileDialogRequest& request,
                      std::string* path) {
    fileRequests.emplace_back(kind, request);
    if (nextFileAnswer.empty()) return false;
    *path = nextFileAnswer;
    return true;
}

// The script runs from a timer inside the console's own message loop.
std::function<void(HWND)> script;
void CALLBACK runScript(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND dialog = reinterpret_cast<HWND>(consoleState()->dialog);
    if (script) script(dialog);
    // Whatever the script found, the console is closed so the loop ends.
    if (IsWindow(dialog)) SendMessageA(GetDlgItem(dialog, ID_EXIT), BM_CLICK, 0, 0);
}

struct NativeConsole : ::testing::Test {
    TempDir printerDir, logDir, fileDir;
    void SetUp() override {
        recording = *Win32Dialog_Backend();
        recording.messageBox = recordBox;
        recording.fileDialog = recordFileDialog;
        dialogBoxes.clear();
        fileRequests.clear();
        nextFileAnswer.clear();
        Dialog_Install(&recording);
        msgbox_recorder::install();
        fake_clock::install();
        LogDir_Set(logDir.path);
        clearProgramError();
        ASSERT_TRUE(VPrinter_Attach(printerDir.path));
    }
    void TearDown() override {
        VPrinter_Detach();
        fake_clock::uninstall();
        msgbox_recorder::uninstall();
        LogDir_Set("");
        Dialog_Install(nullptr);
        script = nullptr;
    }
    void run(std::function<void(HWND)> steps) {
        script = std::move(steps);
        SetTimer(nullptr, 0, 100, runScript);
        ASSERT_EQ(runConsole(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)), SW_SHOWNORMAL),
                  0);
    }
};

std::string text(HWND dialog, int id) { return windowTextUtf8(GetDlgItem(dialog, id)); }
void click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Width in pixels of `text` in the font of window `w`, on one line.
LONG textWidth(HWND w, const std::wstring& text) {
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
    RECT need{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    return need.right;
}

std::wstring wideText(HWND w) {
    std::wstring t(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    t.resize(static_cast<size_t>(GetWindowTextW(w, t.data(), static_cast<int>(t.size()))));
    return t;
}

// Width of an edit's formatting rectangle: where its text is drawn.
LONG editTextWidth(HWND edit) {
    RECT r{};
    SendMessageW(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));
    return r.right - r.left;
}

// Every visible control shows its whole text in the dialog font: a static wraps at its width
// and must not need more lines than it has, a check box's text follows its box, a button's
// text stays inside its edges, and an edit's value and a list's chosen entry fit their field.
void expectLabelsFit(HWND d) {
    const DialogLayout* l = consoleLayout();
    for (size_t i = 0; i < l->count; ++i) {
        const DialogControlSpec& s = l->controls[i];
        HWND w = GetDlgItem(d, s.id);
        if (!w || !IsWindowVisible(w)) continue;
        if (s.kind == CTL_EDIT || s.kind == CTL_READONLY_EDIT || s.kind == CTL_LIST) {
            HWND field = w;
            if (s.kind == CTL_LIST) {
                COMBOBOXINFO info{};
                info.cbSize = sizeof info;
                ASSERT_TRUE(GetComboBoxInfo(w, &info)) << s.id;
                field = info.hwndItem;
            }
            std::wstring value = wideText(field);
            if (value.empty()) continue;
            EXPECT_LE(textWidth(field, value), editTextWidth(field))
                << s.id << " \"" << windowTextUtf8(field) << "\" does not fit its field";
            continue;
        }
        std::wstring label = wideText(w);
        if (label.empty()) continue;
        RECT box{};
        GetClientRect(w, &box);
        LONG width = box.right;
        if (s.kind == CTL_CHECK) width -= GetSystemMetrics(SM_CXMENUCHECK) + 4;
        if (s.kind == CTL_BUTTON) width -= 2 * GetSystemMetrics(SM_CXEDGE);
        if (s.kind != CTL_STATIC) {
            EXPECT_LE(textWidth(w, label), width)
                << s.id << " \"" << windowTextUtf8(w) << "\" is cut at the right";
            continue;
        }
        HDC dc = GetDC(w);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
        RECT need{0, 0, width, 0};
        DrawTextW(dc, label.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        SelectObject(dc, old);
        ReleaseDC(w, dc);
        EXPECT_LE(need.right, width)
            << s.id << " \"" << windowTextUtf8(w) << "\" is cut at the right";
        EXPECT_LE(need.bottom, box.bottom)
            << s.id << " \"" << windowTextUtf8(w) << "\" wraps below its height";
    }
}

TEST_F(NativeConsole, ShowsTheRecordInTheRunsLanguageAndSwitchesModeNames) {
    const bool zh = testLanguage() == "zh";
    ASSERT_EQ(isChineseUi(), zh) << std::hex << systemLocaleId();
    // A Config folder with a file in the working folder: the parameter-file row is shown.
    ASSERT_TRUE(CreateDirectoryW(Win32_ToWide(fileDir.path + "\\Config").c_str(), nullptr));
    const uint8_t stored[56] = {0xAC};
    ASSERT_TRUE(
        File_WriteReplace(fileDir.path + "\\Config\\Para_1206_905.dat", stored, sizeof stored)
            .ok());
    wchar_t oldDir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, oldDir);
    ASSERT_TRUE(SetCurrentDirectoryW(Win32_ToWide(fileDir.path).c_str()));
    run([&](HWND d) {
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, ID_CONFIG_LABEL)));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, ID_CONFIG_STORE)));
        EXPECT_EQ(SendDlgItemMessageW(d, ID_CONFIG_LIST, CB_GETCOUNT, 0, 0), 1);
        EXPECT_EQ(text(d, ID_CONFIG_LABEL), zh ? "参数文件:" : "Setting file:");
        EXPECT_EQ(windowTextUtf8(d), titleText());
        if (zh) {
            EXPECT_EQ(dlgItemTextAnsi(d, ID_BIDIR_TEXT_HIGH_LABEL), Win32_ToGbk("文字高速"));
        }
        EXPECT_EQ(text(d, ID_BIDIR_TEXT_HIGH_LABEL), zh ? "文字高速" : "HIGH SPEED");
        EXPECT_EQ(text(d, ID_SAVE), zh ? "保存" : "SAVE");
        EXPECT_EQ(text(d, ID_PASS2_LABEL), "2PASS");
        EXPECT_NE(SendMessageA(d, WM_GETICON, ICON_SMALL, 0), 0);
        EXPECT_FALSE(text(d, ID_BIDIR_TEXT_HIGH).empty());  // the printer's current correction
        EXPECT_EQ(SendDlgItemMessageA(d, ID_FEATHER_MODE, CB_GETCOUNT, 0, 0), FEATHER_MODE_COUNT);

        click(d, ID_HD_BOX);
        EXPECT_EQ(IsDlgButtonChecked(d, ID_HD_BOX), BST_CHECKED);
        EXPECT_EQ(text(d, ID_BIDIR_TEXT_HIGH_LABEL), modeLabel(0, true));
        click(d, ID_HD_BOX);
        EXPECT_EQ(text(d, ID_BIDIR_TEXT_HIGH_LABEL),
                  modeLabel(0, false));  // the table's name in both languages

        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, ID_INK_SLOT1)));
        click(d, ID_INK_ORDER_BOX);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, ID_INK_SLOT1)));

        click(d, ID_HD_BOX);  // the second-pass mode names fit as well
        pumpMessages(100);
        expectLabelsFit(d);
        click(d, ID_HD_BOX);
        pumpMessages(300);
        expectLabelsFit(d);
        std::string shot = envText("HEADALIGN_SCREENSHOT_DIR");
        if (!shot.empty()) {
            EXPECT_TRUE(
                saveWindowPng(d, windowsPath(shot) + "/console_" + testLanguage() + ".png"));
        }
    });
    SetCurrentDirectoryW(oldDir);
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
    EXPECT_TRUE(dialogBoxes.empty());
}

TEST_F(NativeConsole, SaveAndExportThroughTheRealControls) {
    std::string exported = fileDir.path + "/exported.dat";
    nextFileAnswer = exported;
    run([&](HWND d) {
        SetDlgItemTextA(d, ID_BIDIR_TEXT_HIGH_ADD, "2");
        click(d, ID_SAVE);
        ASSERT_EQ(dialogBoxes.size(), 1u);
        EXPECT_EQ(dialogBoxes[0].text, consoleText(MSG_SAVE_OK).text);
        SendMessageA(d, WM_COMMAND, MAKEWPARAM(ID_EXPORT, BN_CLICKED), 0);
    });
    ASSERT_EQ(fileRequests.size(), 1u);
    EXPECT_EQ(fileRequests[0].first, FILE_DIALOG_SAVE);
    EXPECT_STREQ(fileRequests[0].second.title, SAVE_DIALOG_TITLE);
    EXPECT_EQ(fileRequests[0].second.filterCount, 4u);
    EXPECT_EQ(fileRequests[0].second.initialName.rfind("Para_", 0), 0u);
    ASSERT_EQ(dialogBoxes.size(), 2u);
    EXPECT_EQ(dialogBoxes[1].text, consoleText(MSG_FILE_SAVED, exported.c_str()).text);
    EXPECT_EQ(readFileBytes(exported).size(), CURRENT_RECORD_SIZE);
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
}

TEST_F(NativeConsole, PrintButtonsRunACalibrationAndAnAdjustmentOnTheVirtualPrinter) {
    run([&](HWND d) {
        click(d, ID_NOZZLE_PRINT);  // pattern 19, nozzle test
        EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
        click(d, ID_BIDIR_TEXT_HIGH_PRINT);  // adjustment 5
        EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    });
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
    EXPECT_EQ(VPrinter_LastJobNumber(), 2u);
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
}

}  // namespace
