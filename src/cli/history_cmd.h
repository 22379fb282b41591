// SPDX-License-Identifier: Apache-2.0
// `headalign history`: the printer's calibration history as a list, as JSON, or as a picture,
// and the modes that have drifted, in words.
#pragma once
#include <string>
#include <vector>

#include "cli/cli.h"

// history [--mode M] [--since DATE] [--until DATE] [--json] [--plot OUT.png]
// Returns the process exit status: 0 shown, 1 the history cannot be read or drawn, 2 usage.
int Cli_HistoryCommand(const std::vector<std::string>& args, const CliOptions& options);
