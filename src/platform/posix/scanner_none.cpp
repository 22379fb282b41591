// SPDX-License-Identifier: Apache-2.0
// Scanner seam without a back end (SANE missing at build time): no scanner support.
#include "platform/scanner.h"

const ScannerBackend* Platform_DefaultScanner() {
    static const ScannerBackend none{};
    return &none;
}
