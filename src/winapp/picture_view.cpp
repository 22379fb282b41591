// SPDX-License-Identifier: Apache-2.0
// The picture as a top-down 32-bit DIB, drawn scaled (halftone) into the client area, its
// shape kept.
#include "winapp/picture_view.h"

#include <algorithm>

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

LRESULT CALLBACK pictureProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* picture = reinterpret_cast<Picture*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(h, &ps);
            RECT client{};
            GetClientRect(h, &client);
            if (picture && picture->width > 0) {
                BITMAPINFO bi{};
                bi.bmiHeader.biSize = sizeof bi.bmiHeader;
                bi.bmiHeader.biWidth = picture->width;
                bi.bmiHeader.biHeight = -picture->height;  // top row first
                bi.bmiHeader.biPlanes = 1;
                bi.bmiHeader.biBitCount = 32;
                // Fitted with its shape kept, the rest of the area in the window's colour.
                const double scale = std::min(double(client.right) / picture->width,
                                              double(client.bottom) / picture->height);
                const int w = std::max(1, int(picture->width * scale + 0.5));
                const int h = std::max(1, int(picture->height * scale + 0.5));
                const int x = (client.right - w) / 2, y = (client.bottom - h) / 2;
                FillRect(dc, &client, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
                SetStretchBltMode(dc, HALFTONE);
                SetBrushOrgEx(dc, 0, 0, nullptr);
                StretchDIBits(dc, x, y, w, h, 0, 0, picture->width, picture->height,
                              picture->pixels.data(), &bi, DIB_RGB_COLORS, SRCCOPY);
            } else {
                FillRect(dc, &client, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
            }
            EndPaint(h, &ps);
            return 0;
        }
        case WM_NCDESTROY:
            delete picture;
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            break;
    }
    return DefWindowProcW(h, message, wParam, lParam);
}

Picture* makePicture(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    auto* picture = new Picture;
    if (width == 0 || height == 0 || rgb.size() < size_t(width) * height * 3) return picture;
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->pixels.resize(size_t(width) * height);
    for (size_t i = 0; i < picture->pixels.size(); ++i) {
        const uint8_t* p = &rgb[3 * i];
        picture->pixels[i] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return picture;
}

}  // namespace

HWND PictureView_Create(HWND parent, DWORD style, const std::wstring& title, int x, int y, int w,
                        int h, int id, uint32_t width, uint32_t height,
                        const std::vector<uint8_t>& rgb) {
    if (width == 0 || height == 0 || rgb.size() < size_t(width) * height * 3 ||
        !WinApp_RegisterClass(PICTURE_VIEW_CLASS, pictureProc, COLOR_WINDOW))
        return nullptr;
    HMENU menu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)) : nullptr;
    HWND view = CreateWindowExW(0, PICTURE_VIEW_CLASS, title.c_str(), style, x, y, w, h, parent,
                                menu, GetModuleHandleW(nullptr), nullptr);
    if (view) PictureView_Set(view, width, height, rgb);
    return view;
}

void PictureView_Set(HWND view, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    delete reinterpret_cast<Picture*>(GetWindowLongPtrW(view, GWLP_USERDATA));
    SetWindowLongPtrW(view, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(makePicture(width, height, rgb)));
    InvalidateRect(view, nullptr, FALSE);
}

POINT PictureView_PlaceBeside(HWND owner, int width, int height) {
    RECT at{}, screen{};
    GetWindowRect(owner, &at);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor))
        screen = monitor.rcWork;
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    int x = at.right + 8, y = at.top;
    if (x + width > screen.right && at.bottom + 8 + height <= screen.bottom) {
        x = at.left;
        y = at.bottom + 8;
    }
    x = std::max<int>(screen.left, std::min<int>(x, screen.right - width));
    y = std::max<int>(screen.top, std::min<int>(y, screen.bottom - height));
    return {x, y};
}

bool WinApp_RegisterClass(const wchar_t* name, WNDPROC proc, int background) {
    WNDCLASSW wc{};
    if (GetClassInfoW(GetModuleHandleW(nullptr), name, &wc)) return true;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
    wc.lpszClassName = name;
    return RegisterClassW(&wc) != 0;
}
