// SPDX-License-Identifier: Apache-2.0
// Scanner seam without a back end (none exists for Windows yet): no scanner support.
#include "platform/scanner.h"

const ScannerBackend* Platform_DefaultScanner() {
    static const ScannerBackend none{};
    return &none;
}
