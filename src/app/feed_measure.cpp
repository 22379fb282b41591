// SPDX-License-Identifier: Apache-2.0
// The feed step from the distance measured between the crosses of the feed-step print.
#include "app/feed_measure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "diag/errors.h"
#include "platform/msgbox.h"

namespace {

constexpr double STEP_SCALE = 10000.0;

// The pass rows: measure button, the row's "设为:" entry and its record field.
struct MeasureRow {
    int button, entry;
    const char* field;
    const char* label;
};
const MeasureRow MEASURE_ROWS[] = {
    {ID_MEASURE_PASS2, ID_PASS2_SET, "stepPass2", "2PASS"},
    {ID_MEASURE_PASS3, ID_PASS3_SET, "stepPass3", "3PASS"},
    {ID_MEASURE_PASS4, ID_PASS4_SET, "stepPass4", "4PASS"},
    {ID_MEASURE_PASS6, ID_PASS6_SET, "stepPass6", "6PASS"},
    {ID_MEASURE_PASS8, ID_PASS8_SET, "stepPass8", "8PASS"},
};

std::string format(const char* shape, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* shape, ...) {
    char buffer[400];
    va_list args;
    va_start(args, shape);
    std::vsnprintf(buffer, sizeof buffer, shape, args);
    va_end(args);
    return buffer;
}

}  // namespace

FeedStepProposal proposeFeedStep(const std::string& text, const char* field) {
    FeedStepProposal p;
    // Spaces around the number are the field's, not the operator's: leave them out.
    size_t a = text.find_first_not_of(" \t"), e = text.find_last_not_of(" \t");
    const std::string typed = a == std::string::npos ? std::string() : text.substr(a, e - a + 1);
    char* end = nullptr;
    errno = 0;
    double mm = std::strtod(typed.c_str(), &end);
    if (typed.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(mm)) {
        p.refusal = format("'%.60s' is not a distance in millimetres", typed.c_str());
        return p;
    }
    const double low = FEED_NOMINAL_MM * (1 - FEED_MEASURE_TOLERANCE),
                 high = FEED_NOMINAL_MM * (1 + FEED_MEASURE_TOLERANCE);
    if (mm <= 0 || mm < low || mm > high) {
        p.refusal = format(
            "%.60s mm is out of reason: the crosses lie %.1f mm apart on a true feed; measure "
            "from the centre of one cross to the centre of the other (accepted %.1f .. %.1f mm)",
            typed.c_str(), FEED_NOMINAL_MM, low, high);
        return p;
    }
    const long value = std::lround(STEP_SCALE * mm / FEED_NOMINAL_MM);
    if (value < 1 || value > 65535) {
        p.refusal = format("%s would become %ld; a step is 1 to 65535", field, value);
        return p;
    }
    // The measurement as precise as it was typed (a rule reads to 0.5 mm, a caliper finer).
    size_t dot = typed.find('.');
    int digits = dot == std::string::npos
                     ? 1
                     : static_cast<int>(std::min<size_t>(3, typed.size() - dot - 1));
    digits = std::max(1, digits);
    p.arithmetic =
        format("nominal %.1f mm, measured %.*f mm: %s = %.0f x %.*f / %.1f = %ld", FEED_NOMINAL_MM,
               digits, mm, field, STEP_SCALE, digits, mm, FEED_NOMINAL_MM, value);
    p.ok = true;
    p.value = value;
    return p;
}

bool onMeasureCommand(int id) {
    const MeasureRow* row = nullptr;
    for (const MeasureRow& r : MEASURE_ROWS)
        if (r.button == id) row = &r;
    if (!row) return false;
    const DialogBackend* dlg = Dialog_Backend();
    const DialogHandle dialog = consoleState()->dialog;
    const bool zh = isChineseUi();
    const std::string title = std::string(zh ? "测量走纸 " : "Measure feed ") + row->label;
    const std::string prompt =
        zh ? format("两个十字之间的距离 (毫米, 标准 %.1f):", FEED_NOMINAL_MM)
           : format("Distance between the two crosses (mm, nominal %.1f):", FEED_NOMINAL_MM);
    std::string typed;
    if (!dlg->promptText || !dlg->promptText(dialog, title.c_str(), prompt.c_str(), &typed))
        return true;
    FeedStepProposal p = proposeFeedStep(typed, row->field);
    if (!p.ok) {
        dlg->messageBox(dialog, p.refusal.c_str(), title.c_str(), MSGBOX_OK, MSGBOX_ICON_WARNING);
        return true;
    }
    dlg->setText(dialog, row->entry, std::to_string(p.value).c_str());
    std::string said = p.arithmetic + (zh ? "\n已填入\"设为:\", 按保存生效。"
                                          : "\nEntered in SET:; press SAVE to keep it.");
    dlg->messageBox(dialog, said.c_str(), title.c_str(), MSGBOX_OK, MSGBOX_ICON_INFORMATION);
    return true;
}
