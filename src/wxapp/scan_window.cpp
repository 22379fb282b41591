// SPDX-License-Identifier: Apache-2.0
// "Read scan..." buttons of the desktop console's bidirectional rows.
#include "wxapp/scan_window.h"

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/progdlg.h>
#include <wx/statbox.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/dialog.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "platform/scanner.h"
#include "platform/wx/wx_ui.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "app/scan_entry.h"
#endif

namespace {

constexpr char BUTTON_NAME[] = "headalign-read-scan";
constexpr char SCAN_BUTTON_NAME[] = "headalign-scan";

bool chinese() { return Locale_IsChinese(); }

// Looking for scanners can take seconds (SANE asks every back end, some on the network), so the
// console does not wait for it: a thread of its own looks once per program, the "Scan" buttons
// stay greyed meanwhile, and a watcher on the dialog thread sets them when it is known.
struct ScannerLookup {
    std::atomic<bool> done{false};
    std::string first;  // the first scanner found, "" when none; written before `done`
    std::thread thread;
    ~ScannerLookup() {
        if (thread.joinable()) thread.join();
    }
};
ScannerLookup& lookup() {
    static ScannerLookup l;
    if (!l.thread.joinable() && !l.done)
        l.thread = std::thread([me = &l] {
            std::vector<ScannerDevice> devices;
            std::string error;
            if (Scanner_List(&devices, &error) && !devices.empty())
                me->first = devices.front().name;
            me->done = true;
        });
    return l;
}

// Sets the "Scan" buttons of a dialog from what the lookup found.
void showScanners(wxWindow* parent) {
    const ScannerLookup& l = lookup();
    for (int i = 0; i < SCAN_ROW_COUNT; ++i) {
        wxWindow* scan = parent->FindWindow(wxString(SCAN_BUTTON_NAME) + wxString::Format("%d", i));
        if (!scan) continue;
        const bool found = l.done && !l.first.empty();
        scan->Enable(found);
        scan->SetToolTip(!l.done ? (chinese() ? wxString::FromUTF8("正在查找扫描仪…")
                                              : wxString("Looking for scanners..."))
                         : found ? wxString::FromUTF8(l.first)
                                 : (chinese() ? wxString::FromUTF8("未找到扫描仪")
                                              : wxString("No scanner found")));
    }
}

// The layout has no room right of the bidirectional entries for two buttons: the column of
// frames on the left is widened to hold them, and everything right of it moves over.
void makeRoom(wxWindow* parent, int rightmost) {
    wxWindow* entry = WxDialog_Control(ScanRow_Entry(0));
    int edge = -1;
    for (wxWindow* child : parent->GetChildren())
        if (dynamic_cast<wxStaticBox*>(child) && child->GetRect().Contains(entry->GetRect()))
            edge = child->GetRect().GetRight();
    const int delta = rightmost + 6 - edge;
    if (edge < 0 || delta <= 0) return;
    for (wxWindow* child : parent->GetChildren()) {
        wxRect r = child->GetRect();
        if (child->GetName().StartsWith("headalign-")) continue;  // the buttons just placed
        if (dynamic_cast<wxStaticBox*>(child) && std::abs(r.GetRight() - edge) <= 1)
            child->SetSize(r.x, r.y, r.width + delta, r.height);
        else if (r.x > edge)
            child->Move(r.x + delta, r.y);
    }
    wxWindow* frame = WxDialog_Frame();
    const wxSize client = frame->GetClientSize();
    frame->SetClientSize(client.x + delta, client.y);
}

// An invisible child of the dialog that waits for the lookup: it goes with the dialog.
class ScannerWatch : public wxWindow {
  public:
    explicit ScannerWatch(wxWindow* parent)
        : wxWindow(parent, wxID_ANY, wxPoint(0, 0), wxSize(0, 0)) {
        Hide();
        timer_.SetOwner(this);
        Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            if (!lookup().done) return;
            timer_.Stop();
            showScanners(GetParent());
        });
        timer_.Start(100);
    }

  private:
    wxTimer timer_;
};

void scanAndRead(int row) {
    std::string message;
    if (!WxVernier_ScanInto(row, &message) && !message.empty())
        MsgBox_Show(message.c_str(), chinese() ? "扫描" : "Scan", MSGBOX_OK,
                    MSGBOX_ICON_INFORMATION);
}

void chooseAndRead(int row) {
    static const char* const FILTERS[][2] = {{"Scans (*.png;*.jpg;*.jpeg)", "*.png;*.jpg;*.jpeg"}};
    FileDialogRequest request{"Read scan...", FILTERS, 1, "", ""};
    std::string path, message;
    auto dialog = reinterpret_cast<DialogHandle>(WxDialog_Frame());
    if (!Dialog_Backend() ||
        !Dialog_Backend()->fileDialog(dialog, FILE_DIALOG_OPEN, request, &path))
        return;
    if (!WxVernier_ReadInto(row, path, &message))
        MsgBox_Show(message.c_str(), "Read scan...", MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

}  // namespace

bool WxVernier_ReadInto(int row, const std::string& scanPath, std::string* message) {
#ifdef HEADALIGN_HAVE_VERNIER
    ScanEntryResult result = Console_ReadScanInto(row, scanPath);
    if (result.marked) {
        // The picture window loads a file: the marked scan goes through a temporary one.
        std::error_code ec;
        std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
        std::string marked = (temp / "headalign-scan-marked.png").string();
        if (!ec && Vernier_SavePng(marked, result.picture)) WxUi_ShowPicture(marked, scanPath);
    }
    *message = result.message;
    return result.entered;
#else
    (void)row, (void)scanPath;
    *message = "this build has no vernier reader";
    return false;
#endif
}

#ifdef HEADALIGN_HAVE_VERNIER
namespace {
struct ScanWindow {
    wxProgressDialog* dialog;
    std::atomic<bool>* cancel;
};
void scanProgress(void* context, uint64_t done, uint64_t total) {
    auto* w = static_cast<ScanWindow*>(context);
    const int percent =
        total > 0 ? static_cast<int>(std::min<uint64_t>(done * 100 / total, 99)) : 0;
    // Update also serves the window's events: its Cancel is seen here, between two blocks.
    if (!w->dialog->Update(percent)) w->cancel->store(true);
}
}  // namespace
#endif

bool WxVernier_ScanInto(int row, std::string* message) {
#ifdef HEADALIGN_HAVE_VERNIER
    message->clear();
    if (row < 0 || row >= SCAN_ROW_COUNT) return false;
    const bool zh = chinese();
    ScanRequest request;
    request.maxPixels = VERNIER_DECODE_PIXELS;
    std::atomic<bool> cancel{false};
    request.cancel = &cancel;
    ImagePixels pixels;
    std::string detail;
    ScanStatus status;
    {
        wxProgressDialog dialog(
            zh ? wxString::FromUTF8("扫描") : wxString("Scan"),
            zh ? wxString::FromUTF8("正在扫描打印件…") : wxString("Scanning the print..."), 100,
            WxDialog_Frame(), wxPD_APP_MODAL | wxPD_CAN_ABORT | wxPD_AUTO_HIDE);
        ScanWindow window{&dialog, &cancel};
        request.progress = scanProgress;
        request.progressContext = &window;
        status = Scanner_Scan(request, &pixels, &detail);
    }
    if (status != ScanStatus::Ok) {
        *message = Scanner_StatusText(status, detail, zh);
        return false;
    }
    VernierImage image;
    std::string error;
    if (!Vernier_FromPixels(std::move(pixels), &image, &error)) {
        *message = error;
        return false;
    }
    // Kept beside the job's records (the log folder) so the reading can be checked later, never
    // over an earlier scan; where that folder is not there, in the temporary folder for this
    // reading only.
    const std::string what = "M" + std::to_string(5 + row);
    std::string path;
    if (!Scan_KeepPicture(image, LogDir_Get(), what, &path, &error)) {
        std::error_code ec;
        const std::string temp = std::filesystem::temp_directory_path(ec).string();
        if (ec || !Scan_KeepPicture(image, temp, what, &path, &error)) {
            *message = "the scan cannot be kept: " + error;
            return false;
        }
    }
    return WxVernier_ReadInto(row, path, message);
#else
    (void)row;
    *message = "this build has no vernier reader";
    return false;
#endif
}

bool WxScanner_Looked() { return lookup().done; }

std::string WxScanner_First() {
    const ScannerLookup& l = lookup();
    return l.done ? l.first : std::string();
}

bool WxVernier_Install() {
#ifdef HEADALIGN_HAVE_VERNIER
    lookup();
    wxWindow* parent = nullptr;
    int rightmost = -1;
    for (int i = 0; i < SCAN_ROW_COUNT; ++i) {
        wxWindow* entry = WxDialog_Control(ScanRow_Entry(i));
        if (!entry || !entry->GetParent()) return false;
        parent = entry->GetParent();
        if (parent->FindWindow(wxString(BUTTON_NAME) + wxString::Format("%d", i))) continue;
        wxRect at = entry->GetRect();
        auto* button =
            new wxButton(parent, wxID_ANY, "...", wxPoint(at.GetRight() + 2, at.y),
                         wxSize(at.height + 6, at.height), wxBU_EXACTFIT, wxDefaultValidator,
                         wxString(BUTTON_NAME) + wxString::Format("%d", i));
        button->SetToolTip("Read scan...");
        button->Bind(wxEVT_BUTTON, [i](wxCommandEvent&) { chooseAndRead(i); });
        wxRect read = button->GetRect();
        auto* scan = new wxButton(
            parent, wxID_ANY, chinese() ? wxString::FromUTF8("扫描") : wxString("Scan"),
            wxPoint(read.GetRight() + 2, at.y), wxSize(-1, at.height), wxBU_EXACTFIT,
            wxDefaultValidator, wxString(SCAN_BUTTON_NAME) + wxString::Format("%d", i));
        scan->Bind(wxEVT_BUTTON, [i](wxCommandEvent&) { scanAndRead(i); });
        rightmost = std::max(rightmost, scan->GetRect().GetRight());
    }
    if (rightmost >= 0) makeRoom(parent, rightmost);
    showScanners(parent);
    if (!lookup().done && !parent->FindWindow("headalign-scanner-watch"))
        (new ScannerWatch(parent))->SetName("headalign-scanner-watch");
    return true;
#else
    return false;
#endif
}
