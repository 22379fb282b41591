// SPDX-License-Identifier: Apache-2.0
// Test scaffolding for the console: a fixture with the dialog model, the virtual printer, a
// working folder, private shared-area names, and the front-end stand-in in another process.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dialog_model.h"
#include "support/fakes.h"

// The stand-in program (tools/shared_area_host) run as a child process and driven by lines.
class SharedHost {
  public:
    // Starts it with the fixture's names plus `extra` arguments; waits for "ready".
    bool start(const std::string& areaName, const std::string& lockName,
               const std::vector<std::string>& extra = {});
    std::string command(const std::string& line);  // one reply line
    std::vector<uint8_t> dump();                   // first 60 bytes of the area
    void stop();
    // SIGKILL: the stand-in dies at once, leaving its area and lock objects behind.
    void kill();
    ~SharedHost() { stop(); }

  private:
    std::string readLine();
    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    std::string pending_;
};

class ConsoleTest : public ::testing::Test {
  public:
    // A valid record with recognisable values.
    static std::vector<uint8_t> sampleRecord();

  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the console as the entry does (initialisation, title, show).
    void startConsole();
    // Stores `record` in the virtual printer (read by the next start-up).
    void storePrinterRecord(const uint8_t* record56);
    std::vector<uint8_t> printerRecord();
    // Texts of the recorded boxes, in order.
    std::vector<std::string> boxTexts();
    // Number of transactions with this sub-command that reached the printer.
    int printerTransactions(int sub);
    bool startHost(const std::vector<std::string>& extra = {});

    PlatformFixture platform;
    TempDir work;
    std::string oldDir;
    std::string areaName, lockName;
    SharedHost host;
};

std::string hexBytes(const std::vector<uint8_t>& bytes);
