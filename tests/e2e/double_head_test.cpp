// SPDX-License-Identifier: Apache-2.0
// The double-head patterns through the link on a two-head printer: the first head prints the
// even channels, the second the odd ones from its place beside it. A mechanical error of the
// second head moves its ink, and only its ink, by exactly that much on the paper; where the
// reader reads the pattern (the horizontal verniers), its reading moves by as many groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "job/print_job.h"
#include "platform/bytes.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "vernier/vernier.h"
#endif

namespace {

using Ink = std::vector<std::pair<int64_t, int64_t>>;

struct DoubleHeadRow {
    const char* name;
    uint8_t pattern;
    uint16_t headDistance;  // the record's and the mechanics' (1/720 inch)
    int columns;            // the second head's error: columns further left at 720 dpi
    int rows;               // and rows further down (720 rows an inch)
    int readingPerColumn;   // the reader's groups per column of error (0: not a vernier it reads)
};

const DoubleHeadRow ROWS[] = {
    {"horizontal offset vernier", 1, 0, 3, 0, 1},
    {"horizontal offset vernier, heads 300 dots apart", 1, 300, -4, 2, 1},
    {"vertical offset in groups", 2, 0, 2, 8, 0},
    {"vertical offset with plain bars", 4, 0, 0, 12, 0},
    {"horizontal within a group", 17, 0, 3, 4, -1},
    {"horizontal head width", 18, 0, -2, 0, 1},
};

class DoubleHead : public PrinterTestOf<::testing::TestWithParam<DoubleHeadRow>> {
  protected:
    struct Print {
        Ink headA, headB;
        std::string picture;
    };

    // Prints the row's pattern on a two-head printer whose second head is off by (columns, rows).
    Print print(int columns, int rows) {
        const DoubleHeadRow& r = GetParam();
        uint8_t record[56];
        VPrinter_StoredRecord(record);
        record[0x02] = 3;
        le::putU16(record, 0x08, r.headDistance);
        VPrinter_SetStoredRecord(record);
        printer.useFullSizePaper();
        VPrinterModel m = VPrinter_GetModel();
        m.headFlags = 3;
        m.headBOffsetX1440 = 2 * columns;
        m.headBOffsetY1440 = 2 * rows;
        VPrinter_SetModel(m);
        Job_RunPattern(r.pattern);
        EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
        EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
        Print p;
        p.picture = printer.lastJobPath(".png");
        p.headA = VPrinter_PaperInk(0x55);
        p.headB = VPrinter_PaperInk(0xAA);
        return p;
    }

#ifdef HEADALIGN_HAVE_VERNIER
    static VernierReading read(const std::string& picture) {
        VernierImage image;
        std::string error;
        EXPECT_TRUE(Vernier_LoadImage(picture, &image, &error)) << error;
        return Vernier_Read(image);
    }
#endif
};

Ink shifted(Ink ink, int64_t dx, int64_t dy) {
    for (auto& [x, row] : ink) x += dx, row += dy;
    std::sort(ink.begin(), ink.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second < b.second : a.first < b.first;
    });
    return ink;
}

std::set<int64_t> rowsOf(const Ink& ink) {
    std::set<int64_t> rows;
    for (const auto& drop : ink) rows.insert(drop.second);
    return rows;
}

TEST_P(DoubleHead, TheSecondHeadsErrorMovesItsInkAndTheReading) {
    const DoubleHeadRow& r = GetParam();
    Print exact = print(0, 0);
    Print off = print(r.columns, r.rows);
    // Both heads print; the first head's ink stays, the second head's moves by the error.
    ASSERT_FALSE(exact.headA.empty());
    ASSERT_FALSE(exact.headB.empty());
    EXPECT_TRUE(off.headA == exact.headA);
    EXPECT_TRUE(off.headB == shifted(exact.headB, -r.columns, r.rows));
    const std::string exactPicture = readFileBytes(exact.picture);
    if (!exactPicture.empty()) {
        EXPECT_NE(readFileBytes(off.picture), exactPicture);
    }

    if (r.pattern == 4) {
        // The second head prints first, fed by its offset (0): on an exact printer its bars lie
        // on the first head's rows, and an error puts them that many rows lower.
        EXPECT_EQ(rowsOf(exact.headB), rowsOf(exact.headA));
        EXPECT_EQ(rowsOf(off.headB), rowsOf(shifted(exact.headA, 0, r.rows)));
    }
#ifdef HEADALIGN_HAVE_VERNIER
    if (r.readingPerColumn == 0 || exactPicture.empty()) return;
    VernierReading before = read(exact.picture);
    VernierReading after = read(off.picture);
    ASSERT_EQ(before.status, VERNIER_READ) << before.reason;
    ASSERT_EQ(after.status, VERNIER_READ) << after.reason;
    EXPECT_NEAR(before.estimate, 0, 0.3);
    EXPECT_NEAR(after.estimate, r.readingPerColumn * r.columns, 0.3);
    EXPECT_EQ(after.group, r.readingPerColumn * r.columns);
#endif
}

INSTANTIATE_TEST_SUITE_P(Patterns, DoubleHead, ::testing::ValuesIn(ROWS),
                         [](const ::testing::TestParamInfo<DoubleHeadRow>& info) {
                             return "pattern" + std::to_string(info.param.pattern) + "_" +
                                    std::to_string(info.index);
                         });

}  // namespace
