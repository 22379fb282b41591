// SPDX-License-Identifier: Apache-2.0
// Binding of the console's controls to CalibrationParams and the packed record: showing a
// record, validating and committing the operator's entries, packing and delivering at SAVE.
#pragma once
#include <cstdint>
#include <string>

#include "app/record_store.h"

// Unpacks the 56-byte record into CalibrationParams and the console's block copy and shows
// every value.
void showParameters(const uint8_t* record);
// Validates and commits the entries, packs a new record into `record` and delivers it to the
// shared area when present, else to the printer (only the printer when the program attached
// one of its own), as one transaction (Record_Save); the outcome told apart (SaveOutcome,
// app/record_store.h). On failure the failing step's message has been shown. Dialog thread.
SaveOutcome saveParametersVerified(uint8_t* record);

void showStandardModeLabels();
void showHdModeLabels();
void enableInkOrderCombos(bool on);
void enableColorBandControls(bool on);

void fillInkCombo(int list, int selection);
void fillFeatherCombo();
void fillSkipBlankCombo();
// Channel index of an ink name (its first two characters), or -1.
int inkNameIndex(const std::string& text);
// Puts the record's ink order (or the default order when two bytes are equal) into the lists.
void showInkOrder(const uint8_t* record);

// An entry as the console reads it: at most 7 characters, leading blanks and a sign, digits
// up to the first other character, 0 without leading digits.
int32_t entryValue(const std::string& text);

// The eight ink-order lists from slot 1 (left) to slot 8 (right).
extern const int INK_SLOT_LISTS[8];
