// SPDX-License-Identifier: Apache-2.0
// The one way module state without a session ends: a clear line, then a stop.
#include "platform/owned_state.h"

#include <cstdio>
#include <cstdlib>

void OwnedState_Missing(const char* where) {
    std::fprintf(stderr, "headalign: module state used without a session (%s)\n", where);
    std::fflush(stderr);
    std::abort();
}
