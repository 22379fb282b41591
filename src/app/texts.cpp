// SPDX-License-Identifier: Apache-2.0
// Texts of the console: one table per kind, chosen by isChineseUi() when used.
#include "app/texts.h"

#include <cstdio>

#include "app/console.h"
#include "diag/errors.h"
#include "platform/dialog.h"
#include "platform/msgbox.h"

namespace {

struct MessageRow {
    ConsoleMessage id;
    const char* zhText;
    const char* zhCaption;
    const char* enText;
    const char* enCaption;
    int buttons;
    int icon;
};

constexpr int OK = MSGBOX_OK;
constexpr int INFO = MSGBOX_ICON_INFORMATION;

const MessageRow MESSAGES[MSG_COUNT] = {
    {MSG_SHARED_BUSY, "打印机忙，请重新保存", "WARNING", "Printer busy, please SAVE again",
     "WARNING", OK, INFO},
    {MSG_STARTUP_READ_FAILED, "无法获取初始参数值,请检查电脑到USB连接线", "TIP",
     "Printer's parameters get failed, please check the usb cable.", "TIP", OK, INFO},
    {MSG_SAVE_OK, "参数保存成功", "OK", "Parameter save successful!", "OK", OK, INFO},
    {MSG_SAVE_FAIL, "参数保存失败", "FAIL", "Parameter save fail!", "FAIL", OK, INFO},
    {MSG_NOT_CONNECTED, "打印机连接失败，请重新尝试", "错误",
     "The printer connected failed, please retry.", "ERROR", OK, INFO},
    {MSG_OUT_OF_RANGE, "设定值超出范围", "错误", "The value is out of range.", "Input Error", OK,
     INFO},
    {MSG_NEGATIVE, "设定值不能为负", "错误", "The value can't be Negative number", "Input Error",
     OK, INFO},
    {MSG_NEGATIVE_CHINESE, "设定值不能为负", "错误", "设定值不能为负", "错误", OK, INFO},
    {MSG_INK_ORDER_INVALID, "墨囊顺序值不正确，请不要重复设置相同值", "错误",
     "墨囊顺序值不正确，请不要重复设置相同值", "错误", OK, INFO},
    {MSG_FILE_SAVED, "参数文件(%s)保存成功", "Tip", "Parameters Save(%s) OK!", "Tip", OK, INFO},
    {MSG_FILE_NOT_SAVED, "参数文件(%s)保存失败", "Tip", "Parameters Save(%s) Fail!", "Tip", OK,
     INFO},
    {MSG_FILE_READ, "参数文件(%s)导入成功", "Tip", "Parameters'file(%s) import OK!", "Tip", OK,
     INFO},
    {MSG_FILE_NOT_READ, "参数文件(%s)导入失败", "Tip", "Parameters'file(%s) import Fail!", "Tip",
     OK, INFO},
    {MSG_IMPORT_QUESTION, "确认要导入参数文件(%s), 替换当前打印机的校准参数？", "Tip",
     "Import the parameter file (%s) and replace the printer's current calibration parameters?",
     "Tip", MSGBOX_OKCANCEL, MSGBOX_ICON_QUESTION},
    {MSG_SAVE_UNKNOWN, "打印机没有应答，无法确认参数是否已保存。再次保存将发送同样的参数值",
     "WARNING",
     "The printer did not answer: whether the parameters were saved is unknown. SAVE again sends "
     "the same values.",
     "WARNING", OK, INFO},
    {MSG_SHARED_REFUSED, "共享参数区不能使用: %s。没有从中读取，也没有写入", "错误",
     "The shared parameter area cannot be used: %s. Nothing was read from it or written into it.",
     "ERROR", OK, INFO},
    {MSG_RECORD_CHANGED, "参数已被其他程序修改。现在显示的是当前保存的参数值，请检查后重新保存",
     "WARNING",
     "Another program changed the parameters since they were read. The values now stored are "
     "shown; check them and SAVE again.",
     "WARNING", OK, INFO},
};

struct LabelRow {
    int id;
    const char* english;
};

const LabelRow ENGLISH_LABELS[] = {
    {ID_BIDIR_LABEL, " Bi-DIR:"},
    {ID_HD_BOX, "DRIVER b:"},
    {ID_BIDIR_TEXT_HIGH_PRINT, "PRINT"},
    {ID_BIDIR_TEXT_MID_PRINT, "PRINT"},
    {ID_BIDIR_TEXT_LOW_PRINT, "PRINT"},
    {ID_BIDIR_IMAGE_HIGH_PRINT, "PRINT"},
    {ID_BIDIR_IMAGE_LOW_PRINT, "PRINT"},
    {ID_BIDIR_PHOTO_PRINT, "PRINT"},
    {ID_PASS2_PRINT, "PRINT"},
    {ID_PASS3_PRINT, "PRINT"},
    {ID_PASS4_PRINT, "PRINT"},
    {ID_PASS6_PRINT, "PRINT"},
    {ID_PASS8_PRINT, "PRINT"},
    {ID_NOZZLE_PRINT, "PRINT"},
    {ID_VERTICAL_PRINT, "PRINT"},
    {ID_BIDIR_TEXT_HIGH_LABEL, "HIGH SPEED"},
    {ID_BIDIR_TEXT_MID_LABEL, "STD. SPEED"},
    {ID_BIDIR_TEXT_LOW_LABEL, "LOW  SPEED"},
    {ID_BIDIR_IMAGE_HIGH_LABEL, "IMAGE HIGH"},
    {ID_BIDIR_IMAGE_LOW_LABEL, "IMAGE LOW "},
    {ID_BIDIR_PHOTO_LABEL, "PHOTO MODE"},
    {ID_BIDIR_TEXT_HIGH_CURRENT_LABEL, "CURRENT:"},
    {ID_BIDIR_TEXT_MID_CURRENT_LABEL, "CURRENT:"},
    {ID_BIDIR_TEXT_LOW_CURRENT_LABEL, "CURRENT:"},
    {ID_BIDIR_IMAGE_HIGH_CURRENT_LABEL, "CURRENT:"},
    {ID_BIDIR_IMAGE_LOW_CURRENT_LABEL, "CURRENT:"},
    {ID_BIDIR_PHOTO_CURRENT_LABEL, "CURRENT:"},
    {ID_PASS2_CURRENT_LABEL, "CURRENT:"},
    {ID_PASS3_CURRENT_LABEL, "CURRENT:"},
    {ID_PASS4_CURRENT_LABEL, "CURRENT:"},
    {ID_PASS6_CURRENT_LABEL, "CURRENT:"},
    {ID_PASS8_CURRENT_LABEL, "CURRENT:"},
    {ID_START_OFFSET_CURRENT_LABEL, "CURRENT:"},
    {ID_FEATHER_DEPTH_CURRENT_LABEL, "CURRENT:"},
    {ID_BIDIR_TEXT_HIGH_ADD_LABEL, "MODIFY:"},
    {ID_BIDIR_TEXT_MID_ADD_LABEL, "MODIFY:"},
    {ID_BIDIR_TEXT_LOW_ADD_LABEL, "MODIFY:"},
    {ID_BIDIR_IMAGE_HIGH_ADD_LABEL, "MODIFY:"},
    {ID_BIDIR_IMAGE_LOW_ADD_LABEL, "MODIFY:"},
    {ID_BIDIR_PHOTO_ADD_LABEL, "MODIFY:"},
    {ID_START_OFFSET_ADD_LABEL, "MODIFY:"},
    {ID_PASS2_SET_LABEL, "SET:"},
    {ID_PASS3_SET_LABEL, "SET:"},
    {ID_PASS4_SET_LABEL, "SET:"},
    {ID_PASS6_SET_LABEL, "SET:"},
    {ID_PASS8_SET_LABEL, "SET:"},
    {ID_BAND_WIDTH_SET_LABEL, "SET:"},
    {ID_BAND_MARGIN_SET_LABEL, "SET:"},
    {ID_FEATHER_DEPTH_SET_LABEL, "SET:"},
    {ID_STEP_LABEL, "VERTI-AXIS:"},
    {ID_VERTICAL_LABEL, "VERTICAL:"},
    {ID_VERTICAL_HINT, "ADJUST THE CAR \nSCREW, MAKE THE \nLINES OVERLAPPED:"},
    {ID_LINE_CHECK, "LINES CHK"},
    {ID_NOZZLE_LABEL, "NOZZLES:"},
    {ID_INK_ORDER_BOX, "MODIFY THE INK BOXES ORDER:(FROM LEFT TO RIGHT)      "},
    {ID_START_OFFSET_LABEL, "PRINT START OFFSET:           "},
    {ID_FEATHER_MODE_LABEL, "FEATHER MODE:"},
    {ID_FEATHER_DEPTH_LABEL, "FEATHER DEPTH:"},
    {ID_SKIP_BLANK_LABEL, "SKIP L-R BLANK:"},
    {ID_COLOR_BAND_BOX, "COLOR BAND:"},
    {ID_COLOR_LEFT_LABEL, "LEFT ON:"},
    {ID_COLOR_RIGHT_LABEL, "RIGHT ON:"},
    {ID_BAND_MARGIN_LABEL, "MARGIN:"},
    {ID_BAND_WIDTH_LABEL, "WIDTH:"},
    {ID_SAVE, "SAVE"},
    {ID_EXIT, "EXIT"},
    {ID_CONFIG_LABEL, "Setting file:"},
    {ID_CONFIG_STORE, "Read printer"},
    // Export and import have buttons of their own in this layout.
    {ID_EXPORT, "Export"},
    {ID_IMPORT, "Import"},
};

const char* const FEATHER_ZH[FEATHER_MODE_COUNT] = {"模式1", "模式2", "模式3", "模式4", "模式5"};
const char* const FEATHER_EN[FEATHER_MODE_COUNT] = {"Mode1", "Mode2", "Mode3", "Mode4", "Mode5"};
const char* const SKIP_ZH[SKIP_BLANK_COUNT] = {"关闭左右跳白", "打开左右跳白"};
const char* const SKIP_EN[SKIP_BLANK_COUNT] = {"Close Skip LR Blank", "Open Skip LR Blank"};
const char* const INK_NAMES[INK_COUNT] = {"K2", "K1", "Y2", "Y1", "M2", "M1", "C2", "C1"};

const char* const MODE_LABELS[6][2] = {
    {"文字高速", "草稿高速"},       {"文字中速", "草稿中/低速"}, {"文字低速", "文字高速"},
    {"图像高/中速", "文字中/低速"}, {"图像低速", "图像模式"},    {"照片模式", "照片模式"},
};

const char* const TITLE_ZH = "打印头校准工具 V%d.%02d%c(180-0501)";
const char* const TITLE_EN = "Print Head Alignment Tool V%d.%02d%c(180-0501)";
constexpr int VERSION_MAJOR = 1;
constexpr int VERSION_MINOR = 72;
constexpr char VERSION_LETTER = 'a';

std::string substitute(const char* text, const char* argument) {
    std::string s = text;
    size_t at = s.find("%s");
    if (at != std::string::npos) s.replace(at, 2, argument ? argument : "");
    return s;
}

}  // namespace

const char* const OPEN_DIALOG_TITLE = "选择文件```";
const char* const SAVE_DIALOG_TITLE = "选择保存文件位置```";
const char* const FILE_DIALOG_FILTERS[4][2] = {
    {"数据文件(*.dat)", "*.dat"},
    {"文本文件(*.txt)", "*.txt"},
    {"C/C++源文件(*.cpp;*.c;*.h)", "*.cpp;*.c;*.h"},
    {"All Files(*.*)", "*.*"},
};

ConsoleText consoleText(ConsoleMessage message, const char* argument) {
    const MessageRow& row = MESSAGES[message];
    bool zh = isChineseUi();
    return {substitute(zh ? row.zhText : row.enText, argument), zh ? row.zhCaption : row.enCaption,
            row.buttons, row.icon};
}

int showConsoleMessage(ConsoleMessage message, const char* argument, const std::string& detail) {
    ConsoleText t = consoleText(message, argument);
    if (!detail.empty()) t.text += "\n" + detail;
    return Dialog_Backend()->messageBox(consoleState()->dialog, t.text.c_str(), t.caption.c_str(),
                                        t.buttons, t.icon);
}

void reportReason(const Reason& why) {
    if (!why.empty()) MsgBox_Show(why.text, why.caption, MSGBOX_OK, MSGBOX_ICON_INFORMATION);
}

std::string titleText() {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, isChineseUi() ? TITLE_ZH : TITLE_EN, VERSION_MAJOR,
                  VERSION_MINOR, VERSION_LETTER);
    return buffer;
}

void setEnglishLabels() {
    if (isChineseUi()) return;
    const DialogBackend* d = Dialog_Backend();
    for (const LabelRow& row : ENGLISH_LABELS)
        d->setText(consoleState()->dialog, row.id, row.english);
}

const char* featherModeName(int index) {
    if (index < 0 || index >= FEATHER_MODE_COUNT) return "";
    return isChineseUi() ? FEATHER_ZH[index] : FEATHER_EN[index];
}
const char* skipBlankName(int index) {
    if (index < 0 || index >= SKIP_BLANK_COUNT) return "";
    return isChineseUi() ? SKIP_ZH[index] : SKIP_EN[index];
}
const char* inkName(int channel) {
    return channel >= 0 && channel < INK_COUNT ? INK_NAMES[channel] : "";
}
const char* modeLabel(int row, bool hd) {
    return row >= 0 && row < 6 ? MODE_LABELS[row][hd ? 1 : 0] : "";
}
