// SPDX-License-Identifier: Apache-2.0
// The main of every benchmark program: the whole run, baselines included, inside one session of
// the program's state, as the tool runs. A benchmark that wants state of its own makes another
// session, which takes over while it lives.
#include <benchmark/benchmark.h>

#include "app/session.h"

int main(int argc, char** argv) {
    Session session;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
