// SPDX-License-Identifier: Apache-2.0
// Functions of the product that only tests call: what a module holds inside (the log's paths,
// a ring record, a listing, the glyph table, the planner's next direction) and the shared
// area's names. Defined with their modules, declared here rather than in the product's
// headers, so that those state only what the product uses.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "handover/job_context.h"
#include "handover/swath_record.h"
#include "platform/dialog_model.h"

// diag/log.cpp: paths of the current trace file and the error log (empty before the first
// Log_Open), and whether each is open.
std::string Log_TracePath();
std::string Log_ErrorPath();
bool Log_IsTraceOpen();
bool Log_IsErrorOpen();

// handover/swath_ring.cpp: record `index` (0..3); nullptr for any other index. \threadsafe
// \nonblocking
SwathRecord* Ring_Record(int index);

// platform/shared_area_seam.cpp: the names in use instead of SHARED_AREA_NAME and
// SHARED_LOCK_NAME (each test its own, so that parallel runs never meet). Dialog thread.
void SharedArea_SetNames(const char* areaName, const char* lockName);

// app/param_files.cpp: the paths of the last Config listing.
std::vector<std::string> configPaths();

// history/history.cpp: nothing is recorded (until the next History_UsePrinter), dialog
// thread; the record field of a mode ("bidirTextMid", "bidirTextMidHd", "stepPass4"), nullptr
// if none.
void History_Stop();
const char* History_ModeField(int mode, int pass);

// pattern/glyph_font.cpp: the whole font table, GLYPH_COUNT entries of GLYPH_ENTRY_SIZE bytes
// in code order.
const uint8_t* glyphFont();

// pipeline/swath_plan.cpp: direction (0 left to right, 1 right to left) of the next swath.
uint8_t nextSwathDirection(JobContext* ctx);

// platform/dialog_model.cpp: the in-memory dialog as tests inspect and drive it (dialog
// thread). Whether a dialog exists; a control's state; the window's title and show command
// (-1 until shown); closing it; a file dialog cancelled and the file dialogs asked; prompt
// answers queued (or a cancel) and the prompts asked, as title and prompt text.
bool DialogModel_Exists();
bool DialogModel_Enabled(int id);
bool DialogModel_Visible(int id);
int DialogModel_ListSelection(int id);
std::string DialogModel_Title();
int DialogModel_ShowCommand();
void DialogModel_Close();
void DialogModel_QueueFileCancel();
std::vector<DialogModelFileRequest> DialogModel_FileRequests();
void DialogModel_QueuePromptAnswer(const std::string& text);
void DialogModel_QueuePromptCancel();
std::vector<std::pair<std::string, std::string>> DialogModel_Prompts();
