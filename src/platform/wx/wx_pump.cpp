// SPDX-License-Identifier: Apache-2.0
// What the console's window does while a command holds the dialog thread (a print job):
// paints, shows the job's progress with a Cancel button and serves boxes of other threads.
// Also the picture window, screenshots and delayed steps of scripted runs.
#include <wx/statbmp.h>
#include <wx/timer.h>

#include <algorithm>
#include <memory>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/image_codec.h"
#include "platform/locale.h"
#include "platform/wx/wx_internal.h"

namespace wxui {
namespace {

const ClockBackend* innerClock = nullptr;
long lastPumpMs = 0;
wxFrame* progress = nullptr;
wxStaticText* progressLine = nullptr;
wxFrame* picture = nullptr;
const WxProgressSource* progressSource = nullptr;
std::vector<std::unique_ptr<wxTimer>> stepTimers;

// A command that has run this long is a print job (or a wait) worth a progress window.
constexpr long PROGRESS_AFTER_MS = 300;
constexpr long PUMP_EVERY_MS = 40;

long nowMs() { return static_cast<long>(wxGetLocalTimeMillis().GetValue()); }
bool chinese() { return Locale_IsChinese(); }

wxString swathText() {
    const int swath = progressSource ? progressSource->swathNumber() : 0;
    return chinese() ? wxString::Format(wxString::FromUTF8("正在发送第 %d 个扫描带"), swath)
                     : wxString::Format("Sending swath %d", swath);
}

void onCancel(wxCommandEvent& e) {
    if (progressSource) progressSource->requestCancel();
    if (auto* b = dynamic_cast<wxButton*>(e.GetEventObject())) b->Disable();
    if (progressLine)
        progressLine->SetLabelText(chinese() ? wxString::FromUTF8("正在取消…")
                                             : wxString("Cancelling..."));
}

void openProgress() {
    wxFrame* owner = dialogWindow().frame;
    progress = new wxFrame(owner, wxID_ANY,
                           chinese() ? wxString::FromUTF8("正在打印") : wxString("Printing"),
                           wxDefaultPosition, wxDefaultSize,
                           wxCAPTION | wxFRAME_FLOAT_ON_PARENT | wxFRAME_TOOL_WINDOW);
    progress->SetFont(dialogFont());
    auto* panel = new wxPanel(progress);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    progressLine = new wxStaticText(panel, wxID_ANY, swathText());
    auto* cancel = new wxButton(panel, wxID_CANCEL,
                                chinese() ? wxString::FromUTF8("取消") : wxString("Cancel"));
    cancel->Bind(wxEVT_BUTTON, onCancel);
    sizer->Add(progressLine, 0, wxALL, 12);
    sizer->Add(cancel, 0, wxALIGN_CENTER | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    panel->SetSizerAndFit(sizer);
    progress->SetClientSize(panel->GetSize());
    progress->CentreOnParent();
    progress->Show();
}

void pumpSleep(uint32_t ms) {
    if (WxUi_Started() && wxThread::IsMain()) WxUi_Pump();
    innerClock->sleepMs(ms);
}
uint32_t pumpTick() { return innerClock->tickMs(); }
void pumpLocalTime(LocalTime* out) { innerClock->localTime(out); }
const ClockBackend PUMPED{
    .sleepMs = pumpSleep,
    .tickMs = pumpTick,
    .localTime = pumpLocalTime,
};

wxRect unite(wxRect a, const wxRect& b) { return a.Union(b); }

}  // namespace

void closeProgress() {
    if (!progress) return;
    progress->Destroy();
    progress = nullptr;
    progressLine = nullptr;
}

}  // namespace wxui

void WxUi_InstallClockPump() {
    if (Clock_Backend() == &wxui::PUMPED) return;
    wxui::innerClock = Clock_Backend();
    Clock_Install(&wxui::PUMPED);
}

void WxUi_UninstallClockPump() {
    if (Clock_Backend() == &wxui::PUMPED) Clock_Install(wxui::innerClock);
}

void WxUi_Pump() {
    using namespace wxui;
    serveBoxesFromOtherThreads();
    DialogWindow& d = dialogWindow();
    if (d.commandDepth == 0 || !d.frame) return;
    const long now = nowMs();
    if (now - lastPumpMs < PUMP_EVERY_MS) return;
    lastPumpMs = now;
    if (!progress && progressSource && now - d.commandStartMs >= PROGRESS_AFTER_MS) openProgress();
    if (progressLine && progressLine->IsEnabled() && progress->FindWindow(wxID_CANCEL)->IsEnabled())
        progressLine->SetLabelText(swathText());
    // Everything but the progress window stays disabled: the job owns the dialog thread, so
    // nothing but painting and Cancel may happen until it returns.
    wxSafeYield(progress, true);
}

void WxUi_SetProgressSource(const WxProgressSource* source) { wxui::progressSource = source; }

wxWindow* WxDialog_ProgressWindow() { return wxui::progress; }
wxFrame* WxUi_PictureWindow() { return wxui::picture; }

void WxUi_ShowPicture(const std::string& pngPath, const std::string& caption) {
    using namespace wxui;
    wxImage image;
#ifdef HEADALIGN_WX_CODEC
    // Through the files seam and the picture codec, within the decode budget like any picture;
    // decoded reduced, since the window shows it at most 520 x 760.
    constexpr ImageLimits SHOWN{30000, 150000000, 4000000};
    std::vector<uint8_t> bytes;
    ImagePixels pixels;
    std::string error;
    if (!File_ReadRegular(pngPath, size_t(64) << 20, &bytes).ok() ||
        !ImageCodec_Backend()->decodePng(bytes.data(), bytes.size(), SHOWN, &pixels, &error))
        return;
    image.Create(int(pixels.width), int(pixels.height), false);
    std::copy(pixels.rgb.begin(), pixels.rgb.end(), image.GetData());
#else
    if (!wxFileExists(fromUtf8(pngPath)) || !image.LoadFile(fromUtf8(pngPath), wxBITMAP_TYPE_PNG))
        return;
#endif
    if (picture) picture->Destroy();
    wxFrame* owner = dialogWindow().frame;
    const wxSize limit(520, 760);
    double scale = std::min(
        1.0, std::min(double(limit.x) / image.GetWidth(), double(limit.y) / image.GetHeight()));
    if (scale < 1.0)
        image = image.Scale(std::max(1, int(image.GetWidth() * scale)),
                            std::max(1, int(image.GetHeight() * scale)), wxIMAGE_QUALITY_HIGH);
    picture = new wxFrame(owner, wxID_ANY, fromUtf8(caption), wxDefaultPosition, wxDefaultSize,
                          wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX);
    // Closed by the operator or destroyed with the dialog, its owner.
    picture->Bind(wxEVT_DESTROY, [](wxWindowDestroyEvent& e) {
        if (e.GetEventObject() == wxui::picture) wxui::picture = nullptr;
        e.Skip();
    });
    new wxStaticBitmap(picture, wxID_ANY, wxBitmap(image));
    picture->SetClientSize(image.GetWidth(), image.GetHeight());
    if (owner)
        picture->SetPosition(
            wxPoint(owner->GetScreenRect().GetRight() + 8, owner->GetScreenPosition().y));
    picture->Show();
}

bool WxUi_Screenshot(const std::string& pngPath, wxWindow* extra) {
    wxFrame* f = WxDialog_Frame();
    if (!f) return false;
    // The screen is read back as it stands: have every window drawn first.
    for (wxWindow* w : {static_cast<wxWindow*>(f), extra}) {
        if (!w) continue;
        w->Raise();
        w->Refresh();
        w->Update();
    }
    wxYield();
    wxRect r = f->GetScreenRect();
    if (extra) r = wxui::unite(r, extra->GetScreenRect());
    wxImage shot;
    if (!wxui::gtkGrabScreen(r, &shot)) return false;
    return shot.SaveFile(wxui::fromUtf8(pngPath), wxBITMAP_TYPE_PNG);
}

bool WxUi_ScreenshotOf(const std::string& pngPath, wxWindow* window) {
    if (!window) return false;
    window->Raise();
    window->Refresh();
    window->Update();
    wxYield();
    wxImage shot;
    if (!wxui::gtkGrabScreen(window->GetScreenRect(), &shot)) return false;
    return shot.SaveFile(wxui::fromUtf8(pngPath), wxBITMAP_TYPE_PNG);
}

void WxUi_After(int delayMs, std::function<void()> step) {
    auto timer = std::make_unique<wxTimer>();
    // The step runs from the event queue, never inside the timer's own callback, so a step
    // that opens a box (a nested loop) cannot outlive its timer.
    timer->Bind(wxEVT_TIMER, [step](wxTimerEvent&) { wxTheApp->CallAfter(step); });
    timer->StartOnce(delayMs);
    wxui::stepTimers.push_back(std::move(timer));
}
