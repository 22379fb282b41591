// SPDX-License-Identifier: Apache-2.0
// "Read scan..." buttons of the desktop console's bidirectional rows.
#include "wxapp/scan_window.h"

#include <wx/button.h>
#include <wx/frame.h>

#include <filesystem>

#include "platform/dialog.h"
#include "platform/msgbox.h"
#include "platform/wx/wx_ui.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "app/scan_entry.h"
#endif

namespace {

constexpr char BUTTON_NAME[] = "headalign-read-scan";

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

bool WxVernier_Install() {
#ifdef HEADALIGN_HAVE_VERNIER
    for (int i = 0; i < SCAN_ROW_COUNT; ++i) {
        wxWindow* entry = WxDialog_Control(ScanRow_Entry(i));
        if (!entry || !entry->GetParent()) return false;
        wxWindow* parent = entry->GetParent();
        if (parent->FindWindow(wxString(BUTTON_NAME) + wxString::Format("%d", i))) continue;
        wxRect at = entry->GetRect();
        auto* button =
            new wxButton(parent, wxID_ANY, "...", wxPoint(at.GetRight() + 2, at.y),
                         wxSize(at.height + 6, at.height), wxBU_EXACTFIT, wxDefaultValidator,
                         wxString(BUTTON_NAME) + wxString::Format("%d", i));
        button->SetToolTip("Read scan...");
        button->Bind(wxEVT_BUTTON, [i](wxCommandEvent&) { chooseAndRead(i); });
    }
    return true;
#else
    return false;
#endif
}
