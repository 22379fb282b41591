// SPDX-License-Identifier: Apache-2.0
// Swath planning: size checks, inked extent, carriage positions and hand-over of swaths to the
// ring.
#pragma once
#include <atomic>
#include <cstdint>

#include "handover/job_context.h"
#include "handover/plan_handover.h"
#include "handover/swath_record.h"
#include "platform/owned_state.h"

// The planner's state of one session (job thread): the direction alternation of bidirectional
// printing.
struct PlannerState {
    uint8_t directionToggle = 0;
    uint32_t firstSwathPrinted = 0;
    uint32_t lastCounterSeen = 65535;
    uint8_t lastDirectionGiven = 0;
    // What the running job announced it will send (Plan_ExpectWork), for its progress; cleared
    // at every job start. Atomic: front ends may read it from any thread.
    std::atomic<uint32_t> expectedRecords{0};
    std::atomic<uint64_t> expectedFeedSteps{0};
};

// Widest accepted image row, in rowBits units.
constexpr uint32_t WIDEST_IMAGE_ROW_BITS = 28346;
// Bytes of one column group (two format columns), the unit of blank detection.
constexpr uint32_t SWATH_COLUMN_GROUP_BYTES = 360;

// The work a job announces before it sends it, so a front end can show how far it has come:
// the swath records in all (printed and feed-only) and the paper feed in motor steps; 0 where
// the job does not know. \context job \nonblocking \errors none.
void Plan_ExpectWork(uint32_t records, uint64_t feedSteps);
// The announced work of the running (or last) job. \threadsafe \nonblocking \errors none.
void Plan_ExpectedWork(uint32_t* records, uint64_t* feedSteps);
// The feed-only records sendEmptySteps makes of `total` steps sent `chunk` steps a call.
// \threadsafe \nonblocking \errors 0 when chunk is 0.
uint32_t Plan_FeedRecordCount(uint32_t total, uint32_t chunk);

// Job start (dialog thread): job number from the local time, version trace line, channel map,
// job flags cleared and linked into the link state, command slot and error state cleared.
void stampJob(JobContext* ctx);
// Sizes the job's buffers and checks them against the limits; false with an error code set.
bool checkJobSizes(JobContext* ctx);
// Queues one drawn swath, holding it back until the next printed swath is known; blank swaths
// are counted. False when no record could be had (cancel, stop, transmit thread gone).
bool planSwath(JobContext* ctx);
// Queues the present format buffer as one swath with the given feed (patterns).
void Swath_Emit(uint32_t feed);
// Sets swathStart/swathStop/swathWidth; returns 1 for a blank swath, else 0.
int findSwathExtent(JobContext* ctx);
// Copies the used columns and the carriage positions into a record.
void fillSwathRecord(JobContext* ctx, SwathRecord* record);
// Waits for a free ring record; nullptr on cancel, stop or an ended transmit thread.
// Returns `record` itself unchanged while blank swaths are pending.
SwathRecord* acquireSwathRecord(JobContext* ctx, SwathRecord* record);
// Queues feed-only records for `steps` feed steps (backwards sets bit 31).
void sendEmptySteps(uint32_t steps, JobContext* ctx, int backwards);
// Turns the counted blank swaths into one feed.
void flushEmptySwaths(JobContext* ctx);
// Feed in motor steps for `rows` rows: rows x feedStep, truncated.
uint32_t stepsToLength(uint16_t rows);
