// SPDX-License-Identifier: Apache-2.0
// The history's picture written as a file, through the one way files are replaced.
#include "history/analysis.h"
#include "platform/files.h"

bool History_Plot(const std::vector<HistorySeries>& series, const std::vector<HistoryDrift>& drifts,
                  const std::string& printer, bool chinese, const std::string& path,
                  std::string* error) {
    std::vector<uint8_t> png;
    if (!History_PlotPng(series, drifts, printer, chinese, &png, error)) return false;
    FileResult written = File_WriteReplace(path, png.data(), png.size());
    if (!written.ok()) {
        *error = written.message;
        return false;
    }
    return true;
}
