// SPDX-License-Identifier: Apache-2.0
// Shared set-up of the link tests: fast clock, message-box recorder, trace files, a clean
// job context and command slot, and the scripted USB driver.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "diag/errors.h"
#include "diag/log.h"
#include "fake_usb.h"
#include "handover/job_context.h"
#include "link/command.h"
#include "link/usb.h"
#include "support/fakes.h"
#include "support/product_internals.h"

class LinkTest : public ::testing::Test {
  protected:
    PlatformFixture platform;

    void SetUp() override {
        fake_usb::install();
        Log_Open();
        clearProgramError();
        Job_ClearContext();
        Cmd_Reset();
    }
    void TearDown() override {
        fake_usb::uninstall();
        clearProgramError();
        // A case that queued a command with no transmit thread to send it, or had a reply mark it
        // busy, leaves the slot as it found it (the per-case listener checks).
        Cmd_Reset();
    }
    static std::string traces() { return readFileBytes(Log_TracePath()); }
    static std::string errorLog() { return readFileBytes(Log_ErrorPath()); }
    static bool traced(const std::string& text) { return traces().find(text) != std::string::npos; }
    static size_t countOf(const std::string& hay, const std::string& needle) {
        size_t n = 0;
        for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
        return n;
    }
};
