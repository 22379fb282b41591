// SPDX-License-Identifier: Apache-2.0
// Puts one module's state of the live session back to its start, for a case (or benchmark) that
// runs several rounds while the other modules keep theirs.
#pragma once
#include <new>

#include "platform/owned_state.h"

template <typename State>
void restartState() {
    State& s = OwnedState<State>::get();
    s.~State();
    ::new (static_cast<void*>(&s)) State();
}
