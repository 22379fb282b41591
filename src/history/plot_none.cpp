// SPDX-License-Identifier: Apache-2.0
// Where no drawing library is built in (a Linux build without cairo): the picture is not drawn.
#include "history/analysis.h"

bool History_PlotPng(const std::vector<HistorySeries>&, const std::vector<HistoryDrift>&,
                     const std::string&, bool, std::vector<uint8_t>*, std::string* error) {
    *error =
        "drawing the history is not available in this build (built without cairo): use history "
        "--json";
    return false;
}
