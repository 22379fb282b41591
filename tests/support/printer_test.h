// SPDX-License-Identifier: Apache-2.0
// The set-up of a test that prints: the platform doubles (fast clock, fixed local time, English
// locale, recorded message boxes, a temporary log folder) and a fresh virtual printer attached
// as the USB device; faults, the second-pass box and the program error cleared at the end.
#pragma once
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "diag/errors.h"
#include "diag/log.h"
#include "support/printer_rig.h"
#include "support/product_internals.h"

template <class Base = ::testing::Test>
class PrinterTestOf : public Base {
  protected:
    PlatformFixture platform;
    VirtualPrinter printer;  // after the platform doubles, before SetUp
    void SetUp() override { ASSERT_TRUE(printer.attached()) << printer.error(); }
    void TearDown() override {
        if (printer.attached()) VPrinter_SetFaults(VPrinterFaults{});
        printer.detach();
        Job_SetHdMode(false);
        clearProgramError();
    }
    std::string traceText() const { return readFileBytes(Log_TracePath()); }
};
using PrinterTest = PrinterTestOf<>;

// A job's name in the test output (parameterised tests).
inline void PrintTo(const PrintJob& job, std::ostream* os) { *os << job.name(); }
