// SPDX-License-Identifier: Apache-2.0
// Real traffic of the virtual printer (jobs, transactions, faults) recorded at the USB driver
// seam and turned into inputs of every fuzz target; each runs clean through its target. With
// HEADALIGN_WRITE_SEEDS=1 the inputs are also written to fuzz/seeds/<target>/, where the
// fuzzer starts from them beside its own corpus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "../../fuzz/fuzz_support.h"
#include "diag/errors.h"
#include "diag/log.h"
#include "job/print_job.h"
#include "link/command.h"
#include "link/reply.h"
#include "link/usb.h"
#include "params/parameter_record.h"
#include "params/printer_info.h"
#include "platform/bytes.h"
#include "support/printer_test.h"
#include "vprinter.h"
#ifdef HEADALIGN_HAVE_VERNIER
#include "vernier/vernier.h"
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// One reply as it came off the bus: its packets with the byte counts the driver returned,
// the command that was written last before it, and the reassembled body.
struct RecordedReply {
    uint32_t command = 0;
    std::vector<Bytes> packets;
    Bytes body;
};

std::mutex recordMutex;
std::vector<RecordedReply> replies;
RecordedReply pending;
uint32_t lastCommand = 0;
const UsbDriverBackend* inner = nullptr;

void noteWrite(const uint8_t* bytes, uint32_t length) {
    // A CMM transfer's first packet carries the command number in its first body word.
    if (length < USB_HEADER_BYTES + 4 || le::getU16(bytes, 14) != USB_STREAM_CMM) return;
    uint16_t kind = le::getU16(bytes, 16);
    if (kind == USB_PACKET_FIRST || kind == USB_PACKET_ONLY)
        lastCommand = le::getU32(bytes, USB_HEADER_BYTES);
}

void noteRead(const uint8_t* pkt, uint32_t got) {
    Bytes packet(pkt, pkt + std::min<uint32_t>(got, USB_READ_PACKET_SIZE));
    pending.command = lastCommand;
    pending.packets.push_back(packet);
    uint16_t kind = got >= 18 ? le::getU16(pkt, 16) : 0;
    bool known = kind == USB_PACKET_FIRST || kind == USB_PACKET_MIDDLE || kind == USB_PACKET_LAST ||
                 kind == USB_PACKET_ONLY;
    if (known && got > USB_HEADER_BYTES) {
        uint32_t n = std::min<uint32_t>(2u * le::getU16(pkt, 22), got - USB_HEADER_BYTES);
        pending.body.insert(pending.body.end(), pkt + USB_HEADER_BYTES, pkt + USB_HEADER_BYTES + n);
    }
    if (!known || kind == USB_PACKET_LAST || kind == USB_PACKET_ONLY) {
        replies.push_back(pending);
        pending = RecordedReply{};
    }
}

bool recIoctl(UsbHandle h, uint32_t code, const void* in, uint32_t inLen, void* out,
              uint32_t outLen, uint32_t* returned) {
    bool ok = inner->ioctl(h, code, in, inLen, out, outLen, returned);
    std::lock_guard<std::mutex> lock(recordMutex);
    if (ok && code == USB_IOCTL_WRITE_PACKETS) noteWrite(static_cast<const uint8_t*>(out), outLen);
    if (ok && code == USB_IOCTL_READ_PACKET) noteRead(static_cast<const uint8_t*>(out), *returned);
    return ok;
}
bool recEnumBegin() { return inner->enumBegin(); }
int recEnumPath(uint32_t i, char* p, size_t cap) { return inner->enumPath(i, p, cap); }
void recEnumEnd() { inner->enumEnd(); }
UsbHandle recOpen(const char* p) { return inner->open(p); }
void recClose(UsbHandle h) { inner->close(h); }
uint32_t recLastError() { return inner->lastError(); }
const UsbDriverBackend RECORDER{
    .enumBegin = recEnumBegin,
    .enumPath = recEnumPath,
    .enumEnd = recEnumEnd,
    .open = recOpen,
    .close = recClose,
    .ioctl = recIoctl,
    .serialNumber = nullptr,  // no serial numbers
    .lastError = recLastError,
};

uint8_t commandIndex(uint32_t command) {
    const CommandNumber order[6] = {CommandNumber{}, CMD_TRANSACTION, CMD_JOB_CREATE,
                                    CMD_PRINT_START, CMD_SWATH,       CMD_JOB_END};
    for (uint8_t i = 0; i < 6; ++i)
        if (static_cast<uint32_t>(order[i]) == command) return i;
    return 0xF0 | static_cast<uint8_t>(command & 0x0F);
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class LiveTraffic : public PrinterTest {
  protected:
    std::map<std::string, std::set<Bytes>> inputs;

    void SetUp() override {
        PrinterTest::SetUp();
        inner = UsbDriver_Get();
        UsbDriver_Install(&RECORDER);
        replies.clear();
        pending = RecordedReply{};
    }
    void TearDown() override {
        UsbDriver_Install(inner);
        PrinterTest::TearDown();
    }

    void runJobs(const VPrinterFaults& faults) {
        VPrinter_SetFaults(faults);
        runPrintJob(PrintJob::pattern(5));
        VPrinter_SetFaults(faults);
        runPrintJob(PrintJob::adjust(11));
        VPrinter_SetFaults(VPrinterFaults{});
    }

    // Replies that differ only in numbers (swath acknowledgements) add nothing as seeds:
    // one per command, packet count and body length is kept.
    std::set<std::tuple<uint32_t, size_t, size_t>> kinds;

    void addReplyInputs() {
        std::lock_guard<std::mutex> lock(recordMutex);
        for (const RecordedReply& r : replies) {
            if (r.command == static_cast<uint32_t>(CMD_JOB_CREATE) &&
                r.body.size() >= REPLY_INFO_OFFSET + PRINTER_INFO_SHORT_SIZE) {
                size_t bytes = std::min(r.body.size() - REPLY_INFO_OFFSET, PRINTER_INFO_SIZE);
                Bytes info(r.body.begin() + REPLY_INFO_OFFSET,
                           r.body.begin() + REPLY_INFO_OFFSET + bytes);
                bool shortLayout = le::getU16(info.data(), 0x7e) == 0x1154;
                inputs["printer_info"].insert(
                    cat({{static_cast<uint8_t>(shortLayout ? 1 : 0), 0x09}, info}));
                addGeometryInputs(info, shortLayout);
            }
            if (!kinds.insert({r.command, r.packets.size(), r.body.size()}).second) continue;
            Bytes packets;
            for (const Bytes& p : r.packets) {
                packets.push_back(static_cast<uint8_t>(p.size()));
                packets.insert(packets.end(), p.begin(), p.end());
            }
            inputs["usb_read"].insert(cat({{0}, packets}));
            if (r.command == static_cast<uint32_t>(CMD_TRANSACTION))
                inputs["usb_read"].insert(cat({{1}, packets}));
            le::Reader body{r.body.data(), r.body.size()};
            uint16_t acked = body.u16(8);
            Bytes swath = {static_cast<uint8_t>(acked), static_cast<uint8_t>(acked >> 8)};
            inputs["rx_parse"].insert(cat({{commandIndex(r.command), 1}, swath, r.body}));
            inputs["rx_parse"].insert(cat({{commandIndex(r.command), 0, 0, 0}, r.body}));
        }
        replies.clear();
    }

    // Every pattern and adjustment on one information record as the printer sent it.
    void addGeometryInputs(const Bytes& info, bool shortLayout) {
        const Bytes record(info.begin(), info.begin() + (shortLayout ? PRINTER_INFO_SHORT_SIZE
                                                                     : PRINTER_INFO_SIZE));
        for (uint8_t job = 0; job < FUZZ_GEOMETRY_JOBS; ++job)
            inputs["geometry"].insert(
                cat({{job, static_cast<uint8_t>(shortLayout ? 1 : 0), 0}, record}));
    }

    // The information records of stored records with other head geometries (as an import of a
    // parameter file leaves them): both heads near and far apart, the second head alone.
    void addHeadGeometryInputs() {
        uint8_t stored[PARAMETER_RECORD_SIZE];
        VPrinter_StoredRecord(stored);
        struct Heads {
            uint8_t flags;
            uint16_t distance;
            uint8_t offsetA;
        } heads[] = {{3, 300, 20}, {3, 1000, 0}, {2, 300, 0}};
        for (const Heads& h : heads) {
            Bytes changed(stored, stored + sizeof stored);
            changed[REC_HEAD_ENABLE] = h.flags;
            changed[REC_HEAD_OFFSET_A] = h.offsetA;
            le::putU16(changed.data(), REC_HEAD_DISTANCE, h.distance);
            VPrinter_SetStoredRecord(changed.data());
            uint8_t info[PRINTER_INFO_SIZE];
            VPrinter_InfoRecord(info);
            addGeometryInputs(Bytes(info, info + sizeof info), false);
        }
        VPrinter_SetStoredRecord(stored);
    }

    void addRecordInputs() {
        uint8_t stored[PARAMETER_RECORD_SIZE];
        VPrinter_StoredRecord(stored);
        Bytes record(stored, stored + sizeof stored);
        Bytes tail = {0x12, 0x34, 0x56, 0x78};
        inputs["param_file"].insert(cat({record, tail}));
        inputs["param_file"].insert(record);
        Bytes area = cat({{1, 0, 0, 0}, record});
        Bytes changed = record;
        changed[3] ^= 5;
        for (uint8_t lock = 0; lock < 4; ++lock)
            inputs["shared_area"].insert(cat({{lock, 60, 0}, area, changed}));
        inputs["shared_area"].insert(cat({{1, 0x00, 0x01}, area, Bytes(196, 0xAB), changed}));
        // SAVE: connected, the area free; then entries typed into steps, rows, offsets, lists.
        inputs["save_params"].insert(cat({{0x20, 0x01}, record}));
        inputs["save_params"].insert(
            cat({{0x20 | 0x01, 0x01}, record, {6, 2, '1', '0', 1, 3, '-', '4', '0'}}));
        inputs["save_params"].insert(
            cat({{0x20 | 0x02, 0x01}, record, {0x80, 3, 0x81, 2, 15, 2, 'C', 'y'}}));
        inputs["save_params"].insert(
            cat({{0x20 | 0x04 | 0x08, 0x01}, record, {13, 3, '2', '5', '5', 14, 2, '1', '0'}}));
        inputs["save_params"].insert(cat({{0x20, 0x02}, record, {12, 3, '+', '1', '2'}}));
        inputs["save_params"].insert(cat({{0x20, 0x04}, record, {0, 2, '5', '0'}}));
    }

    // The printed paper of the last job as a file to read as a scan: as rendered (larger than
    // the target reads, so only decoded) and at a quarter of its resolution as PNG and JPEG.
    void addPaperInputs() {
#ifdef HEADALIGN_HAVE_VERNIER
        std::string path = VPrinter_JobPath(VPrinter_LastJobNumber(), ".png"), error;
        std::string bytes = readFileBytes(path);
        inputs["scan_image"].insert(Bytes(bytes.begin(), bytes.end()));
        VernierImage paper;
        ASSERT_TRUE(Vernier_LoadImage(path, &paper, &error)) << error;
        VernierImage small = Vernier_Resample(paper, 0.25, 0.25);
        Bytes jpeg;
        ASSERT_TRUE(Vernier_EncodeJpeg(small, 80, &jpeg));
        inputs["scan_image"].insert(jpeg);
        std::string smallPath = printer.folder() + "/small.png";
        ASSERT_TRUE(Vernier_SavePng(smallPath, small));
        bytes = readFileBytes(smallPath);
        inputs["scan_image"].insert(Bytes(bytes.begin(), bytes.end()));
#endif
    }

    // Runs every input through its target; writes it as a seed when asked to.
    void replayAndKeep() {
        const char* write = std::getenv("HEADALIGN_WRITE_SEEDS");
        for (const FuzzTarget& t : fuzzTargets()) {
            ASSERT_FALSE(inputs[t.name].empty()) << t.name;
            for (const Bytes& in : inputs[t.name]) {
                EXPECT_EQ(t.entry(in.data(), in.size()), 0);
                if (write && *write == '1') writeSeed(t.name, in);
            }
        }
    }

    static void writeSeed(const std::string& target, const Bytes& in) {
        uint64_t h = 1469598103934665603ull;  // FNV-1a names the seed by its content
        for (uint8_t b : in) h = (h ^ b) * 1099511628211ull;
        fs::path dir = fs::path(HEADALIGN_FUZZ_DIR) / "seeds" / target;
        fs::create_directories(dir);
        char name[32];
        std::snprintf(name, sizeof name, "vp_%016llx", static_cast<unsigned long long>(h));
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(in.data()),
                   static_cast<std::streamsize>(in.size()));
    }
};

TEST_F(LiveTraffic, RepliesRecordsAndFaultsOfTheVirtualPrinterRunCleanThroughEveryTarget) {
    runJobs(VPrinterFaults{});
    VPrinterFaults faults;
    faults.busyCount = 2;
    faults.notReadyCount = 1;
    faults.unknownKindReplies = 2;
    faults.otherCommandFirst = 2;
    faults.wrongSwathAck = 1;
    runJobs(faults);
    // The wrong acknowledgement went to the error log.
    EXPECT_NE(readFileBytes(Log_ErrorPath()).find("Rx Swath 序列号应答异常"), std::string::npos);
    VPrinterFaults cancel;
    cancel.panelCancelAtSwath = 1;
    cancel.cutReplies = 1;
    runJobs(cancel);
    uint8_t record[PARAMETER_RECORD_SIZE];
    ASSERT_TRUE(Usb_Transact(USB_SUB_READ_PARAMS, nullptr, 0, record, sizeof record));
    addReplyInputs();
    addHeadGeometryInputs();

    // The short information layout of older boards.
    VPrinterModel model = VPrinter_GetModel();
    model.shortLayout = true;
    VPrinter_SetModel(model);
    Job_RunPattern(5);
    addReplyInputs();
    VPrinter_WaitPaper();
    addPaperInputs();

    addRecordInputs();
    replayAndKeep();
}

}  // namespace
