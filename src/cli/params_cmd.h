// SPDX-License-Identifier: Apache-2.0
// `headalign params ...` and `headalign config ...`: the console's start-up, entries, SAVE and
// parameter-file commands driven through the in-memory dialog, so the command line validates
// and delivers exactly as the dialog does.
#pragma once
#include <string>
#include <vector>

#include "cli/cli.h"

// params show [--json] | set NAME=VALUE... [--hd] | add NAME=AMOUNT... [--hd]
//        | export FILE | import FILE [--yes]
int Cli_ParamsCommand(const std::vector<std::string>& args, const CliOptions& options);
// config list | store | load NAME
int Cli_ConfigCommand(const std::vector<std::string>& args, const CliOptions& options);

// The value of one field (not inkOrder) as `params show` reads it; false, with the reason on
// standard error, when no parameter record could be read.
bool Cli_ReadParamField(const std::string& name, const CliOptions& options, long* value);

// The field names of the parameter record, all or only those `params set` and `add` change.
std::vector<std::string> Cli_ParamFieldNames(bool changeableOnly);
