// SPDX-License-Identifier: Apache-2.0
// Scripted operator for the desktop console: parses the steps and plays them in the window.
#include "wxapp/console_script.h"

#include <wx/filedlg.h>
#include <wx/frame.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <sstream>
#include <vector>

#include "platform/msgbox.h"
#include "platform/wx/wx_ui.h"

namespace {

struct Step {
    std::string verb;
    std::vector<std::string> args;
    std::string rest;  // text after the verb and the first argument (for `type`)
};

std::deque<Step> steps;
bool failed = false;
int boxAnswer = MSGBOX_RESULT_OK;
std::deque<std::string> fileAnswers;  // "" = cancel

constexpr int STEP_GAP_MS = 150;

int toInt(const std::string& s) { return std::atoi(s.c_str()); }

Step parseStep(const std::string& line) {
    Step s;
    std::istringstream in(line);
    in >> s.verb;
    std::string word;
    while (in >> word) s.args.push_back(word);
    size_t verbEnd = line.find(s.verb) + s.verb.size();
    size_t argStart = line.find_first_not_of(' ', verbEnd);
    if (argStart != std::string::npos) {
        size_t argEnd = line.find(' ', argStart);
        if (argEnd != std::string::npos) s.rest = line.substr(argEnd + 1);
    }
    return s;
}

void fail(const Step& s) {
    std::fprintf(stderr, "headalign: script step \"%s\" failed\n", s.verb.c_str());
    failed = true;
}

void runNext();

void scheduleNext(int delayMs) { WxUi_After(delayMs, runNext); }

bool runStep(const Step& s) {
    const size_t n = s.args.size();
    if (s.verb == "click" && n == 1) return WxDialog_Click(toInt(s.args[0]));
    if (s.verb == "select" && n == 2) return WxDialog_Select(toInt(s.args[0]), toInt(s.args[1]));
    if (s.verb == "type" && n >= 1) return WxDialog_Type(toInt(s.args[0]), s.rest);
    if (s.verb == "command" && n >= 1) {
        WxDialog_Command(toInt(s.args[0]), n > 1 ? toInt(s.args[1]) : 0);
        return true;
    }
    if (s.verb == "shot" && n == 1) return WxUi_Screenshot(s.args[0], WxUi_PictureWindow());
    if (s.verb == "layout" && n == 0) {
        for (const WxLabelAdjustment& a : WxDialog_Adjustments())
            std::printf("layout: %d \"%s\" width %d -> %d, moved %d\n", a.id, a.text.c_str(),
                        a.layoutWidth, a.neededWidth, a.movedX);
        std::fflush(stdout);
        return true;
    }
    if (s.verb == "answer" && n == 1) {
        const std::string& a = s.args[0];
        boxAnswer = a == "cancel" ? MSGBOX_RESULT_CANCEL
                    : a == "yes"  ? MSGBOX_RESULT_YES
                    : a == "no"   ? MSGBOX_RESULT_NO
                                  : MSGBOX_RESULT_OK;
        return true;
    }
    if (s.verb == "file" && n == 1) {
        fileAnswers.push_back(s.args[0] == "cancel" ? std::string() : s.args[0]);
        return true;
    }
    return false;
}

void runNext() {
    if (!WxDialog_Frame()) return;  // closed by a step or by the operator
    if (steps.empty()) {
        WxDialog_Close();
        return;
    }
    Step s = steps.front();
    steps.pop_front();
    if (s.verb == "close") {
        WxDialog_Close();
        return;
    }
    if (s.verb == "wait") {
        scheduleNext(s.args.empty() ? 0 : toInt(s.args[0]));
        return;
    }
    if (!runStep(s)) fail(s);
    scheduleNext(STEP_GAP_MS);
}

int answerBox(const WxShownBox& box) {
    std::printf("box: %s: %s\n", box.caption.c_str(), box.text.c_str());
    std::fflush(stdout);
    return boxAnswer;
}

bool chooseFile(wxFileDialog& dialog, std::string* path) {
    std::printf("file dialog: %s\n", std::string(dialog.GetMessage().utf8_str()).c_str());
    if (fileAnswers.empty()) return false;
    *path = fileAnswers.front();
    fileAnswers.pop_front();
    return !path->empty();
}

}  // namespace

bool ConsoleScript_Start(const std::string& script) {
    steps.clear();
    failed = false;
    std::string line;
    for (char c : script + ";") {
        if (c != ';' && c != '\n') {
            line += c;
            continue;
        }
        size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos) steps.push_back(parseStep(line.substr(start)));
        line.clear();
    }
    if (steps.empty()) return false;
    WxBoxes_SetAnswerer(answerBox);
    WxBoxes_SetFileChooser(chooseFile);
    // Start-up has shown its boxes by the time the loop runs: the first step comes after it.
    scheduleNext(300);
    return true;
}

bool ConsoleScript_Succeeded() { return !failed; }
