// SPDX-License-Identifier: Apache-2.0
// The console's real window: every control of the layout with its ID, kind, text and place
// in dialog units, the frames, title, icon and font, and nothing clipped in either language.
#include <wx/combobox.h>
#include <wx/statbox.h>
#include <wx/wx.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/console.h"
#include "wx_support.h"
#include "wxapp/scan_window.h"

namespace {

const DialogControlSpec* specOf(int id) {
    const DialogLayout* l = consoleLayout();
    for (size_t i = 0; i < l->count; ++i)
        if (l->controls[i].id == id) return &l->controls[i];
    return nullptr;
}

std::map<int, WxLabelAdjustment> adjustmentsById() {
    std::map<int, WxLabelAdjustment> out;
    for (const WxLabelAdjustment& a : WxDialog_Adjustments()) out[a.id] = a;
    return out;
}

bool kindMatches(wxWindow* w, DialogControlKind kind) {
    switch (kind) {
        case CTL_STATIC:
            return dynamic_cast<wxStaticText*>(w) != nullptr;
        case CTL_BUTTON:
            return dynamic_cast<wxButton*>(w) != nullptr;
        case CTL_CHECK:
            return dynamic_cast<wxCheckBox*>(w) != nullptr;
        case CTL_EDIT: {
            auto* t = dynamic_cast<wxTextCtrl*>(w);
            return t && t->IsEditable();
        }
        case CTL_READONLY_EDIT: {
            auto* t = dynamic_cast<wxTextCtrl*>(w);
            return t && !t->IsEditable();
        }
        case CTL_LIST: {
            auto* l = dynamic_cast<wxComboBox*>(w);
            return l && !l->HasFlag(wxCB_READONLY);  // a drop-down list with an editable field
        }
    }
    return false;
}

class WxLayoutTest : public WxConsoleTest {
  protected:
    // The console as an operator has it: a parameter file in the Config folder (so the
    // parameter-file row is shown) and the "Read scan..." buttons.
    void startFullConsole() {
        std::filesystem::create_directories(work.path + "/Config");
        std::ofstream(work.path + "/Config/Para_1206_905.dat", std::ios::binary)
            << '\xAC' << std::string(55, '\0');
        startConsole();
        EXPECT_TRUE(control(ID_CONFIG_LABEL)->IsShown());
#ifdef HEADALIGN_HAVE_VERNIER
        EXPECT_TRUE(WxVernier_Install());
#endif
        settle();
    }
    // Every visible control shows its whole text and no two controls cover each other.
    void expectNothingClipped(const char* language) {
        std::vector<std::pair<int, wxRect>> placed;
        const DialogLayout* l = consoleLayout();
        for (size_t i = 0; i < l->count; ++i) {
            const DialogControlSpec& s = l->controls[i];
            wxWindow* w = control(s.id);
            if (!w || !w->IsShown()) continue;
            wxRect r = w->GetRect();
            // A list's best width is that of its widest entry beside the drop-down button.
            if (s.kind == CTL_LIST && !dynamic_cast<wxComboBox*>(w)->IsListEmpty()) {
                EXPECT_LE(w->GetBestSize().x, r.width)
                    << language << ": entries of " << s.id << " clipped";
            }
            if (s.kind == CTL_STATIC || s.kind == CTL_CHECK || s.kind == CTL_BUTTON) {
                wxSize best = w->GetBestSize();
                EXPECT_LE(best.x, r.width)
                    << language << ": text of " << s.id << " clipped: " << text(s.id);
                EXPECT_LE(best.y, r.height)
                    << language << ": text of " << s.id << " clipped in height";
            }
            // Neighbours that touch in the layout itself may share a pixel of rounding; those
            // that overlap there (an "mm" over its edit's last units) may overlap here.
            const wxRect inner = r.Deflate(1, 1);
            for (const auto& [other, rect] : placed) {
                const DialogControlSpec& o = *specOf(other);
                wxRect a(s.x, s.y, s.width, s.kind == CTL_LIST ? 12 : s.height);
                wxRect b(o.x, o.y, o.width, o.kind == CTL_LIST ? 12 : o.height);
                if (a.Intersects(b)) continue;
                EXPECT_FALSE(rect.Intersects(inner))
                    << language << ": " << s.id << " covers " << other;
            }
            placed.emplace_back(s.id, r);
        }
        for (const WxLabelAdjustment& a : WxDialog_Adjustments())
            std::printf("[%s] %d \"%s\": width %d -> %d dialog units, moved %d\n", language, a.id,
                        a.text.c_str(), a.layoutWidth, a.neededWidth, a.movedX);
    }
};

TEST_F(WxLayoutTest, EveryControlHasItsIdKindTextAndPlaceInDialogUnits) {
    useLanguage("zh_CN.UTF-8");
    startConsole();
    wxFrame* f = WxDialog_Frame();
    ASSERT_NE(f, nullptr);
    auto adjusted = adjustmentsById();
    const DialogLayout* l = consoleLayout();
    for (size_t i = 0; i < l->count; ++i) {
        const DialogControlSpec& s = l->controls[i];
        wxWindow* w = control(s.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->GetId(), WxDialog_WindowId(s.id));
        EXPECT_TRUE(kindMatches(w, s.kind)) << s.id;
        if (s.kind == CTL_STATIC || s.kind == CTL_BUTTON || s.kind == CTL_CHECK) {
            EXPECT_EQ(text(s.id), s.text) << s.id;
        }
        // Left edge and vertical centre where the layout puts them, through wxWidgets' own
        // dialog-unit conversion; a listed adjustment accounts for any horizontal move.
        wxPoint at = f->ConvertDialogToPixels(wxPoint(s.x, s.y));
        wxSize size = f->ConvertDialogToPixels(wxSize(s.width, s.height));
        wxRect r = w->GetRect();
        int moved =
            adjusted.count(s.id) ? f->ConvertDialogToPixels(wxSize(adjusted[s.id].movedX, 0)).x : 0;
        EXPECT_NEAR(r.x, at.x + moved, 2) << s.id;
        if (s.kind != CTL_LIST) {
            EXPECT_NEAR(r.y + r.height / 2, at.y + size.y / 2, 1) << s.id;
        } else {
            EXPECT_EQ(r.y, at.y) << s.id;
        }
        if (!adjusted.count(s.id)) {
            EXPECT_EQ(r.width, size.x) << s.id;
        }
    }
}

TEST_F(WxLayoutTest, FramesTitleIconAndFont) {
    useLanguage("zh_CN.UTF-8");
    startConsole();
    wxFrame* f = WxDialog_Frame();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::string(f->GetTitle().utf8_str()), "打印头校准工具 V1.72a(180-0501)");
    ASSERT_EQ(f->GetIcons().GetIconCount(), 1u);
    EXPECT_EQ(f->GetIcons().GetIconByIndex(0).GetWidth(), 16);
    EXPECT_EQ(std::string(f->GetFont().GetFaceName().utf8_str()), "宋体");
    EXPECT_EQ(f->GetFont().GetPointSize(), 11);
    int frames = 0;
    for (wxWindow* child : f->GetChildren().front()->GetChildren())
        if (auto* box = dynamic_cast<wxStaticBox*>(child)) {
            ++frames;
            EXPECT_TRUE(box->GetLabel().empty());
        }
    EXPECT_EQ(frames, 9);
    // The layout's origin in dialog units; no window manager moves it under Xvfb.
    EXPECT_EQ(f->GetPosition(), f->ConvertDialogToPixels(wxPoint(150, 50)));
    EXPECT_FALSE(f->HasFlag(wxRESIZE_BORDER));
    EXPECT_TRUE(f->HasFlag(wxMINIMIZE_BOX));
}

TEST_F(WxLayoutTest, ChineseLabelsFitAndTheScreenshotIsWritten) {
    useLanguage("zh_CN.UTF-8");
    startFullConsole();
    EXPECT_EQ(text(ID_SAVE), "保存");
    expectNothingClipped("zh_CN");
    EXPECT_TRUE(WxUi_Screenshot(buildFile("console-zh_CN.png")));
}

TEST_F(WxLayoutTest, EnglishLabelsFitAndTheScreenshotIsWritten) {
    useLanguage("en_US.UTF-8");
    startFullConsole();
    EXPECT_EQ(std::string(WxDialog_Frame()->GetTitle().utf8_str()),
              "Print Head Alignment Tool V1.72a(180-0501)");
    EXPECT_EQ(text(ID_SAVE), "SAVE");
    EXPECT_EQ(text(ID_BIDIR_TEXT_LOW_LABEL), "LOW  SPEED");
    EXPECT_EQ(text(ID_VERTICAL_HINT), "ADJUST THE CAR \nSCREW, MAKE THE \nLINES OVERLAPPED:");
    expectNothingClipped("en_US");
    EXPECT_TRUE(WxUi_Screenshot(buildFile("console-en_US.png")));
}

TEST_F(WxLayoutTest, HighDefinitionNamesFitInBothLanguages) {
    useLanguage("en_US.UTF-8");
    startConsole();
    ASSERT_TRUE(WxDialog_Click(ID_HD_BOX));
    EXPECT_EQ(text(ID_BIDIR_TEXT_MID_LABEL), "草稿中/低速");
    expectNothingClipped("en_US, 高清二次");
}

}  // namespace
