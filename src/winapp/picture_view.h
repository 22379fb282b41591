// SPDX-License-Identifier: Apache-2.0
// A window that shows one RGB picture fitted into its client area (its shape kept): the marked scan
// beside the native console, and the pictures inside its history and calibration windows. The
// window owns its copy of the pixels.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The class every such window has.
constexpr wchar_t PICTURE_VIEW_CLASS[] = L"HeadalignPicture";

// Creates the window (style WS_CHILD for a part of another window, else a top-level owned by
// `parent`) showing `rgb` (width * height * 3 bytes, rows top first); nullptr when the picture is
// empty or the window could not be made. Dialog thread.
HWND PictureView_Create(HWND parent, DWORD style, const std::wstring& title, int x, int y, int w,
                        int h, int id, uint32_t width, uint32_t height,
                        const std::vector<uint8_t>& rgb);
// Replaces what an existing view shows (an empty picture: it shows nothing).
void PictureView_Set(HWND view, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

// Where a window of this outer size goes beside `owner`: right of it where the screen has room,
// else below it, else as near as fits on the owner's screen.
POINT PictureView_PlaceBeside(HWND owner, int width, int height);

// Registers a window class of the program (once; true when it is there), with the arrow cursor
// and the system colour `background` (COLOR_WINDOW, COLOR_BTNFACE).
bool WinApp_RegisterClass(const wchar_t* name, WNDPROC proc, int background);
