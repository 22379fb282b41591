// SPDX-License-Identifier: Apache-2.0
// The operator's interrupt during a job: a real SIGINT or SIGTERM to the program printing on
// the virtual printer, at a random swath of every job. The job ends through its PC-cancel path:
// no further swath, no end-of-job command, the link stopped, the trace's verdict, the job's
// records and picture complete, and status 1 saying the job was cancelled on the PC.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "support/fakes.h"
#include "support/hostile_inputs.h"

#ifdef HEADALIGN_BIN
namespace {

namespace fs = std::filesystem;

struct ChildRun {
    int status = -1;
    int swathsSeen = 0;   // "tx swath" lines before the signal
    int afterCancel = 0;  // "tx swath" lines after the cancel took hold (-1: it never did)
    bool signalled = false;
    bool hung = false;
    std::string out, err;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Runs headalign with `args`, sending `signal` once the trigger line has been seen `atSwath`
// times ("tx swath" lines; 0: at PRINT_START's answer, before any swath). The child runs under
// an address-space limit of 1 GB where the build allows one (not under AddressSanitizer, whose
// shadow memory alone is larger).
ChildRun runAndInterrupt(const std::vector<std::string>& args, int atSwath, int signal) {
    ChildRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return run;
    pid_t pid = Hostile_ForkLimited([&] {
        // One stream: where the interrupt's own line falls among the swaths shows when the
        // cancel took hold.
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        std::vector<char*> argv{const_cast<char*>(HEADALIGN_BIN)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(HEADALIGN_BIN, argv.data());
        return 127;
    });
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    std::string pending;
    char buffer[4096];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count());
        if (left <= 0 || ::poll(&p, 1, left) <= 0) {
            run.hung = true;
            ::kill(pid, SIGKILL);
            break;
        }
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            run.out += pending.substr(0, end + 1);
            pending.erase(0, end + 1);
            bool printing = atSwath == 0 && line.find("指令(8)执行成功") != std::string::npos;
            bool swath = line.rfind("tx swath", 0) == 0 && ++run.swathsSeen == atSwath;
            if (!run.signalled && (printing || swath)) {
                ::kill(pid, signal);
                run.signalled = true;
            }
        }
    }
    ::close(out[0]);
    ::waitpid(pid, &run.status, 0);
    run.out += pending;
    size_t cancelled = run.out.find("headalign: interrupted: cancelling the job");
    run.afterCancel =
        cancelled == std::string::npos ? -1 : int(count(run.out.substr(cancelled), "\ntx swath"));
    run.err = run.out;
    return run;
}

// Every job the command line prints, each with a signal at a random swath (the short jobs,
// which send one or two swaths, at the start of printing), alternately SIGINT and SIGTERM.
TEST(Interrupt, EveryJobEndsThroughItsPcCancelAtARandomSwath) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    struct Job {
        std::string kind, name;
    };
    std::vector<Job> jobs;
    for (const char* kind : {"pattern", "adjust"})
        for (const std::string& name : Cli_JobNames(kind)) jobs.push_back({kind, name});
    int n = 0;
    for (const Job& job : jobs) {
        const bool many = job.name.rfind("pass", 0) == 0;  // the feed-step prints: ~100+ swaths
        const int atSwath = many ? std::uniform_int_distribution<int>(1, 60)(random) : 0;
        const int signal = n++ % 2 ? SIGTERM : SIGINT;
        SCOPED_TRACE(job.kind + " " + job.name + ", signal " + std::to_string(signal) +
                     " at swath " + std::to_string(atSwath));
        TempDir dir;
        fs::create_directories(dir.path + "/log");
        const ChildRun run = runAndInterrupt({"--virtual-printer", dir.path + "/vp", "--fast-clock",
                                              "--log-dir", dir.path + "/log", job.kind, job.name},
                                             atSwath, signal);
        ASSERT_FALSE(run.hung) << run.out << run.err;
        ASSERT_TRUE(run.signalled) << run.out << run.err;
        const std::string record = readFileBytes(dir.path + "/vp/jobs/0001.jsonl");
        if (run.afterCancel < 0) {
            // A job of one or two swaths on the fast clock can reach its end command before the
            // signal sent at its start is taken (nothing here controls that race): a cancel
            // then comes too late and the job ends as printed, with its end command and a clean
            // exit, or, once the command has finished, the signal's default action.
            ASSERT_FALSE(many) << "the cancel never took hold\n" << run.out;
            EXPECT_NE(record.find("\"command\":18,"), std::string::npos) << record;
            EXPECT_NE(record.find("{\"event\":\"job_end\",\"reason\":\"end of job\"}"),
                      std::string::npos)
                << record;
            if (WIFEXITED(run.status))
                EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.out;
            else
                EXPECT_EQ(WTERMSIG(run.status), signal);
            continue;
        }
        ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << WTERMSIG(run.status);
        EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.err;
        EXPECT_NE(run.err.find("the job was cancelled on the PC"), std::string::npos) << run.err;

        std::string trace;
        for (const auto& entry : fs::directory_iterator(dir.path + "/log"))
            if (entry.path().filename().string().rfind("Y", 0) == 0)
                trace = readFileBytes(entry.path().string());
        // The link stopped as at every job's end.
        EXPECT_NE(trace.find("关闭USB设备"), std::string::npos);
        int verdictSwath = -1;
        if (job.kind == "adjust") {
            size_t at = trace.find("PC取消作业,swath:");
            ASSERT_NE(at, std::string::npos)
                << trace.substr(trace.size() > 600 ? trace.size() - 600 : 0);
            verdictSwath = std::atoi(trace.c_str() + at + std::string("PC取消作业,swath:").size());
            EXPECT_GE(verdictSwath, atSwath);
        }
        const size_t sent = count(trace, "tx swath");
        // What the ring of four already held may still go out; nothing planned after it.
        EXPECT_GE(run.afterCancel, 0);
        EXPECT_LE(run.afterCancel, 5) << "swaths went on after the cancel";

        // The job's records are whole: the link's close, the job's end and its picture, and no
        // end-of-job command (a PC cancel never sends one, even when the cancel lands as the
        // job reaches its end).
        EXPECT_NE(record.find("{\"event\":\"link\",\"what\":\"closed\"}"), std::string::npos);
        EXPECT_NE(record.find("\"event\":\"job_end\""), std::string::npos);
        EXPECT_EQ(record.find("\"command\":18,"), std::string::npos);
        EXPECT_LE(count(record, "{\"event\":\"swath\""), sent);
        if (sent > 0) {
            EXPECT_NE(record.find("\"event\":\"picture\""), std::string::npos);
            EXPECT_TRUE(fileExists(dir.path + "/vp/jobs/0001.png"));
        }
    }
}

}  // namespace
#endif
