// SPDX-License-Identifier: Apache-2.0
// The desktop console's calibration window. What it does comes from the console's calibration
// flow; this file lays it out, runs the long steps without freezing it and shows the results.
#include "wxapp/calibrate_window.h"

#include <wx/filename.h>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/console.h"
#include "platform/dialog.h"
#include "platform/locale.h"
#include "platform/scanner.h"
#include "platform/wx/wx_ui.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "app/binding.h"
#include "app/calibrate_flow.h"
#include "app/calibrate_texts.h"
#include "app/scan_entry.h"
#include "history/analysis.h"
#include "platform/logdir.h"
#include "vprinter.h"
#include "wxapp/scan_window.h"
#endif

#ifdef HEADALIGN_HAVE_VERNIER
namespace {

constexpr char BUTTON_NAME[] = "headalign-calibrate";
constexpr char WINDOW_NAME[] = "headalign-calibrate-window";
// The marked picture beside the table is reduced to fit this box.
constexpr int PICTURE_WIDTH = 300, PICTURE_HEIGHT = 420;

wxString text(CalibrateText t) { return wxString::FromUTF8(calibrateText(t)); }
wxString utf8(const std::string& s) { return wxString::FromUTF8(s); }

// What a step on the worker thread hands back. The worker writes everything before `done`.
struct Work {
    std::atomic<bool> done{false};
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> bytes{0}, total{0};
    std::function<void(Work&)> run;
    // What the step made: the sheet read, its marked picture reduced to the window's box,
    // or why there is nothing to read.
    bool ok = false;
    std::string message;
    CalibrateSheet sheet;
    wxImage picture;  // made on the worker as plain pixels; a bitmap only on the dialog thread
};

// A reduced copy of a picture that fits w x h, each pixel the mean of the ones it covers.
wxImage reduced(const VernierImage& image, int w, int h) {
    if (image.width == 0 || image.height == 0) return {};
    const uint32_t f =
        std::max<uint32_t>(1, std::max((image.width + uint32_t(w) - 1) / uint32_t(w),
                                       (image.height + uint32_t(h) - 1) / uint32_t(h)));
    const int ow = int(std::max<uint32_t>(1, image.width / f));
    const int oh = int(std::max<uint32_t>(1, image.height / f));
    wxImage out(ow, oh, false);
    unsigned char* to = out.GetData();
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            uint32_t sum[3] = {0, 0, 0};
            for (uint32_t dy = 0; dy < f; ++dy)
                for (uint32_t dx = 0; dx < f; ++dx) {
                    const uint8_t* p = image.at(uint32_t(x) * f + dx, uint32_t(y) * f + dy);
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            for (int c = 0; c < 3; ++c) *to++ = static_cast<unsigned char>(sum[c] / (f * f));
        }
    return out;
}

class CalibrateWindow : public wxFrame {
  public:
    explicit CalibrateWindow(wxWindow* owner)
        : wxFrame(owner, wxID_ANY, text(CAL_TITLE), wxDefaultPosition, wxDefaultSize,
                  wxDEFAULT_FRAME_STYLE, WINDOW_NAME) {
        build();
        timer_.SetOwner(this, WORK_TIMER);
        Bind(
            wxEVT_TIMER, [this](wxTimerEvent&) { tick(); }, WORK_TIMER);
        // The search for scanners may still run: "Scan" is set once it has ended.
        if (!scannerLooked()) {
            lookupTimer_.SetOwner(this, LOOKUP_TIMER);
            Bind(
                wxEVT_TIMER,
                [this](wxTimerEvent&) {
                    if (!scannerLooked()) return;
                    lookupTimer_.Stop();
                    refresh();
                },
                LOOKUP_TIMER);
            lookupTimer_.Start(100);
        }
        Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
            // A scan or a reading in progress is stopped and waited for before the window goes.
            finishWorker();
            e.Skip();
        });
    }
    ~CalibrateWindow() override { finishWorker(); }

    bool busy() const { return work_ != nullptr; }

  private:
    wxPanel* panel_ = nullptr;
    wxCheckBox* hd_ = nullptr;
    wxButton *print_ = nullptr, *read_ = nullptr, *scan_ = nullptr, *cancel_ = nullptr,
             *save_ = nullptr, *verify_ = nullptr;
    wxStaticText *printStatus_ = nullptr, *pictureStatus_ = nullptr, *saveStatus_ = nullptr,
                 *verifyStatus_ = nullptr;
    wxGauge* gauge_ = nullptr;
    wxListCtrl* table_ = nullptr;
    wxStaticBitmap* picture_ = nullptr;
    enum { WORK_TIMER = wxID_HIGHEST + 1, LOOKUP_TIMER };
    wxTimer timer_, lookupTimer_;
    std::shared_ptr<Work> work_;
    std::thread worker_;

    wxStaticText* status(wxWindow* parent, const char* name) {
        return new wxStaticText(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, 0, name);
    }
    wxButton* button(wxWindow* parent, CalibrateText t, const char* name) {
        return new wxButton(parent, wxID_ANY, text(t), wxDefaultPosition, wxDefaultSize, 0,
                            wxDefaultValidator, name);
    }

    void build() {
        panel_ = new wxPanel(this);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        const int gap = FromDIP(6);

        auto* printBox = new wxStaticBoxSizer(wxVERTICAL, panel_, text(CAL_STEP_PRINT));
        auto* printRow = new wxBoxSizer(wxHORIZONTAL);
        hd_ = new wxCheckBox(printBox->GetStaticBox(), wxID_ANY, text(CAL_SECOND_PASS),
                             wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator,
                             "headalign-calibrate-hd");
        print_ = button(printBox->GetStaticBox(), CAL_PRINT, "headalign-calibrate-print");
        printRow->Add(print_, 0, wxRIGHT, gap);
        printRow->Add(hd_, 0, wxALIGN_CENTER_VERTICAL);
        printBox->Add(printRow, 0, wxALL, gap);
        printStatus_ = status(printBox->GetStaticBox(), "headalign-calibrate-print-status");
        printBox->Add(printStatus_, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
        sizer->Add(printBox, 0, wxEXPAND | wxALL, gap);

        auto* pictureBox = new wxStaticBoxSizer(wxVERTICAL, panel_, text(CAL_STEP_PICTURE));
        auto* pictureRow = new wxBoxSizer(wxHORIZONTAL);
        wxWindow* box = pictureBox->GetStaticBox();
        read_ = button(box, CAL_READ_FILE, "headalign-calibrate-read");
        scan_ = button(box, CAL_SCAN, "headalign-calibrate-scan");
        gauge_ = new wxGauge(box, wxID_ANY, 100, wxDefaultPosition, wxSize(FromDIP(160), -1),
                             wxGA_HORIZONTAL, wxDefaultValidator, "headalign-calibrate-gauge");
        cancel_ = button(box, CAL_CANCEL, "headalign-calibrate-cancel");
        pictureRow->Add(read_, 0, wxRIGHT, gap);
        pictureRow->Add(scan_, 0, wxRIGHT, gap);
        pictureRow->Add(gauge_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
        pictureRow->Add(cancel_, 0);
        pictureBox->Add(pictureRow, 0, wxALL, gap);
        pictureStatus_ = status(box, "headalign-calibrate-picture-status");
        pictureBox->Add(pictureStatus_, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
        sizer->Add(pictureBox, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

        auto* resultBox = new wxStaticBoxSizer(wxHORIZONTAL, panel_, text(CAL_STEP_RESULT));
        box = resultBox->GetStaticBox();
        table_ = new wxListCtrl(box, wxID_ANY, wxDefaultPosition, wxSize(-1, FromDIP(250)),
                                wxLC_REPORT | wxLC_SINGLE_SEL, wxDefaultValidator,
                                "headalign-calibrate-table");
        const CalibrateText COLUMNS[] = {CAL_COL_MODE,    CAL_COL_PASS,  CAL_COL_READING,
                                         CAL_COL_CERTAIN, CAL_COL_ENTER, CAL_COL_TODO};
        for (int c = 0; c < 6; ++c) table_->InsertColumn(c, text(COLUMNS[c]));
        fitColumns();
        resultBox->Add(table_, 1, wxEXPAND | wxALL, gap);
        picture_ =
            new wxStaticBitmap(box, wxID_ANY, wxBitmap(PICTURE_WIDTH, PICTURE_HEIGHT),
                               wxDefaultPosition, wxDefaultSize, 0, "headalign-calibrate-picture");
        picture_->SetMinSize(wxSize(PICTURE_WIDTH, PICTURE_HEIGHT));
        clearPicture();
        resultBox->Add(picture_, 0, wxTOP | wxRIGHT | wxBOTTOM, gap);
        sizer->Add(resultBox, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

        auto* lower = new wxBoxSizer(wxHORIZONTAL);
        // SAVE and Verify are alike: a button, its hint beside it, its status below.
        auto step = [&](CalibrateText title, CalibrateText label, CalibrateText hint,
                        const std::string& name, wxButton** pressed, wxStaticText** said) {
            auto* stepBox = new wxStaticBoxSizer(wxVERTICAL, panel_, text(title));
            wxWindow* in = stepBox->GetStaticBox();
            auto* row = new wxBoxSizer(wxHORIZONTAL);
            *pressed = button(in, label, ("headalign-calibrate-" + name).c_str());
            row->Add(*pressed, 0, wxRIGHT, gap);
            row->Add(new wxStaticText(in, wxID_ANY, text(hint), wxDefaultPosition, wxDefaultSize, 0,
                                      "headalign-calibrate-" + name + "-hint"),
                     0, wxALIGN_CENTER_VERTICAL);
            stepBox->Add(row, 0, wxALL, gap);
            *said = status(in, ("headalign-calibrate-" + name + "-status").c_str());
            stepBox->Add(*said, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
            return stepBox;
        };
        lower->Add(step(CAL_STEP_SAVE, CAL_SAVE, CAL_SAVE_HINT, "save", &save_, &saveStatus_), 1,
                   wxEXPAND | wxRIGHT, gap);
        lower->Add(
            step(CAL_STEP_VERIFY, CAL_VERIFY, CAL_VERIFY_HINT, "verify", &verify_, &verifyStatus_),
            1, wxEXPAND);
        sizer->Add(lower, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

        print_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { printSheet(false); });
        verify_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { printSheet(true); });
        read_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { chooseFile(); });
        scan_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { scanSheet(); });
        cancel_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
            if (work_) work_->cancel = true;
            cancel_->Disable();
        });
        save_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { saveAll(); });

        panel_->SetSizer(sizer);
        auto* outer = new wxBoxSizer(wxVERTICAL);
        outer->Add(panel_, 1, wxEXPAND);
        SetSizer(outer);
        refresh();
        fit();
    }

    // Grows the window to what its texts need now; never shrinks it under the operator.
    void fit() {
        panel_->InvalidateBestSize();
        const wxSize need = panel_->GetSizer()->ComputeFittingClientSize(panel_);
        const wxSize have = GetClientSize();
        SetClientSize(std::max(need.x, have.x), std::max(need.y, have.y));
        SetMinClientSize(need);
        Layout();
        panel_->Layout();
        if (IsShown()) keepOnScreen(this, GetScreenPosition());
    }

  public:
    // Moves `window` to `at`, or as near as keeps it whole on its screen.
    static void keepOnScreen(wxWindow* window, wxPoint at) {
        const int shown = wxDisplay::GetFromWindow(window);
        const wxRect area = wxDisplay(shown == wxNOT_FOUND ? 0u : unsigned(shown)).GetClientArea();
        const wxSize size = window->GetSize();
        at.x = std::max(area.x, std::min(at.x, area.GetRight() + 1 - size.x));
        at.y = std::max(area.y, std::min(at.y, area.GetBottom() + 1 - size.y));
        if (at != window->GetScreenPosition()) window->Move(at);
    }

  private:
    // Every column as wide as its widest text, the header's included.
    void fitColumns() {
        const int pad = FromDIP(16);
        for (int c = 0; c < table_->GetColumnCount(); ++c) {
            wxListItem header;
            header.SetMask(wxLIST_MASK_TEXT);
            table_->GetColumn(c, header);
            int width = table_->GetTextExtent(header.GetText()).x + pad;
            for (long r = 0; r < table_->GetItemCount(); ++r)
                width = std::max(width, table_->GetTextExtent(table_->GetItemText(r, c)).x + pad);
            table_->SetColumnWidth(c, width);
        }
        int total = 0;
        for (int c = 0; c < table_->GetColumnCount(); ++c) total += table_->GetColumnWidth(c);
        table_->SetMinSize(wxSize(total + FromDIP(24), FromDIP(250)));
    }

    void clearPicture() {
        wxImage blank(PICTURE_WIDTH, PICTURE_HEIGHT, false);
        blank.SetRGB(wxRect(0, 0, PICTURE_WIDTH, PICTURE_HEIGHT), 240, 240, 240);
        picture_->SetBitmap(wxBitmap(blank));
    }

    void setStatus(wxStaticText* where, const std::string& what) {
        where->SetLabelText(utf8(what));
        // Long reasons from the reader break into lines no wider than the table.
        where->Wrap(std::max(FromDIP(600), panel_->GetClientSize().x - FromDIP(40)));
        fit();
    }

    // Which buttons the step reached allows; nothing while the worker runs.
    void refresh() {
        const bool idle = !busy();
        const bool scanner = scannerFound();
        print_->Enable(idle);
        hd_->Enable(idle);
        read_->Enable(idle);
        scan_->Enable(idle && scanner);
        scan_->SetToolTip(scannerLooked() ? (scanner ? utf8(scannerName()) : text(CAL_NO_SCANNER))
                                          : text(CAL_LOOKING_FOR_SCANNERS));
        gauge_->Show(!idle);
        cancel_->Show(!idle);
        save_->Enable(idle && canSave());
        verify_->Enable(idle);
        fit();
    }

    // Runs `run` on a worker thread; the timer takes its result on the dialog thread.
    void startWork(std::function<void(Work&)> run, CalibrateText what, bool cancellable) {
        if (busy()) return;
        work_ = std::make_shared<Work>();
        work_->run = std::move(run);
        setStatus(pictureStatus_, calibrateText(what));
        gauge_->SetValue(0);
        cancel_->Enable(cancellable);
        refresh();
        std::shared_ptr<Work> work = work_;
        worker_ = std::thread([work] {
            work->run(*work);
            work->done = true;
        });
        timer_.Start(50);
    }

    void tick() {
        if (!work_) return timer_.Stop();
        const uint64_t total = work_->total, bytes = work_->bytes;
        if (total > 0)
            gauge_->SetValue(int(std::min<uint64_t>(bytes * 100 / total, 100)));
        else
            gauge_->Pulse();
        if (!work_->done) return;
        timer_.Stop();
        worker_.join();
        std::shared_ptr<Work> work = std::move(work_);
        work_.reset();
        finished(*work);
        refresh();
    }

    void finishWorker() {
        timer_.Stop();
        lookupTimer_.Stop();
        if (work_) work_->cancel = true;
        if (worker_.joinable()) worker_.join();
        work_.reset();
    }

    // ---- the steps; what each does is the calibration flow's ----

    CalibrateSheet sheet_;  // the sheet last read, as its table shows it
    CalibrateSheet apply_;  // what SAVE enters from it (a verification's readings again)
    bool haveSheet_ = false;
    bool verifying_ = false;  // the next picture is read as the verification sheet
    bool saved_ = false;      // the sheet shown has been saved

    static bool scannerLooked() { return WxScanner_Looked(); }
    static bool scannerFound() { return !WxScanner_First().empty(); }
    static std::string scannerName() { return WxScanner_First(); }

    bool canSave() const {
        if (!haveSheet_ || saved_ || apply_.contradictory) return false;
        for (const CalibrateRow& r : apply_.rows)
            if (r.toEnter) return true;
        return false;
    }

    static CalibrateOrigin origin() {
        CalibrateOrigin o;
        o.source = CALIBRATE_CONSOLE_ORIGIN;
        o.save = CALIBRATE_CONSOLE_ORIGIN;
        return o;
    }

    wxStaticText* printLine() const { return verifying_ ? verifyStatus_ : printStatus_; }

    void printSheet(bool verifying) {
        if (busy()) return;
        verifying_ = verifying;
        setStatus(printLine(), calibrateText(CAL_PRINTING));
        CalibratePaper paper;
        if (VPrinter_IsAttached()) {
            paper.begin = [] { VPrinter_BeginSheet(); };
            paper.end = [] { return VPrinter_EndSheet(); };
        }
        wxStaticText* line = printLine();
        paper.step = [line](int done, int total) {
            line->SetLabelText(wxString::Format("%s %d / %d", text(CAL_PRINTING), done, total));
            return true;
        };
        const bool hd = hd_->GetValue();
        CalibratePrinted printed;
        // On the dialog thread as the console's own print buttons run: the pump paints and
        // the progress window's Cancel stops the job.
        WxUi_RunAsCommand([&] { printed = Calibrate_PrintSheet(hd, paper); });
        if (!printed.ok) {
            setStatus(line, calibrateText(CAL_NOT_PRINTED));
            return;
        }
        if (printed.picture.empty()) {
            setStatus(line, calibrateFormat(CAL_PRINTED, unsigned(printed.sheet), printed.prints));
            return;
        }
        setStatus(line, calibrateFormat(CAL_PRINTED_VP, unsigned(printed.sheet), printed.prints));
        readFile(printed.picture);
    }

    void chooseFile() {
        static const char* const FILTERS[][2] = {
            {"Pictures (*.png;*.jpg;*.jpeg)", "*.png;*.jpg;*.jpeg"}};
        FileDialogRequest request{calibrateText(CAL_READ_FILE), FILTERS, 1, "", ""};
        std::string path;
        auto owner = reinterpret_cast<DialogHandle>(this);
        if (!Dialog_Backend() ||
            !Dialog_Backend()->fileDialog(owner, FILE_DIALOG_OPEN, request, &path))
            return;
        readFile(path);
    }

    void readFile(const std::string& path) {
        const bool verification = verifying_;
        startWork(
            [path, verification](Work& w) {
                w.sheet = Calibrate_ReadFileUnrecorded(path, verification);
                w.picture = markedPicture(w.sheet);
            },
            CAL_READING, false);
    }

    void scanSheet() {
        const bool verification = verifying_;
        const std::string device = scannerName();
        const bool zh = Locale_IsChinese();
        startWork(
            [device, verification, zh](Work& w) {
                ScanRequest request = Calibrate_ScanRequest(device, {});
                request.cancel = &w.cancel;
                request.progress = [](void* context, uint64_t done, uint64_t total) {
                    auto* work = static_cast<Work*>(context);
                    work->bytes = done;
                    work->total = total;
                };
                request.progressContext = &w;
                ImagePixels pixels;
                std::string detail;
                const ScanStatus status = Scanner_Scan(request, &pixels, &detail);
                if (status != ScanStatus::Ok) {
                    w.message = Scanner_StatusText(status, detail, zh);
                    return;
                }
                VernierImage image;
                std::string error, kept;
                if (!Vernier_FromPixels(std::move(pixels), &image, &error)) {
                    w.message = error;
                    return;
                }
                // Kept beside the job records so the reading can be checked later; a picture
                // that cannot be kept is still read.
                if (!Scan_KeepPicture(image, LogDir_Get(), "Sheet", &kept, &error)) kept = error;
                w.sheet = Calibrate_ReadImageUnrecorded(std::move(image), kept, verification);
                w.picture = markedPicture(w.sheet);
            },
            CAL_SCANNING, true);
    }

    static wxImage markedPicture(const CalibrateSheet& sheet) {
        if (sheet.status != CALIBRATE_READ_OK) return {};
        return reduced(Calibrate_MarkedPicture(sheet), PICTURE_WIDTH, PICTURE_HEIGHT);
    }

    void finished(Work& work) {
        if (!work.message.empty()) {  // the scan gave no picture
            setStatus(pictureStatus_, work.message);
            return;
        }
        CalibrateSheet& sheet = work.sheet;
        if (sheet.status != CALIBRATE_READ_OK) {
            setStatus(pictureStatus_, calibrateFormat(CAL_NOT_READ, sheet.error.c_str()));
            return;
        }
        // The history learns of every reading on the dialog thread, as the console's own.
        Calibrate_Record(sheet, origin());
        sheet_ = std::move(sheet);
        sheet_.image = {};  // shown reduced; the readings are all that is kept
        apply_ = sheet_.verification ? Calibrate_ForApplying(sheet_) : sheet_;
        haveSheet_ = true;
        saved_ = false;
        const std::string name = wxFileName(utf8(sheet_.picture)).GetFullName().utf8_string();
        setStatus(pictureStatus_,
                  calibrateFormat(CAL_PICTURE_READ, name.c_str(), unsigned(sheet_.sheet)));
        showTable();
        if (work.picture.IsOk()) picture_->SetBitmap(wxBitmap(work.picture));
        if (sheet_.contradictory)
            setStatus(saveStatus_,
                      calibrateFormat(CAL_CONTRADICTORY, sheet_.contradiction.c_str()));
        else
            setStatus(saveStatus_, "");
        if (sheet_.verification) {
            const CalibrateVerdict verdict = Calibrate_Verdict(sheet_);
            setStatus(verifyStatus_,
                      calibrateText(verdict.allLinedUp ? CAL_VERIFIED : CAL_NOT_VERIFIED));
        }
        fit();
    }

    void showTable() {
        const bool zh = Locale_IsChinese();
        table_->DeleteAllItems();
        long row = 0;
        for (const CalibrateRow& r : sheet_.rows) {
            const bool read = r.verdict == SHEET_CERTAIN || r.verdict == SHEET_UNCERTAIN;
            table_->InsertItem(row, utf8(History_ModeName(r.mode, r.pass, zh)));
            table_->SetItem(row, 1, text(r.pass == 2 ? CAL_PASS_SECOND : CAL_PASS_FIRST));
            table_->SetItem(row, 2, utf8(r.reading));
            table_->SetItem(row, 3, read ? text(r.certain ? CAL_YES : CAL_NO) : wxString("-"));
            table_->SetItem(row, 4, utf8(r.amountText));
            SheetPrint print;
            print.verdict = r.verdict;
            print.amount = r.amount;
            table_->SetItem(row, 5, utf8(calibrateTodo(print, sheet_.verification, r.lined)));
            ++row;
        }
        fitColumns();
    }

    void saveAll() {
        if (busy() || !canSave()) return;
        CalibrateApplied applied;
        ConsoleState* console = consoleState();
        WxUi_RunAsCommand([&] {
            applied = Calibrate_Apply(&apply_, {}, origin(), console->currentRecord,
                                      [](const uint8_t* record) { showParameters(record); });
        });
        switch (applied.status) {
            case CALIBRATE_APPLY_SAVED:
                saved_ = true;
                setStatus(saveStatus_, calibrateFormat(CAL_SAVED, int(applied.entered.size())));
                break;
            case CALIBRATE_APPLY_NOTHING:
                saved_ = true;
                setStatus(saveStatus_, calibrateText(CAL_NOTHING_TO_SAVE));
                break;
            default:
                setStatus(
                    saveStatus_,
                    calibrateFormat(CAL_SAVE_FAILED,
                                    applied.lines.empty() ? "" : applied.lines.back().c_str()));
        }
        // The console shows what is stored now.
        showParameters(console->currentRecord);
        refresh();
    }
};

}  // namespace
#endif

wxFrame* WxCalibrate_Show() {
#ifdef HEADALIGN_HAVE_VERNIER
    wxFrame* owner = WxDialog_Frame();
    if (!owner) return nullptr;
    auto* frame = dynamic_cast<CalibrateWindow*>(wxWindow::FindWindowByName(WINDOW_NAME));
    if (!frame) {
        frame = new CalibrateWindow(owner);
        // Beside the console where the screen has room, else as far right as it has.
        frame->SetPosition(owner->GetScreenPosition());
        CalibrateWindow::keepOnScreen(
            frame, wxPoint(owner->GetScreenRect().GetRight() + 8, owner->GetScreenPosition().y));
    }
    frame->Show();
    frame->Raise();
    return frame;
#else
    return nullptr;
#endif
}

bool WxCalibrate_Busy() {
#ifdef HEADALIGN_HAVE_VERNIER
    auto* frame = dynamic_cast<CalibrateWindow*>(wxWindow::FindWindowByName(WINDOW_NAME));
    return frame && frame->busy();
#else
    return false;
#endif
}

bool WxCalibrate_Install() {
#ifdef HEADALIGN_HAVE_VERNIER
    wxFrame* dialog = WxDialog_Frame();
    wxWindow* history = dialog ? dialog->FindWindow("headalign-history") : nullptr;
    wxWindow* import = WxDialog_Control(ID_IMPORT);
    if (!history || !import || !history->GetParent()) return false;
    wxWindow* parent = history->GetParent();
    if (parent->FindWindow(BUTTON_NAME)) return true;
    const wxRect at = history->GetRect();
    const int gap = at.x - import->GetRect().GetRight();
    auto* button =
        new wxButton(parent, wxID_ANY, text(CAL_OPEN_BUTTON), wxPoint(at.GetRight() + gap, at.y),
                     wxSize(-1, at.height), 0, wxDefaultValidator, BUTTON_NAME);
    // No narrower than "History...", and as wide as its text needs.
    button->SetSize(std::max(at.width, button->GetBestSize().x), at.height);
    // The row ends at the dialog's edge: the dialog grows to hold the button.
    const int overflow = button->GetRect().GetRight() + gap - parent->GetClientSize().x;
    if (overflow > 0) {
        const wxSize client = dialog->GetClientSize();
        dialog->SetClientSize(client.x + overflow, client.y);
    }
    button->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { WxCalibrate_Show(); });
    return true;
#else
    return false;
#endif
}
