// SPDX-License-Identifier: Apache-2.0
// SAVE into the shared area held by the front-end stand-in in another process.
#include "app/console.h"
#include "app/shared_record.h"
#include "console_support.h"
#include "vprinter.h"

namespace {

using Boxes = std::vector<std::string>;
const char* const SAVE_OK = "Parameter save successful!";
const char* const SAVE_FAIL = "Parameter save fail!";
const char* const BUSY = "Printer busy, please SAVE again";
const char* const CHANGED =
    "Another program changed the parameters since they were read. The values now stored are "
    "shown; check them and SAVE again.";

class AreaSaveTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        std::vector<uint8_t> r = sampleRecord();
        r[0] = 0;
        ASSERT_TRUE(startHost({"--hex", hexBytes(r)}));
        startConsole();
        ASSERT_EQ(consoleState()->printerConnected, 1);
        DialogModel_ClearBoxes();
    }
    Boxes save() {
        DialogModel_ClearBoxes();
        DialogModel_Click(ID_SAVE);
        return boxTexts();
    }
};

TEST_F(AreaSaveTest, SaveWritesFlagThenRecordAndLeavesThePrinterAlone) {
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "4");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    std::vector<uint8_t> area = host.dump();
    ASSERT_EQ(area.size(), 60u);
    EXPECT_EQ(area[0], 1);
    EXPECT_EQ(area[1], 0);
    EXPECT_EQ(area[2], 0);
    EXPECT_EQ(area[3], 0);
    EXPECT_EQ(area[4], 0xAC);
    EXPECT_EQ(area[4 + 0x03], 14);
    EXPECT_EQ(area[4 + 0x23], 0x5a);
    EXPECT_EQ(printerTransactions(65), 0);
    // The lock was given back: the other process can take it at once.
    EXPECT_EQ(host.command("hold"), "held");
    EXPECT_EQ(host.command("release"), "released");
}

TEST_F(AreaSaveTest, SaveWhileTheOtherProcessHoldsTheLockWarnsAndFails) {
    ASSERT_EQ(host.command("set 00000000"), "ok");
    std::vector<uint8_t> before = host.dump();
    ASSERT_EQ(host.command("hold"), "held");
    uint32_t start = fake_clock::tick();
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "4");
    EXPECT_EQ(save(), (Boxes{BUSY, SAVE_FAIL}));
    EXPECT_EQ(DialogModel_Boxes()[0].caption, "WARNING");
    EXPECT_GE(fake_clock::tick() - start, 2000u);
    EXPECT_EQ(host.command("release"), "released");
    EXPECT_EQ(host.dump(), before);
    // Saving again once the lock is free succeeds.
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(host.dump()[0], 1);
}

TEST_F(AreaSaveTest, FrontEndKilledWhileHoldingTheLockLeavesNoLockBehind) {
    ASSERT_EQ(host.command("hold"), "held");
    host.kill();  // no chance to give the lock back or remove anything
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "4");
    uint32_t start = fake_clock::tick();
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_LT(fake_clock::tick() - start, 2000u) << "waited for a lock nobody holds";
    EXPECT_EQ(printerTransactions(65), 0);
}

TEST_F(AreaSaveTest, LockMissingAtSaveFailsWithoutBusyWarning) {
    host.stop();
    ASSERT_TRUE(startHost({"--no-lock"}));
    EXPECT_EQ(save(), Boxes{SAVE_FAIL});
    EXPECT_EQ(host.dump()[0], 0);
    EXPECT_EQ(printerTransactions(65), 0);
}

TEST_F(AreaSaveTest, AreaGoneBeforeSaveSendsTheRecordToThePrinter) {
    host.stop();
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "4");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(printerTransactions(65), 1);
    EXPECT_EQ(printerRecord()[0x03], 14);
}

TEST_F(AreaSaveTest, NothingStaysOpenBetweenAccesses) {
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    // A fresh area under the same names is seen by the next access, not a stale mapping: its
    // record is not the one this console saved, so SAVE shows it instead of overwriting it.
    host.stop();
    std::vector<uint8_t> fresh = sampleRecord();
    fresh[3] = 77;
    ASSERT_TRUE(startHost({"--hex", hexBytes(fresh)}));
    EXPECT_EQ(save(), Boxes{CHANGED});
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "77");
    EXPECT_EQ(save(), Boxes{SAVE_OK});
    EXPECT_EQ(host.dump()[4], 0xAC);
    EXPECT_EQ(host.dump()[4 + 3], 77);
}

}  // namespace
