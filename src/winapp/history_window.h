// SPDX-License-Identifier: Apache-2.0
// "History..." of the native console: the printer's history in a window beside the dialog,
// the drift in words above its picture and the list of its entries (newest first), as the
// desktop console shows it.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The window's class and its parts' control IDs (after the scan buttons' and "History...").
constexpr wchar_t HISTORY_WINDOW_CLASS[] = L"HeadalignHistory";
constexpr int HISTORY_WORDS_ID = 0x7E20;  // the drift in words, or why there is no history
constexpr int HISTORY_PLOT_ID = 0x7E21;   // the picture (a PictureView)
constexpr int HISTORY_LIST_ID = 0x7E22;   // a list box: the column titles, then one entry a line
                                          // (columns separated by tabs)

// Opens the window for the printer the console is on, or shows it again filled afresh from
// the file. Dialog thread.
HWND WinHistory_Show(HWND dialog);
