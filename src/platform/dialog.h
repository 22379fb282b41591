// SPDX-License-Identifier: Apache-2.0
// Dialog seam: everything the console needs from a window system, keyed by control ID.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

using DialogHandle = intptr_t;
constexpr DialogHandle DIALOG_NONE = 0;

// Messages delivered to a dialog procedure (the values of the Windows messages, so the Win32
// front end passes them through unchanged).
constexpr uint32_t DLGMSG_DESTROY = 0x0002;
constexpr uint32_t DLGMSG_CLOSE = 0x0010;
constexpr uint32_t DLGMSG_INIT = 0x0110;
constexpr uint32_t DLGMSG_COMMAND = 0x0111;
// Notification code of a list whose selection changed (high word of the command's wParam).
constexpr uint32_t DLG_NOTIFY_SELCHANGE = 1;

// Returns non-zero when the message was handled.
using DialogProc = intptr_t (*)(DialogHandle dialog, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);

inline uintptr_t Dialog_CommandParam(int id, int notification = 0) {
    return (static_cast<uintptr_t>(notification & 0xFFFF) << 16) |
           static_cast<uintptr_t>(id & 0xFFFF);
}

enum DialogControlKind : uint8_t {
    CTL_STATIC,
    CTL_BUTTON,
    CTL_CHECK,
    CTL_EDIT,           // writable entry
    CTL_READONLY_EDIT,  // shows a current value
    CTL_LIST            // drop-down list with an editable field
};

// One control of a layout: ID, kind, layout text, place in dialog units, and the name the
// program knows it by (the console's ID_<name>, generated from its layout).
struct DialogControlSpec {
    int id;
    DialogControlKind kind;
    const char* text;
    int x, y, width, height;
    const char* name = nullptr;
};

// A command the dialog procedure takes that no control of the layout carries (a menu entry, a
// key), with its name.
struct DialogCommandSpec {
    int id;
    const char* name;
};

// A menu of the window's menu bar, where the window system gives the dialog one (the desktop
// back end; the native dialog has none): commands of controls or of the layout, each with
// its Chinese and English text; an entry with ID 0 is a separator.
struct DialogMenuItem {
    int id;
    const char* text;
    const char* englishText;
};
struct DialogMenu {
    const char* title;
    const char* englishTitle;
    const DialogMenuItem* items;
    size_t count;
};

// A group box without text or ID around an area of a layout, in dialog units.
struct DialogFrame {
    int x, y, width, height;
};

// A dialog layout: caption-less popup of the given size holding `count` controls and
// `frameCount` frames; the commands without a control and the menus.
struct DialogLayout {
    int resourceId;
    int x, y, width, height;
    const DialogControlSpec* controls;
    size_t count;
    const DialogFrame* frames = nullptr;
    size_t frameCount = 0;
    const DialogCommandSpec* commands = nullptr;
    size_t commandCount = 0;
    const DialogMenu* menus = nullptr;
    size_t menuCount = 0;
};

// What a file dialog shows; `filters` holds `filterCount` pairs of description and pattern.
struct FileDialogRequest {
    const char* title;
    const char* const (*filters)[2];
    size_t filterCount;
    std::string initialDir;
    std::string initialName;  // proposed name of a save dialog, empty for an open dialog
};

enum FileDialogKind { FILE_DIALOG_OPEN = 0, FILE_DIALOG_SAVE = 1 };

// Every entry runs on the dialog thread (the one that created the dialog and runs its loop);
// none may be called from the job's transmit thread. Entries taking an ID of a control the
// layout does not hold do nothing and return their empty result.
struct DialogBackend {
    // Creates the modeless dialog from `layout`; delivers DLGMSG_INIT to proc before it
    // returns (the window is not visible yet). \context dialog \nonblocking \errors
    // DIALOG_NONE.
    DialogHandle (*create)(const DialogLayout* layout, DialogProc proc);
    // Destroys the dialog; delivers DLGMSG_DESTROY to its procedure. \context dialog
    // \nonblocking \errors none.
    void (*destroy)(DialogHandle dialog);
    // Asks the message loop to end with `code` once the current message is handled; callable
    // from inside a dialog procedure. \context dialog \nonblocking \errors none.
    void (*postQuit)(int code);
    // Runs the message loop until the quit request; returns its code. \context dialog
    // \blocks for the whole life of the console, delivering messages to the dialog procedure on
    // this thread \errors none (the code given to postQuit).
    int (*runLoop)();
    // Shows or hides the dialog (Windows show command: 0 hide, 5 show). \context dialog
    // \nonblocking \errors none.
    void (*show)(DialogHandle dialog, int showCommand);
    // The window's title in UTF-8. \context dialog \nonblocking \errors none.
    void (*setTitle)(DialogHandle dialog, const char* title);
    // The window's icon from the program's resources. \context dialog \nonblocking \errors
    // none (a missing icon is ignored).
    void (*setIcon)(DialogHandle dialog, int resourceId);

    // Replaces the text of a control (UTF-8); no DLGMSG_COMMAND is delivered. \context dialog
    // \nonblocking \errors none.
    void (*setText)(DialogHandle dialog, int id, const char* text);
    // Whole text of a control (for a list: the text of its field), UTF-8. \context dialog
    // \nonblocking \errors empty for an unknown ID.
    std::string (*getText)(DialogHandle dialog, int id);
    // Ticks or clears a check box; no DLGMSG_COMMAND is delivered. \context dialog
    // \nonblocking \errors none.
    void (*setCheck)(DialogHandle dialog, int id, bool checked);
    // Whether a check box is ticked. \context dialog \nonblocking \errors false for an unknown
    // ID.
    bool (*isChecked)(DialogHandle dialog, int id);
    // Lets the operator use a control or greys it out. \context dialog \nonblocking \errors
    // none.
    void (*enable)(DialogHandle dialog, int id, bool on);
    // Shows or hides one control. \context dialog \nonblocking \errors none.
    void (*showControl)(DialogHandle dialog, int id, bool visible);

    // Lists; none delivers DLGMSG_COMMAND. Removes every entry. \context dialog \nonblocking
    // \errors none.
    void (*listClear)(DialogHandle dialog, int id);
    // Appends one entry (UTF-8) at the end. \context dialog \nonblocking \errors none.
    void (*listAdd)(DialogHandle dialog, int id, const char* text);
    // Selects entry `index` and shows it in the field; -1 or an index past the end: none.
    // \context dialog \nonblocking \errors none.
    void (*listSelect)(DialogHandle dialog, int id, int index);
    // The selected entry's index. \context dialog \nonblocking \errors -1 when none is
    // selected.
    int (*listSelection)(DialogHandle dialog, int id);
    // The number of entries. \context dialog \nonblocking \errors 0 for an unknown ID.
    int (*listCount)(DialogHandle dialog, int id);

    // A modal box owned by the dialog; returns the MsgBoxResult of the button pressed.
    // \context dialog \blocks until the operator answers (the dialog's own messages wait)
    // \errors none.
    int (*messageBox)(DialogHandle dialog, const char* text, const char* caption, int buttons,
                      int icon);
    // The system's file dialog, modal: true when a file was chosen, its path (UTF-8) in
    // *path. \context dialog \blocks until the operator closes it \errors false, *path
    // untouched, when cancelled.
    bool (*fileDialog)(DialogHandle dialog, FileDialogKind kind, const FileDialogRequest& request,
                       std::string* path);
    // A small modal box owned by the dialog asking for one line of text under `prompt`, its
    // field holding `*text` at first: true with the line typed in *text when confirmed.
    // \context dialog \blocks until the operator closes it (the dialog's own messages wait)
    // \errors false, *text untouched, when cancelled or closed.
    bool (*promptText)(DialogHandle dialog, const char* title, const char* prompt,
                       std::string* text);
};

// Installs a back end (nullptr restores the in-memory model). Before the dialog is created.
void Dialog_Install(const DialogBackend* backend);
const DialogBackend* Dialog_Backend();
