// SPDX-License-Identifier: Apache-2.0
// Shared state of the wxWidgets back end's files (dialog window, boxes, style, pump).
#pragma once
#include <wx/wx.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/wx/wx_ui.h"

namespace wxui {

struct Control {
    DialogControlSpec def;
    wxWindow* window = nullptr;
    std::string text;     // as set, before any wrapping for display
    wxRect fitted;        // layout rectangle grown to what the text and the toolkit need
    wxRect rect;          // where it stands after overlaps were resolved
    int neededWidth = 0;  // pixels, when the text needed more than the layout width
};

struct DialogWindow {
    wxFrame* frame = nullptr;
    wxPanel* panel = nullptr;
    DialogProc proc = nullptr;
    const DialogLayout* layout = nullptr;
    std::map<int, Control> controls;       // by console ID
    std::map<int, int> consoleIdOfWindow;  // wx window ID -> console ID
    std::map<int, WxLabelAdjustment> adjustments;
    std::vector<wxRect> frames;  // group boxes, pixels
    int commandDepth = 0;        // > 0 while the procedure handles a command
    long commandStartMs = 0;     // wall time when the outermost command began
};

DialogWindow& dialogWindow();
wxString fromUtf8(const std::string& s);
wxString fromUtf8(const char* s);
std::string toUtf8(const wxString& s);

// The dialog font: 宋体 at 11 points (through the fontconfig alias).
wxFont dialogFont();
// Loads the alias and the compact GTK style once; safe to call again.
void loadFontAlias();
void loadCompactStyle();
// The small icon of the console (resource 115).
wxIcon consoleIcon();

// Delivers a command to the dialog procedure as the toolkit reports it.
void command(int id, int notification);
// Ends the job's progress window, if one is shown.
void closeProgress();

// Box plumbing shared by the seam entries.
int showBoxOnDialogThread(const WxShownBox& box);
// Shows the boxes that other threads queued for the dialog thread.
void serveBoxesFromOtherThreads();
bool fileDialog(DialogHandle dialog, FileDialogKind kind, const FileDialogRequest& request,
                std::string* path);
bool promptText(DialogHandle dialog, const char* title, const char* prompt, std::string* text);
// Calls into the toolkit under wxWidgets, found in the running process.
bool gtkAnswerDialog(wxWindow* nativeDialog, int wxAnswer);
bool gtkIsMapped(wxWindow* nativeDialog);
void gtkLoadCss(const char* css);
bool gtkGrabScreen(const wxRect& screenRect, wxImage* out);

}  // namespace wxui
