// SPDX-License-Identifier: Apache-2.0
// Fuzz target: a parameter file of any content, read as the import command and a Config
// entry read it, then shown on the console.
//
// Input: the file's bytes.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../fuzz_support.h"
#include "app/binding.h"
#include "app/console.h"
#include "app/param_files.h"
#include "app/session.h"
#include "params/parameter_record.h"
#include "platform/dialog_model.h"
#include "support/product_internals.h"

namespace {

std::string filePath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/headalign_fuzz_param_" +
               std::to_string(getpid()) + ".dat";
    }();
    return path;
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// A load that refuses leaves the buffer as it was and says why; one that takes the file holds
// its first `want` bytes, from a file of a size the route takes and a record the console could
// have made.
void checkRead(const uint8_t* data, size_t size, size_t want, const std::string& path) {
    uint8_t buffer[PARAM_FILE_SIZE];
    std::memset(buffer, 0xC3, sizeof buffer);
    std::string why;
    bool ok = loadParamFile(buffer, want, path, CONFIG_PATH_MAX, &why);
    bool sizeFits = size == want || (want == CONFIG_FILE_SIZE && size == PARAM_FILE_SIZE);
    FUZZ_CHECK(!ok || (sizeFits && checkParameterRecord(data, nullptr)));
    FUZZ_CHECK(ok || !why.empty());
    if (ok) FUZZ_CHECK(std::memcmp(buffer, data, want) == 0);
    for (size_t i = ok ? want : 0; i < sizeof buffer; ++i) FUZZ_CHECK(buffer[i] == 0xC3);
}

void checkLists() {
    for (int id : INK_SLOT_LISTS) {
        int count = static_cast<int>(DialogModel_ListEntries(id).size());
        FUZZ_CHECK(DialogModel_ListSelection(id) < count);
    }
    for (int id : {ID_FEATHER_MODE, ID_SKIP_BLANK}) {
        int count = static_cast<int>(DialogModel_ListEntries(id).size());
        FUZZ_CHECK(DialogModel_ListSelection(id) < count);
    }
}

}  // namespace

int fuzzOne_param_file(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    const std::string path = filePath();
    if (!writeFile(path, data, size)) return 0;
    checkRead(data, size, CONFIG_FILE_SIZE, path);
    checkRead(data, size, PARAM_FILE_SIZE, path);

    // The import command: the file dialog names the file, the question is answered OK.
    fuzzConsole();
    uint8_t* current = consoleState()->currentRecord;
    DialogModel_QueueFile(path);
    bool imported = importParamFile(current);
    // Only a file of the exported size holding a record the console could have saved.
    FUZZ_CHECK(imported == (size == PARAM_FILE_SIZE && checkParameterRecord(data, nullptr)));
    if (imported) {
        FUZZ_CHECK(std::memcmp(current, data, PARAM_FILE_SIZE) == 0);
        showParameters(current);
        checkLists();
    }
    std::remove(path.c_str());
    return 0;
}
