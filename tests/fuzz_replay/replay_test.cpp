// SPDX-License-Identifier: Apache-2.0
// Replays every fuzz corpus file and every kept crash input through the targets' entry
// functions, so the ordinary sanitizer build checks them on every test run.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_support.h"
#include "support/fakes.h"
#include "support/rows.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file() && it->path().filename().string()[0] != '.')
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

// Names the target in test output rather than dumping the struct's bytes.
void PrintTo(const FuzzTarget& t, std::ostream* os) { *os << t.name; }

namespace {

constexpr size_t CORPUS_SAMPLE = 24;

class FuzzReplay : public ::testing::TestWithParam<FuzzTarget> {
  protected:
    PlatformFixture platform;
    // Runs the files of one folder, each once: all of them, or under the sanitizers `keep`
    // spread over the folder (rows.h); a failed check or a sanitizer finding ends the program
    // with the file's name in the output.
    size_t replay(const char* kind, size_t keep = SIZE_MAX) {
        fs::path dir = fs::path(HEADALIGN_FUZZ_DIR) / kind / GetParam().name;
        size_t n = 0;
        for (const fs::path& file : sampledRows(filesIn(dir), keep)) {
            SCOPED_TRACE(file.string());
            std::vector<uint8_t> bytes = readAll(file);
            std::fprintf(stderr, "replay %s\n", file.string().c_str());
            EXPECT_EQ(GetParam().entry(bytes.data(), bytes.size()), 0);
            ++n;
        }
        return n;
    }
};

// The corpus and the seeds: a sample of each folder under the sanitizers, all in the optimized
// build. Every crash input ever found runs in both.
TEST_P(FuzzReplay, CorpusOfTheFuzzerRunsClean) { EXPECT_GT(replay("corpus", CORPUS_SAMPLE), 0u); }

TEST_P(FuzzReplay, SeedsFromTheVirtualPrinterRunClean) {
    EXPECT_GT(replay("seeds", CORPUS_SAMPLE), 0u);
}

TEST_P(FuzzReplay, EveryCrashInputEverFoundRunsClean) { replay("regressions"); }

TEST_P(FuzzReplay, EmptyAndTinyInputsRunClean) {
    const uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    for (size_t n = 0; n <= sizeof bytes; ++n)
        EXPECT_EQ(GetParam().entry(n ? bytes : nullptr, n), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(fuzzTargets()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
