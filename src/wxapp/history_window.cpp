// SPDX-License-Identifier: Apache-2.0
// The desktop console's history window.
#include "wxapp/history_window.h"

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/mstream.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <cstdio>

#include "app/console.h"
#include "history/analysis.h"
#include "history/history.h"
#include "platform/locale.h"
#include "platform/wx/wx_ui.h"

namespace {

constexpr char BUTTON_NAME[] = "headalign-history";
constexpr char WINDOW_NAME[] = "headalign-history-window";

// Fills the window from the history file as it is now.
void fill(wxFrame* frame, const std::string& key, bool chinese) {
    frame->DestroyChildren();
    auto* panel = new wxPanel(frame);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    std::vector<HistoryEntry> entries;
    std::string error;
    const std::string path = History_FilePath(key);
    const bool loaded = History_Load(path, key, &entries, &error);
    std::vector<HistorySeries> series = History_Series(entries);
    std::vector<HistoryDrift> drifts = History_Drifts(series);
    std::string words;
    if (!loaded)
        words = error;
    else if (drifts.empty())
        words = chinese ? "没有漂移超过一组的模式" : "no mode has drifted by more than a group";
    for (const HistoryDrift& d : drifts)
        words += (words.empty() ? "" : "\n") + History_DriftText(d, chinese);
    auto* said = new wxStaticText(panel, wxID_ANY, wxString::FromUTF8(words), wxDefaultPosition,
                                  wxDefaultSize, 0, "headalign-history-words");
    sizer->Add(said, 0, wxALL, 8);

    std::vector<uint8_t> png;
    if (loaded && History_PlotPng(series, drifts, key, chinese, &png, &error)) {
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
        wxMemoryInputStream stream(png.data(), png.size());
        wxImage image(stream, wxBITMAP_TYPE_PNG);
        if (image.IsOk()) {
            // Fits a laptop's screen beside the console.
            image.Rescale(image.GetWidth() * 4 / 5, image.GetHeight() * 4 / 5,
                          wxIMAGE_QUALITY_HIGH);
            sizer->Add(new wxStaticBitmap(panel, wxID_ANY, wxBitmap(image), wxDefaultPosition,
                                          wxDefaultSize, 0, "headalign-history-plot"),
                       0, wxLEFT | wxRIGHT, 8);
        }
    } else if (loaded) {
        sizer->Add(new wxStaticText(panel, wxID_ANY, wxString::FromUTF8(error)), 0, wxALL, 8);
    }

    auto* list =
        new wxListCtrl(panel, wxID_ANY, wxDefaultPosition, wxSize(-1, 200),
                       wxLC_REPORT | wxLC_SINGLE_SEL, wxDefaultValidator, "headalign-history-list");
    const HistoryRow titles = History_ColumnTitles(chinese);
    const int WIDTHS[HISTORY_COLUMNS] = {140, 100, 140, 300, 180};
    for (int c = 0; c < HISTORY_COLUMNS; ++c)
        list->InsertColumn(c, wxString::FromUTF8(titles.columns[c]), wxLIST_FORMAT_LEFT, WIDTHS[c]);
    // Newest first: what was done last is what the technician looks for.
    long row = 0;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it, ++row) {
        const HistoryRow columns = History_EntryRow(*it, chinese);
        list->InsertItem(row, wxString::FromUTF8(columns.columns[0]));
        for (int c = 1; c < HISTORY_COLUMNS; ++c)
            if (!columns.columns[c].empty())
                list->SetItem(row, c, wxString::FromUTF8(columns.columns[c]));
    }
    sizer->Add(list, 1, wxEXPAND | wxALL, 8);
    panel->SetSizer(sizer);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(panel, 1, wxEXPAND);
    frame->SetSizerAndFit(outer);
}

}  // namespace

wxFrame* WxHistory_Show() {
    HistoryState* state = OwnedState<HistoryState>::find();
    if (!state || state->printerKey.empty()) return nullptr;
    const bool chinese = Locale_IsChinese();
    wxWindow* found = wxWindow::FindWindowByName(WINDOW_NAME);
    auto* frame = dynamic_cast<wxFrame*>(found);
    if (!frame) {
        frame = new wxFrame(WxDialog_Frame(), wxID_ANY,
                            wxString::FromUTF8(chinese ? "校准历史" : "Calibration history"),
                            wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE, WINDOW_NAME);
    }
    fill(frame, state->printerKey, chinese);
    frame->Show();
    frame->Raise();
    return frame;
}

bool WxHistory_Install() {
    wxFrame* dialog = WxDialog_Frame();
    wxWindow* import = WxDialog_Control(ID_IMPORT);
    wxWindow* exportButton = WxDialog_Control(ID_EXPORT);
    if (!dialog || !import || !exportButton || !import->GetParent()) return false;
    wxWindow* parent = import->GetParent();
    if (parent->FindWindow(BUTTON_NAME)) return true;
    const wxRect at = import->GetRect();
    const int gap = at.x - exportButton->GetRect().GetRight();
    auto* button = new wxButton(parent, wxID_ANY,
                                wxString::FromUTF8(Locale_IsChinese() ? "历史..." : "History..."),
                                wxPoint(at.GetRight() + gap, at.y), wxSize(at.width * 2, at.height),
                                0, wxDefaultValidator, BUTTON_NAME);
    button->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { WxHistory_Show(); });
    return true;
}
