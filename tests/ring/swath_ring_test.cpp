// SPDX-License-Identifier: Apache-2.0
// Swath ring: record headers, the three-ready release, wrap-around and the two-thread hand-over.
#include "handover/swath_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "handover/job_context.h"
#include "params/calibration_params.h"
#include "params/ring_setup.h"
#include "support/product_internals.h"

namespace {

class SwathRingTest : public ::testing::Test {
  protected:
    JobContext* ctx = jobContext();
    void SetUp() override {
        Job_ClearContext();
        ctx->xDpi = 720;
        ctx->printSpeedIps = 30;
        Ring_Init(ctx);
    }
    void TearDown() override { Ring_Free(); }

    SwathRecord* queueFull() {
        SwathRecord* r = Ring_GetEmpty();
        if (r) Ring_SetState(r, SWATH_FULL);
        return r;
    }
};

TEST_F(SwathRingTest, InitPreparesHeadersBuffersAndIndexes) {
    for (int i = 0; i < SWATH_RING_SIZE; ++i) {
        SwathRecord* r = Ring_Record(i);
        ASSERT_NE(r, nullptr);
        ASSERT_NE(r->data, nullptr);
        EXPECT_EQ(r->state.load(), SWATH_EMPTY);
        uint8_t header[32];
        Ring_HeaderBytes(*r, header);
        const uint8_t expected[32] = {
            1, 2, 0, 0, 0, 0, 0x50, 0x46, 0,
            0, 0, 0, 0, 0, 0, 0,    0x50, 0x46};  // 30 ips x 600 = 0x4650 at 0x0e and 0x18
        EXPECT_EQ(0, memcmp(header, expected, 32)) << i;
    }
    EXPECT_EQ(Ring_Record(4), nullptr);
    EXPECT_EQ(Ring_Record(-1), nullptr);
    EXPECT_EQ(Ring_PutIndex(), 0);
    EXPECT_EQ(Ring_TakeIndex(), 0);
}

TEST_F(SwathRingTest, ResolutionCodeAndClassByHorizontalDpi) {
    struct Case {
        uint32_t dpi;
        uint8_t code, cls;
        uint16_t xRes;
    } cases[] = {{300, 5, 1, 300},   {360, 5, 1, 360},   {450, 1, 0, 450},
                 {540, 1, 0, 540},   {600, 2, 2, 600},   {720, 2, 2, 720},
                 {1200, 6, 3, 1200}, {1440, 6, 3, 1440}, {1000, 2, 2, 720}};
    for (const Case& c : cases) {
        ctx->xDpi = c.dpi;
        Ring_Init(ctx);
        EXPECT_EQ(Ring_Record(3)->resolutionCode, c.code) << c.dpi;
        EXPECT_EQ(calibrationParams()->resolutionClass, c.cls) << c.dpi;
        EXPECT_EQ(calibrationParams()->xResolution, c.xRes) << c.dpi;
    }
}

TEST_F(SwathRingTest, HeaderBytesAreRecordBytes08To27) {
    SwathRecord r;
    r.mark = 0x01;
    r.resolutionCode = 0x06;
    r.rightToLeft = 0x01;
    r.byte0b = 0x0b;
    r.leftToRight = 0x0c;
    r.spitFlag = 0x01;
    r.speedA = 0x1e0e;
    r.startPos = 0x1110;
    r.stopPos = 0x1312;
    r.nextStart = 0x1514;
    r.spitDistance = 0x1716;
    r.speedB = 0x1918;
    r.word1a = 0x1b1a;
    r.swathNo = 0x1f1e1d1c;
    r.reserved = 0x23222120;
    r.feed = 0x80262524;
    uint8_t out[32];
    Ring_HeaderBytes(r, out);
    const uint8_t expected[32] = {0x01, 0x06, 0x01, 0x0b, 0x0c, 0x01, 0x0e, 0x1e, 0x10, 0x11, 0x12,
                                  0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d,
                                  0x1e, 0x1f, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x80};
    EXPECT_EQ(0, memcmp(out, expected, 32));
}

TEST_F(SwathRingTest, TransmissionWaitsForThreeFullRecords) {
    SwathRecord* first = queueFull();
    queueFull();
    EXPECT_EQ(Ring_TakeFull(), nullptr);
    EXPECT_EQ(ctx->txReleased.load(), 0u);
    // A record still being filled does not count.
    SwathRecord* third = Ring_GetEmpty();
    EXPECT_EQ(Ring_TakeFull(), nullptr);
    Ring_SetState(third, SWATH_FULL);
    EXPECT_EQ(Ring_CountState(SWATH_FULL), 3);
    EXPECT_EQ(Ring_TakeFull(), first);
    EXPECT_EQ(first->state.load(), SWATH_SENDING);
    EXPECT_EQ(ctx->txReleased.load(), 1u);
    EXPECT_EQ(Ring_TakeIndex(), 1);
    // Once released, one full record is enough.
    EXPECT_NE(Ring_TakeFull(), nullptr);
    EXPECT_NE(Ring_TakeFull(), nullptr);
    EXPECT_EQ(Ring_TakeFull(), nullptr);
    EXPECT_EQ(Ring_CountState(SWATH_SENDING), 3);
}

TEST_F(SwathRingTest, ShortJobSendsOnlyWhenReleased) {
    SwathRecord* only = queueFull();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Ring_TakeFull(), nullptr);
    ctx->txReleased.store(1);  // the end-of-job wait
    EXPECT_EQ(Ring_TakeFull(), only);
}

TEST_F(SwathRingTest, FifthSwathWaitsForTheRecordAtPut) {
    for (int i = 0; i < 4; ++i) ASSERT_NE(queueFull(), nullptr);
    EXPECT_EQ(Ring_PutIndex(), 0);
    EXPECT_EQ(Ring_GetEmpty(), nullptr);
    SwathRecord* sending = Ring_TakeFull();
    ASSERT_EQ(sending, Ring_Record(0));
    EXPECT_EQ(Ring_GetEmpty(), nullptr);  // taken but not yet sent
    Ring_SetState(sending, SWATH_EMPTY);
    SwathRecord* fifth = Ring_GetEmpty();
    EXPECT_EQ(fifth, Ring_Record(0));
    EXPECT_EQ(fifth->state.load(), SWATH_FILLING);
    EXPECT_EQ(Ring_PutIndex(), 1);
}

TEST_F(SwathRingTest, BuffersFreedAtJobEndAndReusedWithinAJob) {
    uint8_t* before = Ring_Record(2)->data;
    Ring_Init(ctx);  // the JOB_CREATE reply initialises again
    EXPECT_EQ(Ring_Record(2)->data, before);
    queueFull();
    Ring_Free();
    for (int i = 0; i < SWATH_RING_SIZE; ++i) EXPECT_EQ(Ring_Record(i)->data, nullptr);
    // A planner that still asks gets nothing rather than a record without memory.
    EXPECT_EQ(Ring_GetEmpty(), nullptr);
    Ring_Init(ctx);
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), 4);
    EXPECT_NE(Ring_GetEmpty(), nullptr);
}

TEST_F(SwathRingTest, RecordsLeftByAnAbandonedJobAreNotSentByTheNext) {
    for (int i = 0; i < 3; ++i) queueFull();
    ASSERT_NE(Ring_TakeFull(), nullptr);  // one caught in transmission when the job failed
    Ring_Free();
    // The next job's transmit thread starts before that job prepares the ring.
    Job_ClearContext();
    ctx->txReleased = 1;
    EXPECT_EQ(Ring_TakeFull(), nullptr);
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), 4);
    EXPECT_EQ(Ring_PutIndex(), 0);
    EXPECT_EQ(Ring_TakeIndex(), 0);
}

TEST_F(SwathRingTest, TwoThreadsMoveRecordsThroughAllStates) {
    constexpr uint32_t SWATHS = 3000;
    std::atomic<bool> producerDone{false};
    std::atomic<uint32_t> mismatches{0};

    std::thread transmitter([&] {
        uint32_t expected = 0;
        while (expected < SWATHS) {
            if (producerDone.load()) ctx->txReleased.store(1);
            SwathRecord* r = Ring_TakeFull();
            if (r == nullptr) {
                std::this_thread::yield();
                continue;
            }
            const uint8_t tag = static_cast<uint8_t>(expected * 7);
            if (r->swathNo != expected || r->size != expected % 97 + 1 || r->data[0] != tag ||
                r->data[r->size - 1] != tag)
                mismatches.fetch_add(1);
            ++expected;
            Ring_SetState(r, SWATH_EMPTY);
        }
    });
    for (uint32_t n = 0; n < SWATHS; ++n) {
        SwathRecord* r;
        while ((r = Ring_GetEmpty()) == nullptr) std::this_thread::yield();
        r->swathNo = n;
        r->size = n % 97 + 1;
        memset(r->data, static_cast<uint8_t>(n * 7), r->size);
        Ring_SetState(r, SWATH_FULL);
    }
    producerDone.store(true);
    transmitter.join();
    EXPECT_EQ(mismatches.load(), 0u);
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), 4);
    EXPECT_EQ(Ring_PutIndex(), SWATHS % 4);
    EXPECT_EQ(Ring_TakeIndex(), SWATHS % 4);
}

}  // namespace
