// SPDX-License-Identifier: Apache-2.0
// `headalign align`: read a scanned bidirectional vernier, propose or enter the correction, and
// check it by printing again.
#pragma once
#include <string>
#include <vector>

#include "cli/cli.h"

// align MODE --scan FILE [--apply] [--hd] [--marked OUT.png] | align MODE --verify [--hd]
//     | align STEP --measured MM [--apply]
// Returns the process exit status: 0 read (and applied) / lines up, 1 cannot read / does not
// line up / refused, 2 usage.
int Cli_AlignCommand(const std::vector<std::string>& args, const CliOptions& options);

// The record field whose "加减:" entry takes the correction of job type 5..10, honouring the
// second-pass box (photo mode has one value for both); nullptr for other types.
const char* Cli_AlignField(int jobType, bool hd);

// The record field whose "设为:" entry takes the feed step of job type 11..15; nullptr for
// other types.
const char* Cli_FeedStepField(int jobType);
