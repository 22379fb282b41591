// SPDX-License-Identifier: Apache-2.0
// The console's dialog procedure, start-up and entry.
#include "app/console.h"

#include <cstring>
#include <string>

#include "app/binding.h"
#include "app/feed_measure.h"
#include "app/param_files.h"
#include "app/record_store.h"
#include "app/texts.h"
#include "history/history.h"
#include "job/print_job.h"

namespace {

ConsoleState& cs() { return OwnedState<ConsoleState>::get(); }

// Print commands: control ID, job kind and number.
enum PrintKind : uint8_t { RUN_ADJUSTMENT, RUN_PATTERN };
struct PrintCommand {
    int id;
    PrintKind kind;
    uint8_t number;
};
const PrintCommand PRINT_COMMANDS[] = {
    {ID_BIDIR_TEXT_HIGH_PRINT, RUN_ADJUSTMENT, 5},
    {ID_BIDIR_TEXT_MID_PRINT, RUN_ADJUSTMENT, 6},
    {ID_BIDIR_TEXT_LOW_PRINT, RUN_ADJUSTMENT, 7},
    {ID_BIDIR_IMAGE_HIGH_PRINT, RUN_ADJUSTMENT, 8},
    {ID_BIDIR_IMAGE_LOW_PRINT, RUN_ADJUSTMENT, 9},
    {ID_BIDIR_PHOTO_PRINT, RUN_ADJUSTMENT, 10},
    {ID_PASS2_PRINT, RUN_ADJUSTMENT, 15},
    {ID_PASS3_PRINT, RUN_ADJUSTMENT, 14},
    {ID_PASS4_PRINT, RUN_ADJUSTMENT, 11},
    {ID_PASS6_PRINT, RUN_ADJUSTMENT, 12},
    {ID_PASS8_PRINT, RUN_ADJUSTMENT, 13},
    {ID_VERTICAL_PRINT, RUN_PATTERN, 16},
    {ID_LINE_CHECK, RUN_PATTERN, 3},
    {ID_NOZZLE_PRINT, RUN_PATTERN, 19},
    {ID_PATTERN_17, RUN_PATTERN, 17},
    {ID_PATTERN_18, RUN_PATTERN, 18},
    {ID_PATTERN_4, RUN_PATTERN, 4},
    {ID_PATTERN_4_ALT, RUN_PATTERN, 4},
};

const DialogBackend* dlg() { return Dialog_Backend(); }

bool runPrintCommand(int id) {
    for (const PrintCommand& c : PRINT_COMMANDS) {
        if (c.id != id) continue;
        if (c.kind == RUN_ADJUSTMENT)
            Job_RunAdjustment(c.number);
        else
            Job_RunPattern(c.number);
        return true;
    }
    return false;
}

// The record from the shared area when it exists, else from the printer (Record_Read).
void loadStartupRecord() {
    ConsoleState& state = cs();
    if (!Record_Read(state.currentRecord)) return;
    state.printerConnected = 1;
    showParameters(state.currentRecord);
}

void initialise(DialogHandle dialog) {
    ConsoleState& state = cs();
    state.dialog = dialog;
    listConfigFiles();
    setEnglishLabels();
    std::memset(state.currentRecord, 0, PARAMETER_RECORD_SIZE);
    state.printerConnected = 0;
    enableInkOrderCombos(false);
    loadStartupRecord();
}

bool isChecked(int id) { return dlg()->isChecked(cs().dialog, id); }

// A SAVE whose answer was lost but whose record the printer holds is announced as saved; one
// whose fate could not be learned says so rather than "fail", since the printer may hold it.
// Either way the entries are already applied to the current record, so SAVE again sends the
// same values and never adds an amount twice.
// Every SAVE that reached (or may have reached) the printer goes into its history, old and new
// record; a history that cannot be written is a warning, never a failed SAVE.
void onSave() {
    ConsoleState& state = cs();
    uint8_t before[PARAMETER_RECORD_SIZE];
    std::memcpy(before, state.currentRecord, PARAMETER_RECORD_SIZE);
    const bool connected = state.printerConnected != 0;
    switch (saveParametersVerified(state.currentRecord)) {
        case SAVE_SAVED:
            if (connected)
                History_Record(
                    History_SaveEntry(before, state.currentRecord, History_SaveOrigin()));
            showConsoleMessage(MSG_SAVE_OK);
            break;
        case SAVE_UNKNOWN:
            if (connected)
                History_Record(History_SaveEntry(before, state.currentRecord, History_SaveOrigin(),
                                                 "unknown"));
            showConsoleMessage(MSG_SAVE_UNKNOWN);
            break;
        case SAVE_REFUSED:
            break;  // its box said why
        default:
            showConsoleMessage(MSG_SAVE_FAIL);
            break;
    }
}

void onHdBox() {
    ConsoleState& state = cs();
    bool on = isChecked(ID_HD_BOX);
    state.hdMode = on ? 1 : 0;
    Job_SetHdMode(on);  // the adjustment jobs read the box through the job module
    if (on)
        showHdModeLabels();
    else
        showStandardModeLabels();
}

intptr_t onCommand(DialogHandle dialog, int id, int notification) {
    ConsoleState& state = cs();
    if (runPrintCommand(id) || onMeasureCommand(id)) return 1;
    switch (id) {
        case ID_SAVE:
            onSave();
            return 1;
        case ID_EXIT:
        case ID_CLOSE:
            dlg()->destroy(dialog);
            return 1;
        case ID_INK_ORDER_BOX:
            enableInkOrderCombos(isChecked(ID_INK_ORDER_BOX));
            return 1;
        case ID_COLOR_BAND_BOX:
            enableColorBandControls(isChecked(ID_COLOR_BAND_BOX));
            return 1;
        case ID_HD_BOX:
            onHdBox();
            return 1;
        case ID_CLEAR:
            std::memset(state.currentRecord, 0, CURRENT_RECORD_SIZE);
            showParameters(state.currentRecord);
            return 1;
        case ID_EXPORT:
            exportParamFile(state.currentRecord);
            return 1;
        case ID_IMPORT:
            if (importParamFile(state.currentRecord)) showParameters(state.currentRecord);
            return 1;
        case ID_CONFIG_LIST:
            if (notification != static_cast<int>(DLG_NOTIFY_SELCHANGE)) return 0;
            if (loadConfigFile(state.currentRecord)) showParameters(state.currentRecord);
            return 1;
        case ID_CONFIG_STORE:
            saveConfigFile(state.currentRecord);
            listConfigFiles();
            return 1;
        default:
            return 0;
    }
}

}  // namespace

ConsoleState* consoleState() { return &cs(); }

intptr_t consoleProc(DialogHandle dialog, uint32_t message, uintptr_t wParam, intptr_t) {
    switch (message) {
        case DLGMSG_INIT:
            initialise(dialog);
            return 1;
        case DLGMSG_CLOSE:
            dlg()->destroy(dialog);
            return 1;
        case DLGMSG_DESTROY:
            dlg()->postQuit(0);
            return 1;
        case DLGMSG_COMMAND:
            return onCommand(dialog, static_cast<int>(wParam & 0xFFFF),
                             static_cast<int>((wParam >> 16) & 0xFFFF));
        default:
            return 0;
    }
}

int runConsole(intptr_t, int showCommand) {
    DialogHandle dialog = dlg()->create(consoleLayout(), consoleProc);
    if (dialog == DIALOG_NONE) return 1;
    dlg()->setIcon(dialog, CONSOLE_ICON_ID);
    // A console on a printer of the program's own says so: its SAVE reaches only that printer.
    std::string title = titleText();
    if (!Record_OwnPrinterLabel().empty()) title += " - " + Record_OwnPrinterLabel();
    dlg()->setTitle(dialog, title.c_str());
    dlg()->show(dialog, showCommand);
    dlg()->runLoop();
    return 0;
}
