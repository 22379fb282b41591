// SPDX-License-Identifier: Apache-2.0
// The console's side of the shared parameter area published by the printing front end:
// bytes 0..3 the update flag and three reserved bytes, bytes 4..59 the parameter record.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/shared_area.h"

constexpr size_t SHARED_RECORD_OFFSET = 4;
constexpr size_t SHARED_AREA_USED = 60;
constexpr uint32_t SHARED_LOCK_TIMEOUT_MS = 2000;

enum SharedReadResult { SHARED_READ = 0, SHARED_NO_MUTEX = 1, SHARED_BUSY = 2 };

// Opens the area and checks its owner; true when it exists and may be used (it then counts
// as present). When found is given it tells what was there: SHARED_ABSENT (no front end),
// or SHARED_DENIED / SHARED_UNTRUSTED for an area that exists but must not be used, which is
// an error, never an absence: nothing is read from it or written into it. Dialog thread.
bool openSharedArea(SharedOpenResult* found = nullptr);
// Closes the area (kept open while a hold lasts).
void closeSharedArea();
// closeSharedArea() and closes the lock.
void releaseSharedArea();
// Start-up access (after openSharedArea() returned true): copies the 56 record bytes into
// record under the lock. SHARED_BUSY after the busy warning when the lock stayed taken for
// 2000 ms; SHARED_NO_MUTEX when the lock is missing or not to be trusted, or the area too
// small to hold a record. Everything is closed again when it returns, unless a hold lasts.
SharedReadResult readSharedRecord(uint8_t* record);
// SAVE access (after openSharedArea() returned true): flag 1, three zero bytes, then the
// record, under the lock. false after the busy warning, or when the lock is missing or not to
// be trusted, or the area no longer holds 60 bytes.
bool writeSharedRecord(const uint8_t* record);

// A hold: the area opened and its lock taken (waiting at most 2000 ms, the busy warning when
// it stays taken) and kept until endSharedHold, so that a read, a change and a write in
// between are one transaction. The accesses above then use the held lock instead of taking
// it. SHARED_BUSY after the busy warning, SHARED_NO_MUTEX when there is no area, no lock or no
// lock to be trusted (with its box), SHARED_READ (nothing read yet) when held. Dialog thread.
SharedReadResult beginSharedHold();
void endSharedHold();

// Why the last open or lock was refused, in words (owner and reason), for the console's box.
const char* sharedRefusal();
