// SPDX-License-Identifier: Apache-2.0
// `headalign` without a command on the virtual printer: the whole program opens its console
// in the test display, plays a scripted operator, prints, and leaves a screenshot.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "wx_support.h"

namespace {

struct DesktopRun {
    int status;
    std::string output;
};

DesktopRun runDesktop(const std::string& lang, const std::string& script,
                      const std::string& stateDir, const std::string& logDir) {
    std::string command = "cd '" + stateDir + "' && DISPLAY=" + wxTestDisplay() + " LANG=" + lang +
                          " HEADALIGN_CONSOLE_SCRIPT='" + script + "' '" + HEADALIGN_EXE +
                          "' --virtual-printer vp --fast-clock --log-dir '" + logDir + "' 2>&1";
    DesktopRun run{-1, ""};
    FILE* p = popen(command.c_str(), "r");
    if (!p) return run;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, p)) run.output += buffer;
    int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class WxDesktopTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WxDesktopTest, TheProgramOpensTheConsolePrintsAndExits) {
    TempDir work;
    const std::string lang = GetParam();
    const std::string shot = WxConsoleTest_BuildFile("desktop-" + lang.substr(0, 5) + ".png");
    std::filesystem::remove(shot);
    DesktopRun run =
        runDesktop(lang, "type 1059 120; click 11; shot " + shot + "; click 1071; click 1076",
                   work.path, work.path);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::exists(work.path + "/vp/jobs/0001.png")) << run.output;
    EXPECT_TRUE(std::filesystem::exists(shot));
    const std::string saved =
        lang.rfind("zh", 0) == 0 ? "box: OK: 参数保存成功" : "box: OK: Parameter save successful!";
    EXPECT_NE(run.output.find(saved), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Languages, WxDesktopTest, ::testing::Values("zh_CN.UTF-8", "en_US.UTF-8"));

TEST(WxDesktopScript, AStepOnAMissingControlFailsTheRun) {
    TempDir work;
    DesktopRun run = runDesktop("en_US.UTF-8", "click 4242", work.path, work.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("script step \"click\" failed"), std::string::npos) << run.output;
}

}  // namespace
