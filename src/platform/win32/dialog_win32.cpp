// SPDX-License-Identifier: Apache-2.0
// Win32 dialog back end: the modeless dialog from the resource script (GBK source, Unicode in
// the image), its message loop, and the controls by ID. Texts cross as UTF-16: on a Chinese
// system the controls then hold exactly what the ANSI functions would give them from GBK, and
// on any other system the texts that stay Chinese ("（0%--100%）", the HD mode names) still
// show as Chinese instead of question marks; the file dialogs' titles and filters alike.
// clang-format off
#include <windows.h>

#include <commdlg.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/win32/win32_dialog.h"
#include "platform/win32/win32_text.h"

namespace {

constexpr DWORD FILE_BUFFER_CHARS = 5200;

HWND hwnd(DialogHandle d) { return reinterpret_cast<HWND>(d); }
DialogHandle handleOf(HWND h) { return reinterpret_cast<DialogHandle>(h); }
HWND item(DialogHandle d, int id) { return GetDlgItem(hwnd(d), id); }
std::wstring wide(const char* utf8) { return Win32_ToWide(utf8 ? utf8 : ""); }

// The console's procedure rides in the dialog's user slot; every message goes to it.
INT_PTR CALLBACK thunk(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(h, DWLP_USER, lParam);
        auto proc = reinterpret_cast<DialogProc>(lParam);
        if (proc) proc(handleOf(h), DLGMSG_INIT, wParam, lParam);
        return TRUE;
    }
    auto proc = reinterpret_cast<DialogProc>(GetWindowLongPtrW(h, DWLP_USER));
    if (!proc) return FALSE;
    return proc(handleOf(h), message, wParam, lParam) ? TRUE : FALSE;
}

DialogHandle create(const DialogLayout* layout, DialogProc proc) {
    HWND h = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(layout->resourceId),
                                nullptr, thunk, reinterpret_cast<LPARAM>(proc));
    return h ? handleOf(h) : DIALOG_NONE;
}

void destroy(DialogHandle d) { DestroyWindow(hwnd(d)); }
void postQuit(int code) { PostQuitMessage(code); }

// No dialog-key translation: Tab and Enter stay plain keys, as the console wants.
int runLoop() {
    MSG m{};
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return static_cast<int>(m.wParam);
}

void show(DialogHandle d, int command) { ShowWindow(hwnd(d), command); }
void setTitle(DialogHandle d, const char* title) {
    std::wstring t = wide(title);
    SendMessageW(hwnd(d), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str()));
}
void setIcon(DialogHandle d, int resourceId) {
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId));
    SendMessageA(hwnd(d), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void setText(DialogHandle d, int id, const char* text) {
    SetDlgItemTextW(hwnd(d), id, wide(text).c_str());
}
std::string getText(DialogHandle d, int id) {
    HWND c = item(d, id);
    if (!c) return std::string();
    int n = GetWindowTextLengthW(c);
    std::vector<wchar_t> buffer(static_cast<size_t>(n > 0 ? n : 0) + 1, L'\0');
    GetDlgItemTextW(hwnd(d), id, buffer.data(), static_cast<int>(buffer.size()));
    return Win32_FromWide(buffer.data());
}
void setCheck(DialogHandle d, int id, bool on) {
    CheckDlgButton(hwnd(d), id, on ? BST_CHECKED : BST_UNCHECKED);
}
bool isChecked(DialogHandle d, int id) { return IsDlgButtonChecked(hwnd(d), id) == BST_CHECKED; }
void enable(DialogHandle d, int id, bool on) { EnableWindow(item(d, id), on ? TRUE : FALSE); }
void showControl(DialogHandle d, int id, bool visible) {
    ShowWindow(item(d, id), visible ? SW_SHOW : SW_HIDE);
}

LRESULT listMessage(DialogHandle d, int id, UINT message, WPARAM w = 0, LPARAM l = 0) {
    return SendMessageW(item(d, id), message, w, l);
}
void listClear(DialogHandle d, int id) {
    for (LRESULT n = listMessage(d, id, CB_GETCOUNT); n > 0; --n)
        listMessage(d, id, CB_DELETESTRING, 0);
}
void listAdd(DialogHandle d, int id, const char* text) {
    std::wstring t = wide(text);
    listMessage(d, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.c_str()));
}
void listSelect(DialogHandle d, int id, int index) {
    listMessage(d, id, CB_SETCURSEL, static_cast<WPARAM>(index));
}
int listSelection(DialogHandle d, int id) {
    LRESULT r = listMessage(d, id, CB_GETCURSEL);
    return r == CB_ERR ? -1 : static_cast<int>(r);
}
int listCount(DialogHandle d, int id) {
    LRESULT r = listMessage(d, id, CB_GETCOUNT);
    return r == CB_ERR ? 0 : static_cast<int>(r);
}

int messageBox(DialogHandle d, const char* text, const char* caption, int buttons, int icon) {
    int r = MessageBoxW(hwnd(d), wide(text).c_str(), wide(caption).c_str(),
                        static_cast<UINT>(buttons | icon));
    return r == 0 ? IDCANCEL : r;
}

// Pairs of description and pattern, each NUL-terminated, the list ending in an empty string.
std::wstring filterString(const FileDialogRequest& request) {
    std::wstring out;
    for (size_t i = 0; i < request.filterCount; ++i) {
        out += wide(request.filters[i][0]) + L'\0';
        out += wide(request.filters[i][1]) + L'\0';
    }
    return out + L'\0';
}

bool fileDialog(DialogHandle d, FileDialogKind kind, const FileDialogRequest& request,
                std::string* path) {
    std::wstring filters = filterString(request);
    std::wstring title = wide(request.title);
    std::wstring folder = wide(request.initialDir.c_str());
    std::vector<wchar_t> file(FILE_BUFFER_CHARS, L'\0');
    std::wstring name = wide(request.initialName.c_str());
    name.copy(file.data(), file.size() - 1);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd(d);
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = FILE_BUFFER_CHARS;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT;
    BOOL ok = kind == FILE_DIALOG_OPEN ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
    if (!ok) return false;
    // A multiple selection leaves the folder first: that is the path the caller gets.
    *path = Win32_FromWide(file.data());
    return true;
}

// The text prompt: a small modal box whose template is built here, since the resource script
// holds the console alone. Its controls: the prompt, the field, OK and Cancel.
constexpr WORD PROMPT_LABEL = 100, PROMPT_FIELD = 101;
constexpr size_t PROMPT_CHARS = 256;

struct PromptState {
    std::wstring title, prompt, text;
};

INT_PTR CALLBACK promptProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(h, DWLP_USER, lParam);
        auto* s = reinterpret_cast<PromptState*>(lParam);
        SetWindowTextW(h, s->title.c_str());
        SetDlgItemTextW(h, PROMPT_LABEL, s->prompt.c_str());
        SetDlgItemTextW(h, PROMPT_FIELD, s->text.c_str());
        SetDlgItemTextW(h, IDOK, L"OK");
        SetDlgItemTextW(h, IDCANCEL, L"Cancel");
        SendDlgItemMessageW(h, PROMPT_FIELD, EM_SETSEL, 0, -1);
        return TRUE;  // the focus goes to the field, the first tab stop
    }
    if (message != WM_COMMAND || (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL))
        return FALSE;
    if (LOWORD(wParam) == IDOK) {
        auto* s = reinterpret_cast<PromptState*>(GetWindowLongPtrW(h, DWLP_USER));
        wchar_t typed[PROMPT_CHARS] = {};
        GetDlgItemTextW(h, PROMPT_FIELD, typed, static_cast<int>(PROMPT_CHARS));
        s->text = typed;
    }
    EndDialog(h, LOWORD(wParam));
    return TRUE;
}

// Dialog templates are sequences of 16-bit words; items start on 32-bit boundaries.
struct TemplateWords {
    std::vector<WORD> w;
    void dword(DWORD v) {
        w.push_back(LOWORD(v));
        w.push_back(HIWORD(v));
    }
    void text(const wchar_t* s) {
        for (; *s; ++s) w.push_back(static_cast<WORD>(*s));
        w.push_back(0);
    }
    void align() {
        if (w.size() % 2) w.push_back(0);
    }
    void control(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom) {
        align();
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        for (short v : {x, y, cx, cy}) w.push_back(static_cast<WORD>(v));
        w.push_back(id);
        w.push_back(0xFFFF);
        w.push_back(atom);
        w.push_back(0);  // no text: set at WM_INITDIALOG
        w.push_back(0);  // no creation data
    }
};

bool promptText(DialogHandle d, const char* title, const char* prompt, std::string* text) {
    constexpr WORD BUTTON = 0x0080, EDIT = 0x0081, STATIC = 0x0082;
    TemplateWords t;
    t.dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.dword(0);
    t.w.push_back(4);  // controls
    for (short v : {0, 0, 200, 62}) t.w.push_back(static_cast<WORD>(v));
    t.w.push_back(0);  // no menu
    t.w.push_back(0);  // the standard dialog class
    t.w.push_back(0);  // title: set at WM_INITDIALOG
    t.w.push_back(9);
    t.text(L"MS Shell Dlg");
    t.control(SS_LEFT, 7, 7, 186, 18, PROMPT_LABEL, STATIC);
    t.control(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 26, 186, 12, PROMPT_FIELD,
              EDIT);
    t.control(BS_DEFPUSHBUTTON | WS_TABSTOP, 89, 43, 50, 14, IDOK, BUTTON);
    t.control(BS_PUSHBUTTON | WS_TABSTOP, 143, 43, 50, 14, IDCANCEL, BUTTON);
    PromptState state{wide(title), wide(prompt), wide(text->c_str())};
    INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                        reinterpret_cast<LPCDLGTEMPLATEW>(t.w.data()), hwnd(d),
                                        promptProc, reinterpret_cast<LPARAM>(&state));
    if (r != IDOK) return false;
    *text = Win32_FromWide(state.text);
    return true;
}

const DialogBackend win32Dialog{
    .create = create,
    .destroy = destroy,
    .postQuit = postQuit,
    .runLoop = runLoop,
    .show = show,
    .setTitle = setTitle,
    .setIcon = setIcon,
    .setText = setText,
    .getText = getText,
    .setCheck = setCheck,
    .isChecked = isChecked,
    .enable = enable,
    .showControl = showControl,
    .listClear = listClear,
    .listAdd = listAdd,
    .listSelect = listSelect,
    .listSelection = listSelection,
    .listCount = listCount,
    .messageBox = messageBox,
    .fileDialog = fileDialog,
    .promptText = promptText,
};

}  // namespace

const DialogBackend* Win32Dialog_Backend() { return &win32Dialog; }
