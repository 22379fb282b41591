// SPDX-License-Identifier: Apache-2.0
// wxWidgets (GTK) back end of the dialog and message-box seams: start-up, inspection and the
// hooks through which tests and scripted runs answer boxes and file dialogs.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/msgbox.h"

class wxWindow;
class wxFrame;
class wxFileDialog;
class wxTextEntryDialog;

// Starts wxWidgets on the calling thread, which becomes the dialog thread, and loads the font
// alias and the compact control style. false when no display can be opened.
bool WxUi_Start(int argc, char** argv);
// Destroys what is left of the windows and ends wxWidgets.
void WxUi_Stop();
bool WxUi_Started();

const DialogBackend* WxDialog_Backend();
// Message boxes on the dialog thread; other threads queue theirs for it (see WxUi_Pump).
const MsgBoxBackend* WxMsgBox_Backend();

// Wraps the clock seam installed now: sleeps on the dialog thread inside a command keep the
// window painted, show the job's progress window and serve boxes queued by other threads.
void WxUi_InstallClockPump();
void WxUi_UninstallClockPump();
// Serves boxes queued by other threads and processes pending window events (paint, the
// progress window's Cancel). Dialog thread.
void WxUi_Pump();

// What the progress window of a long command reports and does. The desktop front end provides
// it (a back end knows no job); without one no progress window opens. Both run on the dialog
// thread.
struct WxProgressSource {
    int (*swathNumber)();     // the swath being sent, for "Sending swath %d"
    void (*requestCancel)();  // the operator pressed Cancel
};
// Dialog thread; nullptr removes the source.
void WxUi_SetProgressSource(const WxProgressSource* source);

// Runs `work` on the dialog thread as the dialog runs one of its commands: while it holds the
// thread (a print job) the clock pump paints, shows the progress window with its Cancel and
// keeps every other window disabled; the console's own commands and closing wait for it.
// For front-end windows beside the dialog that start jobs of their own. Dialog thread.
void WxUi_RunAsCommand(const std::function<void()>& work);

// Called on the dialog thread after every command the dialog procedure handled.
void WxUi_SetAfterCommand(std::function<void(int id)> hook);
// Shows a picture (PNG) in a window beside the dialog, replacing the previous one.
void WxUi_ShowPicture(const std::string& pngPath, const std::string& caption);
wxFrame* WxUi_PictureWindow();

// Inspection (dialog thread).
wxFrame* WxDialog_Frame();
wxWindow* WxDialog_Control(int id);  // nullptr when the dialog has no such control

// The operator, by console ID: a click (a check box toggles first), a list selection, typing
// into an entry, a command without a control, closing the window. Clicks and selections on a
// disabled or hidden control do nothing and return false.
bool WxDialog_Click(int id);
bool WxDialog_Select(int id, int index);
bool WxDialog_Type(int id, const std::string& text);
void WxDialog_Command(int id, int notification = 0);
void WxDialog_Close();

// A control that stands away from its layout on this system: a label whose text needed more
// room than its layout width, moved left into free room, or a control pushed right by such a
// label in its row.
struct WxLabelAdjustment {
    int id;
    std::string text;
    int layoutWidth;  // dialog units
    int neededWidth;  // dialog units
    int movedX;       // dialog units, negative to the left
};
std::vector<WxLabelAdjustment> WxDialog_Adjustments();

// A box as it stood on screen.
struct WxShownBox {
    std::string text, caption;
    int buttons, icon;
    bool fromOtherThread;
};
// With an answerer installed, every box is answered by it once the box is on screen (the box
// is a real window and stays up until then); nullptr = the operator answers.
void WxBoxes_SetAnswerer(std::function<int(const WxShownBox&)> answerer);
// With a chooser installed, the file dialog is built as usual and handed to it instead of
// being shown: it returns true with a path to accept, false to cancel.
void WxBoxes_SetFileChooser(std::function<bool(wxFileDialog&, std::string* path)> chooser);
// The wildcard string of a file dialog for a request's filter pairs.
std::string WxBoxes_Wildcard(const FileDialogRequest& request);

// Writes what the screen shows of the dialog (and of `extra`, when given) to a PNG file.
bool WxUi_Screenshot(const std::string& pngPath, wxWindow* extra = nullptr);
// Writes what the screen shows of one window alone to a PNG file.
bool WxUi_ScreenshotOf(const std::string& pngPath, wxWindow* window);
// Runs `step` on the dialog thread after `delayMs` from inside the message loop.
void WxUi_After(int delayMs, std::function<void()> step);
