// SPDX-License-Identifier: Apache-2.0
// Parameter files: export and import of the 60-byte current record through the file dialogs,
// and the Config folder of 56-byte records listed in list ID_CONFIG_LIST.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/owned_state.h"

constexpr size_t PARAM_FILE_SIZE = 60;       // exported files: the record and the tail
constexpr size_t CONFIG_FILE_SIZE = 56;      // Config files: the record only
constexpr size_t FILE_ROUTE_PATH_MAX = 255;  // usable characters of an export/import path
constexpr size_t CONFIG_PATH_MAX = 259;      // usable characters of a Config path

// A parameter file's record, checked before anything takes it: a regular file of a size its
// route takes (PARAM_FILE_SIZE for import; CONFIG_FILE_SIZE or PARAM_FILE_SIZE for a Config
// load, whose first 56 bytes are taken) holding a record the console's entries could have made
// (checkParameterRecord). Copies `size` bytes into buffer; on refusal buffer is unchanged and
// *why names the file and the first reason. maxPath: the longest path the route holds.
bool loadParamFile(uint8_t* buffer, size_t size, const std::string& path, size_t maxPath,
                   std::string* why);

// The system's file dialogs; the save dialog starts with the proposed name in *path.
bool chooseOpenFile(DialogHandle owner, std::string* path);
bool chooseSaveFile(DialogHandle owner, std::string* path);

// Refills list ID_CONFIG_LIST from the Config folder below the current directory; with no file
// there the list, its label and the store button are hidden for the rest of the run. Every file is
// listed. Returns the count.
int listConfigFiles();
// Stores the record (56 bytes) as a new Config file named from the local time.
bool saveConfigFile(const uint8_t* record);
// Loads the file of the selected entry of list ID_CONFIG_LIST into the record (56 bytes).
bool loadConfigFile(uint8_t* record);

// Commands ID_EXPORT and ID_IMPORT on the 60 bytes of the current record. Import returns true when
// a file was read (the caller shows it).
void exportParamFile(uint8_t* currentRecord);
bool importParamFile(uint8_t* currentRecord);

// The Config folder and its files as last listed in list ID_CONFIG_LIST, one per session (dialog
// thread).
struct ConfigListing {
    std::string folder;
    std::vector<std::string> paths;
};

// The folder of the last listing.
std::string configDir();
