// SPDX-License-Identifier: Apache-2.0
// Test scaffolding for the desktop console: a virtual display for the test program, and a
// fixture that runs the console's real window on the virtual printer with a fast clock.
#pragma once
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wx/wx_ui.h"
#include "support/fakes.h"

// Of the wx back end (platform/wx), declared here since only tests call them (dialog thread):
// the wx window ID that carries console ID `id`; the job's progress window while it is shown;
// with a prompt answerer installed, a text prompt is built as usual and handed to it instead
// of being shown: it returns true with the line to confirm, false to cancel.
int WxDialog_WindowId(int id);
wxWindow* WxDialog_ProgressWindow();
void WxBoxes_SetPromptAnswerer(std::function<bool(wxTextEntryDialog&, std::string* text)> answerer);

// DISPLAY of the Xvfb server this program started (or the one given in HEADALIGN_WX_DISPLAY).
std::string wxTestDisplay();

class WxConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // LANG for the console ("zh_CN.UTF-8" or "en_US.UTF-8"); before startConsole.
    void useLanguage(const char* lang);
    // Starts the console as the entry does (initialisation, icon, title, show) and waits
    // until the window is on screen.
    void startConsole();
    // Lets the window system work for `ms` of real time.
    void settle(int ms = 150);
    // Control by console ID (fails the test when missing).
    wxWindow* control(int id);
    std::string text(int id);
    // Moves the pointer to the control's centre and clicks with the real (XTest) mouse.
    void mouseClick(int id);
    // A file inside the build folder for pictures the tests leave behind.
    static std::string buildFile(const std::string& name);

    std::vector<WxShownBox> boxes;  // every box, as it stood on screen
    std::vector<int> answers;       // answers for the next boxes, OK after them
    TempDir work;
    std::string oldDir;
    std::string stateDir;
};

// A file in the build folder (pictures the tests leave behind).
std::string WxConsoleTest_BuildFile(const std::string& name);

// A valid record with recognisable values.
std::vector<uint8_t> wxSampleRecord();

struct VernierImage;
// Every scan answered with `picture`, through SANE's own pnm back end serving it as a file
// written into `dir`; Scanner_Install(nullptr) puts the usual back end back.
void wxServeThroughPnm(const VernierImage& picture, const std::string& dir);
// Every scan answered with the scanner's cover open (the usual scanners still listed).
void wxServeCoverOpen();
// How many scans were kept in `dir` under names starting with `prefix`.
int wxKeptScans(const std::string& dir, const std::string& prefix);
