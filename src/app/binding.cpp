// SPDX-License-Identifier: Apache-2.0
// Binding of the console's controls: show a record, validate and commit entries, pack, deliver.
#include "app/binding.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/console.h"
#include "app/record_store.h"
#include "app/texts.h"
#include "params/calibration_params.h"
#include "params/parameter_record.h"
#include "pipeline/head_format.h"
#include "platform/bytes.h"

const int INK_SLOT_LISTS[8] = {ID_INK_SLOT1, ID_INK_SLOT2, ID_INK_SLOT3, ID_INK_SLOT4,
                               ID_INK_SLOT5, ID_INK_SLOT6, ID_INK_SLOT7, ID_INK_SLOT8};

namespace {

using Field = uint16_t CalibrationParams::*;

// The six bidirectional rows: current edit, add entry, standard field, high-definition field
// (rows 1 to 5), mode label.
struct BidirRow {
    int current, entry;
    Field standard, hd;
    int label;
};
const BidirRow BIDIR_ROWS[6] = {
    {ID_BIDIR_TEXT_HIGH, ID_BIDIR_TEXT_HIGH_ADD, &CalibrationParams::bidirTextHigh,
     &CalibrationParams::bidirTextHighHd, ID_BIDIR_TEXT_HIGH_LABEL},
    {ID_BIDIR_TEXT_MID, ID_BIDIR_TEXT_MID_ADD, &CalibrationParams::bidirTextMid,
     &CalibrationParams::bidirTextMidHd, ID_BIDIR_TEXT_MID_LABEL},
    {ID_BIDIR_TEXT_LOW, ID_BIDIR_TEXT_LOW_ADD, &CalibrationParams::bidirTextLow,
     &CalibrationParams::bidirTextLowHd, ID_BIDIR_TEXT_LOW_LABEL},
    {ID_BIDIR_IMAGE_HIGH, ID_BIDIR_IMAGE_HIGH_ADD, &CalibrationParams::bidirImageHigh,
     &CalibrationParams::bidirImageHighHd, ID_BIDIR_IMAGE_HIGH_LABEL},
    {ID_BIDIR_IMAGE_LOW, ID_BIDIR_IMAGE_LOW_ADD, &CalibrationParams::bidirImageLow,
     &CalibrationParams::bidirImageLowHd, ID_BIDIR_IMAGE_LOW_LABEL},
    {ID_BIDIR_PHOTO, ID_BIDIR_PHOTO_ADD, &CalibrationParams::bidirPhoto,
     &CalibrationParams::bidirPhoto, ID_BIDIR_PHOTO_LABEL},
};
// The order in which SAVE applies the add entries: rows 3, 2, 1, 4, 5, 6.
const int BIDIR_SAVE_ORDER[6] = {2, 1, 0, 3, 4, 5};

struct StepRow {
    int current, entry;
    Field field;
};
// In the order SAVE applies them.
const StepRow STEP_ROWS[5] = {
    {ID_PASS4, ID_PASS4_SET, &CalibrationParams::stepPass4},
    {ID_PASS6, ID_PASS6_SET, &CalibrationParams::stepPass6},
    {ID_PASS8, ID_PASS8_SET, &CalibrationParams::stepPass8},
    {ID_PASS3, ID_PASS3_SET, &CalibrationParams::stepPass3},
    {ID_PASS2, ID_PASS2_SET, &CalibrationParams::stepPass2},
};

const int COLOR_BAND_CONTROLS[6] = {ID_COLOR_LEFT,      ID_COLOR_RIGHT, ID_BAND_MARGIN,
                                    ID_BAND_MARGIN_SET, ID_BAND_WIDTH,  ID_BAND_WIDTH_SET};

constexpr int32_t BYTE_MAX = 255;
constexpr int32_t WORD_MAX = 65535;
constexpr size_t ENTRY_CHARS = 7;
constexpr uint8_t ORDER_UNSET = 0xFF;

const DialogBackend* dlg() { return Dialog_Backend(); }
DialogHandle handle() { return consoleState()->dialog; }
CalibrationParams& params() { return *calibrationParams(); }

void showNumber(int id, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    dlg()->setText(handle(), id, text);
}
std::string entryText(int id) { return dlg()->getText(handle(), id).substr(0, ENTRY_CHARS); }
void clearEntry(int id) { dlg()->setText(handle(), id, ""); }
bool hdChecked() { return dlg()->isChecked(handle(), ID_HD_BOX); }

uint16_t blockWord(int offset) { return le::getU16(consoleState()->dialogBlock, offset); }
void setBlockWord(int offset, uint16_t v) { le::putU16(consoleState()->dialogBlock, offset, v); }

void showBidirRows(bool hd) {
    for (const BidirRow& row : BIDIR_ROWS)
        showNumber(row.current, params().*(hd ? row.hd : row.standard));
}

void setModeLabels(bool hd) {
    for (int r = 0; r < 6; ++r) dlg()->setText(handle(), BIDIR_ROWS[r].label, modeLabel(r, hd));
    showBidirRows(hd);
}

bool fail(ConsoleMessage message) {
    showConsoleMessage(message);
    return false;
}

// Step 3: feather depth 0..100; the current edit shows the text as typed.
bool applyFeatherDepth() {
    std::string text = entryText(ID_FEATHER_DEPTH_SET);
    if (text.empty()) return true;
    int32_t v = entryValue(text);
    if (v < 0 || v > static_cast<int32_t>(RECORD_FEATHER_DEPTH_MAX)) return fail(MSG_OUT_OF_RANGE);
    params().featherDepth = static_cast<uint8_t>(v);
    dlg()->setText(handle(), ID_FEATHER_DEPTH, text.c_str());
    clearEntry(ID_FEATHER_DEPTH_SET);
    return true;
}

// Step 4: set-to entries; 0 (empty or not a number) keeps the value and the entry.
bool applySteps() {
    for (const StepRow& row : STEP_ROWS) {
        int32_t v = entryValue(entryText(row.entry));
        if (v == 0) continue;
        if (v < 0) return fail(MSG_NEGATIVE);
        if (v > WORD_MAX) return fail(MSG_OUT_OF_RANGE);
        params().*row.field = static_cast<uint16_t>(v);
        showNumber(row.current, v);
        clearEntry(row.entry);
    }
    return true;
}

// An add entry over `current`: amount 0 leaves the value (ADD_NONE); otherwise the sum in
// *sum, or the failure's message shown and ADD_FAILED.
enum AddVerdict { ADD_NONE, ADD_OK, ADD_FAILED };
AddVerdict addEntry(int entry, int32_t current, int32_t limit, ConsoleMessage negative,
                    int32_t* sum) {
    int32_t amount = entryValue(entryText(entry));
    if (amount == 0) return ADD_NONE;
    *sum = current + amount;
    if (*sum >= 0 && *sum <= limit) return ADD_OK;
    fail(*sum < 0 ? negative : MSG_OUT_OF_RANGE);
    return ADD_FAILED;
}

// Step 5: the bidirectional rows, the high-definition set while box ID_HD_BOX is checked.
bool applyBidirRows() {
    bool hd = hdChecked();
    for (int r : BIDIR_SAVE_ORDER) {
        const BidirRow& row = BIDIR_ROWS[r];
        Field f = hd ? row.hd : row.standard;
        int32_t sum = 0;
        AddVerdict v = addEntry(row.entry, params().*f, BYTE_MAX, MSG_NEGATIVE, &sum);
        if (v == ADD_FAILED) return false;
        if (v == ADD_NONE) continue;
        params().*f = static_cast<uint16_t>(sum);
        showNumber(row.current, sum);
        clearEntry(row.entry);
    }
    return true;
}

// Step 6: the print start offset, held in the block copy.
bool applyStartOffset() {
    int32_t sum = 0;
    AddVerdict v = addEntry(ID_START_OFFSET_ADD, blockWord(DLG_START_OFFSET), WORD_MAX,
                            MSG_NEGATIVE_CHINESE, &sum);
    if (v == ADD_FAILED) return false;
    if (v == ADD_OK) {
        setBlockWord(DLG_START_OFFSET, static_cast<uint16_t>(sum));
        showNumber(ID_START_OFFSET, sum);
        clearEntry(ID_START_OFFSET_ADD);
    }
    return true;
}

// Step 8: the order from the eight lists; committed to CalibrationParams too, so that a later
// SAVE with the box unchecked does not pack the order loaded before.
bool applyInkOrder(uint8_t* packed) {
    uint8_t order[8];
    std::memset(order, ORDER_UNSET, sizeof order);
    for (int slot = 1; slot <= 8; ++slot) {
        int channel = inkNameIndex(dlg()->getText(handle(), INK_SLOT_LISTS[slot - 1]));
        if (channel >= 0) order[channel] = static_cast<uint8_t>(8 - slot);
    }
    if (!isValidInkOrder(order)) return fail(MSG_INK_ORDER_INVALID);
    std::memcpy(packed + REC_INK_ORDER, order, sizeof order);
    std::memcpy(params().inkOrder, order, sizeof order);
    return true;
}

// Margin or width set-to entry (0 included); negative -> Chinese message.
bool applyBandEntry(int entry, int current, uint16_t* field) {
    std::string text = entryText(entry);
    if (text.empty()) return true;
    int32_t v = entryValue(text);
    if (v < 0) return fail(MSG_NEGATIVE_CHINESE);
    if (v > BYTE_MAX) return fail(MSG_OUT_OF_RANGE);
    *field = static_cast<uint16_t>(v);
    showNumber(current, v);
    clearEntry(entry);
    return true;
}

// Step 9: the colour band from its controls.
bool applyColorBand() {
    CalibrationParams& p = params();
    uint8_t sides = p.colorBandSides & ~0x03u;
    if (dlg()->isChecked(handle(), ID_COLOR_LEFT)) sides |= 0x02;
    if (dlg()->isChecked(handle(), ID_COLOR_RIGHT)) sides |= 0x01;
    p.colorBandSides = sides;
    p.colorBandOn = sides != 0 ? 1 : 0;
    return applyBandEntry(ID_BAND_MARGIN_SET, ID_BAND_MARGIN, &p.colorBandMargin) &&
           applyBandEntry(ID_BAND_WIDTH_SET, ID_BAND_WIDTH, &p.colorBandWidth);
}

// The entries validated and committed, the new record packed into `record`; false after the
// failing entry's message.
bool applyEntries(uint8_t* record) {
    CalibrationParams& p = params();
    int mode = dlg()->listSelection(handle(), ID_FEATHER_MODE);
    p.featherMode = mode < 0 ? 255 : static_cast<uint8_t>(mode);
    p.skipLrBlank = dlg()->listSelection(handle(), ID_SKIP_BLANK) != 0 ? 1 : 0;
    if (!applyFeatherDepth() || !applySteps() || !applyBidirRows() || !applyStartOffset())
        return false;

    uint8_t packed[PARAMETER_RECORD_SIZE];
    std::memcpy(packed, record, sizeof packed);
    packParameterRecord(p, packed);
    packDialogParamBlock(consoleState()->dialogBlock, packed);
    if (dlg()->isChecked(handle(), ID_INK_ORDER_BOX)) {
        if (!applyInkOrder(packed)) return false;
        std::memcpy(record, packed, sizeof packed);
    }
    if (dlg()->isChecked(handle(), ID_COLOR_BAND_BOX)) {
        if (!applyColorBand()) return false;
    }
    packColorBand(p, packed);
    std::memcpy(record, packed, sizeof packed);
    return true;
}

}  // namespace

int32_t entryValue(const std::string& raw) {
    std::string text = raw.substr(0, ENTRY_CHARS);
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int32_t value = 0;  // at most 7 characters: no overflow
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int inkNameIndex(const std::string& text) {
    if (text.size() < 2) return -1;
    for (int c = 0; c < INK_COUNT; ++c)
        if (text.compare(0, 2, inkName(c)) == 0) return c;
    return -1;
}

void fillInkCombo(int list, int selection) {
    dlg()->listClear(handle(), list);
    for (int c = 0; c < INK_COUNT; ++c) dlg()->listAdd(handle(), list, inkName(c));
    dlg()->listSelect(handle(), list, selection);
}

void fillFeatherCombo() {
    dlg()->listClear(handle(), ID_FEATHER_MODE);
    for (int i = 0; i < FEATHER_MODE_COUNT; ++i)
        dlg()->listAdd(handle(), ID_FEATHER_MODE, featherModeName(i));
}

void fillSkipBlankCombo() {
    dlg()->listClear(handle(), ID_SKIP_BLANK);
    for (int i = 0; i < SKIP_BLANK_COUNT; ++i)
        dlg()->listAdd(handle(), ID_SKIP_BLANK, skipBlankName(i));
}

void showInkOrder(const uint8_t* record) {
    uint8_t order[8];
    std::memcpy(order, record + REC_INK_ORDER, sizeof order);
    bool duplicate = false;
    for (int i = 0; i < 8; ++i)
        for (int j = i + 1; j < 8; ++j) duplicate = duplicate || order[i] == order[j];
    if (duplicate)
        for (int i = 0; i < 8; ++i) order[i] = static_cast<uint8_t>(7 - i);
    // A slot that no value names is left truly empty rather than holding an earlier fill.
    for (int list : INK_SLOT_LISTS) dlg()->listClear(handle(), list);
    for (int i = 0; i < 8; ++i)
        if (order[i] <= 7) fillInkCombo(INK_SLOT_LISTS[7 - order[i]], i);
}

void enableInkOrderCombos(bool on) {
    for (int list : INK_SLOT_LISTS) dlg()->enable(handle(), list, on);
}

void enableColorBandControls(bool on) {
    for (int id : COLOR_BAND_CONTROLS) dlg()->enable(handle(), id, on);
}

void showStandardModeLabels() { setModeLabels(false); }
void showHdModeLabels() { setModeLabels(true); }

void showParameters(const uint8_t* record) {
    CalibrationParams& p = params();
    unpackParameterRecord(record, &p);
    p.feedStepsPerMeter = FEED_STEPS_PER_METER;
    fillDialogParamBlock(record, consoleState()->dialogBlock);

    showBidirRows(hdChecked());
    for (const StepRow& row : STEP_ROWS) showNumber(row.current, p.*row.field);
    showNumber(ID_START_OFFSET, blockWord(DLG_START_OFFSET));
    showNumber(ID_FEATHER_DEPTH, p.featherDepth);
    showInkOrder(record);

    // The colour-band controls follow box ID_COLOR_BAND_BOX, so a checked box never sits beside
    // controls the operator cannot change.
    enableColorBandControls(dlg()->isChecked(handle(), ID_COLOR_BAND_BOX));
    dlg()->setCheck(handle(), ID_COLOR_RIGHT, (p.colorBandSides & 0x01) != 0);
    dlg()->setCheck(handle(), ID_COLOR_LEFT, (p.colorBandSides & 0x02) != 0);
    showNumber(ID_BAND_MARGIN, p.colorBandMargin);
    showNumber(ID_BAND_WIDTH, p.colorBandWidth);

    fillFeatherCombo();
    dlg()->listSelect(handle(), ID_FEATHER_MODE, p.featherMode);
    fillSkipBlankCombo();
    dlg()->listSelect(handle(), ID_SKIP_BLANK, p.skipLrBlank == 0 ? 0 : 1);
}

SaveOutcome saveParametersVerified(uint8_t* record) {
    if (!consoleState()->printerConnected) {
        fail(MSG_NOT_CONNECTED);
        return SAVE_NOT_SAVED;
    }
    return Record_Save(record, applyEntries, showParameters);
}
