// "Read scan..." buttons of the desktop console's bidirectional rows.
#include "wxapp/scan_window.h"

#include <wx/button.h>
#include <wx/frame.h>

#include <filesystem>

#include "platform/dialog.h"
#include "platform/msgbox.h"
#include "platform/wx/wx_ui.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "vernier/vernier.h"
#endif

namespace {

// The add entry of each bidirectional row and the adjustment print it belongs to.
struct Row {
    int entry;
    int jobType;
};
const Row ROWS[6] = {{1058, 5}, {1053, 6}, {1049, 7}, {1183, 8}, {1184, 9}, {1185, 10}};
constexpr char BUTTON_NAME[] = "headalign-read-scan";

void chooseAndRead(int row) {
    static const char* const FILTERS[][2] = {{"Scans (*.png;*.jpg;*.jpeg)", "*.png;*.jpg;*.jpeg"}};
    FileDialogRequest request{"Read scan...", FILTERS, 1, "", ""};
    std::string path, message;
    auto dialog = reinterpret_cast<DialogHandle>(WxDialog_Frame());
    if (!Dialog_Backend() || !Dialog_Backend()->fileDialog(dialog, FILE_DIALOG_OPEN, request, &path)) return;
    if (!WxVernier_ReadInto(row, path, &message))
        MsgBox_Show(message.c_str(), "Read scan...", MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

}  // namespace

bool WxVernier_ReadInto(int row, const std::string& scanPath, std::string* message) {
#ifdef HEADALIGN_HAVE_VERNIER
    if (row < 0 || row >= 6) return false;
    VernierImage image;
    std::string error;
    if (!Vernier_LoadImage(scanPath, &image, &error)) {
        *message = error;
        return false;
    }
    VernierReading r = Vernier_ReadAs(image, Vernier_FamilyOfAdjustment(ROWS[row].jobType));
    Vernier_MarkGroups(&image, r);
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    std::string marked = (temp / "headalign-scan-marked.png").string();
    if (!ec && Vernier_SavePng(marked, image)) WxUi_ShowPicture(marked, scanPath);
    if (r.status != VERNIER_READ) {
        *message = "cannot read: " + r.reason;
        return false;
    }
    if (r.family != Vernier_FamilyOfAdjustment(ROWS[row].jobType)) {
        *message = std::string("cannot read: the scan shows a ") + Vernier_FamilyName(r.family) +
                   ", not this row's print";
        return false;
    }
    if (!r.certain) {
        *message = "not certain: the prints meet near \"" + Vernier_LabelText(r.group) + "\"; check the print";
        return false;
    }
    return WxDialog_Type(ROWS[row].entry, std::to_string(Vernier_GroupToEnter(r)));
#else
    (void)row, (void)scanPath;
    *message = "this build has no vernier reader";
    return false;
#endif
}

bool WxVernier_Install() {
#ifdef HEADALIGN_HAVE_VERNIER
    for (int i = 0; i < 6; ++i) {
        wxWindow* entry = WxDialog_Control(ROWS[i].entry);
        if (!entry || !entry->GetParent()) return false;
        wxWindow* parent = entry->GetParent();
        if (parent->FindWindow(wxString(BUTTON_NAME) + wxString::Format("%d", i))) continue;
        wxRect at = entry->GetRect();
        auto* button = new wxButton(parent, wxID_ANY, "...", wxPoint(at.GetRight() + 2, at.y),
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
