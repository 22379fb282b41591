// SPDX-License-Identifier: Apache-2.0
// The native console's history window: made of plain controls (a static text, a picture view,
// a list box drawing its tab-separated columns), so that it needs no library beyond user32 and
// gdi32.
#include "winapp/history_window.h"

#include <algorithm>
#include <string>
#include <vector>

#include "history/analysis.h"
#include "history/history.h"
#include "platform/image_codec.h"
#include "platform/locale.h"
#include "platform/win32/win32_text.h"
#include "winapp/picture_view.h"

namespace {

constexpr int MARGIN = 8;
constexpr int LIST_HEIGHT = 190;
// The picture at three quarters of its size: a laptop's screen holds it beside the console.
constexpr int PLOT_SCALE_NUM = 3, PLOT_SCALE_DEN = 4;

// Where each column of the list starts, in pixels from the list's left (set when the window is
// made; one history window at a time).
int columnAt[HISTORY_COLUMNS] = {};

// One line of the list: its tab-separated columns each at its own start.
void drawLine(const DRAWITEMSTRUCT& item) {
    if (item.itemID == UINT(-1)) return;
    HWND list = item.hwndItem;
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, item.itemID, 0);
    if (length == LB_ERR) return;
    std::wstring line(size_t(length) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(line.data()));
    line.resize(size_t(length));
    // The list's own font, in which the columns were measured.
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0));
    HGDIOBJ before = font ? SelectObject(item.hDC, font) : nullptr;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_WINDOW));
    SetBkMode(item.hDC, TRANSPARENT);
    // The titles grey, the entries in the window's text colour.
    SetTextColor(item.hDC, GetSysColor(item.itemID == 0 ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
    size_t start = 0;
    for (int c = 0; c < HISTORY_COLUMNS && start <= line.size(); ++c) {
        size_t end = std::min(line.find(L'\t', start), line.size());
        RECT cell = item.rcItem;
        cell.left += columnAt[c];
        cell.right = c + 1 < HISTORY_COLUMNS ? item.rcItem.left + columnAt[c + 1] : cell.right;
        DrawTextW(item.hDC, line.c_str() + start, int(end - start), &cell,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        start = end + 1;
    }
    if (before) SelectObject(item.hDC, before);
}

LRESULT CALLBACK historyProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DRAWITEM && wParam == HISTORY_LIST_ID) {
        drawLine(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(h);
        return 0;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

HWND child(HWND parent, const wchar_t* cls, const std::string& text, DWORD style, int x, int y,
           int w, int h, int id, HFONT font) {
    HWND c = CreateWindowExW(0, cls, Win32_ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x,
                             y, w, h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    if (c && font) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return c;
}

// What the window shows, read from the file as it is now.
struct Contents {
    std::string words;
    ImagePixels plot;
    std::vector<HistoryRow> rows;  // the titles first
};

Contents read(const std::string& key, bool chinese) {
    Contents c;
    if (key.empty()) {
        c.words = chinese ? "没有选定打印机" : "no printer chosen";
        return c;
    }
    std::vector<HistoryEntry> entries;
    std::string error;
    if (!History_Load(History_FilePath(key), key, &entries, &error)) {
        c.words = error;
        return c;
    }
    const std::vector<HistorySeries> series = History_Series(entries);
    const std::vector<HistoryDrift> drifts = History_Drifts(series);
    for (const HistoryDrift& d : drifts) {
        if (!c.words.empty()) c.words += '\n';
        c.words += History_DriftText(d, chinese);
    }
    if (drifts.empty())
        c.words = chinese ? "没有漂移超过一组的模式" : "no mode has drifted by more than a group";
    std::vector<uint8_t> png;
    ImageLimits limits{20000, 100000000, 100000000};
    if (!History_PlotPng(series, drifts, key, chinese, &png, &error) ||
        !ImageCodec_Backend()->decodePng(png.data(), png.size(), limits, &c.plot, &error))
        c.words.append(1, '\n').append(error);
    c.rows.push_back(History_ColumnTitles(chinese));
    // Newest first: what was done last is what the technician looks for.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        c.rows.push_back(History_EntryRow(*it, chinese));
    return c;
}

}  // namespace

HWND WinHistory_Show(HWND dialog) {
    if (HWND open = FindWindowW(HISTORY_WINDOW_CLASS, nullptr)) DestroyWindow(open);
    if (!WinApp_RegisterClass(HISTORY_WINDOW_CLASS, historyProc, COLOR_BTNFACE)) return nullptr;
    const bool chinese = Locale_IsChinese();
    HistoryState* state = OwnedState<HistoryState>::find();
    const Contents c = read(state ? state->printerKey : std::string(), chinese);

    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HDC dc = GetDC(dialog);
    HGDIOBJ old =
        SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int lineHeight = std::max<int>(tm.tmHeight + tm.tmExternalLeading, 12);
    const int charWidth = std::max<int>(tm.tmAveCharWidth, 4);
    // The words' height from the text itself (wrapped at the window's width).
    const int plotW = int(c.plot.width) * PLOT_SCALE_NUM / PLOT_SCALE_DEN;
    const int plotH = int(c.plot.height) * PLOT_SCALE_NUM / PLOT_SCALE_DEN;
    // Each column as wide as its widest cell and a gap: every word of the list is seen whole.
    int listW = 0;
    for (int col = 0; col < HISTORY_COLUMNS; ++col) {
        int widest = 0;
        for (const HistoryRow& row : c.rows) {
            const std::wstring cell = Win32_ToWide(row.columns[col]);
            RECT extent{};
            DrawTextW(dc, cell.c_str(), int(cell.size()), &extent,
                      DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            widest = std::max<int>(widest, extent.right);
        }
        columnAt[col] = listW + 4;
        listW += widest + 2 * charWidth;
    }
    listW += GetSystemMetrics(SM_CXVSCROLL) + 8;
    const int innerW = std::max({plotW, listW, 60 * charWidth});
    RECT measure{0, 0, innerW, 0};
    const std::wstring words = Win32_ToWide(c.words);
    DrawTextW(dc, words.c_str(), -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    const int wordsH = std::max<int>(measure.bottom, lineHeight);

    RECT size{0, 0, innerW + 2 * MARGIN,
              MARGIN + wordsH + MARGIN + (plotH ? plotH + MARGIN : 0) + LIST_HEIGHT + MARGIN};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&size, style, FALSE);
    const int width = size.right - size.left, height = size.bottom - size.top;
    const POINT at = PictureView_PlaceBeside(dialog, width, height);
    HWND window = CreateWindowExW(
        0, HISTORY_WINDOW_CLASS, chinese ? L"\u6821\u51c6\u5386\u53f2" : L"Calibration history",
        style, at.x, at.y, width, height, dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) return nullptr;

    int y = MARGIN;
    child(window, L"STATIC", c.words, SS_LEFT | SS_NOPREFIX, MARGIN, y, innerW, wordsH,
          HISTORY_WORDS_ID, font);
    y += wordsH + MARGIN;
    if (plotH) {
        PictureView_Create(window, WS_CHILD | WS_VISIBLE, L"", MARGIN, y, plotW, plotH,
                           HISTORY_PLOT_ID, c.plot.width, c.plot.height, c.plot.rgb);
        y += plotH + MARGIN;
    }
    HWND list = child(window, L"LISTBOX", "",
                      WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                          LBS_NOINTEGRALHEIGHT | LBS_NOSEL,
                      MARGIN, y, innerW, LIST_HEIGHT, HISTORY_LIST_ID, font);
    SendMessageW(list, LB_SETITEMHEIGHT, 0, lineHeight + 2);
    for (const HistoryRow& row : c.rows) {
        std::string line;
        for (int col = 0; col < HISTORY_COLUMNS; ++col)
            line.append(col ? "\t" : "").append(row.columns[col]);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Win32_ToWide(line).c_str()));
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}
