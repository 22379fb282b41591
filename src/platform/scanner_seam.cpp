// SPDX-License-Identifier: Apache-2.0
// Installation and dispatch of the scanner seam, and the operator's words for its outcomes.
#include <atomic>

#include "platform/locale.h"
#include "platform/scanner.h"

namespace {
std::atomic<const ScannerBackend*> scannerBackend{nullptr};

struct StatusText {
    const char* english;
    const char* chinese;
};
// Indexed by ScanStatus. Each says what happened and what the operator can do about it.
const StatusText TEXTS[] = {
    {"scanned", "扫描完成"},
    {"this build has no scanner support: scan the print with another program and read the file",
     "本版本不支持扫描仪：请用其他程序扫描打印件后读取文件"},
    {"no scanner found: check that it is connected and switched on",
     "未找到扫描仪：请检查连接和电源"},
    {"the scanner is busy (another program is using it, or it is still working): try again in a "
     "moment",
     "扫描仪正忙（其他程序正在使用或仍在工作）：请稍后再试"},
    {"the scanner's cover is open: close it and scan again", "扫描仪盖板打开：请合上后重新扫描"},
    {"the paper is jammed in the scanner: clear it and scan again",
     "扫描仪卡纸：请清除卡纸后重新扫描"},
    {"no document in the scanner: put the print in and scan again",
     "扫描仪中没有文档：请放入打印件后重新扫描"},
    {"the scan was cancelled", "扫描已取消"},
    {"this user may not use the scanner: ask for access to it", "无权使用扫描仪：请申请访问权限"},
    {"the scanner stopped answering: check its cable and power, and scan again",
     "扫描仪无响应：请检查连接线和电源后重新扫描"},
    {"the scanner ran out of memory: choose a lower resolution or a smaller area",
     "扫描仪内存不足：请降低分辨率或缩小扫描区域"},
    {"the scanner does not take this option", "扫描仪不接受此选项"},
    {"the scan would be too large to read: choose a lower resolution or a smaller area",
     "扫描图像过大：请降低分辨率或缩小扫描区域"},
    {"the scanner refused to scan", "扫描仪拒绝扫描"},
};
static_assert(sizeof TEXTS / sizeof TEXTS[0] == static_cast<size_t>(ScanStatus::Failed) + 1,
              "one text per status");
}  // namespace

void Scanner_Install(const ScannerBackend* b) { scannerBackend.store(b); }
const ScannerBackend* Scanner_Backend() {
    const ScannerBackend* b = scannerBackend.load();
    return b ? b : Platform_DefaultScanner();
}

bool Scanner_Supported() {
    const ScannerBackend* b = Scanner_Backend();
    return b->list && b->scan;
}

bool Scanner_List(std::vector<ScannerDevice>* out, std::string* error) {
    out->clear();
    if (!Scanner_Supported()) {
        *error = Scanner_StatusText(ScanStatus::NoSupport, "", Locale_IsChinese());
        return false;
    }
    return Scanner_Backend()->list(out, error);
}

ScanStatus Scanner_Scan(const ScanRequest& request, ImagePixels* out, std::string* detail) {
    *out = ImagePixels{};
    detail->clear();
    if (!Scanner_Supported()) return ScanStatus::NoSupport;
    ScanStatus s = Scanner_Backend()->scan(request, out, detail);
    if (s != ScanStatus::Ok) *out = ImagePixels{};
    return s;
}

std::string Scanner_StatusText(ScanStatus status, const std::string& detail, bool chinese) {
    size_t i = static_cast<size_t>(status);
    if (i >= sizeof TEXTS / sizeof TEXTS[0]) i = static_cast<size_t>(ScanStatus::Failed);
    // The device asked for by name is said in the sentence, not after it.
    if (status == ScanStatus::NoDevice && !detail.empty())
        return chinese ? "未找到扫描仪 " + detail +
                             "：请检查连接和电源（headalign scanners 列出已找到的扫描仪）"
                       : "no scanner " + detail +
                             " found: check that it is connected and switched on (headalign "
                             "scanners lists those found)";
    std::string text = chinese ? TEXTS[i].chinese : TEXTS[i].english;
    if (!detail.empty()) text += (chinese ? "：" : ": ") + detail;
    return text;
}

bool Scanner_ParseOption(const std::string& text, ScanOption* out) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    out->name = text.substr(0, eq);
    out->value = text.substr(eq + 1);
    return true;
}
