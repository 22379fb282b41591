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
// The sequence of commands the printer received: 2, 8, 9 (a swath), 18.
std::vector<long> commandSequence(const std::vector<PrinterEvent>& all);
