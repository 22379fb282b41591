// SPDX-License-Identifier: Apache-2.0
// Entry of the Windows console: `headalign` without a command opens the native dialog.
#include <windows.h>

#include "app/console.h"
#include "cli/cli.h"
#include "platform/win32/win32_dialog.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "vprinter.h"
#include "winapp/calibrate_window.h"
#include "winapp/scan_buttons.h"
#endif

namespace {
// The show command the program was started with (as WinMain would receive it).
int startShowCommand() {
    STARTUPINFOA info{};
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
}

// Started from the desktop rather than a command prompt: the console window Windows opened for
// this program alone is not wanted beside the dialog.
void dropOwnConsole() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}
}  // namespace

int Console_RunDesktop(const CliOptions& options) {
    if (!Cli_AttachPrinter(options)) return 1;
    dropOwnConsole();
#ifdef HEADALIGN_HAVE_VERNIER
    // The calibration window's sheet on the virtual printer: its jobs' paper as one picture.
    if (!options.virtualPrinterDir.empty()) {
        CalibratePaper paper;
        paper.begin = [] { VPrinter_BeginSheet(); };
        paper.end = [] { return VPrinter_EndSheet(); };
        WinCalibrate_SetPaper(paper);
    }
    Dialog_Install(Win32ScanButtons_Backend());
#else
    Dialog_Install(Win32Dialog_Backend());
#endif
    MsgBox_Install(Win32MsgBox_Backend());
    int status =
        runConsole(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)), startShowCommand());
    MsgBox_Install(nullptr);
    Dialog_Install(nullptr);
    Cli_DetachPrinter(options);
    return status;
}
