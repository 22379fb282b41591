// SPDX-License-Identifier: Apache-2.0
// The console's messages, captions, English labels, list entries and window title in both
// languages; each text is chosen for the user-interface language at the moment it is used.
#pragma once
#include <string>

struct Reason;

enum ConsoleMessage {
    MSG_SHARED_BUSY,
    MSG_STARTUP_READ_FAILED,
    MSG_SAVE_OK,
    MSG_SAVE_FAIL,
    MSG_NOT_CONNECTED,
    MSG_OUT_OF_RANGE,
    MSG_NEGATIVE,
    MSG_NEGATIVE_CHINESE,   // Chinese in both languages
    MSG_INK_ORDER_INVALID,  // Chinese in both languages
    MSG_FILE_SAVED,
    MSG_FILE_NOT_SAVED,
    MSG_FILE_READ,
    MSG_FILE_NOT_READ,
    MSG_IMPORT_QUESTION,
    MSG_SAVE_UNKNOWN,    // the printer did not answer a SAVE and could not be asked afterwards
    MSG_SHARED_REFUSED,  // the shared area or its lock exists but must not be used (%s: why)
    MSG_RECORD_CHANGED,  // another program saved since the record was read; reloaded
    MSG_COUNT
};

struct ConsoleText {
    std::string text;
    std::string caption;
    int buttons;
    int icon;
};

// Text and caption of a message for the current language; "%s" in the text is replaced by
// `argument` (a file name or path of any length).
ConsoleText consoleText(ConsoleMessage message, const char* argument = nullptr);
// Shows the message in a box owned by the console's dialog; returns the button pressed. A
// detail (why a file was refused, say) goes on a line of its own under the message.
int showConsoleMessage(ConsoleMessage message, const char* argument = nullptr,
                       const std::string& detail = {});

// The console's one reporting point for what a layer below it had to say (a failed USB
// transaction): a system box through the message-box seam, as the link once raised it
// itself, OK button and information icon. Dialog thread; blocks until the operator closes
// it. Nothing is shown for an empty reason.
void reportReason(const Reason& why);

// The formatted window title for the current language.
std::string titleText();

// Replaces the layout's Chinese labels by the English set unless the language is Chinese.
void setEnglishLabels();

// List entries.
constexpr int FEATHER_MODE_COUNT = 5;
constexpr int SKIP_BLANK_COUNT = 2;
constexpr int INK_COUNT = 8;
const char* featherModeName(int index);  // current language
const char* skipBlankName(int index);    // current language
const char* inkName(int channel);        // K2, K1, Y2, Y1, M2, M1, C2, C1

// Mode names of the six bidirectional rows (Chinese in both languages).
const char* modeLabel(int row, bool hd);

// File dialogs: titles and the four filter pairs.
extern const char* const OPEN_DIALOG_TITLE;
extern const char* const SAVE_DIALOG_TITLE;
extern const char* const FILE_DIALOG_FILTERS[4][2];
