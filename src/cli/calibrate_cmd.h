// SPDX-License-Identifier: Apache-2.0
// `headalign calibrate`: every bidirectional adjustment on one sheet, read from one picture,
// entered in one SAVE and verified by a second sheet.
#pragma once
#include <string>
#include <vector>

#include "cli/cli.h"

// calibrate [--hd] [--apply] | calibrate (--scan FILE | --scanner [DEVICE]
//     [--scanner-option NAME=VALUE]...) [--apply] [--marked OUT.png] [--measured STEP=MM]...
//     | calibrate --measured STEP=MM... [--apply] | calibrate --feed
//     | calibrate --verify [--hd] [--scan FILE | --scanner [DEVICE]]
// The sitting itself is app/calibrate_flow.h; this is its command-line front end.
// Returns the process exit status: 0 printed / read (and applied) / every mode lines up,
// 1 cannot print or read / something not applied / a mode does not line up, 2 usage.
int Cli_CalibrateCommand(const std::vector<std::string>& args, const CliOptions& options);
