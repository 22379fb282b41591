// SPDX-License-Identifier: Apache-2.0
#include "cli/traces_aside.h"

#include <unistd.h>

#include <cstdio>

TracesAside::TracesAside() {
    std::fflush(stdout);
    saved_ = dup(1);
    if (saved_ >= 0) dup2(2, 1);
}

TracesAside::~TracesAside() { restore(); }

void TracesAside::restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
}
