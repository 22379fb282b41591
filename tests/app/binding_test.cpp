// SPDX-License-Identifier: Apache-2.0
// SAVE's validation, commit order, packing and delivery to the virtual printer.
#include "app/binding.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/console.h"
#include "console_support.h"
#include "params/calibration_params.h"
#include "support/session_fixture.h"
#include "vprinter.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "app/scan_entry.h"
#include "support/product_internals.h"
#endif

namespace {

const char* const SAVE_OK = "Parameter save successful!";
const char* const SAVE_FAIL = "Parameter save fail!";
const char* const OUT_OF_RANGE = "The value is out of range.";
const char* const NEGATIVE = "The value can't be Negative number";
const char* const NEGATIVE_ZH = "设定值不能为负";
const char* const INK_ORDER_ZH = "墨囊顺序值不正确，请不要重复设置相同值";

class SaveTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        storePrinterRecord(sampleRecord().data());
        startConsole();
        ASSERT_EQ(consoleState()->printerConnected, 1);
        DialogModel_ClearBoxes();
    }
    std::vector<std::string> save() {
        DialogModel_ClearBoxes();
        DialogModel_Click(ID_SAVE);
        return boxTexts();
    }
    using Boxes = std::vector<std::string>;
};

TEST_F(SaveTest, UntouchedSavePacksTheSameValuesWithMarkAndKeepsOtherBytes) {
    std::vector<uint8_t> loaded = sampleRecord();
    loaded[0] = 0x00;  // the mark is written by the pack
    storePrinterRecord(loaded.data());
    DialogModel_Reset();
    restartState<ConsoleState>();
    startConsole();
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "OK");
    std::vector<uint8_t> stored = printerRecord();
    std::vector<uint8_t> expected = sampleRecord();
    EXPECT_EQ(hexBytes(std::vector<uint8_t>(stored.begin(), stored.begin() + 54)),
              hexBytes(std::vector<uint8_t>(expected.begin(), expected.begin() + 54)));
    EXPECT_EQ(consoleState()->currentRecord[0], 0xAC);
    EXPECT_EQ(printerTransactions(65), 1);
}

TEST_F(SaveTest, ZeroInAStepEntryChangesNothingAndStays) {
    DialogModel_Type(ID_PASS4_SET, "0");
    DialogModel_Type(ID_PASS6_SET, "abc");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Text(ID_PASS4_SET), "0");
    EXPECT_EQ(DialogModel_Text(ID_PASS6_SET), "abc");
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "100");
    EXPECT_EQ(printerRecord()[0x0a], 100);
}

TEST_F(SaveTest, StepEntriesSetTheirFieldsAndEmpty) {
    DialogModel_Type(ID_PASS4_SET, " +1234x");
    DialogModel_Type(ID_PASS2_SET, "65535");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "1234");
    EXPECT_EQ(DialogModel_Text(ID_PASS4_SET), "");
    EXPECT_EQ(calibrationParams()->stepPass2, 65535);
    std::vector<uint8_t> r = printerRecord();
    EXPECT_EQ(r[0x0a] | r[0x0b] << 8, 1234);
    EXPECT_EQ(r[0x30] | r[0x31] << 8, 65535);
}

// The measure button ("...") asks for the distance between the crosses and types the proposal into
// its own row's entry only; a refused or cancelled measurement leaves the entry, and nothing
// reaches the printer before SAVE.
TEST_F(SaveTest, MeasureButtonsTypeTheProposalIntoTheirRowForSave) {
    struct Row {
        int button;
        const char* answer;  // nullptr: the prompt is cancelled
        int entry;
        const char* entered;
        const char* says;  // in the box afterwards; "" = no box
    };
    const Row rows[] = {
        {ID_MEASURE_PASS4, "998.5", ID_PASS4_SET, "9985",
         "nominal 1000.0 mm, measured 998.5 mm: stepPass4 = 10000 x 998.5 / 1000.0 = 9985"},
        {ID_MEASURE_PASS2, " 1012 ", ID_PASS2_SET, "10120",
         "stepPass2 = 10000 x 1012.0 / 1000.0 = 10120"},
        {ID_MEASURE_PASS8, nullptr, ID_PASS8_SET, "", ""},
        {ID_MEASURE_PASS6, "abc", ID_PASS6_SET, "", "'abc' is not a distance in millimetres"},
        {ID_MEASURE_PASS3, "1200", ID_PASS3_SET, "", "1200 mm is out of reason"},
        {ID_MEASURE_PASS3, "-999", ID_PASS3_SET, "", "out of reason"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.button);
        DialogModel_ClearBoxes();
        if (row.answer)
            DialogModel_QueuePromptAnswer(row.answer);
        else
            DialogModel_QueuePromptCancel();
        EXPECT_TRUE(DialogModel_Click(row.button));
        EXPECT_EQ(DialogModel_Text(row.entry), row.entered);
        std::vector<std::string> boxes = boxTexts();
        ASSERT_EQ(boxes.size(), *row.says ? 1u : 0u) << row.says;
        if (!boxes.empty()) {
            EXPECT_NE(boxes[0].find(row.says), std::string::npos) << boxes[0];
        }
    }
    std::vector<std::pair<std::string, std::string>> prompts = DialogModel_Prompts();
    ASSERT_EQ(prompts.size(), 6u);
    EXPECT_NE(prompts[0].first.find("4PASS"), std::string::npos) << prompts[0].first;
    EXPECT_NE(prompts[0].second.find("1000.0"), std::string::npos) << prompts[0].second;
    EXPECT_EQ(printerTransactions(65), 0);
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "100");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    std::vector<uint8_t> r = printerRecord();
    EXPECT_EQ(r[0x0a] | r[0x0b] << 8, 9985);
    EXPECT_EQ(r[0x30] | r[0x31] << 8, 10120);
    EXPECT_EQ(DialogModel_Text(ID_PASS4), "9985");
    EXPECT_EQ(DialogModel_Text(ID_PASS4_SET), "");
}

TEST_F(SaveTest, FeatherDepthTakesTextAsTypedAndRefuses101) {
    DialogModel_Type(ID_FEATHER_DEPTH_SET, "abc");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(calibrationParams()->featherDepth, 0);
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH), "abc");
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH_SET), "");

    DialogModel_Type(ID_FEATHER_DEPTH_SET, "50");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH), "50");
    EXPECT_EQ(printerRecord()[0x22], 50);

    DialogModel_Type(ID_FEATHER_DEPTH_SET, "101");
    EXPECT_EQ(save(), (Boxes{OUT_OF_RANGE, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "Input Error");
    EXPECT_EQ(printerRecord()[0x22], 50);
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH_SET), "101");
}

TEST_F(SaveTest, BidirectionalRowAtFiveRefusesMinusSixAndTakesMinusFive) {
    ASSERT_EQ(DialogModel_Text(ID_BIDIR_TEXT_LOW), "5");
    DialogModel_Type(ID_BIDIR_TEXT_LOW_ADD, "-6");
    EXPECT_EQ(save(), (Boxes{NEGATIVE, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_LOW), "5");
    DialogModel_Type(ID_BIDIR_TEXT_LOW_ADD, "-5");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_LOW), "0");
    EXPECT_EQ(printerRecord()[0x05], 0);
}

TEST_F(SaveTest, HdVariantChangesAloneAndStandardValueReturnsUntouched) {
    DialogModel_Click(ID_HD_BOX);
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "3");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(calibrationParams()->bidirTextHighHd, 33);
    EXPECT_EQ(calibrationParams()->bidirTextHigh, 10);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "33");
    DialogModel_Click(ID_HD_BOX);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "10");
    std::vector<uint8_t> r = printerRecord();
    EXPECT_EQ(r[0x03], 10);
    EXPECT_EQ(r[0x2a], 33);
}

TEST_F(SaveTest, FailureAfterFeatherDepthKeepsItCommittedAndDeliversNothing) {
    std::vector<uint8_t> before = printerRecord();
    DialogModel_Type(ID_FEATHER_DEPTH_SET, "60");
    DialogModel_Type(ID_PASS4_SET, "-1");
    EXPECT_EQ(save(), (Boxes{NEGATIVE, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH), "60");
    EXPECT_EQ(DialogModel_Text(ID_FEATHER_DEPTH_SET), "");
    EXPECT_EQ(DialogModel_Text(ID_PASS4_SET), "-1");
    EXPECT_EQ(calibrationParams()->featherDepth, 60);
    EXPECT_EQ(printerRecord(), before);
    EXPECT_EQ(printerTransactions(65), 0);
}

TEST_F(SaveTest, ValuesBeyondTheFieldWidthAreRefusedNeverWrapped) {
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "246");  // 10 + 246 = 256
    EXPECT_EQ(save(), (Boxes{OUT_OF_RANGE, SAVE_FAIL}));
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "245");
    DialogModel_Type(ID_PASS4_SET, "65536");
    EXPECT_EQ(save(), (Boxes{OUT_OF_RANGE, SAVE_FAIL}));
    DialogModel_Type(ID_PASS4_SET, "");
    DialogModel_Type(ID_START_OFFSET_ADD, "65524");  // 12 + 65524 = 65536
    EXPECT_EQ(save(), (Boxes{OUT_OF_RANGE, SAVE_FAIL}));
    DialogModel_Type(ID_START_OFFSET_ADD, "");
    DialogModel_Click(ID_COLOR_BAND_BOX);
    DialogModel_Type(ID_BAND_MARGIN_SET, "256");
    EXPECT_EQ(save(), (Boxes{OUT_OF_RANGE, SAVE_FAIL}));
    DialogModel_Type(ID_BAND_MARGIN_SET, "255");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    std::vector<uint8_t> r = printerRecord();
    EXPECT_EQ(r[0x03], 255);
    EXPECT_EQ(r[0x28], 255);
}

TEST_F(SaveTest, NegativeStartOffsetMarginAndWidthSpeakChineseOnEnglishSystems) {
    DialogModel_Type(ID_START_OFFSET_ADD, "-13");
    EXPECT_EQ(save(), (Boxes{NEGATIVE_ZH, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "错误");
    DialogModel_Type(ID_START_OFFSET_ADD, "-12");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Text(ID_START_OFFSET), "0");

    DialogModel_Click(ID_COLOR_BAND_BOX);
    DialogModel_Type(ID_BAND_WIDTH_SET, "-1");
    EXPECT_EQ(save(), (Boxes{NEGATIVE_ZH, SAVE_FAIL}));
    DialogModel_Type(ID_BAND_WIDTH_SET, "0");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(DialogModel_Text(ID_BAND_WIDTH), "0");
    EXPECT_EQ(printerRecord()[0x29], 0);
}

TEST_F(SaveTest, DuplicateInksGiveTheOrderMessageOnlyWhileTheBoxIsChecked) {
    EXPECT_FALSE(DialogModel_Select(ID_INK_SLOT1, 1));  // disabled until the box is checked
    DialogModel_Click(ID_INK_ORDER_BOX);
    ASSERT_TRUE(DialogModel_Enabled(ID_INK_SLOT1));
    ASSERT_TRUE(DialogModel_Select(ID_INK_SLOT1, 1));  // slot 1 = K1, slot 2 is K1 already
    EXPECT_EQ(save(), (Boxes{INK_ORDER_ZH, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "错误");

    DialogModel_Click(ID_INK_ORDER_BOX);
    EXPECT_FALSE(DialogModel_Enabled(ID_INK_SLOT1));
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x16], 7);
}

TEST_F(SaveTest, SwappedInksAreSavedAndSurviveALaterSaveWithTheBoxOff) {
    DialogModel_Click(ID_INK_ORDER_BOX);
    DialogModel_Select(ID_INK_SLOT1, 1);   // slot 1: K1
    DialogModel_Select(ID_INK_SLOT2, 0);   // slot 2: K2
    DialogModel_Type(ID_INK_SLOT8, "xx");  // an edited field names no ink
    EXPECT_EQ(save(), (Boxes{INK_ORDER_ZH, SAVE_FAIL}));
    DialogModel_Select(ID_INK_SLOT8, 7);
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x16], 6);  // K2 in slot 2 -> 6 from the right
    EXPECT_EQ(printerRecord()[0x17], 7);
    DialogModel_Click(ID_INK_ORDER_BOX);
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x16], 6);
    EXPECT_EQ(printerRecord()[0x17], 7);
}

TEST_F(SaveTest, ColourBandBytesFollowTheSideBoxes) {
    DialogModel_Click(ID_COLOR_BAND_BOX);
    ASSERT_TRUE(DialogModel_Enabled(ID_COLOR_LEFT));
    DialogModel_Click(ID_COLOR_LEFT);   // loaded checked -> off
    DialogModel_Click(ID_COLOR_RIGHT);  // loaded checked -> off
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x27], 0x00);
    DialogModel_Click(ID_COLOR_LEFT);
    DialogModel_Click(ID_COLOR_RIGHT);
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x27], 0x31);
    DialogModel_Click(ID_COLOR_RIGHT);
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x27], 0x21);
}

TEST_F(SaveTest, ColourBandControlsFollowTheBoxAfterAReload) {
    DialogModel_Click(ID_COLOR_BAND_BOX);
    DialogModel_Command(ID_CLEAR);
    EXPECT_TRUE(DialogModel_Enabled(ID_BAND_WIDTH_SET));
    DialogModel_Click(ID_COLOR_BAND_BOX);
    DialogModel_Command(ID_CLEAR);
    EXPECT_FALSE(DialogModel_Enabled(ID_BAND_WIDTH_SET));
}

TEST_F(SaveTest, SkipBlankAndFeatherModeSelections) {
    DialogModel_Select(ID_SKIP_BLANK, 1);
    DialogModel_Select(ID_FEATHER_MODE, 4);
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x26], 1);
    EXPECT_EQ(printerRecord()[0x21], 4);
    DialogModel_Select(ID_SKIP_BLANK, 0);
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[0x26], 0);
}

TEST_F(SaveTest, DuplicateInLoadedRecordShowsTheDefaultOrder) {
    std::vector<uint8_t> r = sampleRecord();
    const uint8_t order[8] = {0, 1, 2, 3, 4, 5, 6, 6};
    std::memcpy(r.data() + 0x16, order, 8);
    showParameters(r.data());
    const char* expected[8] = {"K2", "K1", "Y2", "Y1", "M2", "M1", "C2", "C1"};
    for (int s = 0; s < 8; ++s) EXPECT_EQ(DialogModel_Text(INK_SLOT_LISTS[s]), expected[s]) << s;
    // Reversed order without a duplicate is shown as it is.
    const uint8_t reversed[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    std::memcpy(r.data() + 0x16, reversed, 8);
    showParameters(r.data());
    EXPECT_EQ(DialogModel_Text(ID_INK_SLOT1), "C1");
    EXPECT_EQ(DialogModel_Text(ID_INK_SLOT8), "K2");
    EXPECT_EQ(DialogModel_ListEntries(ID_INK_SLOT1).size(), 8u);
}

TEST_F(SaveTest, EntryConversionStopsAtTheFirstNonDigitAndReadsSevenCharacters) {
    EXPECT_EQ(entryValue("  -12ab"), -12);
    EXPECT_EQ(entryValue("+7"), 7);
    EXPECT_EQ(entryValue("abc"), 0);
    EXPECT_EQ(entryValue("-"), 0);
    EXPECT_EQ(entryValue("123456789"), 1234567);
    EXPECT_EQ(inkNameIndex("C1 extra"), 7);
    EXPECT_EQ(inkNameIndex("K"), -1);
    EXPECT_EQ(inkNameIndex("k2"), -1);
}

TEST_F(SaveTest, SavedRecordIsReadBackAfterThePrinterRestarts) {
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "5");
    DialogModel_Type(ID_PASS8_SET, "321");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    VPrinter_Detach();
    ASSERT_TRUE(VPrinter_Attach(work.path + "/printer"));
    DialogModel_Reset();
    restartState<ConsoleState>();
    startConsole();
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "15");
    EXPECT_EQ(DialogModel_Text(ID_PASS8), "321");
}

#ifdef HEADALIGN_HAVE_VERNIER
// "Read scan..." of a bidirectional row: the printed paper of row 1's adjustment, squared as a
// flatbed would give it, goes into row 1's entry and SAVE adds it; every refusal enters nothing.
TEST_F(SaveTest, ReadScanEntersACertainReadingIntoItsRowOnly) {
    // A printer whose right-to-left text-high print lands 30 columns off: with the stored 10 the
    // prints meet a few groups from "00".
    VPrinter_Detach();
    std::filesystem::create_directories(work.path + "/printer");
    std::ofstream(work.path + "/printer/printer.cfg") << "bidir_error = 50:-80\n";
    ASSERT_TRUE(VPrinter_Attach(work.path + "/printer"));
    ASSERT_TRUE(DialogModel_Click(ID_BIDIR_TEXT_HIGH_PRINT));
    VPrinter_WaitPaper();
    std::string picture;
    for (const std::string& e : VPrinter_JobEvents())
        if (e.find("\"event\":\"picture\"") != std::string::npos) picture = e;
    auto number = [&](const char* key) {
        size_t at = picture.find(std::string("\"") + key + "\":");
        return at == std::string::npos ? 0.0
                                       : std::atof(picture.c_str() + at + std::strlen(key) + 3);
    };
    VernierImage paper;
    std::string error;
    ASSERT_TRUE(
        Vernier_LoadImage(VPrinter_JobPath(VPrinter_LastJobNumber(), ".png"), &paper, &error))
        << error;
    double xDpi = number("x_dpi") / number("scale_x"), yDpi = number("y_dpi") / number("scale_y");
    ASSERT_GT(xDpi, 0);
    ASSERT_GT(yDpi, 0);
    const std::string scan = work.path + "/scan.png", junk = work.path + "/junk.png";
    ASSERT_TRUE(Vernier_SavePng(scan, Vernier_Resample(paper, yDpi / xDpi, 1.0)));
    std::ofstream(junk) << "not a picture";
    VernierImage squared;
    ASSERT_TRUE(Vernier_LoadImage(scan, &squared, &error));
    VernierReading reading = Vernier_ReadAs(squared, FAMILY_ADJUST_540);
    ASSERT_EQ(reading.status, VERNIER_READ) << reading.reason;
    ASSERT_TRUE(reading.certain);
    ASSERT_NE(Vernier_GroupToEnter(reading), 0);

    struct Case {
        int row;
        std::string file;
        bool entered, marked;
        std::string message;  // the start of what the operator is told
    };
    const Case cases[] = {
        {3, scan, false, true, "cannot read"},  // image high: another mode's print
        {5, scan, false, true, "cannot read"},  // photo
        {0, junk, false, false, junk + " is neither a PNG nor a JPEG"},
        {6, scan, false, false, "no such row"},
        {0, scan, true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.row) + " " + c.file);
        ScanEntryResult r = Console_ReadScanInto(c.row, c.file);
        EXPECT_EQ(r.entered, c.entered);
        EXPECT_EQ(r.marked, c.marked);
        EXPECT_EQ(r.message.rfind(c.message, 0), 0u) << r.message;
        if (c.marked) {
            EXPECT_EQ(r.picture.width, squared.width);
            EXPECT_NE(r.picture.rgb, squared.rgb);  // the groups are marked on it
        }
        for (int row = 0; row < SCAN_ROW_COUNT; ++row)
            EXPECT_EQ(
                DialogModel_Text(ScanRow_Entry(row)),
                c.entered && row == c.row ? std::to_string(Vernier_GroupToEnter(reading)) : "");
    }
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerRecord()[3], 10 + Vernier_GroupToEnter(reading));
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH_ADD), "");
}
#endif

}  // namespace
