// SPDX-License-Identifier: Apache-2.0
// Rows of the long sweeps and end-to-end tables: every row in the optimized test build (where
// the numbers are checked), a few spread over the table under the sanitizers (where the same
// paths are checked for memory and undefined behaviour, and every row would cost minutes). The
// optimized build is the one configured with HEADALIGN_TEST_ALL_ROWS (scripts/test.sh builds and
// runs it); its test programs carry the ctest label "sweep". A row added to a table falls under
// the same rule.
#pragma once
#include <cstddef>
#include <vector>

#ifdef HEADALIGN_ALL_ROWS
inline constexpr bool ALL_ROWS = true;
#else
inline constexpr bool ALL_ROWS = false;
#endif

// `keep` rows spread evenly over a table of `count` (the first and, from two on, the last among
// them), in either build: for the tables too long to run whole even optimized.
constexpr bool spreadRow(size_t index, size_t count, size_t keep) {
    if (count <= keep) return true;
    if (keep == 0) return false;
    if (keep == 1) return index == 0;
    for (size_t k = 0; k < keep; ++k)
        if (index == (k * (count - 1) + (keep - 1) / 2) / (keep - 1)) return true;
    return false;
}

// Whether row `index` of a table of `count` rows runs: every row in the optimized build, else
// `keep` rows spread evenly over the table.
constexpr bool sampledRow(size_t index, size_t count, size_t keep = 2) {
    return ALL_ROWS || spreadRow(index, count, keep);
}

// The rows of `rows` that run (sampledRow), in their order.
template <class T>
std::vector<T> sampledRows(const std::vector<T>& rows, size_t keep = 2) {
    std::vector<T> out;
    for (size_t i = 0; i < rows.size(); ++i)
        if (sampledRow(i, rows.size(), keep)) out.push_back(rows[i]);
    return out;
}
