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

#include "diag/errors.h"
#include "golden_dir.h"
#include "job/print_job.h"
#include "support/fakes.h"
#include "vprinter.h"

namespace {

struct GoldenJob {
    const char* name;
    bool adjustment;
    uint8_t number;
    bool hd;  // the console's second-pass box ticked
};

std::vector<GoldenJob> goldenJobs() {
    std::vector<GoldenJob> jobs;
    // Every number the command line takes, the undefined 15 included (it opens and closes a job).
    for (uint8_t p = 1; p <= 19; ++p) jobs.push_back({"pattern", false, p, false});
    for (uint8_t t = 5; t <= 15; ++t) jobs.push_back({"adjust", true, t, false});
    for (uint8_t t = 5; t <= 10; ++t) jobs.push_back({"adjust", true, t, true});
    return jobs;
}

std::string fileName(const GoldenJob& job) {
    char name[40];
    std::snprintf(name, sizeof name, "%s-%02u%s", job.name, unsigned(job.number),
                  job.hd ? "-hd" : "");
    return name;
}
void PrintTo(const GoldenJob& job, std::ostream* os) { *os << fileName(job); }

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

class GoldenRecordTest : public ::testing::TestWithParam<GoldenJob> {
  protected:
    PlatformFixture platform;
    TempDir printerDir;
    void SetUp() override {
        ASSERT_EQ(jobsInThisProcess++, 0)
            << "one golden job per process: run them with ctest -R GoldenRecord, or name one "
               "with --gtest_filter";
        clearProgramError();
        Job_SetHdMode(false);
        ASSERT_TRUE(VPrinter_Attach(printerDir.path));
    }
    void TearDown() override {
        VPrinter_Detach();
        Job_SetHdMode(false);
        clearProgramError();
    }
};

TEST_P(GoldenRecordTest, JobRecordMatchesTheApprovedOne) {
    const GoldenJob& job = GetParam();
    Job_SetHdMode(job.hd);
    if (job.adjustment)
        Job_RunAdjustment(job.number);
    else
        Job_RunPattern(job.number);
    ASSERT_EQ(VPrinter_LastJobNumber(), 1u) << "the job opened no record";
    const std::string recordPath = VPrinter_JobPath(1, ".jsonl");
    VPrinter_Detach();  // closes the record and writes its picture line

    std::string got;
    for (const std::string& line : linesOf(readFileBytes(recordPath)))
        got += withoutTimes(line) + "\n";
    const std::string goldenPath =
        std::string(HEADALIGN_GOLDEN_DIR) + "/" + fileName(job) + ".jsonl";
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

INSTANTIATE_TEST_SUITE_P(Jobs, GoldenRecordTest, ::testing::ValuesIn(goldenJobs()),
                         [](const ::testing::TestParamInfo<GoldenJob>& info) {
                             std::string name = fileName(info.param);
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
