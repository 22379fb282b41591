// SPDX-License-Identifier: Apache-2.0
// Fuzz target: a scan or photo file of any content, decoded as the align command and the
// console's "Read scan..." decode it (PNG or JPEG by the first bytes) and, when it decodes to
// a picture of modest size, read as a vernier.
//
// Input: the file's bytes.
#ifdef HEADALIGN_HAVE_VERNIER
#include <cmath>
#include <string>

#include "../fuzz_support.h"
#include "vernier/vernier.h"

namespace {

// Larger pictures only cost time per input; decoding them is what is checked.
constexpr size_t MAX_READ_PIXELS = 600 * 400;

void checkReading(const VernierReading& r) {
    FUZZ_CHECK(r.groups.size() <= 19);
    FUZZ_CHECK(r.status == VERNIER_READ || !r.reason.empty());
    FUZZ_CHECK(r.status == VERNIER_READ || !r.certain);
    if (r.status != VERNIER_READ) return;
    FUZZ_CHECK(r.halfway == (r.neighbour != r.group));
    FUZZ_CHECK(std::abs(Vernier_GroupToEnter(r)) <= 9);
    FUZZ_CHECK(std::isfinite(r.estimate) && std::isfinite(r.sigma));
    FUZZ_CHECK(r.group >= -9 && r.group <= 9);
    FUZZ_CHECK(std::abs(r.neighbour - r.group) <= 1);
    FUZZ_CHECK(r.confidence >= 0 && r.confidence <= 1);
    FUZZ_CHECK(r.family != FAMILY_UNKNOWN);
}

}  // namespace

int fuzzOne_scan_image(const uint8_t* data, size_t size) {
    fuzzPlatform();
    VernierImage image;
    std::string error;
    if (!Vernier_DecodeImage(data, size, &image, &error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(image.width > 0 && image.height > 0);
    FUZZ_CHECK(image.rgb.size() == size_t(image.width) * image.height * 3);
    if (size_t(image.width) * image.height > MAX_READ_PIXELS) return 0;
    VernierReading r = Vernier_Read(image);
    checkReading(r);
    VernierImage marked = image;
    Vernier_MarkGroups(&marked, r);
    FUZZ_CHECK(marked.rgb.size() == image.rgb.size());
    return 0;
}
#endif
