// SPDX-License-Identifier: Apache-2.0
// headalign.exe as a separate Windows process: a calibration job and an adjustment on the
// virtual printer, with trace files in code page 936 in the log folder given.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/console.h"
#include "app/texts.h"
#include "history/analysis.h"
#include "history/history.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/win32/win32_text.h"
#include "support/fakes.h"
#include "support/plot_check.h"
#include "win32_support.h"

namespace {

std::string onlyTraceFile(const std::string& dir) {
    std::string found;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name.size() > 1 && name[0] == 'Y' && name.find(".txt") != std::string::npos)
            found = e.path().string();
    }
    return found;
}

// HWND of a top-level dialog with this title once it shows, or nullptr after about 20 s.
HWND waitForDialog(const std::wstring& title, HWND other = nullptr) {
    for (int i = 0; i < 1000; ++i) {
        HWND found = FindWindowExW(nullptr, nullptr, L"#32770", title.c_str());
        while (found && (found == other || !IsWindowVisible(found)))
            found = FindWindowExW(nullptr, found, L"#32770", title.c_str());
        if (found) return found;
        Sleep(20);
    }
    return nullptr;
}

struct CommandLine : ::testing::Test {
    TempDir printer, logs;
    ChildResult job(const std::string& words) {
        return runChild(
            HEADALIGN_EXE,
            "--virtual-printer \"" + printer.path + "\" --log-dir \"" + logs.path + "\" " + words,
            120000);
    }
    // A week of history: a value set, then the paper printed, read and applied a week later.
    void weekOfHistory() {
        struct At {
            const char* time;
            std::string words;
        };
        const std::string paper = printer.path + "\\jobs\\0001.png";
        const At steps[] = {
            {"2026-11-02T09:00:00Z", "params set bidirTextMid=10"},
            {"2026-11-02T09:00:00Z", "adjust text-mid"},
            {"2026-11-09T09:00:00Z", "align text-mid --apply --scan \"" + paper + "\""}};
        for (const At& step : steps) {
            SetEnvironmentVariableA("HEADALIGN_HISTORY_TIME", step.time);
            ChildResult done = job(step.words);
            EXPECT_LE(done.exitCode, 1u) << step.words << "\n" << done.output;
        }
        SetEnvironmentVariableA("HEADALIGN_HISTORY_TIME", nullptr);
    }
    // The console on a virtual printer names it in its title: its SAVE reaches only that printer.
    std::string consoleTitle() const { return titleText() + " - virtual printer " + printer.path; }
    // Starts the console on this printer and waits until it shows the record's values; nullptr
    // when it did not start or its window never came.
    HWND openConsole(Child& app, const std::string& more = "") {
        if (!app.start(HEADALIGN_EXE, "--virtual-printer \"" + printer.path + "\" --log-dir \"" +
                                          logs.path + "\" " + more))
            return nullptr;
        HWND dialog = waitForDialog(Win32_ToWide(consoleTitle()));
        for (int i = 0;
             dialog && i < 1000 && windowTextUtf8(GetDlgItem(dialog, ID_BIDIR_TEXT_HIGH)).empty();
             ++i)
            Sleep(20);
        return dialog;
    }
};

TEST_F(CommandLine, NozzleTestRunsWithGbkTraceFile) {
    ChildResult r = job("pattern 19");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    std::string trace = readFileBytes(onlyTraceFile(logs.path));
    ASSERT_FALSE(trace.empty());
    EXPECT_NE(trace.find(Win32_ToGbk("连接成功") + "\r\n"), std::string::npos);
    EXPECT_NE(trace.find(Win32_ToGbk("喷嘴测试")), std::string::npos);
    EXPECT_EQ(trace.find("\xE8\xBF\x9E"), std::string::npos);  // no UTF-8 left ("连")
    EXPECT_TRUE(std::filesystem::exists(printer.path + "/jobs/0001.jsonl"));
}

TEST_F(CommandLine, BidirectionalAdjustmentSucceeds) {
    ChildResult r = job("adjust 5");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_FALSE(onlyTraceFile(logs.path).empty());
}

TEST_F(CommandLine, UnknownCommandIsAUsageError) {
    ChildResult r = runChild(HEADALIGN_EXE, "frobnicate", 30000);
    EXPECT_EQ(r.exitCode, 2u);
}

// The Windows build has no scanner back end: both ways to scan say so (in the system's
// language) and end with status 1.
TEST_F(CommandLine, NoScannerSupport) {
    for (const char* words : {"scanners", "align 5 --scanner"}) {
        ChildResult r = job(words);
        EXPECT_EQ(r.exitCode, 1u) << words;
        EXPECT_EQ(r.output.rfind("headalign: ", 0), 0u) << r.output;
        EXPECT_EQ(r.output.find("usage"), std::string::npos) << r.output;
    }
}

// headalign.exe without a command: the console from its own resources, ended by EXIT.
TEST_F(CommandLine, WithoutACommandTheConsoleOpensAndEndsWithExit) {
    Child app;
    ASSERT_TRUE(app.start(HEADALIGN_EXE, "--virtual-printer \"" + printer.path + "\" --log-dir \"" +
                                             logs.path + "\""));
    std::wstring title = Win32_ToWide(consoleTitle());
    HWND dialog = nullptr;
    for (int i = 0; i < 1500 && !dialog; ++i) {
        dialog = FindWindowW(L"#32770", title.c_str());
        if (!dialog) Sleep(20);
    }
    ASSERT_NE(dialog, nullptr);
    // The window exists from the start of its initialisation, which reads the printer's
    // record: wait until it is shown with the current values filled in.
    for (int i = 0; i < 1000 && !(IsWindowVisible(dialog) &&
                                  !windowTextUtf8(GetDlgItem(dialog, ID_BIDIR_TEXT_HIGH)).empty());
         ++i)
        Sleep(20);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(windowTextUtf8(GetDlgItem(dialog, ID_BIDIR_TEXT_HIGH)).empty());
    EXPECT_EQ(windowTextUtf8(GetDlgItem(dialog, ID_PASS2_LABEL)), "2PASS");
    // While the console has the printer's folder, a second program is turned away.
    ChildResult second = job("params show");
    EXPECT_NE(second.exitCode, 0u);
    EXPECT_NE(second.output.find("virtual printer busy: "), std::string::npos) << second.output;
    EXPECT_NE(second.output.find(" is in use by process "), std::string::npos) << second.output;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ID_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(app.wait(20000), 0);
}

// An operator's Desktop is "桌面": every route that takes a path works in a folder named in
// Chinese and with a space, in either locale (names are Unicode, trace text stays GBK).
TEST(WidePaths, JobScanTraceAndParameterFilesInAChineseFolder) {
    TempDir top;
    const std::string base = top.path + "\\桌面\\参数 文件";
    const std::string vp = base + "\\打印机", logs = base + "\\日志";
    std::error_code ec;
    for (const std::string& dir : {logs, base + "\\Config"})
        ASSERT_TRUE(std::filesystem::create_directories(Path_FromUtf8(dir), ec)) << ec.message();
    auto exists = [](const std::string& path) {
        return std::filesystem::exists(Path_FromUtf8(path));
    };
    auto run = [&](const std::string& words) {
        return runChild(HEADALIGN_EXE,
                        "--virtual-printer \"" + vp + "\" --log-dir \"" + logs + "\" " + words,
                        120000, base);
    };

    ChildResult r = run("adjust text-high");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    const std::string scan = vp + "\\jobs\\0001.png";
    ASSERT_TRUE(exists(scan));
    std::string trace;
    for (const auto& e : std::filesystem::directory_iterator(Path_FromUtf8(logs)))
        if (Path_ToUtf8(e.path().filename())[0] == 'Y') trace = Path_ToUtf8(e.path());
    std::vector<uint8_t> text;
    ASSERT_TRUE(File_ReadRegular(trace, 1 << 20, &text).ok()) << trace;
    EXPECT_NE(std::string(text.begin(), text.end()).find(Win32_ToGbk("连接成功")),
              std::string::npos);

    // The paper the virtual printer drew (through WIC here) read back through WIC: the ideal
    // printer's prints meet half-way between "00" and "-1".
    const std::string marked = base + "\\标记 图.png";
    r = run("align text-high --scan \"" + scan + "\" --marked \"" + marked + "\"");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("found: bidirectional adjustment, 540 dpi"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("lines up between \"00\" and \"-1\""), std::string::npos) << r.output;
    EXPECT_TRUE(exists(marked));

    const std::string record = base + "\\参数 备份.dat";
    r = run("params export \"" + record + "\"");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(exists(record));
    r = run("params import \"" + record + "\" --yes");
    EXPECT_EQ(r.exitCode, 0u) << r.output;

    // The Config folder is found from the working folder, itself named in Chinese.
    r = run("config store");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    std::string stored;
    for (const auto& e : std::filesystem::directory_iterator(Path_FromUtf8(base + "\\Config")))
        stored = Path_ToUtf8(e.path().filename());
    ASSERT_FALSE(stored.empty());
    r = run("config list");
    EXPECT_NE(r.output.find(stored), std::string::npos) << r.output;
    r = run("config load " + stored);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
}

// Chooses `path` in the file dialog that `id` of the window opens under `title`.
void chooseFile(HWND window, int id, const std::wstring& title, const std::string& path) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    HWND chooser = waitForDialog(title);
    ASSERT_NE(chooser, nullptr);
    HWND name = GetDlgItem(chooser, 0x47C);
    if (!name) name = GetDlgItem(chooser, 0x480);
    ASSERT_NE(name, nullptr);
    SetWindowTextW(name, Win32_ToWide(path).c_str());
    PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && IsWindow(chooser) && IsWindowVisible(chooser); ++i) Sleep(20);
    if (IsWindow(chooser) && IsWindowVisible(chooser)) {
        // What the operator would see: every dialog up, with its texts.
        std::string seen;
        for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
             w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
            if (!IsWindowVisible(w)) continue;
            seen.append("[").append(windowTextUtf8(w)).append("]");
            for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                seen.append(" ")
                    .append(std::to_string(GetDlgCtrlID(c)))
                    .append("=")
                    .append(windowTextUtf8(c));
            seen.append("\n");
        }
        FAIL() << "the file dialog stayed open with " << path << "\n" << seen;
    }
}

// Chooses `path` in the file dialog a click on scan button `row` opens.
void chooseScan(HWND dialog, int row, const std::string& path) {
    chooseFile(dialog, 0x7E00 + row, L"Read scan...", path);
}

// The native console has "Read scan..." after each bidirectional row; a file chosen there
// (named in Chinese) goes to the reader, whose refusal comes back in a box, and a picture it
// can look at is shown with the groups it found marked, beside the dialog.
TEST_F(CommandLine, ReadScanButtonsOfTheNativeConsole) {
    const std::string notAScan = logs.path + "\\扫描 图.png";
    const char junk[] = "not a picture";
    ASSERT_TRUE(
        File_WriteReplace(notAScan, reinterpret_cast<const uint8_t*>(junk), sizeof junk).ok());
    ChildResult printed = job("adjust text-high");
    ASSERT_EQ(printed.exitCode, 0u) << printed.output;
    const std::string paper = printer.path + "\\jobs\\0001.png";
    Child app;
    HWND dialog = openConsole(app);
    ASSERT_NE(dialog, nullptr) << "the console did not start or did not show its values";
    // One button per row, just right of the row's add entry.
    const int entries[6] = {ID_BIDIR_TEXT_HIGH_ADD,  ID_BIDIR_TEXT_MID_ADD,  ID_BIDIR_TEXT_LOW_ADD,
                            ID_BIDIR_IMAGE_HIGH_ADD, ID_BIDIR_IMAGE_LOW_ADD, ID_BIDIR_PHOTO_ADD};
    for (int i = 0; i < 6; ++i) {
        HWND button = GetDlgItem(dialog, 0x7E00 + i), entry = GetDlgItem(dialog, entries[i]);
        ASSERT_NE(button, nullptr) << i;
        RECT b{}, e{};
        GetWindowRect(button, &b);
        GetWindowRect(entry, &e);
        EXPECT_GE(b.left, e.right) << i;
        EXPECT_EQ(b.top, e.top) << i;
    }
    std::string shot = envText("HEADALIGN_SCREENSHOT_DIR");
    if (!shot.empty()) {
        Sleep(300);
        EXPECT_TRUE(saveWindowPng(
            dialog, windowsPath(shot) + "/console_read_scan_" + testLanguage() + ".png"));
    }
    chooseScan(dialog, 0, notAScan);
    HWND box = waitForDialog(L"Read scan...");
    ASSERT_NE(box, nullptr);
    EXPECT_NE(windowTextUtf8(GetDlgItem(box, 0xFFFF)).find("neither a PNG nor a JPEG"),
              std::string::npos)
        << windowTextUtf8(GetDlgItem(box, 0xFFFF));
    EXPECT_EQ(FindWindowW(L"HeadalignPicture", nullptr), nullptr);  // nothing to show
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(20);

    // The printed paper: whatever the reading, the operator sees what was found.
    chooseScan(dialog, 0, paper);
    HWND picture = nullptr;
    for (int i = 0; i < 1000 && !picture; ++i) {
        picture = FindWindowW(L"HeadalignPicture", nullptr);
        if (!picture) Sleep(20);
    }
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(windowTextUtf8(picture), paper);
    EXPECT_EQ(GetWindow(picture, GW_OWNER), dialog);
    RECT p{}, d{}, at{}, both{};
    GetClientRect(picture, &p);
    GetWindowRect(dialog, &d);
    GetWindowRect(picture, &at);
    EXPECT_FALSE(IntersectRect(&both, &d, &at));  // beside or below the dialog, not over it
    EXPECT_GE(at.left, 0);
    EXPECT_LE(at.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_LE(at.bottom, GetSystemMetrics(SM_CYSCREEN));
    // The paper as drawn is wide and low: fitted into 520 x 760 pixels, its shape kept.
    EXPECT_EQ(p.right, 520);
    EXPECT_GT(p.bottom, 10);
    EXPECT_LE(p.bottom, 760);
    if (!shot.empty()) {
        Sleep(300);
        EXPECT_TRUE(saveWindowPng(
            picture, windowsPath(shot) + "/console_marked_scan_" + testLanguage() + ".png"));
    }
    // A refusal (the paper as drawn is not square) comes in a box; a reading goes to the entry.
    for (int i = 0; i < 250 && windowTextUtf8(GetDlgItem(dialog, ID_BIDIR_TEXT_HIGH_ADD)).empty();
         ++i) {
        if ((box = FindWindowW(L"#32770", L"Read scan...")) && IsWindowVisible(box)) break;
        Sleep(20);
    }
    if (box && IsWindow(box)) {
        EXPECT_FALSE(windowTextUtf8(GetDlgItem(box, 0xFFFF)).empty());
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(20);
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ID_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(app.wait(20000), 0);
}

// "History..." after "Import" in the native console: the printer's history in a window beside
// it, the drift in words, the picture and the entries newest first with what made them.
TEST_F(CommandLine, HistoryWindowOfTheNativeConsole) {
    weekOfHistory();
    Child app;
    HWND dialog = openConsole(app);
    ASSERT_NE(dialog, nullptr) << "the console did not start or did not show its values";
    HWND button = GetDlgItem(dialog, 0x7E10), import = GetDlgItem(dialog, ID_IMPORT);
    ASSERT_NE(button, nullptr);
    RECT b{}, i{};
    GetWindowRect(button, &b);
    GetWindowRect(import, &i);
    EXPECT_GT(b.left, i.right);
    EXPECT_EQ(b.top, i.top);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(0x7E10, BN_CLICKED), 0);
    const bool chinese = testLanguage() == "zh";
    HWND window = nullptr;
    for (int n = 0; n < 1000 && !(window && IsWindowVisible(window)); ++n, Sleep(20))
        window = FindWindowW(L"HeadalignHistory", nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(windowTextUtf8(window), chinese ? "校准历史" : "Calibration history");
    EXPECT_EQ(GetWindow(window, GW_OWNER), dialog);
    EXPECT_EQ(windowTextUtf8(GetDlgItem(window, 0x7E20)),
              chinese ? "没有漂移超过一组的模式" : "no mode has drifted by more than a group");
    // The list: the column titles, then the three entries, newest first.
    HWND list = GetDlgItem(window, 0x7E22);
    ASSERT_NE(list, nullptr);
    std::vector<std::string> lines;
    for (LRESULT n = 0, count = SendMessageW(list, LB_GETCOUNT, 0, 0); n < count; ++n) {
        std::wstring line(size_t(SendMessageW(list, LB_GETTEXTLEN, WPARAM(n), 0)) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, WPARAM(n), reinterpret_cast<LPARAM>(line.data()));
        line.resize(wcslen(line.c_str()));
        lines.push_back(Win32_FromWide(line));
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, chinese ? 15 : 10), chinese ? "时间（UTC）" : "time (UTC)");
    EXPECT_NE(lines[1].find("bidirTextMid 10 -> 1\talign --apply"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].find("2026-11-09 09:00\t"), 0u) << lines[2];
    EXPECT_NE(lines[2].find("-9.50"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("bidirTextMid 0 -> 10\tparams set"), std::string::npos) << lines[3];
    // The picture at three quarters of its size, on the screen; the reading's colour in it.
    HWND plot = GetDlgItem(window, 0x7E21);
    ASSERT_NE(plot, nullptr);
    RECT p{}, at{};
    GetClientRect(plot, &p);
    EXPECT_EQ(p.right, 1100 * 3 / 4);
    EXPECT_EQ(p.bottom, 760 * 3 / 4);
    GetWindowRect(window, &at);
    EXPECT_GE(at.left, 0);
    EXPECT_GE(at.top, 0);
    EXPECT_LE(at.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_LE(at.bottom, GetSystemMetrics(SM_CYSCREEN));
    std::string shot = envText("HEADALIGN_SCREENSHOT_DIR");
    const std::string file = windowsPath(shot.empty() ? logs.path : shot) + "/console_history_" +
                             testLanguage() + ".png";
    Sleep(300);
    ASSERT_TRUE(saveWindowPng(window, file));
    PlotPicture screen;
    ASSERT_TRUE(PlotPicture_Decode(readFileBytes(file), &screen));
    int inColour = 0;
    for (uint32_t y = 0; y < screen.pixels.height; ++y)
        for (uint32_t x = 0; x < screen.pixels.width; ++x)
            inColour += screen.colourAt(x, y, History_ModeColour(6, 1));
    EXPECT_GT(inColour, 50);
    PostMessageW(window, WM_CLOSE, 0, 0);
    for (int n = 0; n < 500 && IsWindow(window); ++n) Sleep(20);
    EXPECT_FALSE(IsWindow(window));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ID_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(app.wait(20000), 0);
}

// A week of history on the virtual printer: "history --plot" draws it with GDI+ in this run's
// language, every point where the history's own data puts it.
TEST_F(CommandLine, HistoryPlotShowsEveryPointOfTheData) {
    weekOfHistory();
    const std::string png = logs.path + "\\历史.png";
    ChildResult plotted = job("history --plot \"" + png + "\"");
    ASSERT_EQ(plotted.exitCode, 0u) << plotted.output;

    std::vector<HistoryEntry> kept;
    std::string why;
    const std::string key = History_PrinterKey(printer.path);
    ASSERT_TRUE(History_Load(History_FilePath(key), key, &kept, &why)) << why;
    std::vector<HistorySeries> series = History_Series(kept);
    ASSERT_EQ(series.size(), 1u);
    ASSERT_EQ(series[0].readings.size(), 1u);
    PlotPicture picture;
    std::ifstream file(std::filesystem::u8path(png), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_TRUE(PlotPicture_Decode(bytes, &picture));
    EXPECT_EQ(PlotPicture_CheckPoints(picture, series), 1 + int(series[0].saved.size()) - 2);
    // No mode colour two groups off the reading, where there is no data.
    const HistoryPlotFrame f = History_PlotFrame(series);
    const HistoryPoint& r = series[0].readings[0];
    EXPECT_FALSE(picture.colourAt(f.x(r.time), f.yReading(r.value + 2),
                                  History_ModeColour(series[0].mode, series[0].pass)));
    std::string shot = envText("HEADALIGN_SCREENSHOT_DIR");
    if (!shot.empty()) {
        EXPECT_TRUE(std::filesystem::copy_file(
            std::filesystem::u8path(png),
            std::filesystem::u8path(windowsPath(shot) + "/history_plot_" + testLanguage() + ".png"),
            std::filesystem::copy_options::overwrite_existing));
    }
}

// The calibration window's text in the run's language: every label, box and button shows its
// whole text, no part covers another, and the window lies on the screen.
void expectCalibrateWindowFits(HWND window) {
    // The console's face as its resource names it (a font handle of the other process means
    // nothing here): 宋体, 11 points, the GB2312 character set.
    HDC screen = GetDC(nullptr);
    HFONT face = CreateFontW(-MulDiv(11, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL,
                             FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"\u5b8b\u4f53");
    ReleaseDC(nullptr, screen);
    ASSERT_NE(face, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    std::vector<std::pair<HWND, RECT>> parts;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_GE(r.left, 0) << windowTextUtf8(c);
        EXPECT_GE(r.top, 0) << windowTextUtf8(c);
        EXPECT_LE(r.right, client.right) << windowTextUtf8(c);
        EXPECT_LE(r.bottom, client.bottom) << windowTextUtf8(c);
        for (const auto& [other, o] : parts) {
            RECT both{};
            EXPECT_FALSE(IntersectRect(&both, &r, &o))
                << windowTextUtf8(c) << " covers " << windowTextUtf8(other);
        }
        parts.push_back({c, r});
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        const std::wstring text = Win32_ToWide(windowTextUtf8(c));
        if (text.empty() || (wcscmp(cls, L"Button") != 0 && wcscmp(cls, L"Static") != 0)) continue;
        HDC dc = GetDC(c);
        HGDIOBJ old = SelectObject(dc, face);
        RECT need{};
        DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(c, dc);
        RECT box{};
        GetClientRect(c, &box);
        LONG width = box.right;
        const LONG style = GetWindowLongW(c, GWL_STYLE);
        if (wcscmp(cls, L"Button") == 0)
            width -= (style & BS_TYPEMASK) == BS_AUTOCHECKBOX ? GetSystemMetrics(SM_CXMENUCHECK) + 4
                                                              : 2 * GetSystemMetrics(SM_CXEDGE);
        EXPECT_LE(need.right, width) << "\"" << windowTextUtf8(c) << "\" is cut at the right";
        EXPECT_LE(need.bottom, box.bottom) << "\"" << windowTextUtf8(c) << "\" is cut below";
    }
    DeleteObject(face);
    EXPECT_GE(parts.size(), 14u);
    RECT at{};
    GetWindowRect(window, &at);
    EXPECT_GE(at.left, 0);
    EXPECT_GE(at.top, 0);
    EXPECT_LE(at.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_LE(at.bottom, GetSystemMetrics(SM_CYSCREEN));
}

// Waits until the window's part shows a text holding `part` (about two minutes at most).
std::string waitForText(HWND window, int id, const std::string& part) {
    std::string text;
    for (int n = 0; n < 6000; ++n, Sleep(20)) {
        text = windowTextUtf8(GetDlgItem(window, id));
        if (text.find(part) != std::string::npos) break;
    }
    return text;
}

// "Calibrate..." before "Export": the sitting end to end on a virtual printer whose text mid
// is off. The sheet with the second pass is printed, its picture read (table and marked picture
// beside it), ONE SAVE corrects what is certain (the console shows the saved value and the
// history keeps it as the window's), and the sheet printed again verifies.
TEST_F(CommandLine, CalibrateWindowOfTheNativeConsole) {
    const char config[] = "bidir_error = 40:-15\n";
    ASSERT_TRUE(File_WriteReplace(printer.path + "\\printer.cfg",
                                  reinterpret_cast<const uint8_t*>(config), sizeof config - 1)
                    .ok());
    Child app;
    HWND dialog = openConsole(app, "--fast-clock");
    ASSERT_NE(dialog, nullptr) << "the console did not start or did not show its values";
    const bool chinese = testLanguage() == "zh";
    HWND button = GetDlgItem(dialog, 0x7E11), exportButton = GetDlgItem(dialog, ID_EXPORT);
    ASSERT_NE(button, nullptr);
    RECT b{}, e{};
    GetWindowRect(button, &b);
    GetWindowRect(exportButton, &e);
    EXPECT_LT(b.right, e.left);
    EXPECT_EQ(b.top, e.top);
    EXPECT_EQ(windowTextUtf8(button), chinese ? "校准..." : "Calibrate...");
    const std::string textMidBefore = windowTextUtf8(GetDlgItem(dialog, ID_BIDIR_TEXT_MID));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(0x7E11, BN_CLICKED), 0);
    HWND window = nullptr;
    for (int n = 0; n < 1000 && !(window && IsWindowVisible(window)); ++n, Sleep(20))
        window = FindWindowW(L"HeadalignCalibrate", nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(windowTextUtf8(window), chinese ? "校准向导" : "Calibrate");
    EXPECT_EQ(GetWindow(window, GW_OWNER), dialog);
    expectCalibrateWindowFits(window);
    const std::string shot = envText("HEADALIGN_SCREENSHOT_DIR");
    auto screenshot = [&](const char* name) {
        if (shot.empty()) return;
        Sleep(300);
        EXPECT_TRUE(saveWindowPng(
            window, windowsPath(shot) + "/calibrate_" + name + "_" + testLanguage() + ".png"));
    };
    screenshot("window");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 0x7E33)));  // nothing read: no SAVE

    // 1. The sheet with the second pass: 11 prints, its paper as one picture.
    SendMessageW(GetDlgItem(window, 0x7E30), BM_SETCHECK, BST_CHECKED, 0);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(0x7E31, BN_CLICKED), 0);
    const std::string pictureWord = chinese ? "图片：" : "picture: ";
    std::string status = waitForText(window, 0x7E39, pictureWord);
    ASSERT_NE(status.find(pictureWord), std::string::npos) << status;
    EXPECT_NE(status.find(chinese ? ": 11 个打印" : ": 11 prints"), std::string::npos) << status;
    const std::string sheet = status.substr(status.find(pictureWord) + pictureWord.size());

    // 2. Its picture read: the table, the marked picture beside it, SAVE offered.
    ASSERT_NO_FATAL_FAILURE(chooseFile(
        window, 0x7E32, chinese ? L"\u8bfb\u53d6\u6587\u4ef6..." : L"Read file...", sheet));
    std::string table = waitForText(window, 0x7E37, "mode");
    EXPECT_NE(table.find("bidirTextMid"), std::string::npos) << table;
    for (int n = 0; n < 500 && !IsWindowEnabled(GetDlgItem(window, 0x7E33)); ++n) Sleep(20);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, 0x7E33)));
    screenshot("read");

    // 3. One SAVE: the console shows the corrected value, the history keeps the SAVE.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(0x7E33, BN_CLICKED), 0);
    status = waitForText(window, 0x7E39, "applied and saved");
    EXPECT_NE(status.find("applied and saved"), std::string::npos) << status;
    EXPECT_NE(status.find("bidirTextMid"), std::string::npos) << status;
    EXPECT_NE(windowTextUtf8(GetDlgItem(dialog, ID_BIDIR_TEXT_MID)), textMidBefore);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 0x7E33)));

    // 4. The sheet again (first pass only), read as the verification.
    SendMessageW(GetDlgItem(window, 0x7E30), BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(0x7E34, BN_CLICKED), 0);
    status = waitForText(window, 0x7E39, pictureWord);
    ASSERT_NE(status.find(pictureWord), std::string::npos) << status;
    const std::string again = status.substr(status.find(pictureWord) + pictureWord.size());
    EXPECT_NE(again, sheet);
    ASSERT_NO_FATAL_FAILURE(chooseFile(
        window, 0x7E35,
        chinese ? L"\u8bfb\u53d6\u6821\u9a8c\u56fe\u7247..." : L"Read verification...", again));
    status = waitForText(window, 0x7E39, "verified");
    EXPECT_NE(status.find("mode 6: verified: \"00\" lines up"), std::string::npos) << status;
    EXPECT_NE(status.find("verified: every mode lines up"), std::string::npos) << status;
    screenshot("verified");

    std::vector<HistoryEntry> kept;
    std::string why;
    const std::string key = History_PrinterKey(printer.path);
    ASSERT_TRUE(History_Load(History_FilePath(key), key, &kept, &why)) << why;
    int saves = 0, readings = 0, verifications = 0;
    for (const HistoryEntry& h : kept) {
        EXPECT_EQ(h.source, "console Calibrate...");
        saves += h.kind == HISTORY_SAVE, readings += h.kind == HISTORY_READING,
            verifications += h.kind == HISTORY_VERIFICATION;
    }
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(readings, 11);
    EXPECT_EQ(verifications, 6);

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(0x7E36, BN_CLICKED), 0);
    for (int n = 0; n < 500 && IsWindow(window); ++n) Sleep(20);
    EXPECT_FALSE(IsWindow(window));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ID_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(app.wait(20000), 0);
}

TEST(Executable, ImportsOnlySystemLibraries) {
    // Read the import directory of our own image format from the file on disk.
    std::string image = readFileBytes(windowsPath(HEADALIGN_EXE));
    ASSERT_GT(image.size(), 1024u);
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(
            static_cast<uint8_t>(image[at]) | static_cast<uint8_t>(image[at + 1]) << 8 |
            static_cast<uint8_t>(image[at + 2]) << 16 |
            static_cast<uint32_t>(static_cast<uint8_t>(image[at + 3])) << 24);
    };
    HMODULE loaded =
        LoadLibraryExA(windowsPath(HEADALIGN_EXE).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(loaded, nullptr);
    auto* base =
        reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(loaded) & ~uintptr_t(3));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    const char* allowed[] = {"kernel32.dll", "msvcrt.dll",   "user32.dll",   "gdi32.dll",
                             "comdlg32.dll", "setupapi.dll", "advapi32.dll", "shell32.dll",
                             "ole32.dll",    "gdiplus.dll"};
    int count = 0;
    for (; imp->Name; ++imp, ++count) {
        std::string name = reinterpret_cast<const char*>(base + imp->Name);
        for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        bool ok = false;
        for (const char* a : allowed) ok = ok || name == a;
        EXPECT_TRUE(ok) << name;
    }
    EXPECT_GE(count, 3);
    (void)u32;
    FreeLibrary(loaded);
}

}  // namespace
