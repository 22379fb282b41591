// SPDX-License-Identifier: Apache-2.0
// Virtual display and console fixture for the desktop console's tests.
#include "wx_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/uiaction.h>
#include <wx/wx.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/console.h"
#include "app/texts.h"
#include "diag/errors.h"
#include "platform/dialog.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "platform/scanner.h"
#include "vernier/vernier.h"
#include "vprinter.h"
#include "wxapp/progress_source.h"

// GTK, fontconfig and their kin keep caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\nleak:libgobject-2.0\nleak:libgio-2.0\n"
           "leak:libfontconfig\nleak:libpango\nleak:libcairo\nleak:libharfbuzz\nleak:libX11\n"
           "leak:libwx_\nleak:libatk\nleak:libepoxy\nleak:libdbus\nleak:libgdk_pixbuf\n";
}

namespace {

pid_t xvfbPid = -1;
std::string display;

// Starts Xvfb on a free display number and waits until it is ready to serve.
bool startXvfb() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    xvfbPid = fork();
    if (xvfbPid == 0) {
        close(fds[0]);
        // The server ends with this program, even when it dies; it never holds our output.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return false;
    display = ":" + number;
    return true;
}

class WxEnvironment : public ::testing::Environment {
    TempDir sane;

  public:
    void SetUp() override {
        if (const char* given = std::getenv("HEADALIGN_WX_DISPLAY")) {
            display = given;
        } else if (!startXvfb()) {
            FAIL() << "cannot start Xvfb (scripts/setup.sh installs it)";
        }
        setenv("DISPLAY", display.c_str(), 1);
        setenv("NO_AT_BRIDGE", "1", 0);  // no accessibility bus to look for on a test machine
        // The console looks for scanners: SANE's pnm and test back ends only, not whatever the
        // machine's configuration would probe for (seconds, and the network).
        std::ofstream(sane.path + "/dll.conf") << "pnm\ntest\n";
        std::ofstream(sane.path + "/test.conf") << "number_of_devices 1\n";
        setenv("SANE_CONFIG_DIR", sane.path.c_str(), 1);
        char name[] = "wx_tests";
        char* argv[] = {name, nullptr};
        ASSERT_TRUE(WxUi_Start(1, argv)) << "wxWidgets cannot open " << display;
        WxUi_SetProgressSource(Desktop_ProgressSource());
        // A failed wxWidgets check fails the test instead of waiting for someone to answer.
        wxSetAssertHandler([](const wxString& file, int line, const wxString& func,
                              const wxString& cond, const wxString& msg) {
            ADD_FAILURE() << "wxWidgets: " << file.utf8_str() << ":" << line << " "
                          << func.utf8_str() << ": " << cond.utf8_str() << " " << msg.utf8_str();
        });
    }
    void TearDown() override {
        WxUi_Stop();
        if (xvfbPid > 0) {
            kill(xvfbPid, SIGTERM);
            waitpid(xvfbPid, nullptr, 0);
        }
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new WxEnvironment);

}  // namespace

std::string wxTestDisplay() { return display; }

std::vector<uint8_t> wxSampleRecord() {
    std::vector<uint8_t> r(56, 0);
    r[0] = 0xAC;
    r[2] = 1;
    r[3] = 10, r[4] = 11, r[5] = 5, r[6] = 7;
    r[0x0a] = 100, r[0x0c] = 0x2c, r[0x0d] = 1, r[0x0e] = 200, r[0x10] = 150, r[0x30] = 90;
    r[0x14] = 12;
    for (int i = 0; i < 8; ++i) r[0x16 + i] = static_cast<uint8_t>(7 - i);
    r[0x1e] = 20, r[0x1f] = 21, r[0x20] = 22;
    r[0x21] = 2, r[0x22] = 40;
    r[0x27] = 0x31, r[0x28] = 3, r[0x29] = 4;
    return r;
}

void WxConsoleTest::SetUp() {
    ASSERT_TRUE(WxUi_Started());
    oldDir = std::filesystem::current_path().string();
    std::filesystem::current_path(work.path);
    stateDir = work.path + "/vp";
    ASSERT_TRUE(VPrinter_Attach(stateDir));
    fake_clock::install();
    LogDir_Set(work.path);
    clearProgramError();
    Locale_Install(nullptr);
    useLanguage("en_US.UTF-8");
    Dialog_Install(WxDialog_Backend());
    MsgBox_Install(WxMsgBox_Backend());
    WxUi_InstallClockPump();
    WxBoxes_SetAnswerer([this](const WxShownBox& box) {
        boxes.push_back(box);
        if (answers.empty()) return static_cast<int>(MSGBOX_RESULT_OK);
        int a = answers.front();
        answers.erase(answers.begin());
        return a;
    });
}

void WxConsoleTest::TearDown() {
    if (wxFrame* f = WxDialog_Frame()) {
        WxDialog_Backend()->destroy(reinterpret_cast<DialogHandle>(f));
        WxDialog_Backend()->runLoop();  // takes the quit request the destruction posted
    }
    if (wxFrame* p = WxUi_PictureWindow()) p->Destroy();
    settle(50);
    WxUi_SetAfterCommand(nullptr);
    WxBoxes_SetAnswerer(nullptr);
    WxBoxes_SetFileChooser(nullptr);
    WxBoxes_SetPromptAnswerer(nullptr);
    WxUi_UninstallClockPump();
    MsgBox_Install(nullptr);
    Dialog_Install(nullptr);
    VPrinter_Detach();
    fake_clock::uninstall();
    LogDir_Set("");
    std::filesystem::current_path(oldDir);
}

void WxConsoleTest::useLanguage(const char* lang) {
    setenv("LANG", lang, 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
}

void WxConsoleTest::settle(int ms) {
    wxMilliClock_t end = wxGetLocalTimeMillis() + ms;
    while (wxGetLocalTimeMillis() < end) {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        wxMilliSleep(5);
    }
}

void WxConsoleTest::startConsole() {
    const DialogBackend* d = WxDialog_Backend();
    DialogHandle h = d->create(consoleLayout(), consoleProc);
    ASSERT_NE(h, DIALOG_NONE);
    d->setIcon(h, CONSOLE_ICON_ID);
    d->setTitle(h, titleText().c_str());
    d->show(h, 1);
    settle(300);
}

wxWindow* WxConsoleTest::control(int id) {
    wxWindow* w = WxDialog_Control(id);
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
}

std::string WxConsoleTest::text(int id) {
    return WxDialog_Backend()->getText(reinterpret_cast<DialogHandle>(WxDialog_Frame()), id);
}

void WxConsoleTest::mouseClick(int id) {
    wxWindow* w = control(id);
    ASSERT_NE(w, nullptr);
    wxRect r = w->GetScreenRect();
    wxUIActionSimulator mouse;
    // A check box reacts to its indicator; a button anywhere inside.
    wxPoint at = dynamic_cast<wxCheckBox*>(w) ? wxPoint(r.x + 7, r.y + r.height / 2)
                                              : wxPoint(r.x + r.width / 2, r.y + r.height / 2);
    mouse.MouseMove(at);
    settle(50);
    mouse.MouseClick();
    settle(150);
}

std::string WxConsoleTest_BuildFile(const std::string& name) {
    return std::string(HEADALIGN_BUILD_DIR) + "/" + name;
}
std::string WxConsoleTest::buildFile(const std::string& name) {
    return WxConsoleTest_BuildFile(name);
}

void wxServeThroughPnm(const VernierImage& picture, const std::string& dir) {
    static std::string pnm;
    pnm = dir + "/served.pnm";
    std::ofstream out(pnm, std::ios::binary);
    out << "P6\n" << picture.width << ' ' << picture.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(picture.rgb.data()), long(picture.rgb.size()));
    out.close();
    static const ScannerBackend* sane = nullptr;
    if (!sane) sane = Scanner_Backend();
    static const ScannerBackend served{
        .list = sane->list,
        .scan =
            [](const ScanRequest& request, ImagePixels* image, std::string* detail) {
                ScanRequest onPaper = request;
                onPaper.device = "pnm:0";
                onPaper.options.push_back({"filename", pnm});
                return sane->scan(onPaper, image, detail);
            },
    };
    Scanner_Install(&served);
}

void wxServeCoverOpen() {
    static const ScannerBackend coverOpen{
        .list = Scanner_Backend()->list,
        .scan = [](const ScanRequest&, ImagePixels*,
                   std::string*) { return ScanStatus::CoverOpen; },
    };
    Scanner_Install(&coverOpen);
}

int wxKeptScans(const std::string& dir, const std::string& prefix) {
    int kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        kept += e.path().filename().string().rfind(prefix, 0) == 0;
    return kept;
}
