// SPDX-License-Identifier: Apache-2.0
// Vernier test helpers: adjustment prints on the virtual printer with a configured
// bidirectional error, their rendered paper, and the group each should show.
#pragma once
#include <functional>
#include <string>

#include "scan_sim.h"
#include "support/printer_rig.h"
#include "vernier/vernier.h"

struct ModeInfo {
    int type;
    int ips;  // carriage speed of the adjustment print (second-pass box off)
    int dpi;  // its resolution across
};
extern const ModeInfo MODES[6];

struct PrintedPaper {
    // The printer's picture turned back half a turn: the paper as the canvas lies, labels upside
    // down, which is how the sweeps lay it on their scanner (their quarter-turn condition turns
    // it further). xDpi across, yDpi down: square, or the board's 720-row grid for a 1440-dpi
    // print.
    VernierImage image;
    double xDpi = 0, yDpi = 0;
    VernierImage square() const;  // the same made square at yDpi
};

// Error (1/1440 inch, the printer model's unit) that makes a mode's right-to-left print land
// `columns` columns further left.
int errorForColumns(const ModeInfo& m, int columns);
// Columns of right-to-left error that make a mode's prints meet at `target` groups, for prints
// that meet at `zero` with no error (zeroErrorEstimate).
int columnsFor(double zero, double target);

// A virtual printer in a temporary folder with the fast clock; prints adjustments.
class VernierBench {
  public:
    VernierBench();
    // Prints job `type` (or pattern `pattern` when type is 0) with the given error.
    PrintedPaper print(int type, int error1440, int pattern = 0);
    std::string folder() const { return printer.folder(); }
    // A paper made from printed ones (cut, brought onto another grid), made once for the whole
    // test program as the prints are and kept beside them under `name` for its other processes.
    PrintedPaper kept(const std::string& name, const std::function<PrintedPaper()>& make);

  private:
    PlatformFixture platform;
    VirtualPrinter printer;
};

// A picture made once for the whole test program (`make` runs only where no case process has
// kept it yet) and kept on disk beside the papers for the other processes, as the papers are.
// `name` says everything the picture depends on.
VernierImage sharedPicture(const std::string& name, const std::function<VernierImage()>& make);

// Where each mode's prints meet with no error and no correction, read once from the exact
// paper (the host's channel tables and even-column rounding leave a residue, see the tests).
double zeroErrorEstimate(VernierBench& bench, const ModeInfo& m);
// The right answer for an expected estimate: the group itself, or either neighbour of a half step.
bool rightGroup(double expected, int group);
