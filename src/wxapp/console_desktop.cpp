// SPDX-License-Identifier: Apache-2.0
// The console on the desktop: `headalign` without a subcommand opens the wxWidgets window on
// the real or the virtual printer and shows the paper of each virtual job beside it.
#include <wx/app.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/console.h"
#include "cli/cli.h"
#include "platform/wx/wx_ui.h"
#include "vprinter.h"
#include "wxapp/calibrate_window.h"
#include "wxapp/console_script.h"
#include "wxapp/history_window.h"
#include "wxapp/progress_source.h"
#include "wxapp/scan_window.h"

// GTK, fontconfig and their kin keep caches for the life of the process; only our own leaks
// are of interest to the leak checker of the sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\nleak:libgobject-2.0\nleak:libgio-2.0\n"
           "leak:libfontconfig\nleak:libpango\nleak:libcairo\nleak:libharfbuzz\nleak:libX11\n"
           "leak:libwx_\nleak:libatk\nleak:libepoxy\nleak:libdbus\nleak:libgdk_pixbuf\n";
}

namespace {

constexpr int SHOW_NORMAL = 1;

uint32_t lastPicturedJob = 0;

// After a command: a new job on the virtual printer puts its printed paper on screen.
void showNewPaper(int) {
    if (!VPrinter_IsAttached()) return;
    uint32_t job = VPrinter_LastJobNumber();
    if (job == 0 || job == lastPicturedJob) return;
    lastPicturedJob = job;
    VPrinter_WaitPaper();  // the picture is written once the board has seen the job end
    std::string png = VPrinter_JobPath(job, ".png");
    WxUi_ShowPicture(png, png);
}

// The scan buttons join the dialog once the console has created it inside runConsole: the
// message loop's first turns find it there.
void installScanButtons(int turnsLeft) {
    if (WxDialog_Frame() || turnsLeft <= 0) {
        WxVernier_Install();
        WxHistory_Install();
        WxCalibrate_Install();
        return;
    }
    wxTheApp->CallAfter([turnsLeft] { installScanButtons(turnsLeft - 1); });
}

}  // namespace

int Console_RunDesktop(const CliOptions& options) {
    char program[] = "headalign";
    char* argv[] = {program, nullptr};
    if (!WxUi_Start(1, argv)) {
        std::fprintf(stderr, "headalign: no display for the console; use a command (see --help)\n");
        return 1;
    }
    if (!Cli_AttachPrinter(options)) {
        WxUi_Stop();
        return 1;
    }
    lastPicturedJob = VPrinter_IsAttached() ? VPrinter_LastJobNumber() : 0;
    Dialog_Install(WxDialog_Backend());
    MsgBox_Install(WxMsgBox_Backend());
    WxUi_SetProgressSource(Desktop_ProgressSource());
    WxUi_InstallClockPump();
    WxUi_SetAfterCommand(showNewPaper);
    const char* script = std::getenv("HEADALIGN_CONSOLE_SCRIPT");
    bool scripted = script && *script;
    if (scripted && !ConsoleScript_Start(script)) {
        std::fprintf(stderr, "headalign: HEADALIGN_CONSOLE_SCRIPT: cannot read \"%s\"\n", script);
        scripted = false;
    }
    wxTheApp->CallAfter([] { installScanButtons(1000); });
    int status = runConsole(0, SHOW_NORMAL);
    if (scripted && !ConsoleScript_Succeeded()) status = 1;
    WxUi_SetAfterCommand(nullptr);
    WxUi_UninstallClockPump();
    WxUi_SetProgressSource(nullptr);
    WxUi_Stop();
    MsgBox_Install(nullptr);
    Dialog_Install(nullptr);
    Cli_DetachPrinter(options);
    return status;
}
