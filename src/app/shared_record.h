// SPDX-License-Identifier: Apache-2.0
// The console's side of the shared parameter area published by the printing front end:
// bytes 0..3 the update flag and three reserved bytes, bytes 4..59 the parameter record.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t SHARED_RECORD_OFFSET = 4;
constexpr size_t SHARED_AREA_USED = 60;
constexpr uint32_t SHARED_LOCK_TIMEOUT_MS = 2000;

enum SharedReadResult { SHARED_READ = 0, SHARED_NO_MUTEX = 1, SHARED_BUSY = 2 };

// Opens and maps the area; true when it exists (it then counts as present). Dialog thread.
bool openSharedArea();
// Unmaps the view and closes the area.
void closeSharedArea();
// closeSharedArea() and closes the lock.
void releaseSharedArea();
// Start-up access (after openSharedArea() returned true): copies the 56 record bytes into
// record under the lock. SHARED_BUSY after the busy warning when the lock stayed taken for
// 2000 ms; SHARED_NO_MUTEX when the lock is missing or the area too small to hold a record.
// Everything is closed again when it returns.
SharedReadResult readSharedRecord(uint8_t* record);
// SAVE access (after openSharedArea() returned true): flag 1, three zero bytes, then the
// record, under the lock. false after the busy warning, or when the lock is missing.
bool writeSharedRecord(const uint8_t* record);
