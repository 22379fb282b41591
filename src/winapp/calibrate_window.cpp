// SPDX-License-Identifier: Apache-2.0
// The native console's calibration window: plain controls laid out from their measured texts,
// so that every word fits in either language; each button calls one step of the sitting.
#include "winapp/calibrate_window.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/binding.h"
#include "app/calibrate_flow.h"
#include "app/calibrate_texts.h"
#include "app/console.h"
#include "platform/locale.h"
#include "platform/win32/win32_text.h"
#include "winapp/picture_view.h"

namespace {

constexpr int MARGIN = 8, GAP = 6;
constexpr int TABLE_CHARS = 72, TABLE_LINES = 26, STATUS_LINES = 6;
constexpr int PICTURE_W = 300;

struct Texts {
    const char *title, *step[4], *second, *print, *read, *save, *verifyPrint, *verifyRead, *close;
    const char *sheet, *prints, *picture, *cancelled, *notPrinted;
};
const Texts EN = {
    "Calibrate",
    {"1. Print the sheet", "2. Read its picture", "3. Save every certain reading", "4. Verify"},
    "second pass (HD)",
    "Print sheet",
    "Read file...",
    "SAVE",
    "Print again",
    "Read verification...",
    "Close",
    "sheet ",
    " prints",
    "picture: ",
    "cancelled",
    "the sheet was not printed whole"};
const Texts ZH = {
    "校准",        {"1. 打印校准页", "2. 读取校准页图片", "3. 保存所有确定的读数", "4. 校验"},
    "高清二次",    "打印校准页",
    "读取文件...", "保存",
    "再次打印",    "读取校验图片...",
    "关闭",        "校准页 ",
    " 个打印",     "图片：",
    "已取消",      "校准页没有完整打印"};

// The sitting as this window holds it.
struct Sitting {
    CalibratePaper paper;
    HWND window = nullptr, dialog = nullptr;
    CalibrateSheet sheet;  // the last calibration sheet read
    bool haveSheet = false;
    const Texts* texts = &EN;
};
Sitting& sitting() {
    static Sitting s;
    return s;
}

CalibrateOrigin origin() {
    CalibrateOrigin o;
    o.source = o.save = CALIBRATE_CONSOLE_ORIGIN;
    return o;
}

std::wstring joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all.append(all.empty() ? "" : "\r\n").append(line);
    return Win32_ToWide(all);
}

void setText(int id, const std::vector<std::string>& lines) {
    SetDlgItemTextW(sitting().window, id, joined(lines).c_str());
}

// Shows a sheet read: its table, its marked picture, and in the status what it means.
void showSheet(const CalibrateSheet& sheet, const std::vector<std::string>& status) {
    HWND window = sitting().window;
    if (sheet.status != CALIBRATE_READ_OK) {
        setText(CALIBRATE_TABLE_ID, {});
        PictureView_Set(GetDlgItem(window, CALIBRATE_PICTURE_ID), 0, 0, {});
        setText(CALIBRATE_STATUS_ID, {sheet.error});
        return;
    }
    setText(CALIBRATE_TABLE_ID, Calibrate_TableLines(sheet));
    const VernierImage marked = Calibrate_MarkedPicture(sheet);
    PictureView_Set(GetDlgItem(window, CALIBRATE_PICTURE_ID), marked.width, marked.height,
                    marked.rgb);
    setText(CALIBRATE_STATUS_ID, status);
}

void print() {
    Sitting& s = sitting();
    const bool second = IsDlgButtonChecked(s.window, CALIBRATE_SECOND_PASS_ID) == BST_CHECKED;
    HCURSOR before = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // the hourglass
    const CalibratePrinted printed = Calibrate_PrintSheet(second, s.paper);
    SetCursor(before);
    const Texts& t = *s.texts;
    std::vector<std::string> lines;
    if (printed.ok) {
        lines.push_back(t.sheet + std::to_string(printed.sheet) + ": " +
                        std::to_string(printed.prints) + t.prints);
        if (!printed.picture.empty()) lines.push_back(t.picture + printed.picture);
    } else {
        lines.push_back(printed.cancelled ? t.cancelled : t.notPrinted);
    }
    setText(CALIBRATE_STATUS_ID, lines);
}

bool choose(const char* title, std::string* path) {
    static const char* const FILTERS[][2] = {
        {"Pictures (*.png;*.jpg;*.jpeg)", "*.png;*.jpg;*.jpeg"}};
    FileDialogRequest request{title, FILTERS, 1, "", ""};
    return Dialog_Backend()->fileDialog(reinterpret_cast<DialogHandle>(sitting().window),
                                        FILE_DIALOG_OPEN, request, path);
}

void read(bool verification) {
    Sitting& s = sitting();
    std::string path;
    if (!choose(verification ? s.texts->verifyRead : s.texts->read, &path)) return;
    HCURSOR before = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
    CalibrateSheet sheet = Calibrate_ReadFile(path, verification, origin());
    SetCursor(before);
    if (verification) {
        showSheet(sheet, Calibrate_Verdict(sheet).lines);
        return;
    }
    std::vector<std::string> status = {path};
    if (sheet.contradictory) status.push_back(sheet.contradiction);
    showSheet(sheet, status);
    s.haveSheet = sheet.status == CALIBRATE_READ_OK;
    s.sheet = std::move(sheet);
    EnableWindow(GetDlgItem(s.window, CALIBRATE_SAVE_ID), s.haveSheet);
}

void save() {
    Sitting& s = sitting();
    if (!s.haveSheet) return;
    const CalibrateApplied applied =
        Calibrate_Apply(&s.sheet, {}, origin(), consoleState()->currentRecord, showParameters);
    setText(CALIBRATE_STATUS_ID, applied.lines);
    // A SAVE that reached the printer is done; the next reading is of a new sheet.
    if (applied.status == CALIBRATE_APPLY_SAVED || applied.status == CALIBRATE_APPLY_NOTHING) {
        s.haveSheet = false;
        EnableWindow(GetDlgItem(s.window, CALIBRATE_SAVE_ID), FALSE);
    }
}

LRESULT CALLBACK calibrateProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
            case CALIBRATE_PRINT_ID:
            case CALIBRATE_VERIFY_PRINT_ID:
                print();
                return 0;
            case CALIBRATE_READ_ID:
                read(false);
                return 0;
            case CALIBRATE_VERIFY_READ_ID:
                read(true);
                return 0;
            case CALIBRATE_SAVE_ID:
                save();
                return 0;
            case CALIBRATE_CLOSE_ID:
                DestroyWindow(h);
                return 0;
        }
    }
    if (message == WM_CLOSE) {
        DestroyWindow(h);
        return 0;
    }
    if (message == WM_NCDESTROY && sitting().window == h) {
        sitting().window = nullptr;
        sitting().haveSheet = false;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

// Places controls top to bottom in a column, each as wide as its text needs.
struct Column {
    HWND window;
    HFONT font;
    int x, y, lineHeight, width = 0;

    // Made first, then sized to its text as its own device context measures it in its font.
    void add(const wchar_t* cls, const std::string& text, DWORD style, int id, int extraW,
             int height) {
        const std::wstring wide = Win32_ToWide(text);
        HWND c = CreateWindowExW(0, cls, wide.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, 10,
                                 height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
        if (!c) return;
        if (font) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        HDC own = GetDC(c);
        HGDIOBJ old =
            SelectObject(own, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
        RECT r{};
        DrawTextW(own, wide.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(own, old);
        ReleaseDC(c, own);
        const int w = int(r.right) + extraW;
        SetWindowPos(c, nullptr, 0, 0, w, height, SWP_NOMOVE | SWP_NOZORDER);
        width = std::max(width, w);
        y += height + GAP;
    }
    void label(const std::string& text, int id) {
        add(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id, 4, lineHeight);
    }
    void button(const std::string& text, int id) {
        add(L"BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, id, 4 * GetSystemMetrics(SM_CXEDGE) + 24,
            lineHeight + 10);
    }
    void check(const std::string& text, int id) {
        add(L"BUTTON", text, WS_TABSTOP | BS_AUTOCHECKBOX, id,
            GetSystemMetrics(SM_CXMENUCHECK) + 12, lineHeight + 4);
    }
};

HWND edit(HWND window, int id, int x, int y, int w, int h, HFONT font) {
    HWND e = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                 ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                             x, y, w, h, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    if (e && font) SendMessageW(e, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return e;
}

}  // namespace

void WinCalibrate_SetPaper(const CalibratePaper& paper) { sitting().paper = paper; }

HWND WinCalibrate_Show(HWND dialog) {
    Sitting& s = sitting();
    if (s.window && IsWindow(s.window)) {
        ShowWindow(s.window, SW_SHOWNORMAL);
        SetForegroundWindow(s.window);
        return s.window;
    }
    if (!WinApp_RegisterClass(CALIBRATE_WINDOW_CLASS, calibrateProc, COLOR_BTNFACE)) return nullptr;
    s.dialog = dialog;
    // The words every console's calibration window shares, in the console's language; the
    // rest (this window's own buttons and lines) from the tables above.
    static Texts shared;
    shared = Locale_IsChinese() ? ZH : EN;
    shared.title = calibrateText(CAL_TITLE);
    shared.step[0] = calibrateText(CAL_STEP_PRINT);
    shared.step[1] = calibrateText(CAL_STEP_PICTURE);
    shared.step[2] = calibrateText(CAL_STEP_SAVE);
    shared.step[3] = calibrateText(CAL_STEP_VERIFY);
    shared.second = calibrateText(CAL_SECOND_PASS);
    shared.print = calibrateText(CAL_PRINT);
    shared.read = calibrateText(CAL_READ_FILE);
    shared.save = calibrateText(CAL_SAVE);
    s.texts = &shared;
    const Texts& t = *s.texts;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    s.window = CreateWindowExW(0, CALIBRATE_WINDOW_CLASS, Win32_ToWide(t.title).c_str(), style, 0,
                               0, 100, 100, dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!s.window) return nullptr;
    // The console's own face (fixed-pitch for Latin letters: the table's columns line up).
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HDC dc = GetDC(s.window);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int lineHeight = std::max<int>(tm.tmHeight, 12);
    const int charWidth = std::max<int>(tm.tmAveCharWidth, 4);

    Column c{s.window, font, MARGIN, MARGIN, lineHeight};
    c.label(t.step[0], CALIBRATE_STEP_FIRST_ID);
    c.check(t.second, CALIBRATE_SECOND_PASS_ID);
    c.button(t.print, CALIBRATE_PRINT_ID);
    c.y += GAP;
    c.label(t.step[1], CALIBRATE_STEP_FIRST_ID + 1);
    c.button(t.read, CALIBRATE_READ_ID);
    c.y += GAP;
    c.label(t.step[2], CALIBRATE_STEP_FIRST_ID + 2);
    c.button(t.save, CALIBRATE_SAVE_ID);
    c.y += GAP;
    c.label(t.step[3], CALIBRATE_STEP_FIRST_ID + 3);
    c.button(t.verifyPrint, CALIBRATE_VERIFY_PRINT_ID);
    c.button(t.verifyRead, CALIBRATE_VERIFY_READ_ID);
    c.y += GAP;
    c.button(t.close, CALIBRATE_CLOSE_ID);
    SelectObject(dc, old);
    ReleaseDC(s.window, dc);
    EnableWindow(GetDlgItem(s.window, CALIBRATE_SAVE_ID), FALSE);

    // The table and the marked picture beside it, what the last step did below both.
    const int x = MARGIN + c.width + 2 * MARGIN;
    const int tableW = TABLE_CHARS * charWidth + GetSystemMetrics(SM_CXVSCROLL) + 8;
    const int tableH = TABLE_LINES * lineHeight;
    edit(s.window, CALIBRATE_TABLE_ID, x, MARGIN, tableW, tableH, font);
    PictureView_Create(s.window, WS_CHILD | WS_VISIBLE | WS_BORDER, L"", x + tableW + MARGIN,
                       MARGIN, PICTURE_W, tableH, CALIBRATE_PICTURE_ID, 1, 1, {255, 255, 255});
    const int statusY = MARGIN + tableH + MARGIN;
    const int statusH = STATUS_LINES * lineHeight + 8;
    edit(s.window, CALIBRATE_STATUS_ID, x, statusY, tableW + MARGIN + PICTURE_W, statusH, font);

    RECT size{0, 0, x + tableW + MARGIN + PICTURE_W + MARGIN,
              std::max(c.y, statusY + statusH) + MARGIN};
    AdjustWindowRect(&size, style, FALSE);
    const int width = size.right - size.left, height = size.bottom - size.top;
    const POINT at = PictureView_PlaceBeside(dialog, width, height);
    SetWindowPos(s.window, nullptr, at.x, at.y, width, height, SWP_NOZORDER);
    ShowWindow(s.window, SW_SHOW);
    UpdateWindow(s.window);
    return s.window;
}
