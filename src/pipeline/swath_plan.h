// Swath planning: size checks, inked extent, carriage positions and hand-over of swaths to the
// ring.
#pragma once
#include <atomic>
#include <cstdint>

#include "job/job_context.h"
#include "link/swath_record.h"
#include "platform/owned_state.h"

// The planner's state of one session: the held-back record and the direction alternation
// (job thread), and the busy flag raised by the transmit thread.
struct PlannerState {
    // The record that waits for the next printed swath's start position. The transmit side may
    // release it (flushPendingSwath), hence the atomic hand-over.
    std::atomic<SwathRecord*> pendingSwath{nullptr};
    uint8_t directionToggle = 0;
    uint32_t firstSwathPrinted = 0;
    uint32_t lastCounterSeen = 65535;
    uint8_t lastDirectionGiven = 0;
    std::atomic<uint32_t> bufferFreed{0};
};

// Widest accepted image row, in rowBits units.
constexpr uint32_t WIDEST_IMAGE_ROW_BITS = 28346;
// Bytes of one column group (two format columns), the unit of blank detection.
constexpr uint32_t SWATH_COLUMN_GROUP_BYTES = 360;

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
// Releases the held-back record with next start 0. Job thread or transmit side.
void flushPendingSwath();
// Direction (0 left to right, 1 right to left) of the next swath.
uint8_t nextSwathDirection(JobContext* ctx);
// Feed in motor steps for `rows` rows: rows x feedStep, truncated.
uint32_t stepsToLength(uint16_t rows);
// Set by the transmit thread when the printer answers busy; read and cleared by the buffer wait.
std::atomic<uint32_t>& swathBufferFreedFlag();
