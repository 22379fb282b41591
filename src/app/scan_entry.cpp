// SPDX-License-Identifier: Apache-2.0
// The one way a reading becomes the dialog's entry, for every front end.
#include "app/scan_entry.h"

#include <cstdio>

#include "app/console.h"
#include "history/history.h"
#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/files.h"

namespace {

// The add entry of each bidirectional row and the adjustment print it belongs to.
struct Row {
    int entry;
    int jobType;
};
const Row ROWS[SCAN_ROW_COUNT] = {{ID_BIDIR_TEXT_HIGH_ADD, 5}, {ID_BIDIR_TEXT_MID_ADD, 6},
                                  {ID_BIDIR_TEXT_LOW_ADD, 7},  {ID_BIDIR_IMAGE_HIGH_ADD, 8},
                                  {ID_BIDIR_IMAGE_LOW_ADD, 9}, {ID_BIDIR_PHOTO_ADD, 10}};

// A reading of this row's print goes into the printer's history, certain or not.
void recordReading(int row, const VernierReading& r, const std::string& scanPath) {
    HistoryEntry e;
    e.mode = ROWS[row].jobType;
    e.pass = consoleState()->hdMode ? 2 : 1;
    e.reading = r.estimate;
    e.spread = r.sigma;
    e.certain = r.certain;
    e.picture = scanPath;
    e.source = "console Read scan...";
    History_Record(e);
}

}  // namespace

int ScanRow_Entry(int row) { return row >= 0 && row < SCAN_ROW_COUNT ? ROWS[row].entry : 0; }

ScanEntryResult Console_ReadScanInto(int row, const std::string& scanPath) {
    ScanEntryResult out;
    if (row < 0 || row >= SCAN_ROW_COUNT) {
        out.message = "no such row";
        return out;
    }
    std::string error;
    if (!Vernier_LoadImage(scanPath, &out.picture, &error)) {
        out.message = error;
        return out;
    }
    const VernierFamily family = Vernier_FamilyOfAdjustment(ROWS[row].jobType);
    VernierReading r = Vernier_ReadAs(out.picture, family, ROWS[row].jobType);
    // The operator sees what was found even when nothing can be entered: that is how a wrong
    // sheet or a blurred group is noticed.
    Vernier_MarkGroups(&out.picture, r);
    out.marked = true;
    if (r.status != VERNIER_READ) {
        out.message = "cannot read: " + r.reason;
    } else if (r.family != family) {
        out.message = std::string("cannot read: the scan shows a ") + Vernier_FamilyName(r.family) +
                      ", not this row's print";
    } else if (recordReading(row, r, scanPath), !r.certain) {
        out.message = "not certain: the prints meet near \"" + Vernier_LabelText(r.group) +
                      "\"; check the print";
    } else {
        const DialogBackend* dialog = Dialog_Backend();
        DialogHandle handle = consoleState()->dialog;
        if (!dialog || handle == DIALOG_NONE) {
            out.message = "the console is not open";
            return out;
        }
        dialog->setText(handle, ROWS[row].entry, std::to_string(Vernier_GroupToEnter(r)).c_str());
        out.entered = true;
    }
    return out;
}

bool Scan_KeepPicture(const VernierImage& image, const std::string& folder, const std::string& what,
                      std::string* kept, std::string* error) {
    kept->clear();
    const LocalTime t = Clock_LocalTime();
    char name[96];
    std::snprintf(name, sizeof name, "Scan_%s_%d%02d%02d_%02d%02d%02d.png", what.c_str(), t.year,
                  t.month, t.day, t.hour, t.minute, t.second);
    const std::string path = folder.empty() || folder.back() == '/' || folder.back() == '\\'
                                 ? folder + name
                                 : folder + "/" + name;
    ImagePixels pixels;
    pixels.width = image.width;
    pixels.height = image.height;
    pixels.dpi = image.dpi;
    pixels.rgb = image.rgb;
    std::vector<uint8_t> bytes;
    if (!image.width || !image.height || !ImageCodec_Backend()->encodePng(pixels, &bytes)) {
        *error = path + ": the picture could not be encoded";
        return false;
    }
    const FileResult written = File_CreateUnique(path, bytes.data(), bytes.size(), kept);
    if (!written.ok()) {
        *error = written.message;
        kept->clear();
        return false;
    }
    return true;
}
