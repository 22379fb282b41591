// SPDX-License-Identifier: Apache-2.0
// The history file: what is written reads back the same, a file that is not this printer's
// history is refused by name and left alone, and the file stays bounded by folding months.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "history/analysis.h"
#include "history/history.h"
#include "platform/usb_driver.h"
#include "support/fakes.h"
#include "support/printer_rig.h"
#include "support/product_internals.h"

namespace {

std::vector<uint8_t> record(uint8_t textMid, uint16_t pass4) {
    std::vector<uint8_t> r(56, 0);
    r[0] = 0xAC;
    r[0x04] = textMid;
    r[0x0a] = uint8_t(pass4), r[0x0b] = uint8_t(pass4 >> 8);
    return r;
}

HistoryEntry reading(int64_t t, int mode, double groups, bool certain = true) {
    HistoryEntry e;
    e.time = t;
    e.mode = mode;
    e.reading = groups;
    e.spread = 0.08;
    e.certain = certain;
    e.picture = "/scans/\"odd\" name\\é.png";
    e.source = "align --scan";
    return e;
}

HistoryEntry save(int64_t t, uint8_t before, uint8_t after) {
    std::vector<uint8_t> a = record(before, 10000), b = record(after, 10000);
    HistoryEntry e = History_SaveEntry(a.data(), b.data(), "align --apply");
    e.time = t;
    return e;
}

constexpr int64_t DAY = 86400;
const int64_t NOV1 = [] {
    int64_t t = 0;
    History_ParseTime("2026-11-01", &t);
    return t;
}();

class HistoryFile : public ::testing::Test {
  protected:
    TempDir printer;
    std::string path;
    void SetUp() override {
        History_UsePrinter(printer.path);
        path = History_FilePath(History_PrinterKey(printer.path));
    }
    std::vector<HistoryEntry> load() {
        std::vector<HistoryEntry> entries;
        std::string error;
        EXPECT_TRUE(History_Load(path, History_PrinterKey(printer.path), &entries, &error))
            << error;
        return entries;
    }
};

TEST(HistoryTime, ParsesAndFormatsUtc) {
    int64_t t = 0;
    ASSERT_TRUE(History_ParseTime("2026-11-03T08:30:05Z", &t));
    EXPECT_EQ(History_FormatTime(t), "2026-11-03T08:30:05Z");
    ASSERT_TRUE(History_ParseTime("1970-01-01", &t));
    EXPECT_EQ(t, 0);
    ASSERT_TRUE(History_ParseTime("2024-02-29", &t));
    EXPECT_EQ(History_FormatTime(t + DAY), "2024-03-01T00:00:00Z");
    for (const char* bad : {"", "2026-13-01", "2026-11-01T25:00:00Z", "2026-11-01X", "yesterday",
                            "2026-11-1", "9999999999999"})
        EXPECT_FALSE(History_ParseTime(bad, &t)) << bad;
    setenv("HEADALIGN_HISTORY_TIME", "2026-11-03T08:30:05Z", 1);
    EXPECT_EQ(History_FormatTime(History_Now()), "2026-11-03T08:30:05Z");
    unsetenv("HEADALIGN_HISTORY_TIME");
}

// Every kind written and read back field for field, odd characters in the texts included.
TEST(HistoryJson, EveryKindReadsBackAsWritten) {
    HistoryEntry verification = reading(NOV1 + 5, 10, -0.25, false);
    verification.kind = HISTORY_VERIFICATION;
    verification.pass = 1;
    verification.aligned = true;
    HistoryEntry second = reading(NOV1 + 6, 7, 1.5);
    second.pass = 2;
    HistoryEntry summary;
    summary.kind = HISTORY_SUMMARY;
    summary.time = NOV1;
    summary.month = "2026-10";
    summary.readings = 3;
    summary.saves = 1;
    summary.modes.push_back({6, 1, 3, 0.5, -1, 2, true, 12});
    for (const HistoryEntry& e :
         {reading(NOV1, 6, 1.25), second, save(NOV1 + 1, 10, 12), verification, summary}) {
        std::string line = History_ToJson(e);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        HistoryEntry back;
        std::string why;
        ASSERT_TRUE(History_FromJson(line, &back, &why)) << line << ": " << why;
        EXPECT_EQ(History_ToJson(back), line);
        EXPECT_EQ(back.kind, e.kind);
        EXPECT_EQ(back.picture, e.picture);
        EXPECT_EQ(back.changes.size(), e.changes.size());
    }
    HistoryEntry s = save(NOV1, 10, 12);
    ASSERT_EQ(s.changes.size(), 1u);
    EXPECT_EQ(s.changes[0].field, "bidirTextMid");
    EXPECT_EQ(s.changes[0].mode, 6);
    EXPECT_EQ(s.changes[0].before, 10);
    EXPECT_EQ(s.changes[0].after, 12);
    EXPECT_EQ(s.recordBefore.substr(0, 10), "ac0000000a");
}

TEST_F(HistoryFile, RecordsInOrderUnderThePrintersKey) {
    EXPECT_FALSE(fileExists(path));
    ASSERT_TRUE(History_Record(reading(NOV1, 6, 1.4)));
    ASSERT_TRUE(History_Record(save(NOV1 + 10, 10, 11)));
    std::vector<HistoryEntry> entries = load();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].kind, HISTORY_READING);
    EXPECT_EQ(entries[1].kind, HISTORY_SAVE);
    EXPECT_NE(readFileBytes(path).find(History_PrinterKey(printer.path)), std::string::npos);
    // Two folders of one name are two printers.
    TempDir other;
    std::filesystem::create_directories(other.path + "/" +
                                        std::filesystem::path(printer.path).filename().string());
    EXPECT_NE(History_PrinterKey(other.path + "/" +
                                 std::filesystem::path(printer.path).filename().string()),
              History_PrinterKey(printer.path));
    // No printer chosen: nothing is written anywhere.
    History_Stop();
    EXPECT_FALSE(History_Record(reading(NOV1, 6, 1)));
    EXPECT_EQ(load().size(), 2u);
}

// Whatever stands where the history should be, when it is not this printer's history it is
// refused with its name, left exactly as it is, and recording goes on failing softly.
TEST_F(HistoryFile, AFileThatIsNotThisPrintersHistoryIsRefusedByNameAndLeftAlone) {
    const std::string header =
        "{\"headalign-history\":1,\"printer\":\"" + History_PrinterKey(printer.path) + "\"}\n";
    const std::string good = History_ToJson(reading(NOV1, 6, 1)) + "\n";
    struct Row {
        const char* what;
        std::string bytes;
        const char* says;
    };
    std::vector<Row> rows = {
        {"empty", "", "not a headalign history"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0", 10), "not a headalign history"},
        {"another program's JSON", "{\"name\":\"x\"}\n", "not a headalign history"},
        {"another printer's", "{\"headalign-history\":1,\"printer\":\"usb-2408-0003\"}\n" + good,
         "another printer"},
        {"a later version", "{\"headalign-history\":2,\"printer\":\"x\"}\n", "later version"},
        {"a cut line", header + good + good.substr(0, 30) + "\n" + good, "damaged (line 3"},
        {"an unknown kind", header + "{\"kind\":\"party\",\"t\":5}\n", "damaged (line 2"},
        {"a mode out of range", header + "{\"kind\":\"reading\",\"t\":5,\"mode\":99}\n",
         "damaged (line 2"},
        {"nested too deeply", header + std::string(40, '[') + std::string(40, ']') + "\n",
         "damaged (line 2"},
        {"too large", header + std::string(HISTORY_READ_CAP, ' '), "more than the"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary).write(row.bytes.data(), long(row.bytes.size()));
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(History_Record(reading(NOV1, 6, 1)));
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(path), std::string::npos) << err;
        EXPECT_NE(err.find(row.says), std::string::npos) << err;
        EXPECT_EQ(readFileBytes(path), row.bytes);
    }
    // A link to elsewhere, or a folder, where the file should be: refused, left as they are.
    std::filesystem::remove(path);
    TempDir elsewhere;
    const std::string target = elsewhere.path + "/own.jsonl";
    const std::string history = header + good;
    std::ofstream(target, std::ios::binary) << history;
    std::filesystem::create_symlink(target, path);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(History_Record(reading(NOV1, 6, 1)));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(path), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFileBytes(target), history);
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(History_Record(reading(NOV1, 6, 1)));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(path), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

// Past its size the file folds its oldest months into one summary line each: bounded, nothing
// counted lost, the newest month's latest entries kept as they are.
TEST(HistoryFold, StaysBelowItsSizeKeepingTheCounts) {
    std::vector<HistoryEntry> entries;
    int readings = 0, saves = 0;
    for (int day = 0; day < 120; ++day)
        for (int i = 0; i < 6; ++i) {
            if (i == 5) {
                entries.push_back(
                    save(NOV1 + day * DAY + i * 60, uint8_t(10 + day % 5), uint8_t(11 + day % 5)));
                ++saves;
            } else {
                entries.push_back(reading(NOV1 + day * DAY + i * 60, 5 + i, 0.1 * i));
                ++readings;
            }
        }
    const int64_t newest = entries.back().time;
    for (size_t cap : {size_t(16 * 1024), size_t(64 * 1024)}) {
        SCOPED_TRACE(cap);
        std::vector<HistoryEntry> kept = entries;
        std::string text = History_Serialize("key", &kept, cap);
        EXPECT_LE(text.size(), cap);
        int r = 0, s = 0, summaries = 0;
        for (const HistoryEntry& e : kept) {
            if (e.kind == HISTORY_SUMMARY) {
                ++summaries;
                r += e.readings;
                s += e.saves;
            } else {
                r += e.kind == HISTORY_READING;
                s += e.kind == HISTORY_SAVE;
            }
        }
        EXPECT_GT(summaries, 0);
        EXPECT_EQ(r, readings);
        EXPECT_EQ(s, saves);
        EXPECT_EQ(kept.back().time, newest);
        EXPECT_NE(kept.back().kind, HISTORY_SUMMARY);
    }
    // Under its size nothing is folded.
    std::vector<HistoryEntry> few(entries.begin(), entries.begin() + 12);
    History_Serialize("key", &few);
    EXPECT_EQ(few.size(), 12u);
}

// Drift is the value a mode needed (value in force + reading) moving one way by more than a
// group; a correction that follows the drift does not hide it, noise does not make one.
TEST(HistoryDrift, SaysWhenAModeMovedOneWayByMoreThanAGroup) {
    struct Row {
        const char* what;
        std::vector<double> weekly;  // readings, one a week
        bool apply;                  // the reading entered each week
        const char* expected;        // "" = no drift
    };
    const Row rows[] = {
        {"corrected weekly", {1, 1, 1, 1, 1}, true, "mode 6 has drifted +4 groups in 28 days"},
        {"left alone", {0, -1, -2, -3}, false, "mode 6 has drifted -3 groups in 21 days"},
        {"noise", {0.5, -0.5, 0.5, -0.5, 0.5}, false, ""},
        {"one group only", {0, 0.5, 1}, false, ""},
        {"back and forth", {0, 3, 0}, false, "mode 6 has drifted -3 groups in 7 days"},
        {"small back-steps",
         {0, 1.1, 1.0, 2.2},
         false,
         "mode 6 has drifted +2.2 groups in 21 days"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<HistoryEntry> entries = {save(NOV1 - DAY, 0, 10)};
        uint8_t value = 10;
        for (size_t w = 0; w < row.weekly.size(); ++w) {
            entries.push_back(reading(NOV1 + int64_t(w) * 7 * DAY, 6, row.weekly[w]));
            if (row.apply && row.weekly[w] != 0) {
                uint8_t next = uint8_t(value + row.weekly[w]);
                entries.push_back(save(NOV1 + int64_t(w) * 7 * DAY, value, next));
                value = next;
            }
        }
        std::vector<HistoryDrift> drifts = History_Drifts(History_Series(entries));
        if (*row.expected == 0) {
            EXPECT_TRUE(drifts.empty()) << History_DriftText(drifts[0], false);
        } else {
            ASSERT_EQ(drifts.size(), 1u);
            EXPECT_EQ(History_DriftText(drifts[0], false), row.expected);
        }
    }
    HistoryDrift d{6, 2, 2.0, 30, 0, 0};
    EXPECT_EQ(History_DriftText(d, true), "模式 6（高清二次） 在 30 天内漂移了 +2 组");
}

}  // namespace

namespace {

// A serial number is whatever the device says. Every row, and one row for each byte value alone
// and between letters, gives one plain file name in the history folder, never a path out of it;
// a printer without a printable serial keeps the key it always had, and two serial numbers that
// read differently keep two histories.
TEST(HistoryUsbKey, EverySerialNumberGivesOneSafeFileNameOfItsOwn) {
    struct Row {
        std::string serial, key;  // key "" = checked by the rules alone
    };
    std::vector<Row> rows = {
        {"HA2408-0001", "usb-2408-0003-HA2408-0001"},
        {"", "usb-2408-0003"},
        {"   ", "usb-2408-0003"},
        {std::string("\x01\x7f\xff\x80\t\n", 6), "usb-2408-0003"},
        {"\xe5\xba\x8f\xe5\x88\x97", "usb-2408-0003"},  // not ASCII at all
        {"  SN 42  ", ""},
        {"../../../etc/passwd", ""},
        {"..", ""},
        {".", ""},
        {"a/b", ""},
        {"a_b", "usb-2408-0003-a_b"},
        {"a\\b", ""},
        {"C:\\Windows\\evil", ""},
        {"CON", "usb-2408-0003-CON"},
        {"a*b?c<d>e|f\"g:h", ""},
        {std::string("AB\0CD", 5), ""},
        {std::string(500, 'A'), ""},
        {std::string(64, 'B'), "usb-2408-0003-" + std::string(64, 'B')},
        {std::string(65, 'B'), ""},
    };
    for (int c = 0; c < 256; ++c) {
        rows.push_back({std::string(1, char(c)), ""});
        rows.push_back({"A" + std::string(1, char(c)) + "B", ""});
    }
    const std::string folder = std::filesystem::path(History_FilePath("x")).parent_path().string();
    std::map<std::string, std::string> textOfKey;
    for (const Row& r : rows) {
        const std::string key = History_UsbPrinterKey(r.serial);
        SCOPED_TRACE("serial of " + std::to_string(r.serial.size()) + " bytes, key " + key);
        if (!r.key.empty()) {
            EXPECT_EQ(key, r.key);
        }
        ASSERT_EQ(key.rfind("usb-2408-0003", 0), 0u);
        EXPECT_LE(key.size(), std::string("usb-2408-0003-").size() + HISTORY_SERIAL_MAX + 9);
        for (char ch : key)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_')
                << int(static_cast<unsigned char>(ch));
        EXPECT_EQ(std::filesystem::path(History_FilePath(key)).parent_path().string(), folder);
        const std::string text = History_UsbSerialText(r.serial);
        EXPECT_LE(text.size(), HISTORY_SERIAL_MAX);
        EXPECT_EQ(text.empty(), key == "usb-2408-0003");
        auto [it, fresh] = textOfKey.emplace(key, text);
        if (!fresh && it->second != text) ADD_FAILURE() << "two serial numbers share " << key;
    }
}

// The printer on USB (here the virtual printer behind the driver seam) is kept under its serial
// number, as its driver reports it; without one, or with a driver that cannot ask, it keeps the
// key it always had.
TEST(HistoryUsbKey, ThePrinterOnUsbIsKeptByItsSerialNumber) {
    PlatformFixture platform;
    VirtualPrinter printer;
    ASSERT_TRUE(printer.attached()) << printer.error();
    const UsbDriverBackend* board = UsbDriver_Get();
    UsbDriverBackend cannotAsk = *board;
    cannotAsk.serialNumber = nullptr;
    struct Row {
        const char* name;
        std::string serial;
        const UsbDriverBackend* driver;
        std::string key;
    };
    const Row rows[] = {
        {"a serial number", "HA2408-0001", board, "usb-2408-0003-HA2408-0001"},
        {"none", "", board, "usb-2408-0003"},
        {"a driver that cannot ask", "HA2408-0001", &cannotAsk, "usb-2408-0003"},
        {"a path for a serial number", "../../x", board, History_UsbPrinterKey("../../x")},
        {"longer than a device can say", std::string(300, 'Z'), board,
         History_UsbPrinterKey(std::string(HISTORY_SERIAL_READ_CAP - 1, 'Z'))},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        VPrinterModel m = VPrinter_GetModel();
        m.serial = r.serial;
        VPrinter_SetModel(m);
        UsbDriver_Install(r.driver);
        History_UsePrinter("");
        EXPECT_TRUE(History_Record(reading(NOV1, 6, 1.0)));
        UsbDriver_Install(board);
        std::vector<HistoryEntry> entries;
        std::string error;
        EXPECT_TRUE(History_Load(History_FilePath(r.key), r.key, &entries, &error)) << error;
        EXPECT_FALSE(entries.empty());
    }
    History_Stop();
}

}  // namespace
