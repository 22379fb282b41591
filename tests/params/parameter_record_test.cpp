// SPDX-License-Identifier: Apache-2.0
// Packing and unpacking of the parameter record and the console's block copy.
#include "params/parameter_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/bytes.h"

namespace {

std::array<uint8_t, 56> patternedRecord() {
    std::array<uint8_t, 56> r{};
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(0x40 + i);
    return r;
}

TEST(ParameterRecord, UnpackReadsEveryFieldAtItsOffset) {
    auto rec = patternedRecord();
    rec[0x26] = 0xfe;  // only bit 0 counts
    rec[0x27] = 0x21;  // sides 2 (left), on 1
    CalibrationParams p{};
    p.xResolution = 1234;  // not carried by the record
    unpackParameterRecord(rec.data(), &p);
    EXPECT_EQ(p.bidirTextHigh, 0x43);
    EXPECT_EQ(p.bidirTextMid, 0x44);
    EXPECT_EQ(p.bidirTextLow, 0x45);
    EXPECT_EQ(p.stepPass4, le::getU16(rec.data(), 0x0a));
    EXPECT_EQ(p.stepPass6, le::getU16(rec.data(), 0x0c));
    EXPECT_EQ(p.stepPass8, le::getU16(rec.data(), 0x0e));
    EXPECT_EQ(p.stepPass3, le::getU16(rec.data(), 0x10));
    EXPECT_EQ(p.stepPass2, le::getU16(rec.data(), 0x30));
    EXPECT_EQ(p.bidirImageHigh, 0x5e);
    EXPECT_EQ(p.bidirImageLow, 0x5f);
    EXPECT_EQ(p.bidirPhoto, 0x60);
    EXPECT_EQ(p.bidirTextHighHd, 0x6a);
    EXPECT_EQ(p.bidirImageLowHd, 0x6e);
    EXPECT_EQ(0, std::memcmp(p.inkOrder, rec.data() + 0x16, 8));
    EXPECT_EQ(p.featherMode, 0x61);
    EXPECT_EQ(p.featherDepth, 0x62);
    EXPECT_EQ(p.skipLrBlank, 0);
    EXPECT_EQ(p.colorBandOn, 1);
    EXPECT_EQ(p.colorBandSides, 2);
    EXPECT_EQ(p.colorBandMargin, 0x68);
    EXPECT_EQ(p.colorBandWidth, 0x69);
    EXPECT_EQ(p.feedStepsPerMeter, 409600u);
    EXPECT_EQ(p.xResolution, 1234);
}

TEST(ParameterRecord, PackOverReceivedRecordKeepsUnlistedBytes) {
    auto received = patternedRecord();
    received[0x26] = 0x01;
    CalibrationParams p{};
    unpackParameterRecord(received.data(), &p);
    auto packed = received;
    packParameterRecord(p, packed.data());
    auto expected = received;
    expected[0] = 0xAC;
    EXPECT_EQ(packed, expected);
}

TEST(ParameterRecord, PackNarrowsWideValuesAndNormalisesFlags) {
    auto rec = patternedRecord();
    CalibrationParams p{};
    unpackParameterRecord(rec.data(), &p);
    p.bidirTextHigh = 0x1ff;
    p.bidirPhoto = 300;
    p.stepPass2 = 0xbeef;
    p.skipLrBlank = 7;
    p.colorBandOn = 1;
    p.colorBandSides = 3;
    p.colorBandMargin = 0x105;
    p.inkOrder[0] = 3;
    packParameterRecord(p, rec.data());
    EXPECT_EQ(rec[0x00], 0xAC);
    EXPECT_EQ(rec[0x03], 0xff);
    EXPECT_EQ(rec[0x20], 300 & 0xff);
    EXPECT_EQ(le::getU16(rec.data(), 0x30), 0xbeef);
    EXPECT_EQ(rec[0x26], 1);
    EXPECT_EQ(rec[0x27], 0x31);
    EXPECT_EQ(rec[0x28], 0x05);
    EXPECT_EQ(rec[0x16], 3);
    // Bytes owned by the printer are untouched.
    for (size_t off : {0x01, 0x02, 0x06, 0x07, 0x08, 0x12, 0x14, 0x23, 0x2f, 0x32, 0x37})
        EXPECT_EQ(rec[off], 0x40 + off) << off;
}

TEST(ParameterRecord, DialogBlockLayoutAndWriteBack) {
    auto rec = patternedRecord();
    uint8_t block[28];
    std::memset(block, 0xee, sizeof block);
    fillDialogParamBlock(rec.data(), block);
    uint8_t expected[28] = {};
    expected[1] = rec[0x06];
    le::putU16(expected, 6, le::getU16(rec.data(), 0x08));
    le::putU16(expected, 8, 79);
    le::putU16(expected, 10, 270);
    le::putU16(expected, 12, rec[0x03]);
    le::putU16(expected, 14, le::getU16(rec.data(), 0x0a));
    le::putU16(expected, 18, le::getU16(rec.data(), 0x14));
    expected[24] = rec[0x02];
    EXPECT_EQ(0, std::memcmp(block, expected, sizeof block));

    le::putU16(block, 18, 250);
    block[24] = 3;
    std::array<uint8_t, 56> out{};
    packDialogParamBlock(block, out.data());
    EXPECT_EQ(le::getU16(out.data(), 0x14), 250);
    EXPECT_EQ(out[0x02], 3);
    EXPECT_EQ(out[0x06], rec[0x06]);
    EXPECT_EQ(le::getU16(out.data(), 0x08), le::getU16(rec.data(), 0x08));
}

}  // namespace
