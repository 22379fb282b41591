// SPDX-License-Identifier: Apache-2.0
// One virtual printer and one job builder for the tests and the benchmarks: the printer in a
// fresh folder of its own, attached as the USB device; print jobs named as the command line
// names them; and the job context the planner expects after the parameter read, for prints
// without a printer. Free of GoogleTest, so the benchmarks link it too.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "handover/job_context.h"
#include "job/print_job.h"
#include "support/fakes.h"
#include "vprinter.h"

// A print job as the command line names it: `pattern N` or `adjust N`, the adjustment with or
// without the console's second-pass box.
struct PrintJob {
    bool adjustment = false;
    uint8_t number = 0;
    bool hd = false;

    static PrintJob pattern(uint8_t n) { return {false, n, false}; }
    static PrintJob adjust(uint8_t type, bool hd = false) { return {true, type, hd}; }
    // "pattern-03", "adjust-11", "adjust-05-hd".
    std::string name() const;
    // The feed-step prints, which pace a metre of paper.
    bool paced() const;
};
// Patterns 1..19 (15 among them: no such pattern, the job opens and closes) and adjustments
// 5..15; with `hd` also the bidirectional adjustments 5..10 with the second-pass box ticked.
std::vector<PrintJob> everyPrintJob(bool hd = false);
// Runs the job on the calling thread as the console would (the second-pass box set for it and
// cleared after) and returns how it ended.
JobOutcome runPrintJob(const PrintJob& job);

// The virtual printer in a fresh temporary folder (or `folder`), attached with the program
// error cleared and the second-pass box off; detached and the folder removed at the end.
class VirtualPrinter {
  public:
    VirtualPrinter();
    explicit VirtualPrinter(const std::string& folder);
    ~VirtualPrinter();
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    // False with the reason in error() when the folder could not be taken.
    bool attached() const { return attached_; }
    const std::string& error() const { return error_; }
    const std::string& folder() const { return folder_; }
    bool attach();
    void detach();
    // The model with the pictures large enough to keep every dot (the vernier's prints).
    void useFullSizePaper();
    // The last job's record (.jsonl) or paper (.png); its picture written first.
    std::string lastJobPath(const char* extension) const;

  private:
    TempDir temp_;
    std::string folder_;
    std::string error_;
    bool attached_ = false;
};

// The planner's view of a job on a single-head 720-dpi printer (main board 151, 180 nozzles per
// pass, feed steps of 10000, ink order 7..0) after the parameter read, with its ring, planner,
// feed step and formatter state fresh and the trace file open. For prints drawn and queued
// without a printer.
JobContext* setUpPlannerJob();
// Frees the ring, closes the trace file and clears the program error.
void endPlannerJob();
