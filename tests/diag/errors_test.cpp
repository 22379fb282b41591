// SPDX-License-Identifier: Apache-2.0
// Program error code, stop flag and the texts in both languages.
#include <gtest/gtest.h>

#include "diag/errors.h"
#include "diag/log.h"
#include "platform/msgbox.h"
#include "support/fakes.h"
#include "support/product_internals.h"

namespace {

class ErrorsTest : public ::testing::Test {
  protected:
    PlatformFixture platform;
    void SetUp() override { clearProgramError(); }
    void TearDown() override { clearProgramError(); }
};

TEST_F(ErrorsTest, TwentySevenDefinedCodes) { EXPECT_EQ(errorCount(), 27u); }

TEST_F(ErrorsTest, EnglishAndChineseTextsInATipBox) {
    fake_locale::install(0x0409);
    setProgramError(ERR_CARRIER_STALL);
    fake_locale::install(0x0804);
    setProgramError(ERR_CARRIER_STALL);
    auto boxes = msgbox_recorder::boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Carrier stall");
    EXPECT_EQ(boxes[0].caption, "Tip");
    EXPECT_EQ(boxes[0].buttons, MSGBOX_OK);
    EXPECT_EQ(boxes[1].text, "小车受阻");
    EXPECT_EQ(programError(), ERR_CARRIER_STALL);
    EXPECT_TRUE(isJobStopped());
}

TEST_F(ErrorsTest, UndefinedCodeTextWinsOverLanguage) {
    fake_locale::install(0x0407);
    reportError(27);
    fake_locale::install(0x0407);
    reportError(5);
    auto boxes = msgbox_recorder::boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "undefine ErrorCode(未定义输出代号):27");
    EXPECT_EQ(boxes[1].text, "undefine language ID(未定义语言)");
}

TEST_F(ErrorsTest, ReconnectFailureIsSticky) {
    setProgramError(ERR_RECONNECT_FAILED);
    setProgramError(ERR_PC_CANCEL);
    EXPECT_EQ(programError(), ERR_RECONNECT_FAILED);
    EXPECT_TRUE(isJobStopped());
    auto boxes = msgbox_recorder::boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Pc user cancel job");
}

TEST_F(ErrorsTest, LanguageRulesDifferForLowByte0x14) {
    // 0x1404 (zh-MO): low nibble 4 gives Chinese error texts, low byte 0x04 a Chinese UI.
    fake_locale::install(0x1404);
    EXPECT_TRUE(isChineseUi());
    // A low byte of 0x14 picks Chinese error texts but an English dialog.
    fake_locale::install(0x0414);
    EXPECT_FALSE(isChineseUi());
    reportError(static_cast<uint16_t>(ERR_CARRIER_STALL));
    EXPECT_EQ(msgbox_recorder::boxes().back().text, "小车受阻");
    fake_locale::install(0x0804);
    EXPECT_TRUE(isChineseUi());
}

TEST_F(ErrorsTest, ReportGoesToErrorLogOnly) {
    Log_Open();
    ::testing::internal::CaptureStdout();
    setProgramError(ERR_NO_PRINT_DATA);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    std::string err = readFileBytes(platform.logDir.path + "/err.txt");
    EXPECT_NE(err.find("errset: None print data\r\n\r\n"), std::string::npos);
    EXPECT_EQ(readFileBytes(Log_TracePath()), "");
}

TEST_F(ErrorsTest, StopWithoutCodeAndClear) {
    requestJobStop();
    EXPECT_TRUE(isJobStopped());
    EXPECT_EQ(programError(), ERR_NONE);
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
    clearProgramError();
    EXPECT_FALSE(isJobStopped());
}

TEST_F(ErrorsTest, IpAddressTextCarriesTheFixedAddress) {
    char buf[96];
    EXPECT_EQ(std::string(errorText(1, buf, sizeof buf)),
              "IP error, please set as:" PRINTER_FIXED_IP);
}

}  // namespace
