// SPDX-License-Identifier: Apache-2.0
// Texts of the calibration window: one row per text, Chinese and English.
#include "app/calibrate_texts.h"

#include <cstdarg>
#include <cstdio>

#include "diag/errors.h"

namespace {

struct TextRow {
    CalibrateText id;
    const char* zh;
    const char* en;
};

constexpr TextRow TEXTS[CAL_TEXT_COUNT] = {
    {CAL_OPEN_BUTTON, "校准...", "Calibrate..."},
    {CAL_TITLE, "校准向导", "Calibrate"},
    {CAL_STEP_PRINT, "1  打印校准页", "1  Print the calibration sheet"},
    {CAL_SECOND_PASS, "同时打印高清二次", "Second pass too"},
    {CAL_PRINT, "打印校准页", "Print sheet"},
    {CAL_PRINTING, "正在打印校准页…", "Printing the sheet..."},
    {CAL_PRINTED, "校准页 %u 已打印（%d 个打印）。请扫描或拍摄整张纸。",
     "Sheet %u printed (%d prints). Scan or photograph the whole sheet."},
    {CAL_PRINTED_VP, "校准页 %u 已打印（%d 个打印），虚拟打印机的图片已读取。",
     "Sheet %u printed (%d prints); the virtual printer's picture is read."},
    {CAL_NOT_PRINTED, "校准页没有打印完成。", "The sheet did not print to its end."},
    {CAL_STEP_PICTURE, "2  校准页的图片", "2  The sheet's picture"},
    {CAL_READ_FILE, "读取文件...", "Read file..."},
    {CAL_SCAN, "扫描", "Scan"},
    {CAL_SCANNING, "正在扫描校准页…", "Scanning the sheet..."},
    {CAL_READING, "正在读取图片…", "Reading the picture..."},
    {CAL_CANCEL, "取消", "Cancel"},
    {CAL_NO_SCANNER, "未找到扫描仪", "No scanner found"},
    {CAL_LOOKING_FOR_SCANNERS, "正在查找扫描仪…", "Looking for scanners..."},
    {CAL_PICTURE_READ, "已读取 %s：校准页 %u。", "Read %s: sheet %u."},
    {CAL_NOT_READ, "无法读取：%s", "Cannot read: %s"},
    {CAL_STEP_RESULT, "3  读取结果", "3  What was read"},
    {CAL_COL_MODE, "模式", "Mode"},
    {CAL_COL_PASS, "遍", "Pass"},
    {CAL_COL_READING, "读数", "Reading"},
    {CAL_COL_CERTAIN, "确定", "Certain"},
    {CAL_COL_ENTER, "输入", "Enter"},
    {CAL_COL_TODO, "怎么做", "What to do"},
    {CAL_PASS_FIRST, "第一遍", "first"},
    {CAL_PASS_SECOND, "第二遍", "second"},
    {CAL_YES, "是", "yes"},
    {CAL_NO, "否", "no"},
    {CAL_STEP_SAVE, "4  保存", "4  SAVE"},
    {CAL_SAVE, "保存", "SAVE"},
    {CAL_SAVE_HINT, "一次保存所有确定的读数", "Saves every certain reading at once"},
    {CAL_SAVED, "已保存 %d 个数值。", "Saved %d values."},
    {CAL_NOTHING_TO_SAVE, "没有要保存的：所有确定的读数都对齐在 \"00\"。",
     "Nothing to save: every certain reading lines up at \"00\"."},
    {CAL_SAVE_FAILED, "没有保存：%s", "Not saved: %s"},
    {CAL_STEP_VERIFY, "5  校验", "5  Verify"},
    {CAL_VERIFY, "再打印一张并读取", "Print again and read"},
    {CAL_VERIFY_HINT, "保存后再打印校准页，确认每个模式都对齐",
     "After SAVE, print the sheet again to confirm every mode"},
    {CAL_VERIFIED, "校验通过：每个模式都对齐。", "Verified: every mode lines up."},
    {CAL_NOT_VERIFIED, "校验未通过：见表格。可按保存再次应用新读数。",
     "Not verified: see the table. SAVE applies the new readings again."},
    {CAL_CONFIRMED, "已确认：\"00\" 对齐", "confirmed: \"00\" lines up"},
    {CAL_NEW_READING, "新读数 %+d：按保存再次应用", "new reading %+d: SAVE applies it again"},
    {CAL_TODO_ENTER, "保存时输入 %+d", "SAVE enters %+d"},
    {CAL_TODO_LINES_UP, "已对齐，不用输入", "lines up, nothing to enter"},
    {CAL_TODO_UNCERTAIN, "不确定：靠近重拍或用 300 dpi 扫描",
     "not certain: retake the picture closer or scan at 300 dpi"},
    {CAL_TODO_UNREAD, "读不出：重拍整张纸，或单独重打这个模式",
     "not read: take the picture again, or reprint this mode alone"},
    {CAL_TODO_MISSING, "没有找到：扫描整张纸", "not found: scan the whole sheet"},
    {CAL_TODO_FOREIGN, "属于另一张校准页：不输入", "of another sheet: nothing entered"},
    {CAL_TODO_CONFLICT, "标记矛盾：重打校准页", "marks contradict: reprint the sheet"},
    {CAL_CONTRADICTORY, "这张校准页的标记互相矛盾，不输入任何值：%s",
     "The sheet's marks contradict each other; nothing is entered from it: %s"},
};

// Each row stands at its text's number.
constexpr bool inOrder() {
    for (int i = 0; i < CAL_TEXT_COUNT; ++i)
        if (TEXTS[i].id != i) return false;
    return true;
}
static_assert(inOrder(), "a text's row must stand at its number");

}  // namespace

const char* calibrateText(CalibrateText text) {
    if (text < 0 || text >= CAL_TEXT_COUNT) return "";
    const TextRow& row = TEXTS[text];
    return isChineseUi() ? row.zh : row.en;
}

std::string calibrateFormat(CalibrateText text, ...) {
    char out[512];
    va_list args;
    va_start(args, text);
    // The formats are this table's own; the arguments are what each row names.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(out, sizeof out, calibrateText(text), args);
#pragma GCC diagnostic pop
    va_end(args);
    return out;
}

std::string calibrateTodo(const SheetPrint& print, bool verifying, bool linesUp) {
    switch (print.verdict) {
        case SHEET_CERTAIN:
            if (verifying)
                return linesUp ? calibrateText(CAL_CONFIRMED)
                               : calibrateFormat(CAL_NEW_READING, print.amount);
            return print.amount == 0 ? calibrateText(CAL_TODO_LINES_UP)
                                     : calibrateFormat(CAL_TODO_ENTER, print.amount);
        case SHEET_UNCERTAIN:
            return calibrateText(CAL_TODO_UNCERTAIN);
        case SHEET_UNREAD:
            return calibrateText(CAL_TODO_UNREAD);
        case SHEET_MISSING:
            return calibrateText(CAL_TODO_MISSING);
        case SHEET_FOREIGN:
            return calibrateText(CAL_TODO_FOREIGN);
        case SHEET_CONFLICT:
            return calibrateText(CAL_TODO_CONFLICT);
    }
    return "";
}
