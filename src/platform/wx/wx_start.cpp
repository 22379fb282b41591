// SPDX-License-Identifier: Apache-2.0
// Start-up of wxWidgets for the console: the application object, the font alias, the compact
// control style, the icon, the frames of the layout and text conversion.
#include <fontconfig/fontconfig.h>
#include <wx/image.h>

#include <cstdio>

#include "platform/wx/wx_internal.h"

#include "platform/wx/headalign.xpm"

extern const char* const HEADALIGN_FONTS_CONF;  // packaging/fonts/headalign-fonts.conf

namespace wxui {
namespace {

bool started = false;

// GTK's default theme pads entries, buttons and lists far beyond what dialog units allow for;
// these values bring them close to the Windows dialog metrics the layout was drawn for.
const char* const COMPACT_CSS =
    "entry { min-height: 0; padding: 0 3px; }\n"
    "button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
    "combobox entry { min-width: 0; }\n"
    "combobox button { padding: 0 1px; }\n"
    "checkbutton { padding: 0; }\n"
    "checkbutton check { margin: 0 2px 0 0; min-width: 12px; min-height: 12px; }\n";

}  // namespace

wxString fromUtf8(const std::string& s) { return wxString::FromUTF8(s.data(), s.size()); }
wxString fromUtf8(const char* s) { return s ? wxString::FromUTF8(s) : wxString(); }
std::string toUtf8(const wxString& s) { return std::string(s.utf8_str()); }

void loadFontAlias() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    FcConfig* config = FcConfigGetCurrent();
    if (!config || !FcConfigParseAndLoadFromMemory(
                       config, reinterpret_cast<const FcChar8*>(HEADALIGN_FONTS_CONF), FcTrue))
        std::fprintf(stderr, "headalign: the font alias for 宋体 could not be loaded\n");
}

void loadCompactStyle() { gtkLoadCss(COMPACT_CSS); }

wxFont dialogFont() { return wxFont(wxFontInfo(11).FaceName(wxString::FromUTF8("宋体"))); }

wxIcon consoleIcon() {
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(headalign_xpm));
    return icon;
}

}  // namespace wxui

bool WxUi_Started() { return wxui::started; }

bool WxUi_Start(int argc, char** argv) {
    if (wxui::started) return true;
    // Before GTK builds its font map, so the dialog font resolves through the alias.
    wxui::loadFontAlias();
    // wxWidgets sees only the program name: the options belong to the command line.
    static char* programArgs[2] = {argc > 0 ? argv[0] : const_cast<char*>("headalign"), nullptr};
    int wxArgc = 1;
#ifndef HEADALIGN_WX_ASSERTS
    // Debian's wxWidgets keeps its checks in; an operator gets no assertion dialog from them
    // (only debug builds, which the tests run, show them).
    wxDisableAsserts();
#endif
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(wxArgc, programArgs)) return false;
    if (!wxTheApp->CallOnInit()) {
        wxEntryCleanup();
        return false;
    }
    wxTheApp->SetExitOnFrameDelete(false);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxui::loadCompactStyle();
    wxui::started = true;
    return true;
}

void WxUi_Stop() {
    if (!wxui::started) return;
    wxui::closeProgress();
    if (wxFrame* p = WxUi_PictureWindow()) p->Destroy();
    if (wxFrame* f = WxDialog_Frame())
        WxDialog_Backend()->destroy(reinterpret_cast<DialogHandle>(f));
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();  // deletes the windows destroyed above
    wxTheApp->OnExit();
    wxEntryCleanup();
    wxui::started = false;
}
