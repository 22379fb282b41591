// "Read scan..." buttons of the native console: the same buttons the desktop console on Linux
// has, added to the dialog from the resource once it exists, so the resource script and the
// console's own layout stay as they are.
#include "winapp/scan_buttons.h"

#include <windows.h>

#include <string>

#include "platform/msgbox.h"
#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"
#include "vernier/vernier.h"

namespace {

// The add entry of each bidirectional row and the adjustment print it belongs to.
struct Row {
    int entry;
    int jobType;
};
const Row ROWS[6] = {{1058, 5}, {1053, 6}, {1049, 7}, {1183, 8}, {1184, 9}, {1185, 10}};

const DialogBackend* base = nullptr;
DialogBackend withScans{};
WNDPROC dialogProc = nullptr;

bool readInto(HWND dialog, int row, const std::string& scanPath, std::string* message) {
    VernierImage image;
    std::string error;
    if (!Vernier_LoadImage(scanPath, &image, &error)) {
        *message = error;
        return false;
    }
    VernierReading r = Vernier_ReadAs(image, Vernier_FamilyOfAdjustment(ROWS[row].jobType));
    if (r.status != VERNIER_READ) {
        *message = "cannot read: " + r.reason;
        return false;
    }
    if (r.family != Vernier_FamilyOfAdjustment(ROWS[row].jobType)) {
        *message = std::string("cannot read: the scan shows a ") + Vernier_FamilyName(r.family) +
                   ", not this row's print";
        return false;
    }
    if (!r.certain) {
        *message = "not certain: the prints meet near \"" + Vernier_LabelText(r.group) + "\"; check the print";
        return false;
    }
    std::wstring text = Win32_ToWide(std::to_string(Vernier_GroupToEnter(r)));
    return SetDlgItemTextW(dialog, ROWS[row].entry, text.c_str()) != FALSE;
}

void chooseAndRead(HWND dialog, int row) {
    static const char* const FILTERS[][2] = {{"Scans (*.png;*.jpg;*.jpeg)", "*.png;*.jpg;*.jpeg"}};
    FileDialogRequest request{"Read scan...", FILTERS, 1, "", ""};
    std::string path, message;
    if (!base->fileDialog(reinterpret_cast<DialogHandle>(dialog), FILE_DIALOG_OPEN, request, &path)) return;
    if (!readInto(dialog, row, path, &message))
        MsgBox_Show(message.c_str(), "Read scan...", MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

LRESULT CALLBACK scanButtonsProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && id >= SCAN_BUTTON_FIRST_ID &&
        id < SCAN_BUTTON_FIRST_ID + 6) {
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
    for (int i = 0; i < 6; ++i) {
        HWND entry = GetDlgItem(dialog, ROWS[i].entry);
        if (!entry) continue;
        RECT at{};
        GetWindowRect(entry, &at);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
        int height = at.bottom - at.top;
        HWND button = CreateWindowExW(0, L"BUTTON", L"...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                      at.right + 2, at.top, height + 6, height, dialog,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(SCAN_BUTTON_FIRST_ID + i)),
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
