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

#include "app/calibrate_texts.h"
#include "app/console.h"
#include "app/scan_entry.h"
#include "platform/locale.h"
#include "platform/msgbox.h"
#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"
#include "winapp/calibrate_window.h"
#include "winapp/history_window.h"
#include "winapp/picture_view.h"

namespace {

const DialogBackend* base = nullptr;
DialogBackend withScans{};
WNDPROC dialogProc = nullptr;

// --- The marked scan's window ---------------------------------------------------------------

HWND pictureWindow = nullptr;

// Shows the picture beside the dialog, fitted into 520 x 760 pixels, replacing the last one;
// owned by the dialog, so it goes with it.
void showPicture(HWND dialog, const VernierImage& image, const std::string& caption) {
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3)
        return;
    if (pictureWindow && IsWindow(pictureWindow)) DestroyWindow(pictureWindow);
    pictureWindow = nullptr;
    const double scale = std::min(1.0, std::min(520.0 / image.width, 760.0 / image.height));
    RECT size{0, 0, std::max(1, int(image.width * scale)), std::max(1, int(image.height * scale))};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&size, style, FALSE);
    const int width = size.right - size.left, height = size.bottom - size.top;
    // Beside the dialog: the marked scan is to be read next to the entry it fills.
    const POINT at = PictureView_PlaceBeside(dialog, width, height);
    pictureWindow = PictureView_Create(dialog, style, Win32_ToWide(caption), at.x, at.y, width,
                                       height, 0, image.width, image.height, image.rgb);
    if (!pictureWindow) return;
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

LRESULT CALLBACK scanButtonsProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && id == HISTORY_BUTTON_ID) {
        WinHistory_Show(h);
        return 0;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && id == CALIBRATE_BUTTON_ID) {
        WinCalibrate_Show(h);
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
        // "Calibrate..." as wide, the same gap before "Export".
        button = CreateWindowExW(0, L"BUTTON", Win32_ToWide(calibrateText(CAL_OPEN_BUTTON)).c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                 before.left - gap - 2 * (at.right - at.left), at.top,
                                 2 * (at.right - at.left), at.bottom - at.top, dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(CALIBRATE_BUTTON_ID)),
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
