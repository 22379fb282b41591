// SPDX-License-Identifier: Apache-2.0
// The paper both reader benchmarks read: the bidirectional adjustment print (text high, an
// error of 13/1440 inch) from the virtual printer, laid the way the canvas lies.
#pragma once
#include <string>

#include "job/print_job.h"
#include "scan_sim.h"
#include "support/printer_rig.h"
#include "vernier/vernier.h"
#include "vprinter.h"

inline VernierImage adjustmentPaper() {
    VirtualPrinter printer;
    printer.useFullSizePaper();
    VPrinterModel m = VPrinter_GetModel();
    m.bidirErrorByIps = {{50, 13}};
    VPrinter_SetModel(m);
    runPrintJob(PrintJob::adjust(5));
    VernierImage paper;
    std::string error;
    Vernier_LoadImage(printer.lastJobPath(".png"), &paper, &error);
    // The printer's picture shows the sheet as the operator holds it; the scans here lay it
    // the other way up, as the canvas lies, which the reader takes without turning it.
    return halfTurned(paper);
}
