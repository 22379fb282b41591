// SPDX-License-Identifier: Apache-2.0
// Message boxes and file dialogs of the console on wxWidgets; a box raised on another thread
// (the transmit thread) waits until the dialog thread has shown it and the operator answered.
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/textdlg.h>
#include <wx/timer.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/wx/wx_internal.h"

namespace wxui {
namespace {

std::function<int(const WxShownBox&)> answerer;
std::function<bool(wxFileDialog&, std::string*)> chooser;
std::function<bool(wxTextEntryDialog&, std::string*)> promptAnswerer;

struct PendingBox {
    WxShownBox box;
    int result = MSGBOX_RESULT_OK;
    bool done = false;
};
std::mutex pendingMutex;
std::condition_variable pendingDone;
std::deque<PendingBox*> pending;

long styleOf(int buttons, int icon) {
    long style = wxCENTRE;
    switch (buttons) {
        case MSGBOX_OKCANCEL:
            style |= wxOK | wxCANCEL;
            break;
        case MSGBOX_YESNO:
            style |= wxYES_NO;
            break;
        case MSGBOX_YESNOCANCEL:
            style |= wxYES_NO | wxCANCEL;
            break;
        default:
            style |= wxOK;
            break;
    }
    switch (icon) {
        case MSGBOX_ICON_ERROR:
            return style | wxICON_ERROR;
        case MSGBOX_ICON_QUESTION:
            return style | wxICON_QUESTION;
        case MSGBOX_ICON_WARNING:
            return style | wxICON_WARNING;
        case MSGBOX_ICON_INFORMATION:
            return style | wxICON_INFORMATION;
        default:
            return style | wxICON_NONE;
    }
}

int resultOf(int wxAnswer) {
    switch (wxAnswer) {
        case wxID_OK:
            return MSGBOX_RESULT_OK;
        case wxID_YES:
            return MSGBOX_RESULT_YES;
        case wxID_NO:
            return MSGBOX_RESULT_NO;
        default:
            return MSGBOX_RESULT_CANCEL;
    }
}

int wxAnswerOf(int result) {
    switch (result) {
        case MSGBOX_RESULT_OK:
            return wxID_OK;
        case MSGBOX_RESULT_YES:
            return wxID_YES;
        case MSGBOX_RESULT_NO:
            return wxID_NO;
        default:
            return wxID_CANCEL;
    }
}

// Answers a box for the installed answerer once the box has been on screen for a moment.
class BoxAnswerTimer : public wxTimer {
  public:
    BoxAnswerTimer(wxWindow* dialog, const WxShownBox& box) : dialog_(dialog), box_(box) {}
    void Notify() override {
        if (!gtkIsMapped(dialog_) || ++mappedTicks_ < 3) return;
        Stop();
        if (!gtkAnswerDialog(dialog_, wxAnswerOf(answerer(box_))))
            std::fprintf(stderr, "headalign: cannot answer the box \"%s\"\n", box_.caption.c_str());
    }

  private:
    wxWindow* dialog_;
    WxShownBox box_;
    int mappedTicks_ = 0;
};

void servePendingBoxes() {
    for (;;) {
        PendingBox* p = nullptr;
        {
            std::lock_guard<std::mutex> lock(pendingMutex);
            if (pending.empty()) return;
            p = pending.front();
            pending.pop_front();
        }
        int result = showBoxOnDialogThread(p->box);
        std::lock_guard<std::mutex> lock(pendingMutex);
        p->result = result;
        p->done = true;
        pendingDone.notify_all();
    }
}

int showBox(const char* text, const char* caption, int buttons, int icon) {
    WxShownBox box{text ? text : "", caption ? caption : "", buttons, icon, false};
    if (!WxUi_Started()) {
        std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
        return MSGBOX_RESULT_OK;
    }
    if (wxThread::IsMain()) return showBoxOnDialogThread(box);
    // GTK windows belong to the dialog thread: hand the box over and wait for the answer. The
    // dialog thread serves it from its message loop or, during a job, from its polling sleeps.
    box.fromOtherThread = true;
    PendingBox p{box};
    std::unique_lock<std::mutex> lock(pendingMutex);
    pending.push_back(&p);
    wxTheApp->CallAfter([] { servePendingBoxes(); });
    pendingDone.wait(lock, [&] { return p.done; });
    return p.result;
}

const MsgBoxBackend MSGBOX{
    .show = showBox,
};

}  // namespace

int showBoxOnDialogThread(const WxShownBox& box) {
    wxWindow* owner = dialogWindow().frame;
    wxMessageDialog dialog(owner && owner->IsShown() ? owner : nullptr, fromUtf8(box.text),
                           fromUtf8(box.caption), styleOf(box.buttons, box.icon));
    std::unique_ptr<BoxAnswerTimer> timer;
    if (answerer) {
        timer = std::make_unique<BoxAnswerTimer>(&dialog, box);
        timer->Start(40);
    }
    return resultOf(dialog.ShowModal());
}

bool fileDialog(DialogHandle, FileDialogKind kind, const FileDialogRequest& request,
                std::string* path) {
    const long style =
        kind == FILE_DIALOG_OPEN ? (wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE) : wxFD_SAVE;
    wxFileDialog dialog(dialogWindow().frame, fromUtf8(request.title), fromUtf8(request.initialDir),
                        fromUtf8(request.initialName), fromUtf8(WxBoxes_Wildcard(request)), style);
    dialog.SetFilterIndex(0);
    std::string chosen;
    bool ok = false;
    if (chooser) {
        ok = chooser(dialog, &chosen);
    } else if (dialog.ShowModal() == wxID_OK) {
        ok = true;
        if (kind == FILE_DIALOG_SAVE) {
            chosen = toUtf8(dialog.GetPath());
        } else {
            wxArrayString paths;
            dialog.GetPaths(paths);
            // Several files chosen: the folder stands for them, and reading it fails.
            chosen = paths.size() == 1 ? toUtf8(paths[0]) : toUtf8(dialog.GetDirectory());
        }
    }
    if (ok) *path = chosen;
    return ok;
}

bool promptText(DialogHandle, const char* title, const char* prompt, std::string* text) {
    wxTextEntryDialog dialog(dialogWindow().frame, fromUtf8(prompt ? prompt : ""),
                             fromUtf8(title ? title : ""), fromUtf8(*text));
    std::string typed;
    bool ok = false;
    if (promptAnswerer) {
        ok = promptAnswerer(dialog, &typed);
    } else if (dialog.ShowModal() == wxID_OK) {
        ok = true;
        typed = toUtf8(dialog.GetValue());
    }
    if (ok) *text = typed;
    return ok;
}

void serveBoxesFromOtherThreads() { servePendingBoxes(); }

}  // namespace wxui

const MsgBoxBackend* WxMsgBox_Backend() { return &wxui::MSGBOX; }
void WxBoxes_SetAnswerer(std::function<int(const WxShownBox&)> a) { wxui::answerer = std::move(a); }
void WxBoxes_SetPromptAnswerer(std::function<bool(wxTextEntryDialog&, std::string* text)> a) {
    wxui::promptAnswerer = std::move(a);
}
void WxBoxes_SetFileChooser(std::function<bool(wxFileDialog&, std::string* path)> c) {
    wxui::chooser = std::move(c);
}
std::string WxBoxes_Wildcard(const FileDialogRequest& request) {
    std::string out;
    for (size_t i = 0; i < request.filterCount; ++i) {
        if (i) out += '|';
        out += std::string(request.filters[i][0]) + '|' + request.filters[i][1];
    }
    return out;
}
