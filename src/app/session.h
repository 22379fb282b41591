// SPDX-License-Identifier: Apache-2.0
// One program run: the owner of every module's mutable state. Each program creates one
// session before it does anything else and keeps it until it ends; a second session created
// while one is alive takes over until it is destroyed (tests give every case a fresh one).
// Dialog thread: create and destroy it while no job and no transmit thread runs.
#pragma once
#include "app/console.h"
#include "app/param_files.h"
#include "app/record_store.h"
#include "diag/log.h"
#include "handover/plan_handover.h"
#include "history/history.h"
#include "job/print_job.h"
#include "link/transmit.h"
#include "link/usb.h"
#include "params/calibration_params.h"
#include "params/printer_info.h"
#include "pattern/pattern_layout.h"
#include "pattern/patterns.h"
#include "pipeline/feed_step.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"
#include "platform/owned_state.h"

struct Session {
    Owned<LogRunState> log;                 // diag: the error log's banner, once per run
    Owned<CalibrationParams> params;        // params: the calibration parameter set
    Owned<PrinterInfoState> printerInfo;    // params: what the last information record said
    Owned<PlanHandoverState> planHandover;  // hand-over: held-back swath, the busy flag
    Owned<FeedStepState> feedStep;          // pipeline: steps per row and the carried fraction
    Owned<PlannerState> planner;            // pipeline: direction alternation
    Owned<FormatState> format;              // pipeline: dropped format writes
    Owned<PatternLayout> layout;            // pattern: the pattern layout
    Owned<PatternRunState> patterns;        // pattern: refused drawing positions
    Owned<UsbLinkState> usb;                // link: transfer serial number, hung-call watchdog
    Owned<TransmitState> transmit;          // link: spit counter, last swath, transmit thread
    Owned<JobRunState> jobs;                // job: second-pass box, last job's outcome
    Owned<ConsoleState> console;            // console: current record, dialog
    Owned<ConfigListing> configs;           // console: the listed Config files
    Owned<RecordStoreState> records;        // console: where the record lives, its lock, base
    Owned<HistoryState> history;            // history: the printer kept, what a SAVE came from
};
