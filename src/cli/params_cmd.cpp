// SPDX-License-Identifier: Apache-2.0
// The params and config subcommands over the console and the in-memory dialog.
#include "cli/params_cmd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "app/binding.h"
#include "app/console.h"
#include "app/param_files.h"
#include "app/record_store.h"
#include "app/texts.h"
#include "cli/traces_aside.h"
#include "history/history.h"
#include "platform/bytes.h"
#include "platform/checked.h"
#include "platform/dialog_model.h"
#include "platform/msgbox.h"

namespace {

enum FieldKind : uint8_t {
    F_READONLY,
    F_ADD,
    F_SET,
    F_FEATHER_MODE,
    F_SKIP_BLANK,
    F_BAND_SIDES,
    F_BAND_SET,
    F_INK_ORDER,
    F_BAND_ON
};

// Every field of the parameter record, by name, with the entry that changes it.
struct FieldRow {
    const char* name;
    uint8_t offset;
    uint8_t width;  // bytes: 1, 2 or 8 (inkOrder); 0 = a nibble of byte `offset`
    FieldKind kind;
    int entry;
    bool hd;
};
const FieldRow FIELDS[] = {
    {"recordMark", 0x00, 1, F_READONLY, 0, false},
    {"modeIndex", 0x01, 1, F_READONLY, 0, false},
    {"headEnable", 0x02, 1, F_READONLY, 0, false},
    {"bidirTextHigh", 0x03, 1, F_ADD, ID_BIDIR_TEXT_HIGH_ADD, false},
    {"bidirTextMid", 0x04, 1, F_ADD, ID_BIDIR_TEXT_MID_ADD, false},
    {"bidirTextLow", 0x05, 1, F_ADD, ID_BIDIR_TEXT_LOW_ADD, false},
    {"headOffsetA", 0x06, 1, F_READONLY, 0, false},
    {"headDistance", 0x08, 2, F_READONLY, 0, false},
    {"stepPass4", 0x0a, 2, F_SET, ID_PASS4_SET, false},
    {"stepPass6", 0x0c, 2, F_SET, ID_PASS6_SET, false},
    {"stepPass8", 0x0e, 2, F_SET, ID_PASS8_SET, false},
    {"stepPass3", 0x10, 2, F_SET, ID_PASS3_SET, false},
    {"blockWord16", 0x12, 2, F_READONLY, 0, false},
    {"startOffset", 0x14, 2, F_ADD, ID_START_OFFSET_ADD, false},
    {"inkOrder", 0x16, 8, F_INK_ORDER, 0, false},
    {"bidirImageHigh", 0x1e, 1, F_ADD, ID_BIDIR_IMAGE_HIGH_ADD, false},
    {"bidirImageLow", 0x1f, 1, F_ADD, ID_BIDIR_IMAGE_LOW_ADD, false},
    {"bidirPhoto", 0x20, 1, F_ADD, ID_BIDIR_PHOTO_ADD, false},
    {"featherMode", 0x21, 1, F_FEATHER_MODE, 0, false},
    {"featherDepth", 0x22, 1, F_SET, ID_FEATHER_DEPTH_SET, false},
    {"skipLrBlank", 0x26, 1, F_SKIP_BLANK, 0, false},
    {"colorBandOn", 0x27, 0, F_BAND_ON, 0, false},
    {"colorBandSides", 0x27, 0, F_BAND_SIDES, 0, false},
    {"colorBandMargin", 0x28, 1, F_BAND_SET, ID_BAND_MARGIN_SET, false},
    {"colorBandWidth", 0x29, 1, F_BAND_SET, ID_BAND_WIDTH_SET, false},
    {"bidirTextHighHd", 0x2a, 1, F_ADD, ID_BIDIR_TEXT_HIGH_ADD, true},
    {"bidirTextMidHd", 0x2b, 1, F_ADD, ID_BIDIR_TEXT_MID_ADD, true},
    {"bidirTextLowHd", 0x2c, 1, F_ADD, ID_BIDIR_TEXT_LOW_ADD, true},
    {"bidirImageHighHd", 0x2d, 1, F_ADD, ID_BIDIR_IMAGE_HIGH_ADD, true},
    {"bidirImageLowHd", 0x2e, 1, F_ADD, ID_BIDIR_IMAGE_LOW_ADD, true},
    {"stepPass2", 0x30, 2, F_SET, ID_PASS2_SET, false},
};

const FieldRow* findField(const std::string& name) {
    for (const FieldRow& f : FIELDS)
        if (name == f.name) return &f;
    return nullptr;
}

long fieldValue(const FieldRow& f, const uint8_t* r) {
    if (f.kind == F_BAND_ON) return r[f.offset] & 0x0F;
    if (f.kind == F_BAND_SIDES) return r[f.offset] >> 4;
    if (f.kind == F_SKIP_BLANK) return r[f.offset] & 1;
    return f.width == 2 ? le::getU16(r, f.offset) : r[f.offset];
}

void echoBox(const DialogModelBox& box) {
    std::fprintf(stderr, "[%s] %s\n", box.caption.c_str(), box.text.c_str());
}

// The console started as the program's entry would start it, on the in-memory dialog. A
// session that changes the record holds the record's lock from before the console reads it to
// after its SAVE (Record_BeginHold), so that a read, a change and a write are one transaction:
// commands run at once each see the record the one before saved.
struct Session {
    bool attached = false;
    const CliOptions& options;
    TracesAside traces;
    explicit Session(const CliOptions& o) : options(o) {}
    bool start(bool hold = false) {
        if (!Cli_AttachPrinter(options)) return false;
        attached = true;
        DialogModel_Reset();
        DialogModel_CaptureSystemBoxes(true);
        DialogModel_SetBoxEcho(echoBox);
        if (hold && !Record_BeginHold()) return false;  // its box said why
        runConsole(0, 0);
        return true;
    }
    ~Session() {
        Record_EndHold();
        DialogModel_SetBoxEcho(nullptr);
        DialogModel_CaptureSystemBoxes(false);
        if (attached) Cli_DetachPrinter(options);
    }
};

// The last box shows `message`, with `argument` in place of its %s, or any argument when null.
bool lastBoxIs(ConsoleMessage message, const char* argument = nullptr) {
    std::vector<DialogModelBox> boxes = DialogModel_Boxes();
    if (boxes.empty()) return false;
    const std::string& text = boxes.back().text;
    if (argument) return text == consoleText(message, argument).text;
    std::string shape = consoleText(message, "\x01").text;
    size_t at = shape.find('\x01');
    if (at == std::string::npos) return text == shape;
    std::string head = shape.substr(0, at), tail = shape.substr(at + 1);
    return text.size() >= head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// SAVE as the dialog's button: 0 when the record was saved; otherwise 1 after saying what
// became of it (the console's boxes have already said why).
int pressSave() {
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    if (lastBoxIs(MSG_SAVE_OK)) return 0;
    if (lastBoxIs(MSG_SAVE_UNKNOWN))
        std::fprintf(stderr,
                     "headalign: unknown: the printer did not answer, check with params show\n");
    else
        std::fprintf(stderr, "headalign: not saved\n");
    return 1;
}

int refuseEntry(const FieldRow& f, const std::string& text, const char* why) {
    std::fprintf(stderr, "headalign: not applied: the console refused the entry %s=%s (%s)\n",
                 f.name, text.c_str(), why);
    return 1;
}

bool needConnected() {
    if (consoleState()->printerConnected) return true;
    std::fprintf(stderr, "headalign: no parameter record could be read\n");
    return false;
}

void printShow(bool json) {
    const uint8_t* r = consoleState()->currentRecord;
    if (json) std::printf("{");
    bool first = true;
    for (const FieldRow& f : FIELDS) {
        std::string value;
        if (f.kind == F_INK_ORDER) {
            for (int i = 0; i < 8; ++i)
                value += (i ? json ? ", " : " " : "") + std::to_string(r[f.offset + i]);
            if (json) value = "[" + value + "]";
        } else {
            value = std::to_string(fieldValue(f, r));
        }
        if (json)
            std::printf("%s\"%s\": %s", first ? "" : ", ", f.name, value.c_str());
        else
            std::printf("%-17s %s\n", f.name, value.c_str());
        first = false;
    }
    if (json) std::printf("}\n");
}

int usage(const char* what) {
    std::fprintf(stderr, "headalign: %s (see --help)\n", what);
    return 2;
}

bool parseLong(const std::string& text, long* out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno) return false;
    *out = v;
    return true;
}

// Fills the dialog for one NAME=VALUE; false with a message for a usage error.
bool enterInkOrder(const std::string& value) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        size_t comma = value.find(',', start);
        names.push_back(value.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (names.size() != 8) return usage("inkOrder takes eight ink names from left to right"), false;
    if (!DialogModel_Checked(ID_INK_ORDER_BOX)) DialogModel_Click(ID_INK_ORDER_BOX);
    for (int slot = 0; slot < 8; ++slot) {
        int channel = inkNameIndex(names[slot]);
        if (channel >= 0 && names[slot].size() == 2)
            DialogModel_Select(INK_SLOT_LISTS[slot], channel);
        else
            DialogModel_Type(INK_SLOT_LISTS[slot], names[slot]);  // the dialog refuses it
    }
    return true;
}

void tickBandBox() {
    if (!DialogModel_Checked(ID_COLOR_BAND_BOX)) DialogModel_Click(ID_COLOR_BAND_BOX);
}

// Fills the dialog's entry for one NAME=VALUE: 0 when entered, 1 when the console would refuse
// it without a word, 2 (after a message) for a usage error.
enum EntryStatus { ENTRY_OK = 0, ENTRY_REFUSED = 1, ENTRY_USAGE = 2 };
// The most an entry of the dialog holds (seven characters); every field takes far less.
constexpr long ENTRY_VALUE_LIMIT = 9999999;
int enterValue(const FieldRow& f, const std::string& text, bool add) {
    if (f.kind == F_INK_ORDER) {
        if (add) return usage("inkOrder cannot be added to"), ENTRY_USAGE;
        return enterInkOrder(text) ? ENTRY_OK : ENTRY_USAGE;
    }
    long v = 0;
    if (!parseLong(text, &v)) return usage("values are whole numbers"), ENTRY_USAGE;
    long current = fieldValue(f, consoleState()->currentRecord);
    // What the entry is to hold: the amount for an add row, the value for the others. Checked:
    // a number near the limits of long must not wrap into one the field takes.
    std::optional<long> result = f.kind == F_ADD
                                     ? (add ? std::optional<long>(v) : Checked_Sub(v, current))
                                 : add ? Checked_Add(current, v)
                                       : std::optional<long>(v);
    if (f.kind != F_READONLY &&
        (!result || *result < -ENTRY_VALUE_LIMIT || *result > ENTRY_VALUE_LIMIT))
        return refuseEntry(f, text, "far beyond any value the field takes");
    switch (f.kind) {
        case F_ADD: {
            long amount = *result;
            // Amount 0 changes nothing: the entry is left empty rather than holding a 0 SAVE
            // ignores.
            if (amount != 0) DialogModel_Type(f.entry, std::to_string(amount));
            return ENTRY_OK;
        }
        case F_BAND_SET:
            tickBandBox();
            [[fallthrough]];
        case F_SET: {
            long value = *result;
            // A step's "设为:" entry takes 0 as "leave it": SAVE would report success and change
            // nothing.
            if (value == 0 && f.width == 2)
                return refuseEntry(f, text,
                                   add ? "the step would become 0; a step is 1 to 65535"
                                       : "a step is 1 to 65535; 0 leaves it unchanged");
            DialogModel_Type(f.entry, std::to_string(value));
            return ENTRY_OK;
        }
        case F_FEATHER_MODE:
        case F_SKIP_BLANK: {
            long index = *result;
            int list = f.kind == F_FEATHER_MODE ? ID_FEATHER_MODE : ID_SKIP_BLANK;
            if (index < 0 || index >= static_cast<long>(DialogModel_ListEntries(list).size()))
                return usage("no such list entry"), ENTRY_USAGE;
            DialogModel_Select(list, static_cast<int>(index));
            return ENTRY_OK;
        }
        case F_BAND_SIDES: {
            long sides = *result;
            if (sides < 0 || sides > 3)
                return usage("colorBandSides is 0..3 (bit 1 left, bit 0 right)"), ENTRY_USAGE;
            tickBandBox();
            if (DialogModel_Checked(ID_COLOR_LEFT) != ((sides & 2) != 0))
                DialogModel_Click(ID_COLOR_LEFT);
            if (DialogModel_Checked(ID_COLOR_RIGHT) != ((sides & 1) != 0))
                DialogModel_Click(ID_COLOR_RIGHT);
            return ENTRY_OK;
        }
        default: {
            std::string message = std::string(f.name) + " has no entry in the dialog";
            return usage(message.c_str()), ENTRY_USAGE;
        }
    }
}

int setOrAdd(const std::vector<std::string>& args, const CliOptions& options, bool add) {
    bool hd = false;
    std::vector<std::pair<const FieldRow*, std::string>> entries;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--hd") {
            hd = true;
            continue;
        }
        if (args[i].compare(0, 2, "--") == 0)
            return usage(("unknown option '" + args[i] + "'").c_str());
        size_t eq = args[i].find('=');
        const FieldRow* f = eq == std::string::npos ? nullptr : findField(args[i].substr(0, eq));
        if (!f) return usage(("unknown field in '" + args[i] + "'").c_str());
        hd = hd || f->hd;
        entries.emplace_back(f, args[i].substr(eq + 1));
    }
    if (entries.empty()) return usage("name at least one field");
    for (auto& e : entries)
        if (hd && !e.first->hd && e.first->entry && e.first->kind == F_ADD &&
            e.first->offset != 0x20 && e.first->offset != 0x14)
            return usage(
                "with the second-pass box ticked the bidirectional entries change the "
                "second-pass values; name them bidirTextHighHd, ...");
    History_SetSaveOrigin(add ? "params add" : "params set", true);
    Session session(options);
    if (!session.start(true)) return 1;
    if (!needConnected()) return 1;
    if (hd) DialogModel_Click(ID_HD_BOX);
    for (auto& e : entries)
        if (int status = enterValue(*e.first, e.second, add)) return status;
    if (int status = pressSave()) return status;
    // A SAVE empties every entry it applied; one still holding text was passed over.
    for (auto& e : entries)
        if (e.first->entry && !DialogModel_Text(e.first->entry).empty())
            return refuseEntry(*e.first, e.second, "the entry was left as typed");
    return 0;
}

bool askImport(const std::string& path) {
    std::fprintf(stderr, "%s [y/N] ", consoleText(MSG_IMPORT_QUESTION, path.c_str()).text.c_str());
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

// A word that looks like an option where a file or name is expected is refused as one: taken
// as a name it would write or look for a file called "--frob".
int refuseOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-' ? usage(("unknown option '" + word + "'").c_str()) : 0;
}

int exportFile(const std::vector<std::string>& args, const CliOptions& options) {
    for (size_t i = 1; i < args.size(); ++i)
        if (int status = refuseOption(args[i])) return status;
    if (args.size() != 2) return usage("params export takes one file");
    Session session(options);
    if (!session.start()) return 1;
    if (!needConnected()) return 1;
    DialogModel_QueueFile(args[1]);
    DialogModel_ClearBoxes();
    DialogModel_Command(ID_EXPORT);
    return lastBoxIs(MSG_FILE_SAVED, args[1].c_str()) ? 0 : 1;
}

// The fields a record from a file would change, as "name  now -> file" lines.
void printChanges(const uint8_t* now, const uint8_t* incoming) {
    int changes = 0;
    for (const FieldRow& f : FIELDS) {
        if (f.offset == 0) continue;  // SAVE writes the record mark whatever the file holds
        std::string from, to;
        if (f.kind == F_INK_ORDER) {
            if (std::memcmp(now + f.offset, incoming + f.offset, 8) == 0) continue;
            for (int i = 0; i < 8; ++i) {
                if (i) from += ',', to += ',';
                from += std::to_string(now[f.offset + i]);
                to += std::to_string(incoming[f.offset + i]);
            }
        } else {
            if (fieldValue(f, now) == fieldValue(f, incoming)) continue;
            from = std::to_string(fieldValue(f, now));
            to = std::to_string(fieldValue(f, incoming));
        }
        if (changes++ == 0) std::fprintf(stderr, "The file changes:\n");
        std::fprintf(stderr, "  %-17s %s -> %s\n", f.name, from.c_str(), to.c_str());
    }
    if (changes == 0) std::fprintf(stderr, "The file holds the values in use: no field changes.\n");
}

int importFile(const std::vector<std::string>& args, const CliOptions& options) {
    std::string path;
    bool yes = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--yes")
            yes = true;
        else if (refuseOption(args[i]))
            return 2;
        else if (path.empty())
            path = args[i];
        else
            return usage("params import takes one file");
    }
    if (path.empty()) return usage("params import takes one file");
    Session session(options);
    // Held from the read when nobody is asked; while the operator answers the question nothing is
    // held, and the SAVE compares before it writes.
    if (!session.start(yes)) return 1;
    if (!needConnected()) return 1;
    // Checked first, whether asked or not: a file that is no parameter file is never taken.
    uint8_t incoming[PARAM_FILE_SIZE];
    std::string why;
    if (!loadParamFile(incoming, PARAM_FILE_SIZE, path, FILE_ROUTE_PATH_MAX, &why)) {
        std::fprintf(stderr, "%s\n%s\n", consoleText(MSG_FILE_NOT_READ, path.c_str()).text.c_str(),
                     why.c_str());
        return 1;
    }
    printChanges(consoleState()->currentRecord, incoming);
    if (!yes && !askImport(path)) return 1;
    History_SetSaveOrigin("params import " + path, true);
    DialogModel_QueueFile(path);
    DialogModel_QueueAnswer(MSGBOX_RESULT_OK);
    DialogModel_ClearBoxes();
    DialogModel_Command(ID_IMPORT);
    if (!lastBoxIs(MSG_FILE_READ, path.c_str())) return 1;  // the console's box said why
    if (std::memcmp(consoleState()->currentRecord, incoming, PARAM_FILE_SIZE) != 0) {
        std::fprintf(stderr, "headalign: %s changed while it was being imported; nothing saved\n",
                     path.c_str());
        return 1;
    }
    return pressSave();
}

// Only the Config listing: no printer is asked.
intptr_t listingProc(DialogHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

int configList(const CliOptions& options) {
    if (!options.logDir.empty()) Cli_AttachPrinter(CliOptions{"", options.logDir, false});
    DialogModel_Reset();
    consoleState()->dialog = DialogModel_Backend()->create(consoleLayout(), listingProc);
    int count = listConfigFiles();
    std::fflush(stdout);
    for (const std::string& name : DialogModel_ListEntries(ID_CONFIG_LIST))
        std::printf("%s\n", name.c_str());
    if (count == 0) std::fprintf(stderr, "no parameter files in %s\n", configDir().c_str());
    return 0;
}

int configLoad(const std::string& name, const CliOptions& options) {
    Session session(options);
    if (!session.start(true)) return 1;
    if (!needConnected()) return 1;
    std::vector<std::string> entries = DialogModel_ListEntries(ID_CONFIG_LIST);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] != name) continue;
        DialogModel_ClearBoxes();
        DialogModel_Select(ID_CONFIG_LIST, static_cast<int>(i));
        if (!lastBoxIs(MSG_FILE_READ, name.c_str())) return 1;  // the console's box said why
        History_SetSaveOrigin("config load " + name, true);
        return pressSave();
    }
    std::fprintf(stderr, "headalign: no Config file named %s in %s\n", name.c_str(),
                 configDir().c_str());
    return 1;
}

int configStore(const CliOptions& options) {
    Session session(options);
    if (!session.start()) return 1;
    if (!needConnected()) return 1;  // never store a record of zeros
    DialogModel_ClearBoxes();
    DialogModel_Command(ID_CONFIG_STORE);
    return lastBoxIs(MSG_FILE_SAVED) ? 0 : 1;
}

}  // namespace

int Cli_ParamsCommand(const std::vector<std::string>& args, const CliOptions& options) {
    std::string sub = args.empty() ? "" : args[0];
    if (sub == "show") {
        bool json = args.size() == 2 && args[1] == "--json";
        if (args.size() == 2 && !json)
            if (int status = refuseOption(args[1])) return status;
        if (args.size() > 2 || (args.size() == 2 && !json))
            return usage("params show takes only --json");
        Session session(options);
        if (!session.start()) return 1;
        if (!needConnected()) return 1;
        session.traces.restore();
        printShow(json);
        return 0;
    }
    if (sub == "set" || sub == "add") return setOrAdd(args, options, sub == "add");
    if (sub == "export") return exportFile(args, options);
    if (sub == "import") return importFile(args, options);
    return usage("params takes show, set, add, export or import");
}

int Cli_ConfigCommand(const std::vector<std::string>& args, const CliOptions& options) {
    std::string sub = args.empty() ? "" : args[0];
    for (size_t i = 1; i < args.size(); ++i)
        if (int status = refuseOption(args[i])) return status;
    if (sub == "list" && args.size() == 1) return configList(options);
    if (sub == "store" && args.size() == 1) return configStore(options);
    if (sub == "load" && args.size() == 2) return configLoad(args[1], options);
    return usage("config takes list, store or load NAME");
}

bool Cli_ReadParamField(const std::string& name, const CliOptions& options, long* value) {
    const FieldRow* f = findField(name);
    if (!f || f->kind == F_INK_ORDER) return false;
    Session session(options);
    if (!session.start() || !needConnected()) return false;
    *value = fieldValue(*f, consoleState()->currentRecord);
    return true;
}

std::vector<std::string> Cli_ParamFieldNames(bool changeableOnly) {
    std::vector<std::string> names;
    for (const FieldRow& f : FIELDS)
        if (!changeableOnly || f.kind != F_READONLY) names.emplace_back(f.name);
    return names;
}
