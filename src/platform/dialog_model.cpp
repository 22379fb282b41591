// SPDX-License-Identifier: Apache-2.0
// In-memory dialog model: control state by ID, recorded boxes, scripted answers.
#include "platform/dialog_model.h"

#include <deque>
#include <map>
#include <mutex>

#include "platform/msgbox.h"

namespace {

struct Control {
    DialogControlKind kind = CTL_STATIC;
    std::string text;
    bool checked = false, enabled = true, visible = true;
    std::vector<std::string> entries;
    int selection = -1;
};

constexpr DialogHandle MODEL_HANDLE = 1;

struct Model {
    bool exists = false;
    DialogProc proc = nullptr;
    std::map<int, Control> controls;
    std::string title;
    int showCommand = -1;
    int iconId = 0;
    bool quit = false;
    int quitCode = 0;
    std::deque<std::string> files;  // "\x01" marks a cancel
    std::vector<DialogModelFileRequest> fileRequests;
    std::deque<std::string> promptAnswers;  // FILE_CANCEL marks a cancel here too
    std::vector<std::pair<std::string, std::string>> prompts;
};
Model model;

// Boxes may come from the transmit thread through the message-box seam.
std::mutex boxMutex;
std::vector<DialogModelBox> boxes;
std::deque<int> answers;
// A box with no queued answer is answered OK (Yes for a question is never assumed).
constexpr int FALLBACK_ANSWER = MSGBOX_RESULT_OK;
void (*boxEcho)(const DialogModelBox&) = nullptr;

const char* const FILE_CANCEL = "\x01";

Control& control(int id) { return model.controls[id]; }

int recordBox(const char* text, const char* caption, int buttons, int icon, bool fromDialog) {
    DialogModelBox box{text ? text : "", caption ? caption : "", buttons, icon, fromDialog};
    void (*echo)(const DialogModelBox&) = nullptr;
    int answer;
    {
        std::lock_guard<std::mutex> lock(boxMutex);
        boxes.push_back(box);
        echo = boxEcho;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        } else {
            answer = FALLBACK_ANSWER;
        }
    }
    if (echo) echo(box);
    return answer;
}

intptr_t deliver(uint32_t message, uintptr_t wParam) {
    if (!model.exists || !model.proc) return 0;
    return model.proc(MODEL_HANDLE, message, wParam, 0);
}

// ---- back-end entries ----
DialogHandle create(const DialogLayout* layout, DialogProc proc) {
    model.controls.clear();
    if (layout)
        for (size_t i = 0; i < layout->count; ++i) {
            const DialogControlSpec& def = layout->controls[i];
            Control& c = control(def.id);
            c.kind = def.kind;
            if (def.kind != CTL_LIST) c.text = def.text ? def.text : "";
        }
    model.exists = true;
    model.proc = proc;
    model.quit = false;
    deliver(DLGMSG_INIT, 0);
    return MODEL_HANDLE;
}
void destroy(DialogHandle) {
    if (!model.exists) return;
    deliver(DLGMSG_DESTROY, 0);
    model.exists = false;
}
void postQuit(int code) {
    model.quit = true;
    model.quitCode = code;
}
// Nothing arrives of itself in the model: the loop ends at once, with the code of a quit the
// procedure asked for.
int runLoop() { return model.quit ? model.quitCode : -1; }
void show(DialogHandle, int cmd) { model.showCommand = cmd; }
void setTitle(DialogHandle, const char* t) { model.title = t ? t : ""; }
void setIcon(DialogHandle, int id) { model.iconId = id; }
void setText(DialogHandle, int id, const char* t) { control(id).text = t ? t : ""; }
std::string getText(DialogHandle, int id) {
    auto it = model.controls.find(id);
    return it == model.controls.end() ? std::string() : it->second.text;
}
void setCheck(DialogHandle, int id, bool on) { control(id).checked = on; }
bool isChecked(DialogHandle, int id) {
    auto it = model.controls.find(id);
    return it != model.controls.end() && it->second.checked;
}
void enable(DialogHandle, int id, bool on) { control(id).enabled = on; }
void showControl(DialogHandle, int id, bool v) { control(id).visible = v; }
void listClear(DialogHandle, int id) {
    Control& c = control(id);
    c.entries.clear();
    c.selection = -1;
    c.text.clear();
}
void listAdd(DialogHandle, int id, const char* t) { control(id).entries.push_back(t ? t : ""); }
void listSelect(DialogHandle, int id, int index) {
    Control& c = control(id);
    if (index >= 0 && index < static_cast<int>(c.entries.size())) {
        c.selection = index;
        c.text = c.entries[index];
    } else {
        c.selection = -1;
        c.text.clear();
    }
}
int listSelection(DialogHandle, int id) {
    auto it = model.controls.find(id);
    return it == model.controls.end() ? -1 : it->second.selection;
}
int listCount(DialogHandle, int id) {
    auto it = model.controls.find(id);
    return it == model.controls.end() ? 0 : static_cast<int>(it->second.entries.size());
}
int messageBox(DialogHandle, const char* text, const char* caption, int buttons, int icon) {
    return recordBox(text, caption, buttons, icon, true);
}
bool fileDialog(DialogHandle, FileDialogKind kind, const FileDialogRequest& r, std::string* path) {
    DialogModelFileRequest req{kind, r.title ? r.title : "", r.initialDir, r.initialName, {}};
    for (size_t i = 0; i < r.filterCount; ++i)
        req.filters.emplace_back(r.filters[i][0], r.filters[i][1]);
    model.fileRequests.push_back(req);
    if (model.files.empty()) return false;
    std::string answer = model.files.front();
    model.files.pop_front();
    if (answer == FILE_CANCEL) return false;
    *path = answer;
    return true;
}
bool promptText(DialogHandle, const char* title, const char* prompt, std::string* text) {
    model.prompts.emplace_back(title ? title : "", prompt ? prompt : "");
    if (model.promptAnswers.empty()) return false;
    std::string answer = model.promptAnswers.front();
    model.promptAnswers.pop_front();
    if (answer == FILE_CANCEL) return false;
    *text = answer;
    return true;
}

const DialogBackend modelBackend{
    .create = create,
    .destroy = destroy,
    .postQuit = postQuit,
    .runLoop = runLoop,
    .show = show,
    .setTitle = setTitle,
    .setIcon = setIcon,
    .setText = setText,
    .getText = getText,
    .setCheck = setCheck,
    .isChecked = isChecked,
    .enable = enable,
    .showControl = showControl,
    .listClear = listClear,
    .listAdd = listAdd,
    .listSelect = listSelect,
    .listSelection = listSelection,
    .listCount = listCount,
    .messageBox = messageBox,
    .fileDialog = fileDialog,
    .promptText = promptText,
};

int systemBox(const char* text, const char* caption, int buttons, int icon) {
    return recordBox(text, caption, buttons, icon, false);
}
const MsgBoxBackend capturedBoxes{
    .show = systemBox,
};

bool usable(int id) {
    auto it = model.controls.find(id);
    return model.exists && it != model.controls.end() && it->second.enabled && it->second.visible;
}

}  // namespace

const DialogBackend* DialogModel_Backend() { return &modelBackend; }

void DialogModel_Reset() {
    model = Model{};
    std::lock_guard<std::mutex> lock(boxMutex);
    boxes.clear();
    answers.clear();
}

bool DialogModel_Exists() { return model.exists; }
std::string DialogModel_Text(int id) { return getText(MODEL_HANDLE, id); }
bool DialogModel_Checked(int id) { return isChecked(MODEL_HANDLE, id); }
bool DialogModel_Enabled(int id) {
    auto it = model.controls.find(id);
    return it != model.controls.end() && it->second.enabled;
}
bool DialogModel_Visible(int id) {
    auto it = model.controls.find(id);
    return it != model.controls.end() && it->second.visible;
}
std::vector<std::string> DialogModel_ListEntries(int id) {
    auto it = model.controls.find(id);
    return it == model.controls.end() ? std::vector<std::string>() : it->second.entries;
}
int DialogModel_ListSelection(int id) { return listSelection(MODEL_HANDLE, id); }
std::string DialogModel_Title() { return model.title; }
int DialogModel_ShowCommand() { return model.showCommand; }

void DialogModel_Type(int id, const std::string& text) { control(id).text = text; }
bool DialogModel_Click(int id) {
    if (!usable(id)) return false;
    Control& c = control(id);
    if (c.kind == CTL_CHECK) c.checked = !c.checked;
    deliver(DLGMSG_COMMAND, Dialog_CommandParam(id, 0));
    return true;
}
bool DialogModel_Select(int id, int index) {
    if (!usable(id)) return false;
    listSelect(MODEL_HANDLE, id, index);
    deliver(DLGMSG_COMMAND, Dialog_CommandParam(id, DLG_NOTIFY_SELCHANGE));
    return true;
}
void DialogModel_Command(int id, int notification) {
    deliver(DLGMSG_COMMAND, Dialog_CommandParam(id, notification));
}
void DialogModel_Close() { deliver(DLGMSG_CLOSE, 0); }

std::vector<DialogModelBox> DialogModel_Boxes() {
    std::lock_guard<std::mutex> lock(boxMutex);
    return boxes;
}
void DialogModel_ClearBoxes() {
    std::lock_guard<std::mutex> lock(boxMutex);
    boxes.clear();
}
void DialogModel_QueueAnswer(int answer) {
    std::lock_guard<std::mutex> lock(boxMutex);
    answers.push_back(answer);
}
void DialogModel_CaptureSystemBoxes(bool on) { MsgBox_Install(on ? &capturedBoxes : nullptr); }
void DialogModel_SetBoxEcho(void (*echo)(const DialogModelBox&)) {
    std::lock_guard<std::mutex> lock(boxMutex);
    boxEcho = echo;
}

void DialogModel_QueueFile(const std::string& path) { model.files.push_back(path); }
void DialogModel_QueueFileCancel() { model.files.push_back(FILE_CANCEL); }
std::vector<DialogModelFileRequest> DialogModel_FileRequests() { return model.fileRequests; }
void DialogModel_QueuePromptAnswer(const std::string& text) { model.promptAnswers.push_back(text); }
void DialogModel_QueuePromptCancel() { model.promptAnswers.push_back(FILE_CANCEL); }
std::vector<std::pair<std::string, std::string>> DialogModel_Prompts() { return model.prompts; }
