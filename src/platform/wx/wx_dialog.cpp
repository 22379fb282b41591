// SPDX-License-Identifier: Apache-2.0
// The console's window on wxWidgets: controls built from the layout in dialog units, their
// state by control ID, commands delivered to the dialog procedure, and the message loop.
#include <wx/combobox.h>
#include <wx/evtloop.h>
#include <wx/statbox.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/locale.h"
#include "platform/wx/wx_internal.h"

namespace wxui {
namespace {

DialogWindow window;
wxEventLoopBase* activeLoop = nullptr;
bool quitPending = false;
int quitCode = 0;
std::function<void(int)> afterCommand;

// wxWidgets keeps wxID_LOWEST..wxID_HIGHEST (its stock IDs, OK and Cancel among them) for
// itself; a console ID in that range is carried by a window ID outside it.
constexpr int ID_SHIFT = 20000;
int wxIdOf(int id) { return (id >= wxID_LOWEST && id <= wxID_HIGHEST) ? id + ID_SHIFT : id; }

// Notification codes the window system reports with a command (high word of wParam).
constexpr int NOTIFY_CLICKED = 0;
constexpr int NOTIFY_EDIT_CHANGE = 0x0300;
constexpr int NOTIFY_LIST_EDIT_CHANGE = 5;

DialogHandle handleOf(const wxFrame* f) { return reinterpret_cast<DialogHandle>(f); }

Control* find(int id) {
    auto it = window.controls.find(id);
    return it == window.controls.end() ? nullptr : &it->second;
}
template <class T>
T* as(int id) {
    Control* c = find(id);
    return c ? dynamic_cast<T*>(c->window) : nullptr;
}

bool isLabelKind(DialogControlKind k) {
    return k == CTL_STATIC || k == CTL_BUTTON || k == CTL_CHECK;
}
// A static whose layout height holds more than one line wraps its text like a Windows static.
bool wrapsText(const DialogControlSpec& s) { return s.kind == CTL_STATIC && s.height >= 16; }

bool breaksAnywhere(wxUniChar c) { return c.GetValue() >= 0x2E80; }  // CJK: no spaces between words

// Breaks each line of `text` so that it fits `widthPx`: after a blank or between ideographs.
wxString wrapText(const wxString& text, int widthPx, wxWindow* measure) {
    wxString out;
    wxArrayString lines = wxSplit(text, '\n', '\0');
    for (size_t n = 0; n < lines.size(); ++n) {
        if (n) out += '\n';
        wxString line = lines[n];
        while (!line.empty() && measure->GetTextExtent(line).x > widthPx) {
            size_t cut = 0;
            for (size_t i = 1; i < line.size(); ++i) {
                if (measure->GetTextExtent(line.Left(i)).x > widthPx) break;
                if (line[i - 1] == ' ' || breaksAnywhere(line[i - 1]) || breaksAnywhere(line[i]))
                    cut = i;
            }
            if (cut == 0) break;  // one word wider than the control: leave it to the fit below
            out += line.Left(cut) + '\n';
            line = line.Mid(cut);
        }
        out += line;
    }
    return out;
}

// Blanks at the end of a label's lines show nothing; GTK would still wrap the label to make
// room for them.
wxString withoutTrailingBlanks(const wxString& text) {
    wxArrayString lines = wxSplit(text, '\n', '\0');
    for (wxString& line : lines) line.Trim(true);
    return wxJoin(lines, '\n', '\0');
}

int toDialogUnitsX(int px) {
    int du = window.frame->ConvertPixelsToDialog(wxSize(px, 0)).x;
    while (window.frame->ConvertDialogToPixels(wxSize(du, 0)).x < px) ++du;
    return du;
}

// The rectangle of a control on this system: its layout rectangle, where a label whose text
// needs more room grows to the right, and anything the toolkit cannot draw in its layout
// height grows about its centre line.
void fitControl(Control& c) {
    const DialogControlSpec& s = c.def;
    wxPoint pos = window.frame->ConvertDialogToPixels(wxPoint(s.x, s.y));
    wxSize size = window.frame->ConvertDialogToPixels(wxSize(s.width, s.height));
    wxWindow* w = c.window;
    if (isLabelKind(s.kind)) {
        wxString shown = withoutTrailingBlanks(fromUtf8(c.text));
        if (wrapsText(s)) shown = wrapText(shown, size.x, window.panel);
        if (auto* labelled = dynamic_cast<wxControl*>(w)) labelled->SetLabelText(shown);
    }
    w->InvalidateBestSize();
    wxSize best = w->GetBestSize();
    if (s.kind == CTL_LIST) size.y = best.y;  // the layout height is that of the dropped list
    c.neededWidth = 0;
    if (isLabelKind(s.kind) && best.x > size.x) {
        c.neededWidth = best.x;
        size.x = best.x;
    }
    if (best.y > size.y) {
        pos.y -= (best.y - size.y) / 2;
        size.y = best.y;
    }
    c.rect = wxRect(pos, size);
}

wxPoint centre(const wxRect& r) { return wxPoint(r.x + r.width / 2, r.y + r.height / 2); }

bool sameRow(const wxRect& a, const wxRect& b) {
    const int ca = a.y + a.height / 2, cb = b.y + b.height / 2;
    return std::abs(ca - cb) < std::min(a.height, b.height) / 2 + 2;
}

// The innermost group box around a point, or the whole panel.
wxRect enclosingFrame(const wxPoint& p) {
    wxRect best(wxPoint(0, 0), window.panel->GetClientSize());
    bool found = false;
    for (const wxRect& f : window.frames) {
        if (!f.Contains(p)) continue;
        if (!found || f.width * f.height < best.width * best.height) best = f;
        found = true;
    }
    return best;
}

// Room a control can give up at its left edge without hiding its own text.
int spareLeft(const Control& c) {
    if (c.def.kind != CTL_BUTTON && c.def.kind != CTL_STATIC) return 0;
    return std::max(0, c.rect.width - c.window->GetBestSize().x);
}

// A label that grew over its right neighbour moves left into free room; then the neighbour
// gives up spare room at its left edge; what is left of the overlap pushes the rest of the
// row to the right when the row's area has room.
void resolveOverlap(Control& label) {
    const int gap = 2;
    wxRect& r = label.rect;
    const wxRect area = enclosingFrame(centre(r));
    int leftLimit = area.x + gap, rowRight = 0;
    Control* neighbour = nullptr;
    for (auto& [id, c] : window.controls) {
        if (&c == &label || !sameRow(r, c.rect) || !area.Contains(centre(c.rect))) continue;
        if (c.rect.x > r.x) {
            if (!neighbour || c.rect.x < neighbour->rect.x) neighbour = &c;
            rowRight = std::max(rowRight, c.rect.GetRight());
        } else {
            leftLimit = std::max(leftLimit, c.rect.GetRight() + gap);
        }
    }
    if (!neighbour) return;
    const int neighbourLeft = neighbour->rect.x;
    int overlap = r.GetRight() + gap - neighbourLeft;
    if (overlap <= 0) return;
    const int left = std::min(overlap, std::max(0, r.x - leftLimit));
    r.x -= left;
    overlap -= left;
    const int shrink = std::min(overlap, spareLeft(*neighbour));
    neighbour->rect.x += shrink;
    neighbour->rect.width -= shrink;
    overlap -= shrink;
    if (overlap <= 0 || rowRight + overlap > area.GetRight() - gap) return;
    for (auto& [id, c] : window.controls)
        if (&c != &label && sameRow(r, c.rect) && area.Contains(centre(c.rect)) &&
            c.rect.x >= neighbourLeft)
            c.rect.x += overlap;
}

int toDialogUnits(int px) { return px >= 0 ? toDialogUnitsX(px) : -toDialogUnitsX(-px); }

// Places every control: fitted, overlaps resolved, each departure from the layout listed.
void relayout() {
    for (auto& [id, c] : window.controls) c.rect = c.fitted;
    for (const DialogControlSpec* s = window.layout->controls;
         s != window.layout->controls + window.layout->count; ++s) {
        Control& c = window.controls[s->id];
        if (isLabelKind(s->kind) && c.neededWidth) resolveOverlap(c);
    }
    window.adjustments.clear();
    for (auto& [id, c] : window.controls) {
        const int moved = toDialogUnits(c.rect.x - c.fitted.x);
        const int width = c.rect.width == c.fitted.width && !c.neededWidth
                              ? c.def.width
                              : toDialogUnitsX(c.rect.width);
        if (c.neededWidth || moved || width != c.def.width)
            window.adjustments[id] = WxLabelAdjustment{id, c.text, c.def.width, width, moved};
        if (c.window->GetRect() != c.rect) c.window->SetSize(c.rect);
    }
}

void refit(Control& c) {
    fitControl(c);
    c.fitted = c.rect;
    relayout();
}

wxWindow* createControl(const DialogControlSpec& s) {
    wxPanel* p = window.panel;
    const int wid = wxIdOf(s.id);
    const wxString text = fromUtf8(s.text);
    switch (s.kind) {
        case CTL_STATIC:
            return new wxStaticText(p, wid, text, wxDefaultPosition, wxDefaultSize,
                                    wxST_NO_AUTORESIZE);
        case CTL_BUTTON:
            return new wxButton(p, wid, text, wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
        case CTL_CHECK:
            return new wxCheckBox(p, wid, text);
        case CTL_EDIT:
            return new wxTextCtrl(p, wid, text);
        case CTL_READONLY_EDIT:
            return new wxTextCtrl(p, wid, text, wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
        case CTL_LIST:
            return new wxComboBox(p, wid, text, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                                  wxCB_DROPDOWN);
    }
    return nullptr;
}

intptr_t deliver(uint32_t message, uintptr_t wParam) {
    if (!window.proc || !window.frame) return 0;
    return window.proc(handleOf(window.frame), message, wParam, 0);
}

}  // namespace

void command(int id, int notification) {
    if (!window.frame) return;
    if (window.commandDepth++ == 0)
        window.commandStartMs = static_cast<long>(wxGetLocalTimeMillis().GetValue());
    intptr_t handled = window.proc(handleOf(window.frame), DLGMSG_COMMAND,
                                   Dialog_CommandParam(id, notification), 0);
    if (--window.commandDepth == 0) closeProgress();
    if (handled && afterCommand) afterCommand(id);
}

}  // namespace wxui

void WxUi_RunAsCommand(const std::function<void()>& work) {
    using namespace wxui;
    DialogWindow& d = dialogWindow();
    if (d.commandDepth++ == 0)
        d.commandStartMs = static_cast<long>(wxGetLocalTimeMillis().GetValue());
    work();
    if (--d.commandDepth == 0) closeProgress();
}

namespace wxui {
namespace {

int consoleIdOf(const wxEvent& e) {
    auto it = window.consoleIdOfWindow.find(e.GetId());
    return it == window.consoleIdOfWindow.end() ? -1 : it->second;
}

void onClicked(wxCommandEvent& e) {
    int id = consoleIdOf(e);
    if (id >= 0) command(id, NOTIFY_CLICKED);
}
void onListSelected(wxCommandEvent& e) {
    int id = consoleIdOf(e);
    if (id >= 0) command(id, static_cast<int>(DLG_NOTIFY_SELCHANGE));
}
void onTextChanged(wxCommandEvent& e) {
    int id = consoleIdOf(e);
    Control* c = find(id);
    if (!c || window.commandDepth > 0) return;  // changes made by a command are not typing
    command(id, c->def.kind == CTL_LIST ? NOTIFY_LIST_EDIT_CHANGE : NOTIFY_EDIT_CHANGE);
}
void onMenu(wxCommandEvent& e) { command(e.GetId(), NOTIFY_CLICKED); }
void onClose(wxCloseEvent& e) {
    if (e.CanVeto()) e.Veto();            // the procedure decides; it destroys the dialog itself
    if (window.commandDepth > 0) return;  // no exit in the middle of a print job
    deliver(DLGMSG_CLOSE, 0);
}

// The layout's menus (the commands that have no place among its controls), as a menu bar.
void buildMenuBar(wxFrame* f, const DialogLayout* layout, bool chinese) {
    if (layout->menuCount == 0) return;
    auto text = [chinese](const char* zh, const char* en) {
        return chinese ? wxString::FromUTF8(zh) : wxString::FromUTF8(en);
    };
    auto* bar = new wxMenuBar;
    for (size_t m = 0; m < layout->menuCount; ++m) {
        const DialogMenu& menu = layout->menus[m];
        auto* entries = new wxMenu;
        for (size_t i = 0; i < menu.count; ++i) {
            const DialogMenuItem& item = menu.items[i];
            if (item.id == 0)
                entries->AppendSeparator();
            else
                entries->Append(item.id, text(item.text, item.englishText));
        }
        bar->Append(entries, text(menu.title, menu.englishTitle));
    }
    f->SetMenuBar(bar);
    f->Bind(wxEVT_MENU, onMenu);
}

void bindEvents() {
    wxPanel* p = window.panel;
    p->Bind(wxEVT_BUTTON, onClicked);
    p->Bind(wxEVT_CHECKBOX, onClicked);
    p->Bind(wxEVT_COMBOBOX, onListSelected);
    p->Bind(wxEVT_TEXT, onTextChanged);
    window.frame->Bind(wxEVT_CLOSE_WINDOW, onClose);
}

// Client area: the layout's size, or more where labels had to grow.
void sizeFrame() {
    const DialogLayout* l = window.layout;
    wxSize size = window.frame->ConvertDialogToPixels(wxSize(l->width, l->height));
    const int margin = window.frame->ConvertDialogToPixels(wxSize(4, 0)).x;
    for (auto& [id, c] : window.controls) {
        wxRect r = c.window->GetRect();
        size.x = std::max(size.x, r.GetRight() + margin);
        size.y = std::max(size.y, r.GetBottom() + margin);
    }
    window.frame->SetClientSize(size);
}

DialogHandle create(const DialogLayout* layout, DialogProc proc) {
    if (!WxUi_Started() || window.frame) return DIALOG_NONE;
    auto* f = new wxFrame(nullptr, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                          wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX);
    // Dialog units follow the top-level window's font, as they follow the dialog font on Windows.
    f->SetFont(dialogFont());
    window = DialogWindow{};
    window.frame = f;
    window.proc = proc;
    window.layout = layout;
    window.panel = new wxPanel(f, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0);
    f->SetPosition(f->ConvertDialogToPixels(wxPoint(layout->x, layout->y)));
    for (size_t i = 0; i < layout->frameCount; ++i) {
        const DialogFrame& r = layout->frames[i];
        wxRect box(f->ConvertDialogToPixels(wxPoint(r.x, r.y)),
                   f->ConvertDialogToPixels(wxSize(r.width, r.height)));
        new wxStaticBox(window.panel, wxID_ANY, wxString(), box.GetPosition(), box.GetSize());
        window.frames.push_back(box);
    }
    for (size_t i = 0; i < layout->count; ++i) {
        const DialogControlSpec& s = layout->controls[i];
        Control c;
        c.def = s;
        c.window = createControl(s);
        c.text = s.text ? s.text : "";
        window.consoleIdOfWindow[wxIdOf(s.id)] = s.id;
        auto& placed = window.controls[s.id] = c;
        fitControl(placed);
        placed.fitted = placed.rect;
    }
    relayout();
    buildMenuBar(f, layout, Locale_IsChinese());
    bindEvents();
    sizeFrame();
    f->SetIcon(consoleIcon());
    deliver(DLGMSG_INIT, 0);
    if (!window.frame) return DIALOG_NONE;  // the procedure gave up during initialisation
    sizeFrame();
    return handleOf(f);
}

void destroy(DialogHandle) {
    wxFrame* f = window.frame;
    if (!f) return;
    closeProgress();
    DialogProc proc = window.proc;
    window.frame = nullptr;
    window.panel = nullptr;
    window.controls.clear();
    window.consoleIdOfWindow.clear();
    f->Hide();
    f->Destroy();
    if (proc) proc(handleOf(f), DLGMSG_DESTROY, 0, 0);
}

void postQuit(int code) {
    if (activeLoop) {
        activeLoop->ScheduleExit(code);
    } else {
        quitPending = true;
        quitCode = code;
    }
}

int runLoop() {
    if (quitPending) {
        quitPending = false;
        return quitCode;
    }
    wxEventLoop loop;
    activeLoop = &loop;
    int code = loop.Run();
    activeLoop = nullptr;
    quitPending = false;
    return code;
}

// Show commands of the Windows entry: 0 hides, 2, 6, 7 and 11 minimise, the rest show.
void show(DialogHandle, int showCommand) {
    if (!window.frame) return;
    if (showCommand == 0) {
        window.frame->Hide();
        return;
    }
    window.frame->Show();
    if (showCommand == 2 || showCommand == 6 || showCommand == 7 || showCommand == 11)
        window.frame->Iconize();
}

void setTitle(DialogHandle, const char* title) {
    if (window.frame) window.frame->SetTitle(fromUtf8(title));
}
void setIcon(DialogHandle, int) {
    if (window.frame) window.frame->SetIcon(consoleIcon());
}

void setText(DialogHandle, int id, const char* text) {
    Control* c = find(id);
    if (!c) return;
    c->text = text ? text : "";
    if (isLabelKind(c->def.kind)) {
        refit(*c);
    } else if (auto* e = dynamic_cast<wxTextEntry*>(c->window)) {
        e->ChangeValue(fromUtf8(c->text));
    }
}

std::string getText(DialogHandle, int id) {
    Control* c = find(id);
    if (!c) return {};
    if (auto* e = dynamic_cast<wxTextEntry*>(c->window)) return toUtf8(e->GetValue());
    return c->text;
}

void setCheck(DialogHandle, int id, bool on) {
    if (auto* b = as<wxCheckBox>(id)) b->SetValue(on);
}
bool isChecked(DialogHandle, int id) {
    auto* b = as<wxCheckBox>(id);
    return b && b->GetValue();
}
void enable(DialogHandle, int id, bool on) {
    if (Control* c = find(id)) c->window->Enable(on);
}
void showControl(DialogHandle, int id, bool visible) {
    if (Control* c = find(id)) c->window->Show(visible);
    // The menu entry of a command follows its control.
    if (window.frame && window.frame->GetMenuBar()) {
        if (wxMenuItem* item = window.frame->GetMenuBar()->FindItem(id)) item->Enable(visible);
    }
}

void listClear(DialogHandle, int id) {
    if (auto* l = as<wxComboBox>(id)) l->Clear();
}
void listAdd(DialogHandle, int id, const char* text) {
    if (auto* l = as<wxComboBox>(id)) l->Append(fromUtf8(text));
}
void listSelect(DialogHandle, int id, int index) {
    auto* l = as<wxComboBox>(id);
    if (!l) return;
    if (index >= 0 && index < static_cast<int>(l->GetCount())) {
        l->SetSelection(index);
    } else {
        l->SetSelection(wxNOT_FOUND);
        l->ChangeValue(wxString());
    }
}
int listSelection(DialogHandle, int id) {
    auto* l = as<wxComboBox>(id);
    return l ? l->GetSelection() : -1;
}
int listCount(DialogHandle, int id) {
    auto* l = as<wxComboBox>(id);
    return l ? static_cast<int>(l->GetCount()) : 0;
}

int messageBox(DialogHandle, const char* text, const char* caption, int buttons, int icon) {
    return showBoxOnDialogThread(
        WxShownBox{text ? text : "", caption ? caption : "", buttons, icon, false});
}

const DialogBackend BACKEND{
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

}  // namespace

DialogWindow& dialogWindow() { return window; }

void setAfterCommand(std::function<void(int)> hook) { afterCommand = std::move(hook); }

}  // namespace wxui

const DialogBackend* WxDialog_Backend() { return &wxui::BACKEND; }
void WxUi_SetAfterCommand(std::function<void(int id)> hook) {
    wxui::setAfterCommand(std::move(hook));
}
wxFrame* WxDialog_Frame() { return wxui::dialogWindow().frame; }
wxWindow* WxDialog_Control(int id) {
    auto& w = wxui::dialogWindow();
    auto it = w.controls.find(id);
    return it == w.controls.end() ? nullptr : it->second.window;
}
int WxDialog_WindowId(int id) { return wxui::wxIdOf(id); }
std::vector<WxLabelAdjustment> WxDialog_Adjustments() {
    std::vector<WxLabelAdjustment> out;
    for (auto& [id, a] : wxui::dialogWindow().adjustments) out.push_back(a);
    return out;
}

// The operator's actions by console ID, as the toolkit would report them.
bool WxDialog_Click(int id) {
    wxWindow* w = WxDialog_Control(id);
    if (!w || !w->IsEnabled() || !w->IsShown()) return false;
    if (auto* box = dynamic_cast<wxCheckBox*>(w)) {
        box->SetValue(!box->GetValue());
        wxCommandEvent e(wxEVT_CHECKBOX, w->GetId());
        e.SetEventObject(w);
        e.SetInt(box->GetValue());
        return w->ProcessWindowEvent(e), true;
    }
    wxCommandEvent e(wxEVT_BUTTON, w->GetId());
    e.SetEventObject(w);
    w->ProcessWindowEvent(e);
    return true;
}

bool WxDialog_Select(int id, int index) {
    auto* l = dynamic_cast<wxComboBox*>(WxDialog_Control(id));
    if (!l || !l->IsEnabled() || !l->IsShown() || index < 0 ||
        index >= static_cast<int>(l->GetCount()))
        return false;
    l->SetSelection(index);
    wxCommandEvent e(wxEVT_COMBOBOX, l->GetId());
    e.SetEventObject(l);
    e.SetInt(index);
    l->ProcessWindowEvent(e);
    return true;
}

bool WxDialog_Type(int id, const std::string& text) {
    auto* e = dynamic_cast<wxTextEntry*>(WxDialog_Control(id));
    if (!e) return false;
    e->SetValue(wxui::fromUtf8(text));
    return true;
}

void WxDialog_Command(int id, int notification) { wxui::command(id, notification); }
void WxDialog_Close() {
    if (wxFrame* f = WxDialog_Frame()) f->Close();
}
