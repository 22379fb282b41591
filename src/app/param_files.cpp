// SPDX-License-Identifier: Apache-2.0
// Parameter files: names from the local time, checked reads, replacing writes, the Config folder.
#include "app/param_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/console.h"
#include "app/texts.h"
#include "params/parameter_record.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const CONFIG_SUBDIR = "\\Config\\";
#else
const char* const CONFIG_SUBDIR = "/Config/";
#endif
const char* const PARAM_EXT = ".dat";

ConfigListing& listing() { return OwnedState<ConfigListing>::get(); }

const DialogBackend* dlg() { return Dialog_Backend(); }
DialogHandle handle() { return consoleState()->dialog; }

std::string currentDirectory() {
    std::error_code ec;
    fs::path p = fs::current_path(ec);
    return ec ? std::string() : Path_ToUtf8(p);
}

bool hasDatExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == PARAM_EXT;
}

std::vector<std::string> findConfigFiles(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(Path_FromUtf8(dir), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        std::string name = Path_ToUtf8(it->path().filename());
        if (hasDatExtension(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void hideConfigControls() {
    for (int id : {ID_CONFIG_LIST, ID_CONFIG_LABEL, ID_CONFIG_STORE})
        dlg()->showControl(handle(), id, false);
}

// Characters as the route's buffers hold them (UTF-16 units), not UTF-8 bytes: a folder named
// "桌面" takes two of them, not six.
size_t pathChars(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
    return n;
}

std::string pathTooLong(const std::string& path, size_t maxPath) {
    return path + ": the path is " + std::to_string(pathChars(path)) +
           " characters, more than the " + std::to_string(maxPath) + " this route holds";
}

// Writes through File_WriteReplace after the route's own length limit and the record's check;
// "" or the reason.
std::string writeRecordFile(const uint8_t* buffer, size_t size, const std::string& path,
                            size_t maxPath) {
    if (pathChars(path) > maxPath) return pathTooLong(path, maxPath);
    // A file written here is one import takes: a record it would refuse never leaves.
    std::string reason;
    if (!checkParameterRecord(buffer, &reason)) return path + ": not written: " + reason;
    return File_WriteReplace(path, buffer, size).message;
}

std::string formatName(const char* format) {
    LocalTime t = Clock_LocalTime();
    char name[64];
    std::snprintf(name, sizeof name, format, t.month, t.day, t.hour, t.minute);
    return name;
}

}  // namespace

bool loadParamFile(uint8_t* buffer, size_t size, const std::string& path, size_t maxPath,
                   std::string* why) {
    if (pathChars(path) > maxPath) {
        *why = pathTooLong(path, maxPath);
        return false;
    }
    std::vector<uint8_t> data;
    FileResult read = File_ReadRegular(path, PARAM_FILE_SIZE, &data);
    if (!read.ok()) {
        *why = read.message;
        return false;
    }
    // Import takes exported files only; a Config load takes its own 56-byte files and
    // exported ones alike.
    bool sizeFits =
        data.size() == size || (size == CONFIG_FILE_SIZE && data.size() == PARAM_FILE_SIZE);
    if (!sizeFits) {
        *why = path + ": is " + std::to_string(data.size()) + " bytes; a parameter file " +
               (size == PARAM_FILE_SIZE ? "to import has 60" : "has 56 or 60");
        return false;
    }
    std::string reason;
    if (!checkParameterRecord(data.data(), &reason)) {
        *why = path + ": " + reason;
        return false;
    }
    std::memcpy(buffer, data.data(), size);
    return true;
}

bool chooseOpenFile(DialogHandle owner, std::string* path) {
    FileDialogRequest request{OPEN_DIALOG_TITLE, FILE_DIALOG_FILTERS, 4, currentDirectory(), ""};
    return dlg()->fileDialog(owner, FILE_DIALOG_OPEN, request, path);
}

bool chooseSaveFile(DialogHandle owner, std::string* path) {
    FileDialogRequest request{SAVE_DIALOG_TITLE, FILE_DIALOG_FILTERS, 4, currentDirectory(), *path};
    return dlg()->fileDialog(owner, FILE_DIALOG_SAVE, request, path);
}

int listConfigFiles() {
    listing().folder = currentDirectory() + CONFIG_SUBDIR;
    listing().paths.clear();
    dlg()->listClear(handle(), ID_CONFIG_LIST);
    std::vector<std::string> names = findConfigFiles(listing().folder);
    if (names.empty()) {
        hideConfigControls();
        return 0;
    }
    for (const std::string& name : names) {
        listing().paths.push_back(listing().folder + name);
        dlg()->listAdd(handle(), ID_CONFIG_LIST, name.c_str());
    }
    return static_cast<int>(names.size());
}

// A new file every time: a second store in the same minute (or whatever else has the name)
// keeps the earlier file, and this one takes the next numbered name.
bool saveConfigFile(const uint8_t* record) {
    std::string name = formatName("Para_%02d%02d_%02d%02d.dat");
    std::string path = listing().folder + name;
    std::string why;
    if (pathChars(path) > CONFIG_PATH_MAX) {
        why = pathTooLong(path, CONFIG_PATH_MAX);
    } else {
        std::string created;
        FileResult made = File_CreateUnique(path, record, CONFIG_FILE_SIZE, &created);
        why = made.message;
        if (made.ok()) name = created.substr(listing().folder.size());
    }
    showConsoleMessage(why.empty() ? MSG_FILE_SAVED : MSG_FILE_NOT_SAVED, name.c_str(), why);
    return why.empty();
}

bool loadConfigFile(uint8_t* record) {
    int index = dlg()->listSelection(handle(), ID_CONFIG_LIST);
    if (index < 0 || index >= static_cast<int>(listing().paths.size())) return false;
    std::string why;
    bool ok =
        loadParamFile(record, CONFIG_FILE_SIZE, listing().paths[index], CONFIG_PATH_MAX, &why);
    std::string shown = dlg()->getText(handle(), ID_CONFIG_LIST);
    showConsoleMessage(ok ? MSG_FILE_READ : MSG_FILE_NOT_READ, shown.c_str(), why);
    return ok;
}

void exportParamFile(uint8_t* currentRecord) {
    std::string path = formatName("Para_%d%d_%d%d.dat");
    if (!chooseSaveFile(handle(), &path)) return;
    std::string why = writeRecordFile(currentRecord, PARAM_FILE_SIZE, path, FILE_ROUTE_PATH_MAX);
    showConsoleMessage(why.empty() ? MSG_FILE_SAVED : MSG_FILE_NOT_SAVED, path.c_str(), why);
}

bool importParamFile(uint8_t* currentRecord) {
    std::string path;
    if (!chooseOpenFile(handle(), &path)) return false;
    if (showConsoleMessage(MSG_IMPORT_QUESTION, path.c_str()) != MSGBOX_RESULT_OK) return false;
    std::string why;
    bool ok = loadParamFile(currentRecord, PARAM_FILE_SIZE, path, FILE_ROUTE_PATH_MAX, &why);
    showConsoleMessage(ok ? MSG_FILE_READ : MSG_FILE_NOT_READ, path.c_str(), why);
    return ok;
}

std::string configDir() { return listing().folder; }
std::vector<std::string> configPaths() { return listing().paths; }
