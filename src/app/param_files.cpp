// Parameter files: names from the local time, temp-file writes, the Config folder listing.
#include "app/param_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/console.h"
#include "app/texts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/msgbox.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const CONFIG_SUBDIR = "\\Config\\";
#else
const char* const CONFIG_SUBDIR = "/Config/";
#endif
const char* const PARAM_EXT = ".dat";

// Parameter files are 56 or 60 bytes; a file many times that is not one.
constexpr size_t PARAM_FILE_READ_MAX = 4096;

std::string lastConfigDir;
std::string lastReadFailure;
std::vector<std::string> lastConfigPaths;

const DialogBackend* dlg() { return Dialog_Backend(); }
DialogHandle handle() { return consoleState()->dialog; }

std::string currentDirectory() {
    std::error_code ec;
    fs::path p = fs::current_path(ec);
    return ec ? std::string() : p.string();
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
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        std::string name = it->path().filename().string();
        if (hasDatExtension(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void hideConfigControls() {
    for (int id : {ID_CONFIG_LIST, ID_CONFIG_LABEL, ID_CONFIG_STORE}) dlg()->showControl(handle(), id, false);
}

std::string formatName(const char* format) {
    LocalTime t = Clock_LocalTime();
    char name[64];
    std::snprintf(name, sizeof name, format, t.month, t.day, t.hour, t.minute);
    return name;
}

}  // namespace

bool readParamFile(uint8_t* buffer, size_t size, const std::string& path) {
    // Only a regular file: a folder, pipe or device is refused without blocking on it, and
    // nothing larger than a few records is ever read in.
    std::vector<uint8_t> data;
    FileResult read = File_ReadRegular(path, PARAM_FILE_READ_MAX, &data);
    if (!read.ok() || data.size() < size) {
        lastReadFailure = read.ok() ? path + ": has " + std::to_string(data.size()) + " bytes, fewer than the " +
                                          std::to_string(size) + " of a parameter file"
                                    : read.message;
        return false;
    }
    lastReadFailure.clear();
    std::memcpy(buffer, data.data(), size);
    return true;
}

const std::string& paramFileReadFailure() { return lastReadFailure; }

bool writeParamFile(const uint8_t* buffer, size_t size, const std::string& path) {
    std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(buffer, 1, size, f) == size;
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(temp, path, ec);
    if (!ok || ec) {
        fs::remove(temp, ec);
        return false;
    }
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
    lastConfigDir = currentDirectory() + CONFIG_SUBDIR;
    lastConfigPaths.clear();
    dlg()->listClear(handle(), ID_CONFIG_LIST);
    std::vector<std::string> names = findConfigFiles(lastConfigDir);
    if (names.empty()) {
        hideConfigControls();
        return 0;
    }
    for (const std::string& name : names) {
        lastConfigPaths.push_back(lastConfigDir + name);
        dlg()->listAdd(handle(), ID_CONFIG_LIST, name.c_str());
    }
    return static_cast<int>(names.size());
}

bool saveConfigFile(const uint8_t* record) {
    std::string name = formatName("Para_%02d%02d_%02d%02d.dat");
    std::string path = lastConfigDir + name;
    bool ok = path.size() <= CONFIG_PATH_MAX && writeParamFile(record, CONFIG_FILE_SIZE, path);
    showConsoleMessage(ok ? MSG_FILE_SAVED : MSG_FILE_NOT_SAVED, name.c_str());
    return ok;
}

bool loadConfigFile(uint8_t* record) {
    int index = dlg()->listSelection(handle(), ID_CONFIG_LIST);
    if (index < 0 || index >= static_cast<int>(lastConfigPaths.size())) return false;
    const std::string& path = lastConfigPaths[index];
    bool ok = path.size() <= CONFIG_PATH_MAX && readParamFile(record, CONFIG_FILE_SIZE, path);
    std::string shown = dlg()->getText(handle(), ID_CONFIG_LIST);
    showConsoleMessage(ok ? MSG_FILE_READ : MSG_FILE_NOT_READ, shown.c_str());
    return ok;
}

void exportParamFile(uint8_t* currentRecord) {
    std::string path = formatName("Para_%d%d_%d%d.dat");
    if (!chooseSaveFile(handle(), &path)) return;
    bool ok = path.size() <= FILE_ROUTE_PATH_MAX && writeParamFile(currentRecord, PARAM_FILE_SIZE, path);
    showConsoleMessage(ok ? MSG_FILE_SAVED : MSG_FILE_NOT_SAVED, path.c_str());
}

bool importParamFile(uint8_t* currentRecord) {
    std::string path;
    if (!chooseOpenFile(handle(), &path)) return false;
    if (showConsoleMessage(MSG_IMPORT_QUESTION, path.c_str()) != MSGBOX_RESULT_OK) return false;
    bool ok = path.size() <= FILE_ROUTE_PATH_MAX && readParamFile(currentRecord, PARAM_FILE_SIZE, path);
    showConsoleMessage(ok ? MSG_FILE_READ : MSG_FILE_NOT_READ, path.c_str());
    return ok;
}

std::string configDir() { return lastConfigDir; }
std::vector<std::string> configPaths() { return lastConfigPaths; }
