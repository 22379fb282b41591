// SPDX-License-Identifier: Apache-2.0
// End-to-end helpers: readers for the printer's JSON Lines job record; the tests print on the
// shared virtual printer (PrinterTest).
#pragma once
#include <string>
#include <vector>

#include "support/printer_test.h"
#include "vprinter.h"

// Value of a top-level field of a flat JSON object ("" when absent; strings unquoted).
std::string jsonField(const std::string& line, const std::string& key);
long jsonNumber(const std::string& line, const std::string& key);

struct PrinterEvent {
    std::string line;
    std::string event;
    long number(const std::string& key) const { return jsonNumber(line, key); }
    std::string field(const std::string& key) const { return jsonField(line, key); }
};

std::vector<PrinterEvent> jobEvents();
std::vector<PrinterEvent> eventsOf(const std::vector<PrinterEvent>& all, const std::string& kind);
// The events with every block the link sent again in a row (the same job command, the same
// swath number) left out: the link sends a block again after a busy answer and after a failed
// transfer (a reply that came too late for the read, a call the watchdog reset), and how often
// that happens depends on the machine's speed, which a test does not control.
std::vector<PrinterEvent> withoutResends(const std::vector<PrinterEvent>& all);
// How many blocks withoutResends leaves out.
size_t resendCount(const std::vector<PrinterEvent>& all);
// The sequence of commands the printer received, resends left out: 2, 8, 9 (swaths), 18.
std::vector<long> commandSequence(const std::vector<PrinterEvent>& all);
// Whether the host's trace shows why a block went again (a busy answer or a failed transfer).
bool traceShowsResend(const std::string& trace);
