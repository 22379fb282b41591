// SPDX-License-Identifier: Apache-2.0
// A fast clock whose sleeps also pause for real (1/100 of their length), so a thread inside a
// device call that takes a few real microseconds does not see seconds pass in other threads'
// polls. The tick moves only with sleeps, as on the fake clock.
#pragma once
#include <cstdint>

namespace paced_clock {
void install();    // after PlatformFixture (replaces its fast clock)
void uninstall();  // back to the fixture's fast clock
uint64_t sleptMs();
}  // namespace paced_clock
