// SPDX-License-Identifier: Apache-2.0
// Console start-up and dialog procedure against the virtual printer and the shared area.
#include <cstring>

#include "app/console.h"
#include "app/texts.h"
#include "console_support.h"
#include "job/print_job.h"
#include "params/calibration_params.h"
#include "support/product_internals.h"
#include "vprinter.h"

namespace {

const char* const READ_FAILED = "Printer's parameters get failed, please check the usb cable.";
const char* const NOT_CONNECTED = "The printer connected failed, please retry.";
const char* const SAVE_FAIL = "Parameter save fail!";

TEST_F(ConsoleTest, UnpluggedStartShowsLinkMessageThenTipAndRefusesSave) {
    VPrinterFaults faults;
    faults.disappearOpens = 1000;
    VPrinter_SetFaults(faults);
    startConsole();

    std::vector<DialogModelBox> boxes = DialogModel_Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[0].fromDialog);  // the link's own box comes first
    EXPECT_EQ(boxes[1].text, READ_FAILED);
    EXPECT_EQ(boxes[1].caption, "TIP");
    EXPECT_EQ(consoleState()->printerConnected, 0);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "");
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "");

    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{NOT_CONNECTED, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "ERROR");
    EXPECT_EQ(DialogModel_Boxes()[1].caption, "FAIL");
}

TEST_F(ConsoleTest, StartReadsThePrinterAndShowsEveryValue) {
    std::vector<uint8_t> r = sampleRecord();
    storePrinterRecord(r.data());
    startConsole();

    EXPECT_TRUE(DialogModel_Boxes().empty());
    EXPECT_EQ(consoleState()->printerConnected, 1);
    EXPECT_EQ(printerTransactions(64), 1);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "10");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_MID), "11");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_LOW), "5");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_IMAGE_HIGH), "20");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_IMAGE_LOW), "21");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_PHOTO), "22");
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "100");
    EXPECT_EQ(DialogModel_Text(ID_PASS6), "300");
    EXPECT_EQ(DialogModel_Text(ID_PASS8), "200");
    EXPECT_EQ(DialogModel_Text(ID_PASS3), "150");
    EXPECT_EQ(DialogModel_Text(ID_PASS2), "90");
    EXPECT_EQ(DialogModel_Text(ID_START_OFFSET), "12");
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH), "40");
    EXPECT_EQ(DialogModel_ListSelection(ID_FEATHER_MODE), 2);
    EXPECT_EQ(DialogModel_ListSelection(ID_SKIP_BLANK), 0);
    EXPECT_EQ(DialogModel_ListEntries(ID_FEATHER_MODE).size(), 5u);
    EXPECT_TRUE(DialogModel_Checked(ID_COLOR_LEFT));
    EXPECT_TRUE(DialogModel_Checked(ID_COLOR_RIGHT));
    EXPECT_EQ(DialogModel_Text(ID_BAND_MARGIN), "3");
    EXPECT_EQ(DialogModel_Text(ID_BAND_WIDTH), "4");
    EXPECT_FALSE(DialogModel_Enabled(ID_INK_SLOT1));  // ink lists start disabled
    EXPECT_FALSE(DialogModel_Enabled(ID_BAND_MARGIN_SET));
    EXPECT_EQ(DialogModel_Title(), "Print Head Alignment Tool V1.72a(180-0501)");
    EXPECT_EQ(DialogModel_ShowCommand(), 5);
    EXPECT_EQ(calibrationParams()->feedStepsPerMeter, 409600u);
}

TEST_F(ConsoleTest, StartWithTheAreaPresentNeverAsksThePrinter) {
    std::vector<uint8_t> r = sampleRecord();
    r[3] = 77;
    ASSERT_TRUE(startHost({"--hex", hexBytes(r)}));
    startConsole();

    EXPECT_EQ(printerTransactions(64), 0);
    EXPECT_EQ(consoleState()->printerConnected, 1);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "77");
    EXPECT_TRUE(DialogModel_Boxes().empty());
    // The start-up read leaves the update flag alone.
    EXPECT_EQ(host.dump()[0], 0);
}

TEST_F(ConsoleTest, AreaWithoutLockEndsStartSilentlyNotConnected) {
    ASSERT_TRUE(startHost({"--no-lock", "--hex", hexBytes(sampleRecord())}));
    startConsole();
    EXPECT_TRUE(DialogModel_Boxes().empty());
    EXPECT_EQ(consoleState()->printerConnected, 0);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "");
    EXPECT_EQ(printerTransactions(64), 0);
}

TEST_F(ConsoleTest, AreaBusyAtStartWarnsAndCountsAsNotConnected) {
    ASSERT_TRUE(startHost({"--hex", hexBytes(sampleRecord())}));
    ASSERT_EQ(host.command("hold"), "held");
    uint32_t before = fake_clock::tick();
    startConsole();

    EXPECT_GE(fake_clock::tick() - before, 2000u);
    EXPECT_LT(fake_clock::tick() - before, 2100u);
    ASSERT_EQ(boxTexts(), std::vector<std::string>{"Printer busy, please SAVE again"});
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "WARNING");
    EXPECT_EQ(consoleState()->printerConnected, 0);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "");

    // No record built on zeros may ever be delivered.
    ASSERT_EQ(host.command("release"), "released");
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{NOT_CONNECTED, SAVE_FAIL}));
    EXPECT_EQ(host.dump()[0], 0);
}

TEST_F(ConsoleTest, AreaTooSmallForARecordIsNeverReadPastItsEnd) {
    ASSERT_TRUE(startHost({"--size", "16"}));
    startConsole();
    EXPECT_EQ(consoleState()->printerConnected, 0);
    EXPECT_EQ(printerTransactions(64), 0);
}

TEST_F(ConsoleTest, HdBoxClickedTwiceRestoresStandardNamesAndValues) {
    std::vector<uint8_t> r = sampleRecord();
    storePrinterRecord(r.data());
    fake_locale::install(0x0409);
    startConsole();
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH_LABEL), "HIGH SPEED");

    DialogModel_Click(ID_HD_BOX);
    EXPECT_EQ(consoleState()->hdMode, 1);
    EXPECT_TRUE(Job_HdMode());  // the adjustment jobs see the box
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH_LABEL), "草稿高速");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_LOW_LABEL), "文字高速");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_PHOTO_LABEL), "照片模式");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "30");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_IMAGE_LOW), "34");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_PHOTO), "22");  // photo has no second-pass variant

    DialogModel_Click(ID_HD_BOX);
    EXPECT_EQ(consoleState()->hdMode, 0);
    EXPECT_FALSE(Job_HdMode());
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH_LABEL), "文字高速");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_IMAGE_HIGH_LABEL), "图像高/中速");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "10");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_IMAGE_LOW), "21");
}

TEST_F(ConsoleTest, ChineseSystemKeepsLayoutTextsAndSpeaksChinese) {
    fake_locale::install(0x0404);  // Chinese, another region
    VPrinterFaults faults;
    faults.disappearOpens = 1000;
    VPrinter_SetFaults(faults);
    startConsole();
    EXPECT_EQ(DialogModel_Text(ID_SAVE), "保存");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH_LABEL), "文字高速");
    EXPECT_EQ(DialogModel_Title(), "打印头校准工具 V1.72a(180-0501)");
    std::vector<DialogModelBox> boxes = DialogModel_Boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "无法获取初始参数值,请检查电脑到USB连接线");
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"打印机连接失败，请重新尝试", "参数保存失败"}));
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "错误");
}

TEST_F(ConsoleTest, EnglishSystemReplacesTheEnglishSetOnly) {
    storePrinterRecord(sampleRecord().data());
    startConsole();
    EXPECT_EQ(DialogModel_Text(ID_SAVE), "SAVE");
    EXPECT_EQ(DialogModel_Text(ID_EXIT), "EXIT");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_LOW_LABEL), "LOW  SPEED");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_IMAGE_LOW_LABEL), "IMAGE LOW ");
    EXPECT_EQ(DialogModel_Text(ID_INK_ORDER_BOX),
              "MODIFY THE INK BOXES ORDER:(FROM LEFT TO RIGHT)      ");
    EXPECT_EQ(DialogModel_Text(ID_VERTICAL_HINT),
              "ADJUST THE CAR \nSCREW, MAKE THE \nLINES OVERLAPPED:");
    EXPECT_EQ(DialogModel_Text(ID_CONFIG_STORE), "Read printer");
    EXPECT_EQ(DialogModel_Text(ID_PASS2_LABEL), "2PASS");
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH_RANGE), "（0%--100%）");
    EXPECT_EQ(DialogModel_Text(ID_INK_SLOT1_LABEL), "1");
    EXPECT_EQ(DialogModel_ListEntries(ID_SKIP_BLANK),
              (std::vector<std::string>{"Close Skip LR Blank", "Open Skip LR Blank"}));
    EXPECT_EQ(DialogModel_ListEntries(ID_FEATHER_MODE)[4], "Mode5");
}

TEST_F(ConsoleTest, ExitCloseAndCommandEightEndTheLoop) {
    storePrinterRecord(sampleRecord().data());
    for (int way = 0; way < 3; ++way) {
        DialogModel_Reset();
        startConsole();
        ASSERT_TRUE(DialogModel_Exists());
        if (way == 0) DialogModel_Click(ID_EXIT);
        if (way == 1) DialogModel_Command(ID_CLOSE);
        if (way == 2) DialogModel_Close();
        EXPECT_FALSE(DialogModel_Exists()) << way;
        EXPECT_EQ(DialogModel_Backend()->runLoop(), 0) << way;
    }
}

TEST_F(ConsoleTest, ClearZeroesTheRecordAndShowsIt) {
    storePrinterRecord(sampleRecord().data());
    startConsole();
    consoleState()->currentRecord[58] = 9;
    DialogModel_Command(ID_CLEAR);
    for (uint8_t b : consoleState()->currentRecord) ASSERT_EQ(b, 0);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "0");
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "0");
    // Zeros are a duplicate order: the default order is shown.
    EXPECT_EQ(DialogModel_Text(ID_INK_SLOT1), "K2");
    EXPECT_EQ(DialogModel_Text(ID_INK_SLOT8), "C1");
}

TEST_F(ConsoleTest, UnknownMessagesAndCommandsAreLeftUnhandled) {
    storePrinterRecord(sampleRecord().data());
    startConsole();
    EXPECT_EQ(consoleProc(1, 0x0200, 0, 0), 0);
    EXPECT_EQ(consoleProc(1, DLGMSG_COMMAND, Dialog_CommandParam(ID_BIDIR_TEXT_HIGH_ADD, 0x300), 0),
              0);
    EXPECT_EQ(consoleProc(1, DLGMSG_COMMAND, Dialog_CommandParam(ID_COLOR_LEFT), 0), 0);
    // The Config list only reacts to a changed selection.
    EXPECT_EQ(consoleProc(1, DLGMSG_COMMAND, Dialog_CommandParam(ID_CONFIG_LIST, 3), 0), 0);
}

TEST_F(ConsoleTest, PrintButtonStartsItsJobEvenWhenNotConnected) {
    ASSERT_TRUE(startHost({"--no-lock"}));  // start ends not connected
    startConsole();
    ASSERT_EQ(consoleState()->printerConnected, 0);
    uint32_t before = VPrinter_LastJobNumber();
    DialogModel_Click(ID_LINE_CHECK);  // line check, pattern 3
    EXPECT_GT(VPrinter_LastJobNumber(), before);
}

}  // namespace
