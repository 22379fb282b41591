// SPDX-License-Identifier: Apache-2.0
// Traces of the link go to standard output; a command whose own output is its answer keeps
// them on standard error while a job or a record read runs.
#pragma once
#include <unistd.h>

#include <cstdio>

struct TracesAside {
    int saved;
    TracesAside() {
        std::fflush(stdout);
        saved = dup(1);
        if (saved >= 0) dup2(2, 1);
    }
    ~TracesAside() {
        if (saved < 0) return;
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    TracesAside(const TracesAside&) = delete;
    TracesAside& operator=(const TracesAside&) = delete;
};
