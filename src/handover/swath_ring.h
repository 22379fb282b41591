// SPDX-License-Identifier: Apache-2.0
// The ring of four swath records handed from the swath planner to the transmit thread.
#pragma once
#include <cstdint>

#include "handover/job_context.h"
#include "handover/swath_record.h"

constexpr int SWATH_RING_SIZE = 4;

// One horizontal resolution the printer knows: its swath header code and its resolution class.
struct ResolutionEntry {
    uint32_t dpi;
    uint8_t code;             // swath header byte 0x09
    uint8_t resolutionClass;  // CalibrationParams.resolutionClass
};

// The ring's part of Ring_Init (no swath in flight): remembers the job whose txReleased
// Ring_TakeFull consults, initialises every record's header from the job's xDpi and
// printSpeedIps, allocates missing data buffers of MAX_FORMAT_DATA_SIZE bytes, empties every
// record and resets both indexes. False when a data buffer could not be allocated (that record
// stays without one and Ring_GetEmpty never hands it out).
// \context job, or transmit while it applies the JOB_CREATE answer; no swath in flight
// \nonblocking \errors false as said; it neither traces nor sets an error code (Ring_Init does).
bool Ring_Prepare(JobContext* job);
// The entry of a horizontal resolution; 720 dpi for one the printer does not know.
// \threadsafe \nonblocking \errors none.
const ResolutionEntry& Ring_Resolution(uint32_t xDpi);
// End of a job: empties every record, frees the four data buffers and resets both indexes.
// \context job, after Link_Stop \nonblocking \errors none.
void Ring_Free();
// The record at the put index marked "being filled", or nullptr when it is not empty yet (or
// has no data buffer). \context job (the planner) \nonblocking \errors nullptr, which the planner
// waits on.
SwathRecord* Ring_GetEmpty();
// The planner marks a record full (2); the transmit thread marks a sent record empty (0).
// \context job or transmit, each for its own transitions \nonblocking \errors nothing for a null
// record.
void Ring_SetState(SwathRecord* r, SwathState state);
// Records in `state`. \threadsafe; a snapshot that may be stale at once \nonblocking \errors none.
int Ring_CountState(SwathState state);
// The record at the take index marked "being transmitted", or nullptr. Nothing is yielded
// until three records are full or the job has set txReleased.
// \context transmit \nonblocking \errors nullptr when nothing is ready.
SwathRecord* Ring_TakeFull();
// The 32 header bytes (record bytes 0x08..0x27) exactly as they travel to the printer.
// \context the thread holding the record \nonblocking \errors none.
void Ring_HeaderBytes(const SwathRecord& r, uint8_t out[32]);
// The put and take indexes (0..3). \threadsafe; snapshots \nonblocking \errors none.
uint8_t Ring_PutIndex();
uint8_t Ring_TakeIndex();
