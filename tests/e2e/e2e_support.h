// End-to-end helpers: a virtual printer in a temporary folder, the fast clock, and readers
// for the printer's JSON Lines job record.
#pragma once
#include <string>
#include <vector>

#include "support/fakes.h"
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

// A test with the fast clock, a temporary log folder, recorded message boxes and a fresh
// virtual printer attached as the USB device.
class PrinterTest : public ::testing::Test {
  protected:
    PlatformFixture platform;
    TempDir printerDir;
    void SetUp() override;
    void TearDown() override;
    std::string traceText() const;
};
