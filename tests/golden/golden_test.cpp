// SPDX-License-Identifier: Apache-2.0
// Golden job records: every pattern and adjustment job on the default virtual printer, its job
// record (what the board saw, command by command and swath by swath, and the paper it printed)
// compared line by line with the approved copy in tests/golden/records. A change on the wire
// then shows up here and is approved on purpose: HEADALIGN_GOLDEN_UPDATE=1 writes the records
// again from what the jobs send now.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "golden_dir.h"
#include "support/printer_test.h"

namespace {

// Values that differ from run to run (the print start's date and time, and the job id made
// from them) are replaced by a marker, so the record keeps its shape but not the moment.
std::string withoutTimes(std::string line) {
    for (const char* key : {"date", "time", "job_id"}) {
        const std::string quoted = std::string("\"") + key + "\":";
        size_t pos = line.find(quoted);
        if (pos == std::string::npos) continue;
        pos += quoted.size();
        size_t end = line.find_first_of(",}", pos);
        if (end == std::string::npos) continue;
        line.replace(pos, end - pos, "\"*\"");
    }
    return line;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The first differing lines, numbered from 1, after a common start and end are set aside, so a
// line inserted or lost shows as that one line and not as everything after it.
std::string lineDiff(const std::vector<std::string>& expected,
                     const std::vector<std::string>& got) {
    size_t head = 0;
    while (head < expected.size() && head < got.size() && expected[head] == got[head]) ++head;
    size_t tail = 0;
    while (tail < expected.size() - head && tail < got.size() - head &&
           expected[expected.size() - 1 - tail] == got[got.size() - 1 - tail])
        ++tail;
    std::ostringstream out;
    out << "expected " << expected.size() << " lines, got " << got.size() << "; they part at line "
        << head + 1 << ": " << expected.size() - tail - head << " expected line(s) there, "
        << got.size() - tail - head << " got\n";
    for (size_t i = head; i < head + 4; ++i) {
        if (i < expected.size() - tail)
            out << "  expected " << i + 1 << ": " << expected[i] << "\n";
        if (i < got.size() - tail) out << "  got      " << i + 1 << ": " << got[i] << "\n";
    }
    return out.str();
}

// Jobs run in one program carry the feed step's remainder over to the next one, so each record
// is made by the first job of its process: CTest runs every case in a process of its own.
int jobsInThisProcess = 0;

class GoldenRecordTest : public PrinterTestOf<::testing::TestWithParam<PrintJob>> {
  protected:
    void SetUp() override {
        ASSERT_EQ(jobsInThisProcess++, 0)
            << "one golden job per process: run them with ctest -R GoldenRecord, or name one "
               "with --gtest_filter";
        PrinterTestOf::SetUp();
    }
};

TEST_P(GoldenRecordTest, JobRecordMatchesTheApprovedOne) {
    const PrintJob& job = GetParam();
    runPrintJob(job);
    ASSERT_EQ(VPrinter_LastJobNumber(), 1u) << "the job opened no record";
    const std::string recordPath = VPrinter_JobPath(1, ".jsonl");
    printer.detach();  // closes the record and writes its picture line

    std::string got;
    for (const std::string& line : linesOf(readFileBytes(recordPath)))
        got += withoutTimes(line) + "\n";
    const std::string goldenPath = std::string(HEADALIGN_GOLDEN_DIR) + "/" + job.name() + ".jsonl";
    const char* update = std::getenv("HEADALIGN_GOLDEN_UPDATE");
    if (update && std::string(update) == "1") {
        std::ofstream out(goldenPath, std::ios::binary | std::ios::trunc);
        out << got;
        ASSERT_TRUE(out.good()) << "cannot write " << goldenPath;
        return;
    }
    ASSERT_TRUE(fileExists(goldenPath))
        << "no approved record " << goldenPath << " (HEADALIGN_GOLDEN_UPDATE=1 writes it)";
    const std::string expected = readFileBytes(goldenPath);
    if (expected != got)
        ADD_FAILURE() << goldenPath << " differs from the record the job wrote:\n"
                      << lineDiff(linesOf(expected), linesOf(got))
                      << "If the change is meant, approve it with HEADALIGN_GOLDEN_UPDATE=1.";
}

INSTANTIATE_TEST_SUITE_P(Jobs, GoldenRecordTest, ::testing::ValuesIn(everyPrintJob(true)),
                         [](const ::testing::TestParamInfo<PrintJob>& info) {
                             std::string name = info.param.name();
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
