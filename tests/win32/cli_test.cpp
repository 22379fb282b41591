// SPDX-License-Identifier: Apache-2.0
// headalign.exe as a separate Windows process: a calibration job and an adjustment on the
// virtual printer, with trace files in code page 936 in the log folder given.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/console.h"
#include "app/texts.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/win32/win32_text.h"
#include "support/fakes.h"
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
    // The console on a virtual printer names it in its title: its SAVE reaches only that printer.
    std::string consoleTitle() const { return titleText() + " - virtual printer " + printer.path; }
    // Starts the console on this printer and waits until it shows the record's values; nullptr
    // when it did not start or its window never came.
    HWND openConsole(Child& app) {
        if (!app.start(HEADALIGN_EXE, "--virtual-printer \"" + printer.path + "\" --log-dir \"" +
                                          logs.path + "\""))
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

// Chooses `path` in the file dialog a click on scan button `row` opens.
void chooseScan(HWND dialog, int row, const std::string& path) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(0x7E00 + row, BN_CLICKED), 0);
    HWND chooser = waitForDialog(L"Read scan...");
    ASSERT_NE(chooser, nullptr);
    HWND name = GetDlgItem(chooser, 0x47C);  // the file name box of the Explorer-style dialog
    if (!name) name = GetDlgItem(chooser, 0x480);
    ASSERT_NE(name, nullptr);
    SetWindowTextW(name, Win32_ToWide(path).c_str());
    PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && IsWindow(chooser) && IsWindowVisible(chooser); ++i) Sleep(20);
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
    EXPECT_EQ(FindWindowW(L"HeadalignMarkedScan", nullptr), nullptr);  // nothing to show
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(20);

    // The printed paper: whatever the reading, the operator sees what was found.
    chooseScan(dialog, 0, paper);
    HWND picture = nullptr;
    for (int i = 0; i < 1000 && !picture; ++i) {
        picture = FindWindowW(L"HeadalignMarkedScan", nullptr);
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

// "History..." after "Import" in the native console: the printer's history in a box, with the
// SAVE a command made before.
TEST_F(CommandLine, HistoryButtonOfTheNativeConsole) {
    ChildResult saved = job("params set bidirTextMid=10");
    ASSERT_EQ(saved.exitCode, 0u) << saved.output;
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
    HWND box = waitForDialog(chinese ? L"\u6821\u51c6\u5386\u53f2" : L"Calibration history");
    ASSERT_NE(box, nullptr);
    std::string text = windowTextUtf8(GetDlgItem(box, 0xFFFF));
    EXPECT_NE(text.find("bidirTextMid 0 -> 10"), std::string::npos) << text;
    EXPECT_NE(text.find("[params set]"), std::string::npos) << text;
    std::string shot = envText("HEADALIGN_SCREENSHOT_DIR");
    if (!shot.empty()) {
        Sleep(300);
        EXPECT_TRUE(
            saveWindowPng(box, windowsPath(shot) + "/console_history_" + testLanguage() + ".png"));
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int n = 0; n < 500 && IsWindow(box); ++n) Sleep(20);
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
    const char* allowed[] = {"kernel32.dll", "msvcrt.dll",   "user32.dll",
                             "gdi32.dll",    "comdlg32.dll", "setupapi.dll",
                             "advapi32.dll", "shell32.dll",  "ole32.dll"};
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
