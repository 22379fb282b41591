// SPDX-License-Identifier: Apache-2.0
// In-memory dialog: the dialog back end of the command line and the tests. It keeps every
// control's state by ID, records message boxes and answers questions and file dialogs as
// scripted. Dialog thread only, except that captured system boxes may arrive from any thread.
#pragma once
#include <string>
#include <vector>

#include "platform/dialog.h"

struct DialogModelBox {
    std::string text, caption;
    int buttons, icon;
    bool fromDialog;  // false: shown through the message-box seam (the link, the error texts)
};

struct DialogModelFileRequest {
    FileDialogKind kind;
    std::string title, initialDir, initialName;
    std::vector<std::pair<std::string, std::string>> filters;
};

const DialogBackend* DialogModel_Backend();
// Forgets the dialog, every control, box and queued answer.
void DialogModel_Reset();

// Inspection (the rest, which only tests need, is declared with the tests).
std::string DialogModel_Text(int id);
bool DialogModel_Checked(int id);
std::vector<std::string> DialogModel_ListEntries(int id);

// The operator. Clicks and selections on a disabled or hidden control do nothing and return
// false; a click toggles a check box before its command goes to the procedure.
void DialogModel_Type(int id, const std::string& text);
bool DialogModel_Click(int id);
bool DialogModel_Select(int id, int index);
// A command message as the window system would send it (also for IDs without a control).
void DialogModel_Command(int id, int notification = 0);

// Message boxes: recorded in order; answered with queued answers first, then OK.
std::vector<DialogModelBox> DialogModel_Boxes();
void DialogModel_ClearBoxes();
void DialogModel_QueueAnswer(int answer);
// Also record the boxes of the message-box seam in the same list (true installs a seam back
// end, false restores the platform default).
void DialogModel_CaptureSystemBoxes(bool on);
// Called for every recorded box (the command line prints them). nullptr = silent.
void DialogModel_SetBoxEcho(void (*echo)(const DialogModelBox& box));

// File dialogs: answered in order by queued paths; an empty queue cancels.
void DialogModel_QueueFile(const std::string& path);

// Text prompts: answered in order by queued lines; an empty queue cancels (each prompt asked
// is recorded as its title and prompt text).
