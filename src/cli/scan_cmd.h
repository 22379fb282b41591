// SPDX-License-Identifier: Apache-2.0
// Scanning from the command line: `headalign scanners`, and the scan that `align --scanner`
// reads instead of a file.
#pragma once
#include <string>
#include <vector>

#include "cli/cli.h"

// `headalign scanners`: the scanners the system offers, one a line ("NAME\tVENDOR MODEL
// (TYPE)"). Returns the exit status: 0 listed, 1 none found or no scanner support, 2 usage.
int Cli_ScannersCommand(const std::vector<std::string>& args, const CliOptions& options);

// What `--scanner [DEVICE]` and `--scanner-option NAME=VALUE` ask for.
struct CliScanArgs {
    bool wanted = false;
    std::string device;                // empty: the first scanner found
    std::vector<std::string> options;  // "NAME=VALUE" as typed
};

// Takes `--scanner [DEVICE]` or `--scanner-option NAME=VALUE` at args[*i] (moving *i past its
// value). 1 when taken, 0 when args[*i] is neither, 2 after a usage message on standard error.
int Cli_ParseScanArg(const std::vector<std::string>& args, size_t* i, CliScanArgs* out);

#ifdef HEADALIGN_HAVE_VERNIER
#include "vernier/vernier.h"
// Scans the print of adjustment `jobType` at 300 dpi grey (as the options leave it), showing
// progress on a terminal and stopped by Ctrl-C, and keeps the picture beside the job's records
// (the log folder) as "Scan_M<mode>_DATE_TIME.png", never over an earlier scan. true with the
// picture (square pixels) in *image and what to call it in *source (the kept file, else the
// device); false after the reason on standard error in the operator's words.
bool Cli_ScanPrint(const CliScanArgs& scan, int jobType, const CliOptions& options,
                   VernierImage* image, std::string* source);
// The same for the whole calibration sheet (the device's whole area), kept as
// "Scan_Sheet_DATE_TIME.png".
bool Cli_ScanSheet(const CliScanArgs& scan, const CliOptions& options, VernierImage* image,
                   std::string* source);
#endif
