// SPDX-License-Identifier: Apache-2.0
// libFuzzer entry of one target; FUZZ_ENTRY names its fuzzOne_ function (set by CMake).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FUZZ_ENTRY(data, size);
}
