// SPDX-License-Identifier: Apache-2.0
// "Read scan..." buttons of the native console: the same buttons the desktop console on Linux
// has, added to the dialog from the resource once it exists, so the resource script and the
// console's own layout stay as they are. The scan is shown with the found groups marked in a
// window of its own beside the dialog, as on the desktop.
#include "winapp/scan_buttons.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/scan_entry.h"
#include "history/analysis.h"
#include "history/history.h"
#include "platform/locale.h"
#include "platform/msgbox.h"
#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"

namespace {

const DialogBackend* base = nullptr;
DialogBackend withScans{};
WNDPROC dialogProc = nullptr;

// --- The marked scan's window ---------------------------------------------------------------

// The picture as a top-down 32-bit DIB, drawn scaled into the client area.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};
HWND pictureWindow = nullptr;

LRESULT CALLBACK pictureProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* picture = reinterpret_cast<Picture*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(h, &ps);
            if (picture) {
                RECT client{};
                GetClientRect(h, &client);
                BITMAPINFO bi{};
                bi.bmiHeader.biSize = sizeof bi.bmiHeader;
                bi.bmiHeader.biWidth = picture->width;
                bi.bmiHeader.biHeight = -picture->height;  // top row first
                bi.bmiHeader.biPlanes = 1;
                bi.bmiHeader.biBitCount = 32;
                SetStretchBltMode(dc, HALFTONE);
                SetBrushOrgEx(dc, 0, 0, nullptr);
                StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, picture->width,
                              picture->height, picture->pixels.data(), &bi, DIB_RGB_COLORS,
                              SRCCOPY);
            }
            EndPaint(h, &ps);
            return 0;
        }
        case WM_NCDESTROY:
            delete picture;
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            if (pictureWindow == h) pictureWindow = nullptr;
            break;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

constexpr wchar_t PICTURE_CLASS[] = L"HeadalignMarkedScan";

// Shows the picture beside the dialog, fitted into 520 x 760 pixels, replacing the last one;
// owned by the dialog, so it goes with it.
void showPicture(HWND dialog, const VernierImage& image, const std::string& caption) {
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3)
        return;
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = pictureProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = PICTURE_CLASS;
        registered = RegisterClassW(&wc) != 0;
        if (!registered) return;
    }
    if (pictureWindow) DestroyWindow(pictureWindow);
    auto* picture = new Picture;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->pixels.resize(size_t(image.width) * image.height);
    for (size_t i = 0; i < picture->pixels.size(); ++i) {
        const uint8_t* p = &image.rgb[3 * i];
        picture->pixels[i] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    const double scale = std::min(1.0, std::min(520.0 / image.width, 760.0 / image.height));
    RECT size{0, 0, std::max(1, int(image.width * scale)), std::max(1, int(image.height * scale))};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&size, style, FALSE);
    const int width = size.right - size.left, height = size.bottom - size.top;
    // Beside the dialog where the screen has room, else below it, else as near as fits: the
    // marked scan is to be read next to the entry it fills.
    RECT owner{}, screen{};
    GetWindowRect(dialog, &owner);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor))
        screen = monitor.rcWork;
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    int x = owner.right + 8, y = owner.top;
    if (x + width > screen.right && owner.bottom + 8 + height <= screen.bottom) {
        x = owner.left;
        y = owner.bottom + 8;
    }
    x = std::max<int>(screen.left, std::min<int>(x, screen.right - width));
    y = std::max<int>(screen.top, std::min<int>(y, screen.bottom - height));
    std::wstring title = Win32_ToWide(caption);
    pictureWindow = CreateWindowExW(0, PICTURE_CLASS, title.c_str(), style, x, y, width, height,
                                    dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!pictureWindow) {
        delete picture;
        return;
    }
    SetWindowLongPtrW(pictureWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
    ShowWindow(pictureWindow, SW_SHOWNOACTIVATE);
    UpdateWindow(pictureWindow);
}

// --- The buttons ------------------------------------------------------------------------------

void chooseAndRead(HWND dialog, int row) {
    static const char* const FILTERS[][2] = {{"Scans (*.png;*.jpg;*.jpeg)", "*.png;*.jpg;*.jpeg"}};
    FileDialogRequest request{"Read scan...", FILTERS, 1, "", ""};
    std::string path;
    if (!base->fileDialog(reinterpret_cast<DialogHandle>(dialog), FILE_DIALOG_OPEN, request, &path))
        return;
    ScanEntryResult result = Console_ReadScanInto(row, path);
    if (result.marked) showPicture(dialog, result.picture, path);
    if (!result.entered)
        MsgBox_Show(result.message.c_str(), "Read scan...", MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

// The drift in words and the latest entries, newest first.
void showHistory() {
    const bool chinese = Locale_IsChinese();
    const char* caption = chinese ? "校准历史" : "Calibration history";
    HistoryState* state = OwnedState<HistoryState>::find();
    std::string text;
    std::vector<HistoryEntry> entries;
    if (!state || state->printerKey.empty()) {
        text = chinese ? "没有选定打印机" : "no printer chosen";
    } else if (!History_Load(History_FilePath(state->printerKey), state->printerKey, &entries,
                             &text)) {
        entries.clear();
    } else {
        std::vector<HistoryDrift> drifts = History_Drifts(History_Series(entries));
        for (const HistoryDrift& d : drifts) text += History_DriftText(d, chinese) + "\n";
        if (drifts.empty())
            text +=
                chinese ? "没有漂移超过一组的模式\n" : "no mode has drifted by more than a group\n";
        text += "\n";
        size_t shown = 0;
        for (auto it = entries.rbegin(); it != entries.rend() && shown < 15; ++it, ++shown) {
            std::string when = it->kind == HISTORY_SUMMARY
                                   ? it->month
                                   : History_FormatTime(it->time).substr(0, 16);
            if (when.size() > 10) when[10] = ' ';
            text += when + "  " +
                    (it->mode ? History_ModeName(it->mode, it->pass, chinese) + "  " : "") +
                    History_EntryValue(*it) + (it->source.empty() ? "" : "  [" + it->source + "]") +
                    "\n";
        }
    }
    MsgBox_Show(text.c_str(), caption, MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

LRESULT CALLBACK scanButtonsProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && id == HISTORY_BUTTON_ID) {
        showHistory();
        return 0;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && id >= SCAN_BUTTON_FIRST_ID &&
        id < SCAN_BUTTON_FIRST_ID + SCAN_ROW_COUNT) {
        chooseAndRead(h, id - SCAN_BUTTON_FIRST_ID);
        return 0;
    }
    return CallWindowProcW(dialogProc, h, message, wParam, lParam);
}

DialogHandle create(const DialogLayout* layout, DialogProc proc) {
    DialogHandle d = base->create(layout, proc);
    HWND dialog = reinterpret_cast<HWND>(d);
    if (!dialog) return d;
    auto font = static_cast<WPARAM>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    for (int i = 0; i < SCAN_ROW_COUNT; ++i) {
        HWND entry = GetDlgItem(dialog, ScanRow_Entry(i));
        if (!entry) continue;
        RECT at{};
        GetWindowRect(entry, &at);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
        int height = at.bottom - at.top;
        HWND button = CreateWindowExW(
            0, L"BUTTON", L"...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, at.right + 2,
            at.top, height + 6, height, dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(SCAN_BUTTON_FIRST_ID + i)),
            GetModuleHandleW(nullptr), nullptr);
        if (button) SendMessageW(button, WM_SETFONT, font, TRUE);
    }
    // "History..." after "Import", as wide as two of its buttons.
    if (HWND import = GetDlgItem(dialog, ID_IMPORT), exportButton = GetDlgItem(dialog, ID_EXPORT);
        import && exportButton) {
        RECT at{}, before{};
        GetWindowRect(import, &at);
        GetWindowRect(exportButton, &before);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&before), 2);
        const int gap = at.left - before.right;
        HWND button =
            CreateWindowExW(0, L"BUTTON", Locale_IsChinese() ? L"\u5386\u53f2..." : L"History...",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, at.right + gap,
                            at.top, 2 * (at.right - at.left), at.bottom - at.top, dialog,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(HISTORY_BUTTON_ID)),
                            GetModuleHandleW(nullptr), nullptr);
        if (button) SendMessageW(button, WM_SETFONT, font, TRUE);
    }
    dialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(scanButtonsProc)));
    return d;
}

}  // namespace

const DialogBackend* Win32ScanButtons_Backend() {
    base = Win32Dialog_Backend();
    withScans = *base;
    withScans.create = create;
    return &withScans;
}
