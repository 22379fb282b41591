// SPDX-License-Identifier: Apache-2.0
// Fuzz target: SAVE with fuzzed entries, selections and boxes, delivering to a shared area
// (present or not, its lock free, timing out or failing) or to a printer that is absent.
//
// Input: flags byte (bit 0 box 1214, bit 1 box 1110, bit 2 box 1209, bit 3 left, bit 4
// right, bit 5 connected), area byte (bits 0-1 lock mode, bit 2 no area, bits 3-4 view size),
// the 56 bytes of the loaded record, then operator actions: [action][n][n bytes of text]; an
// action below 0x80 types the text into an entry or list field, one from 0x80 selects entry
// (int8)n of a list.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../fuzz_support.h"
#include "app/binding.h"
#include "app/console.h"
#include "app/session.h"
#include "app/shared_record.h"
#include "params/calibration_params.h"
#include "params/parameter_record.h"
#include "platform/dialog_model.h"
#include "platform/usb_driver.h"

namespace {

const int ENTRIES[] = {ID_FEATHER_DEPTH_SET,   ID_PASS4_SET,
                       ID_PASS6_SET,           ID_PASS8_SET,
                       ID_PASS3_SET,           ID_PASS2_SET,
                       ID_BIDIR_TEXT_HIGH_ADD, ID_BIDIR_TEXT_MID_ADD,
                       ID_BIDIR_TEXT_LOW_ADD,  ID_BIDIR_IMAGE_HIGH_ADD,
                       ID_BIDIR_IMAGE_LOW_ADD, ID_BIDIR_PHOTO_ADD,
                       ID_START_OFFSET_ADD,    ID_BAND_MARGIN_SET,
                       ID_BAND_WIDTH_SET,      ID_INK_SLOT1,
                       ID_INK_SLOT2,           ID_INK_SLOT3,
                       ID_INK_SLOT4,           ID_INK_SLOT5,
                       ID_INK_SLOT6,           ID_INK_SLOT7,
                       ID_INK_SLOT8,           ID_FEATHER_MODE,
                       ID_SKIP_BLANK};
const int LISTS[] = {ID_INK_SLOT1, ID_INK_SLOT2, ID_INK_SLOT3, ID_INK_SLOT4,    ID_INK_SLOT5,
                     ID_INK_SLOT6, ID_INK_SLOT7, ID_INK_SLOT8, ID_FEATHER_MODE, ID_SKIP_BLANK};
const size_t VIEW_SIZES[4] = {SHARED_AREA_USED, 64, SHARED_AREA_USED - 1, 4096};
constexpr size_t TEXT_MAX = 12;

// No printer on the bus: every delivery to the printer fails.
bool noEnum() { return false; }
int noPath(uint32_t, char*, size_t) { return 0; }
void noEnd() {}
UsbHandle noOpen(const char*) { return USB_INVALID_HANDLE; }
void noClose(UsbHandle) {}
bool noIoctl(UsbHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
    return false;
}
uint32_t noError() { return 2; }
const UsbDriverBackend NO_PRINTER{
    .enumBegin = noEnum,
    .enumPath = noPath,
    .enumEnd = noEnd,
    .open = noOpen,
    .close = noClose,
    .ioctl = noIoctl,
    .serialNumber = nullptr,  // no serial numbers
    .lastError = noError,
};

void operate(FuzzInput& in) {
    while (!in.empty()) {
        uint8_t action = in.byte();
        uint8_t n = in.byte();
        if (action >= 0x80) {
            DialogModel_Select(LISTS[action % (sizeof LISTS / sizeof LISTS[0])],
                               static_cast<int8_t>(n));
            continue;
        }
        std::vector<uint8_t> text = in.bytes(n % (TEXT_MAX + 1));
        DialogModel_Type(ENTRIES[action % (sizeof ENTRIES / sizeof ENTRIES[0])],
                         std::string(text.begin(), text.end()));
    }
}

void setBoxes(uint8_t flags) {
    DialogHandle d = consoleState()->dialog;
    const DialogBackend* dlg = DialogModel_Backend();
    dlg->setCheck(d, ID_HD_BOX, flags & 1);
    dlg->setCheck(d, ID_INK_ORDER_BOX, flags & 2);
    dlg->setCheck(d, ID_COLOR_BAND_BOX, flags & 4);
    dlg->setCheck(d, ID_COLOR_LEFT, flags & 8);
    dlg->setCheck(d, ID_COLOR_RIGHT, flags & 16);
}

}  // namespace

int fuzzOne_save_params(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    FuzzInput in{data, size};
    uint8_t flags = in.byte();
    uint8_t areaMode = in.byte();
    std::vector<uint8_t> loaded = in.bytes(PARAMETER_RECORD_SIZE);
    loaded.resize(PARAMETER_RECORD_SIZE, 0);

    FuzzArea area;
    area.exists = (areaMode & 4) == 0;
    area.lock = static_cast<FuzzLockMode>(areaMode & 3);
    area.bytes.assign(VIEW_SIZES[(areaMode >> 3) & 3], 0x77);
    fuzzInstallArea(&area);
    const UsbDriverBackend* previousDriver = UsbDriver_Get();
    UsbDriver_Install(&NO_PRINTER);

    fuzzConsole();
    *calibrationParams() = CalibrationParams{};
    ConsoleState* console = consoleState();
    std::memcpy(console->currentRecord, loaded.data(), PARAMETER_RECORD_SIZE);
    console->printerConnected = (flags & 32) ? 1 : 0;
    setBoxes(flags);
    showParameters(console->currentRecord);
    operate(in);

    const std::vector<uint8_t> before = area.bytes;
    bool saved = saveParametersVerified(console->currentRecord) == SAVE_SAVED;

    if (saved) {
        // Delivered whole: flag, three zero bytes, the record; nothing past it touched.
        FUZZ_CHECK(area.exists && area.lock == LOCK_FREE && area.bytes.size() >= SHARED_AREA_USED);
        FUZZ_CHECK(area.bytes[0] == 1 && area.bytes[1] == 0 && area.bytes[2] == 0 &&
                   area.bytes[3] == 0);
        FUZZ_CHECK(
            std::memcmp(area.bytes.data() + 4, console->currentRecord, PARAMETER_RECORD_SIZE) == 0);
        FUZZ_CHECK(std::equal(area.bytes.begin() + SHARED_AREA_USED, area.bytes.end(),
                              before.begin() + SHARED_AREA_USED));
        FUZZ_CHECK(console->currentRecord[0] == 0xAC);
    } else {
        // Nothing delivered means nothing changed in the area.
        FUZZ_CHECK(area.bytes == before);
    }
    // Every open has its close, every lock taken was given back.
    FUZZ_CHECK(area.areaOpens == area.areaCloses);
    FUZZ_CHECK(area.lockOpens == area.lockCloses);
    FUZZ_CHECK(area.obtained == area.released);

    UsbDriver_Install(previousDriver);
    fuzzInstallArea(nullptr);
    return 0;
}
