// SPDX-License-Identifier: Apache-2.0
// Helpers of the Windows tests: paths between Wine and the host, child processes, window
// text in UTF-8, screenshots as PNG files.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// GBK -> UTF-8, of the Win32 back end's text conversions (platform/win32/win32_text.cpp): only
// the tests read GBK back.
std::string Win32_FromGbk(const std::string& gbk);

// A host path ("/work/...") as a Windows path through Wine's Z: drive; Windows paths unchanged.
std::string windowsPath(const std::string& path);
// Environment variable of the test run ("" when unset).
std::string envText(const char* name);
// "zh" or "en": the language this run of the tests is set up for (HEADALIGN_TEST_UI).
std::string testLanguage();

struct ChildResult {
    bool started = false;
    DWORD exitCode = 0;
    std::string output;  // standard output and standard error together
};
// Runs a program with a command line (UTF-8), in workDir when given, waits at most timeoutMs,
// collects its output.
ChildResult runChild(const std::string& exe, const std::string& arguments, DWORD timeoutMs,
                     const std::string& workDir = "");

// A started child that keeps running until stopped (the shared-area front end).
struct Child {
    PROCESS_INFORMATION info{};
    bool start(const std::string& exe, const std::string& arguments);
    // Waits for the child to end by itself; its exit code, or -1 on time-out.
    int wait(DWORD timeoutMs);
    ~Child();
};

// The text of a window as UTF-8, read through the wide function (independent of the ANSI
// code page of the run).
std::string windowTextUtf8(HWND window);
// The ANSI bytes of a control's text as GetDlgItemTextA returns them.
std::string dlgItemTextAnsi(HWND dialog, int id);

// Captures what the screen shows of the window into a 24-bit PNG file.
bool saveWindowPng(HWND window, const std::string& path);
// Writes RGB rows (width * 3 bytes each, top first) as an uncompressed PNG.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// Processes pending messages for about ms milliseconds (paints, timers).
void pumpMessages(DWORD ms);
