// SPDX-License-Identifier: Apache-2.0
// Saving under faults: SAVE to the printer while transactions fail, hang or come back cut,
// SAVE after the process holding the front end's lock died (a front end, or another console
// killed in the middle of its SAVE), and parameter files whose
// write fails half-way. The printer, the area and the files each hold the old record or the
// new one, never a mixture, and success is never announced for a record not delivered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/record_store.h"
#include "link/usb.h"
#include "params/calibration_params.h"
#include "platform/clock.h"
#include "platform/dialog_model.h"
#include "platform/shared_area.h"
#include "soak_support.h"
#include "support/fakes.h"
#include "support/product_internals.h"
#include "support/session_fixture.h"
#include "vprinter.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
const char* const SAVE_OK = "Parameter save successful!";
const char* const SAVE_FAIL = "Parameter save fail!";
const char* const SAVE_UNKNOWN =
    "The printer did not answer: whether the parameters were saved is unknown. SAVE again sends "
    "the same values.";
constexpr int BIDIR_HIGH_ADD = ID_BIDIR_TEXT_HIGH_ADD;  // add entry of the first bidirectional row

class SaveSoak : public ::testing::Test {
  protected:
    PlatformFixture platform;
    TempDir work;
    std::string oldDir;
    std::string areaName, lockName;

    void SetUp() override {
        oldDir = fs::current_path().string();
        fs::current_path(work.path);
        std::string suffix = std::to_string(getpid());
        areaName = "haSoakArea_" + suffix;
        lockName = "haSoakLock_" + suffix;
        SharedArea_SetNames(areaName.c_str(), lockName.c_str());
        DialogModel_Reset();
        DialogModel_CaptureSystemBoxes(true);
        ASSERT_TRUE(VPrinter_Attach(work.path + "/printer"));
        // The board's record on disk from the start, so that every round can compare it.
        uint8_t record[56];
        VPrinter_StoredRecord(record);
        VPrinter_SetStoredRecord(record);
    }
    void TearDown() override {
        VPrinter_SetFaults(VPrinterFaults{});
        VPrinter_Detach();
        DialogModel_CaptureSystemBoxes(false);
        DialogModel_Reset();
        SharedArea_SetNames(nullptr, nullptr);
        shm_unlink(("/" + areaName).c_str());
        shm_unlink(("/" + lockName).c_str());
        fs::current_path(oldDir);
    }

    void startConsole() {
        DialogModel_Reset();
        restartState<ConsoleState>();
        *calibrationParams() = CalibrationParams{};
        restartState<UsbLinkState>();
        ASSERT_EQ(runConsole(0, 5), 0);
    }
    static Bytes printerRecord() {
        uint8_t r[56];
        VPrinter_StoredRecord(r);
        return Bytes(r, r + 56);
    }
    static Bytes currentRecord() {
        return Bytes(consoleState()->currentRecord, consoleState()->currentRecord + 56);
    }
    // Boxes whose message (the first line; a reason may follow on the next) is `text`.
    static int boxCount(const char* text) {
        int n = 0;
        for (const DialogModelBox& b : DialogModel_Boxes())
            n += b.text.substr(0, b.text.find('\n')) == text ? 1 : 0;
        return n;
    }
};

TEST_F(SaveSoak, SaveToThePrinterUnderTransactionFaultsNeverMixesOrLies) {
    const int rounds = soakEnv("HEADALIGN_SOAK_SAVES", 60);
    std::mt19937 rng(static_cast<uint32_t>(soakEnv("HEADALIGN_SOAK_SEED", 1)));
    int announced = 0, refused = 0, unknown = 0, deliveredDespiteFailure = 0, startupFailures = 0,
        staleAtFailure = 0;
    for (int n = 0; n < rounds; ++n) {
        SCOPED_TRACE("save " + std::to_string(n));
        const bool stale = VPrinter_PendingReplyPackets() > 0;
        startConsole();
        const Bytes before = printerRecord();
        if (!consoleState()->printerConnected) {
            // The start-up read failed (a reply left over from the faulted save before it):
            // SAVE must refuse rather than send a record it never read.
            ++startupFailures;
            staleAtFailure += stale ? 1 : 0;
            DialogModel_ClearBoxes();
            DialogModel_Click(ID_SAVE);
            EXPECT_EQ(boxCount(SAVE_OK), 0);
            EXPECT_EQ(printerRecord(), before);
            continue;
        }
        // Moves the first row up or down by a little, so every save changes the record.
        int32_t current = std::stoi(DialogModel_Text(ID_BIDIR_TEXT_HIGH));
        int32_t step =
            current < 200 ? 1 + static_cast<int>(rng() % 20) : -1 - static_cast<int>(rng() % 20);
        DialogModel_Type(BIDIR_HIGH_ADD, std::to_string(step));
        VPrinterFaults f;
        f.seed = rng();
        switch (rng() % 8) {
            case 0:
                break;
            case 1:
                f.failWrites = 1 + rng() % 3;
                break;
            case 2:
                f.failReads = 1 + rng() % 3;
                break;
            case 3:
                f.cutReplies = 1;
                break;
            case 4:
                f.hangMs = 1000 + rng() % 60000;
                break;
            case 5:
                f.disappearOpens = 1 + rng() % 3;
                break;
            case 6:
                f.unknownKindReplies = 1 + rng() % 3;
                break;
            default:
                f.otherCommandFirst = 1 + rng() % 3;
                break;
        }
        DialogModel_ClearBoxes();
        VPrinter_SetFaults(f);
        DialogModel_Click(ID_SAVE);
        VPrinter_SetFaults(VPrinterFaults{});
        const Bytes after = printerRecord();
        const Bytes wanted = currentRecord();
        const bool ok = boxCount(SAVE_OK) == 1;
        const bool failed = boxCount(SAVE_FAIL) == 1;
        EXPECT_EQ(boxCount(SAVE_OK) + boxCount(SAVE_FAIL) + boxCount(SAVE_UNKNOWN), 1);
        EXPECT_TRUE(after == before || after == wanted) << "a mixture of two records";
        if (ok) {
            EXPECT_EQ(after, wanted) << "success announced but not delivered";
        }
        if (failed) {
            // A lost answer is followed by a read-back: "fail" only when the printer kept the old
            // record.
            EXPECT_EQ(after, before) << "failure announced for a record the printer holds";
        }
        // The stored file is replaced whole: it holds exactly the board's record.
        std::string onDisk = readFileBytes(work.path + "/printer/record.bin");
        EXPECT_EQ(Bytes(onDisk.begin(), onDisk.end()), after);
        announced += ok ? 1 : 0;
        refused += failed ? 1 : 0;
        unknown += (!ok && !failed) ? 1 : 0;
        deliveredDespiteFailure += (!ok && after == wanted && after != before) ? 1 : 0;
        if (HasFailure()) break;
    }
    std::printf(
        "\nsave soak: %d rounds, %d saves announced, %d refused, %d unknown (%d not announced but "
        "reached the printer), %d start-up reads failed (%d with a stale reply pending)\n",
        rounds, announced, refused, unknown, deliveredDespiteFailure, startupFailures,
        staleAtFailure);
}

// The printer carries out the write but its answer is lost: with the record read back the
// SAVE is announced; when even the read-back goes unanswered the outcome is "unknown", and
// SAVE again sends the same record, so an amount is never added twice.
TEST_F(SaveSoak, LostAnswerIsReadBackAndAnAmountIsNeverAddedTwice) {
    const char* const DATA_LOST = "USB is connected, but data sent failed!";
    struct Row {
        uint32_t failReads;
        const char* announced;
    } rows[] = {{1, SAVE_OK}, {3, SAVE_OK}, {4, SAVE_UNKNOWN}};
    for (const Row& row : rows) {
        SCOPED_TRACE("failed reads: " + std::to_string(row.failReads));
        // Held as a command holds it: the SAVE writes at once, without reading the record
        // again first, so the failed reads meet the answer to the write.
        ASSERT_TRUE(Record_BeginHold());
        startConsole();
        ASSERT_EQ(consoleState()->printerConnected, 1);
        const int before = printerRecord()[0x03];
        DialogModel_Type(BIDIR_HIGH_ADD, "3");
        VPrinterFaults f;
        f.failReads = row.failReads;
        VPrinter_SetFaults(f);
        DialogModel_ClearBoxes();
        DialogModel_Click(ID_SAVE);
        VPrinter_SetFaults(VPrinterFaults{});
        EXPECT_EQ(boxCount(DATA_LOST), 1);
        EXPECT_EQ(boxCount(row.announced), 1);
        EXPECT_EQ(boxCount(SAVE_FAIL), 0);
        EXPECT_EQ(printerRecord()[0x03], before + 3);
        DialogModel_ClearBoxes();
        DialogModel_Click(ID_SAVE);
        EXPECT_EQ(boxCount(SAVE_OK), 1);
        EXPECT_EQ(printerRecord()[0x03], before + 3);
        EXPECT_EQ(printerRecord(), currentRecord());
        Record_EndHold();
    }
    // Nothing reached the printer (no device): "fail" without asking it anything more.
    startConsole();
    const Bytes before = printerRecord();
    DialogModel_Type(BIDIR_HIGH_ADD, "3");
    VPrinterFaults gone;
    gone.disappearOpens = 10;  // gone for the look-up of its lock, the compare and the write
    VPrinter_SetFaults(gone);
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    VPrinter_SetFaults(VPrinterFaults{});
    EXPECT_EQ(boxCount(SAVE_FAIL), 1);
    EXPECT_EQ(printerRecord(), before);
}

// The front end's area and lock, made here as the front end would make them: the area, and a
// lock object taken with flock().
struct FrontEndArea {
    std::string area, lock;
    uint8_t* view = nullptr;
    int lockFd = -1;
    FrontEndArea(const std::string& a, const std::string& l, const Bytes& record)
        : area("/" + a), lock("/" + l) {
        int fd = shm_open(area.c_str(), O_CREAT | O_RDWR, 0600);
        if (fd < 0 || ftruncate(fd, 64) != 0) return;
        void* p = mmap(nullptr, 64, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (p == MAP_FAILED) return;
        view = static_cast<uint8_t*>(p);
        std::memset(view, 0, 64);
        std::memcpy(view + 4, record.data(), 56);
        lockFd = shm_open(lock.c_str(), O_CREAT | O_RDWR, 0600);
    }
    ~FrontEndArea() {
        if (view) munmap(view, 64);
        if (lockFd >= 0) close(lockFd);
    }
    Bytes bytes() const { return Bytes(view, view + 64); }
};

// Runs `body` in a child process that stops (SIGSTOP on itself is not enough: it must be
// killed, not resumed) at the point where it calls `stop()`; the parent then SIGKILLs it.
struct DoomedChild {
    pid_t pid = -1;
    int ready[2] = {-1, -1};
    template <typename Body>
    bool start(Body body) {
        if (pipe(ready) != 0) return false;
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            body();
            _exit(3);  // never reached when the body stopped as planned
        }
        close(ready[1]);
        char c = 0;
        return pid > 0 && read(ready[0], &c, 1) == 1;
    }
    // In the child: tell the parent and wait to be killed.
    static void stop(int fd) {
        char c = 1;
        if (write(fd, &c, 1) != 1) _exit(4);
        for (;;) pause();
    }
    bool kill() {
        int status = 0;
        ::kill(pid, SIGKILL);
        close(ready[0]);
        return waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) &&
               WTERMSIG(status) == SIGKILL;
    }
};

TEST_F(SaveSoak, LockLeftHeldByADeadFrontEndIsFreeForTheNextSave) {
    Bytes record = printerRecord();  // a record import would take: the only kind SAVE sends
    record[3] = 40;
    FrontEndArea front(areaName, lockName, record);
    ASSERT_NE(front.view, nullptr);
    ASSERT_GE(front.lockFd, 0);
    startConsole();
    ASSERT_EQ(consoleState()->printerConnected, 1);  // the start-up read came from the area
    // A front-end process opens the lock itself, takes it and is killed holding it.
    DoomedChild frontEnd;
    const std::string lockPath = front.lock;
    ASSERT_TRUE(frontEnd.start([&] {
        int fd = shm_open(lockPath.c_str(), O_RDWR, 0);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(5);
        DoomedChild::stop(frontEnd.ready[1]);
    }));
    ASSERT_TRUE(frontEnd.kill());
    const Bytes printerBefore = printerRecord();
    DialogModel_Type(BIDIR_HIGH_ADD, "5");
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxCount("Printer busy, please SAVE again"), 0);
    EXPECT_EQ(boxCount(SAVE_OK), 1);
    Bytes now = front.bytes();
    EXPECT_EQ(now[0], 1);
    EXPECT_EQ(now[4 + 3], 45);
    EXPECT_EQ(Bytes(now.begin() + 4, now.begin() + 60), currentRecord());
    EXPECT_EQ(printerRecord(), printerBefore);  // the area, never the printer
    // While a live process holds the lock, SAVE still waits its 2000 ms and fails.
    ASSERT_EQ(flock(front.lockFd, LOCK_EX | LOCK_NB), 0);
    DialogModel_ClearBoxes();
    DialogModel_Type(BIDIR_HIGH_ADD, "1");
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxCount("Printer busy, please SAVE again"), 1);
    EXPECT_EQ(boxCount(SAVE_FAIL), 1);
    EXPECT_EQ(front.bytes(), now);
    flock(front.lockFd, LOCK_UN);
}

// The shared-area back end with the lock release held back: the console has taken the lock
// and written the record, then stops there to be killed.
int doomedFd = -1;
const SharedAreaBackend* realShared = nullptr;
void stopBeforeRelease(SharedHandle) { DoomedChild::stop(doomedFd); }
SharedAreaBackend stoppingShared;

TEST_F(SaveSoak, ConsoleKilledInTheMiddleOfASaveLeavesTheLockFree) {
    Bytes record = printerRecord();  // a record import would take: the only kind SAVE sends
    record[3] = 40;
    FrontEndArea front(areaName, lockName, record);
    ASSERT_NE(front.view, nullptr);
    startConsole();
    ASSERT_EQ(consoleState()->printerConnected, 1);
    // Another console process, a copy of this one, saves 7 and is killed holding the lock.
    DoomedChild other;
    ASSERT_TRUE(other.start([&] {
        realShared = Platform_DefaultSharedArea();
        stoppingShared = *realShared;
        stoppingShared.releaseLock = stopBeforeRelease;
        doomedFd = other.ready[1];
        SharedArea_Install(&stoppingShared);
        DialogModel_Type(BIDIR_HIGH_ADD, "7");
        DialogModel_Click(ID_SAVE);
    }));
    ASSERT_TRUE(other.kill());
    EXPECT_EQ(front.bytes()[4 + 3], 47) << "the killed save had written its record";
    // This console's SAVE takes the lock at once, and finds the other console's record there:
    // it shows it rather than overwriting it, and keeps its entry for the next SAVE.
    DialogModel_Type(BIDIR_HIGH_ADD, "2");
    DialogModel_ClearBoxes();
    uint32_t start = Clock_Tick();
    DialogModel_Click(ID_SAVE);
    EXPECT_LT(Clock_Tick() - start, 2000u);
    EXPECT_EQ(boxCount(SAVE_OK), 0);
    EXPECT_EQ(boxCount("Another program changed the parameters since they were read. The values "
                       "now stored are shown; check them and SAVE again."),
              1);
    EXPECT_EQ(front.bytes()[4 + 3], 47);
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxCount(SAVE_OK), 1);
    EXPECT_EQ(front.bytes()[4 + 3], 49);
}

TEST_F(SaveSoak, ExportCutOffHalfWayKeepsTheOldFileWhole) {
    startConsole();
    const std::string path = work.path + "/export.dat";
    const std::string oldContent(60, 'O');
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(oldContent.data(), 1, 60, f);
        std::fclose(f);
    }

    // The disk takes only 30 of the 60 bytes.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 30;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    DialogModel_ClearBoxes();
    DialogModel_QueueFile(path);
    DialogModel_Click(ID_EXPORT);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(boxCount(("Parameters Save(" + path + ") Fail!").c_str()), 1);
    EXPECT_EQ(readFileBytes(path), oldContent);
    EXPECT_FALSE(fileExists(path + ".part"));

    // A folder in the file's place: refused, the folder untouched.
    fs::create_directory(work.path + "/taken.dat");
    DialogModel_ClearBoxes();
    DialogModel_QueueFile(work.path + "/taken.dat");
    DialogModel_Click(ID_EXPORT);
    EXPECT_EQ(boxCount(("Parameters Save(" + work.path + "/taken.dat) Fail!").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(work.path + "/taken.dat"));

    // Without the limit the new record replaces the old one whole.
    DialogModel_ClearBoxes();
    DialogModel_QueueFile(path);
    DialogModel_Click(ID_EXPORT);
    std::string now = readFileBytes(path);
    EXPECT_EQ(now, std::string(reinterpret_cast<const char*>(consoleState()->currentRecord), 60));
}

}  // namespace
