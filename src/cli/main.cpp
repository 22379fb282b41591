// headalign: entry of the command line (and, later, of the console).
#include <cstdio>
#include <cstring>

#include "diag/errors.h"
#include "diag/log.h"
#include "platform/logdir.h"

namespace {
int smoke() {
    std::printf("headalign %s\n", "V1.72a(180-0501)");
    std::printf("log folder: %s\n", LogDir_Get().c_str());
    std::printf("system locale: 0x%04X (%s)\n", systemLocaleId(),
                isChineseUi() ? "Chinese" : "English");
    std::printf("error codes: %u\n", errorCount());
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--log-dir") == 0 && i + 1 < argc) LogDir_Set(argv[++i]);
    }
    return smoke();
}
