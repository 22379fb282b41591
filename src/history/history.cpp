// SPDX-License-Identifier: Apache-2.0
// The history file: one JSON line per entry after a header naming the printer, read whole and
// replaced whole (it stays small), folded month by month past its size.
#include "history/history.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "history/json.h"
#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "platform/paths.h"
#include "platform/usb_driver.h"

namespace {

HistoryState* state() { return OwnedState<HistoryState>::find(); }

struct ModeField {
    int mode, pass;
    const char* field;
    uint8_t offset, width;
};
// The record fields of the adjustments: the bidirectional bytes (photo mode has one for both
// passes) and the feed-step words.
const ModeField MODE_FIELDS[] = {
    {5, 1, "bidirTextHigh", 0x03, 1},   {6, 1, "bidirTextMid", 0x04, 1},
    {7, 1, "bidirTextLow", 0x05, 1},    {8, 1, "bidirImageHigh", 0x1e, 1},
    {9, 1, "bidirImageLow", 0x1f, 1},   {10, 1, "bidirPhoto", 0x20, 1},
    {5, 2, "bidirTextHighHd", 0x2a, 1}, {6, 2, "bidirTextMidHd", 0x2b, 1},
    {7, 2, "bidirTextLowHd", 0x2c, 1},  {8, 2, "bidirImageHighHd", 0x2d, 1},
    {9, 2, "bidirImageLowHd", 0x2e, 1}, {11, 1, "stepPass4", 0x0a, 2},
    {12, 1, "stepPass6", 0x0c, 2},      {13, 1, "stepPass8", 0x0e, 2},
    {14, 1, "stepPass3", 0x10, 2},      {15, 1, "stepPass2", 0x30, 2},
};

const ModeField* modeField(int mode, int pass) {
    if (mode == 10) pass = 1;
    for (const ModeField& f : MODE_FIELDS)
        if (f.mode == mode && f.pass == pass) return &f;
    return nullptr;
}

const char* const KIND_NAMES[] = {"reading", "save", "verification", "summary"};

std::string hex(const uint8_t* bytes, size_t n) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(DIGITS[bytes[i] >> 4]);
        out.push_back(DIGITS[bytes[i] & 15]);
    }
    return out;
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian, UTC).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

std::string monthOf(int64_t time) {
    int64_t y;
    unsigned m, d;
    int64_t days = time >= 0 ? time / 86400 : (time - 86399) / 86400;
    civilFromDays(days, &y, &m, &d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04lld-%02u", static_cast<long long>(y), m);
    return buf;
}

std::string warn(const std::string& text) {
    std::string line = "headalign: history: " + text;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
    if (HistoryState* s = state()) s->lastWarning = line;
    return line;
}

std::string envText(const char* name) {
#ifdef _WIN32
    std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* v = _wgetenv(wide.c_str());
    return v && *v ? Path_ToUtf8(std::filesystem::path(v)) : std::string();
#else
    const char* v = std::getenv(name);
    return v ? v : "";
#endif
}

// FNV-1a of a text, for telling apart two folders of one name.
uint32_t fnv(const std::string& text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    return h;
}

void appendField(std::string* out, const char* name) {
    if (out->size() > 1) out->push_back(',');
    Json_AppendString(out, name);
    out->push_back(':');
}

// The summary of one mode in a month, found or made.
HistoryModeSummary& modeSummary(HistoryEntry* summary, int mode, int pass) {
    for (HistoryModeSummary& m : summary->modes)
        if (m.mode == mode && m.pass == pass) return m;
    summary->modes.push_back(HistoryModeSummary{});
    summary->modes.back().mode = mode;
    summary->modes.back().pass = pass;
    return summary->modes.back();
}

// Folds `e` (any kind) into the summary of its month.
void fold(HistoryEntry* summary, const HistoryEntry& e) {
    summary->time = std::max(summary->time, e.time);
    if (e.kind == HISTORY_SUMMARY) {
        summary->readings += e.readings;
        summary->saves += e.saves;
        summary->verifications += e.verifications;
        for (const HistoryModeSummary& m : e.modes) {
            HistoryModeSummary& into = modeSummary(summary, m.mode, m.pass);
            if (m.readings > 0) {
                double total = into.mean * into.readings + m.mean * m.readings;
                into.min = into.readings ? std::min(into.min, m.min) : m.min;
                into.max = into.readings ? std::max(into.max, m.max) : m.max;
                into.readings += m.readings;
                into.mean = total / into.readings;
            }
            if (m.hasValue) into.hasValue = true, into.lastValue = m.lastValue;
        }
        return;
    }
    if (e.kind == HISTORY_READING) {
        ++summary->readings;
        HistoryModeSummary& into = modeSummary(summary, e.mode, e.pass);
        into.min = into.readings ? std::min(into.min, e.reading) : e.reading;
        into.max = into.readings ? std::max(into.max, e.reading) : e.reading;
        into.mean = (into.mean * into.readings + e.reading) / (into.readings + 1);
        ++into.readings;
    } else if (e.kind == HISTORY_SAVE) {
        ++summary->saves;
        for (const HistoryChange& c : e.changes) {
            if (c.mode == 0) continue;
            HistoryModeSummary& into = modeSummary(summary, c.mode, c.pass);
            into.hasValue = true;
            into.lastValue = c.after;
        }
    } else {
        ++summary->verifications;
    }
}

size_t serializedSize(const std::vector<HistoryEntry>& entries, size_t header) {
    size_t total = header;
    for (const HistoryEntry& e : entries) total += History_ToJson(e).size() + 1;
    return total;
}

bool parseChange(const JsonValue& v, HistoryChange* c) {
    if (v.kind != JsonValue::OBJECT) return false;
    const JsonValue* field = v.find("field");
    if (!field || field->kind != JsonValue::STRING) return false;
    c->field = field->text;
    c->mode = int(v.numberOr("mode", 0));
    c->pass = int(v.numberOr("pass", 1));
    c->before = long(v.numberOr("old", 0));
    c->after = long(v.numberOr("new", 0));
    return true;
}

bool parseModeSummary(const JsonValue& v, HistoryModeSummary* m) {
    if (v.kind != JsonValue::OBJECT || !v.find("mode")) return false;
    m->mode = int(v.numberOr("mode", 0));
    m->pass = int(v.numberOr("pass", 1));
    m->readings = int(v.numberOr("readings", 0));
    m->mean = v.numberOr("mean", 0);
    m->min = v.numberOr("min", 0);
    m->max = v.numberOr("max", 0);
    if (const JsonValue* last = v.find("lastValue"); last && last->kind == JsonValue::NUMBER) {
        m->hasValue = true;
        m->lastValue = long(last->number);
    }
    return m->readings >= 0;
}

std::string header(const std::string& key) {
    std::string out = "{";
    appendField(&out, HISTORY_MAGIC);
    out += "1";
    appendField(&out, "printer");
    Json_AppendString(&out, key);
    out += "}";
    return out;
}

}  // namespace

// ---- Records and modes ------------------------------------------------------------------

long History_ModeValue(const uint8_t* record, int mode, int pass) {
    const ModeField* f = modeField(mode, pass);
    if (!f) return -1;
    return f->width == 2 ? le::getU16(record, f->offset) : record[f->offset];
}

const char* History_ModeField(int mode, int pass) {
    const ModeField* f = modeField(mode, pass);
    return f ? f->field : nullptr;
}

HistoryEntry History_SaveEntry(const uint8_t* before, const uint8_t* after,
                               const std::string& source, const std::string& outcome) {
    HistoryEntry e;
    e.kind = HISTORY_SAVE;
    e.source = source;
    e.outcome = outcome;
    e.recordBefore = hex(before, 56);
    e.recordAfter = hex(after, 56);
    for (const ModeField& f : MODE_FIELDS) {
        long a = History_ModeValue(before, f.mode, f.pass),
             b = History_ModeValue(after, f.mode, f.pass);
        if (a != b) e.changes.push_back(HistoryChange{f.field, f.mode, f.pass, a, b});
    }
    return e;
}

// ---- Time -------------------------------------------------------------------------------

std::string History_FormatTime(int64_t time) {
    int64_t days = time >= 0 ? time / 86400 : (time - 86399) / 86400;
    int64_t rest = time - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, &y, &m, &d);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m,
                  d, int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
    return buf;
}

bool History_ParseTime(const std::string& text, int64_t* time) {
    if (text.empty()) return false;
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return std::isdigit((unsigned char)c); })) {
        if (text.size() > 12) return false;
        *time = std::strtoll(text.c_str(), nullptr, 10);
        return true;
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10)
        return false;
    if (text.size() > 10) {
        int more = 0;
        if ((text[10] != 'T' && text[10] != ' ') ||
            std::sscanf(text.c_str() + 11, "%2d:%2d:%2d%n", &h, &mi, &s, &more) != 3 || more != 8)
            return false;
        size_t end = 19;
        if (end < text.size() && text[end] == 'Z') ++end;
        if (end != text.size()) return false;
    }
    if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return false;
    *time = daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

int64_t History_Now() {
    std::string forced = envText("HEADALIGN_HISTORY_TIME");
    int64_t t = 0;
    if (!forced.empty() && History_ParseTime(forced, &t)) return t;
    return static_cast<int64_t>(std::time(nullptr));
}

// ---- Where ------------------------------------------------------------------------------

std::string History_DataDir() {
#ifdef _WIN32
    std::string base = envText("LOCALAPPDATA");
    if (base.empty()) base = envText("APPDATA");
    if (base.empty()) return "";
    return base + "\\headalign";
#else
    std::string base = envText("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is ignored, as the XDG base-directory rules ask.
    if (base.empty() || base[0] != '/') {
        std::string home = envText("HOME");
        if (home.empty()) return "";
        base = home + "/.local/share";
    }
    return base + "/headalign";
#endif
}

std::string History_PrinterKey(const std::string& folder) {
    if (folder.empty()) return History_UsbPrinterKey("");
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(Path_FromUtf8(folder), ec);
    if (ec) p = std::filesystem::absolute(Path_FromUtf8(folder), ec);
    std::string full = Path_ToUtf8(p.lexically_normal());
    while (full.size() > 1 && (full.back() == '/' || full.back() == '\\')) full.pop_back();
    std::string name = Path_ToUtf8(Path_FromUtf8(full).filename());
    std::string safe;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        safe.push_back(std::isalnum(u) || c == '-' || c == '_' || c == '.' ? c : '_');
        if (safe.size() >= 40) break;
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08x", fnv(full));
    return "vprinter-" + safe + "-" + tag;
}

std::string History_UsbSerialText(const std::string& raw) {
    std::string kept;
    for (size_t i = 0; i < raw.size() && kept.size() < HISTORY_SERIAL_MAX; ++i) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x20 && c < 0x7f && !(c == ' ' && kept.empty())) kept.push_back(char(c));
    }
    while (!kept.empty() && kept.back() == ' ') kept.pop_back();  // a padded field
    return kept;
}

std::string History_UsbPrinterKey(const std::string& serial) {
    const std::string text = History_UsbSerialText(serial);
    if (text.empty()) return "usb-2408-0003";
    // Letters, digits, '-' and '_' stand as they are; anything else (a separator, a dot, a
    // character a file system refuses) becomes '_', and then the key carries a tag of the whole
    // text so that two serial numbers that differ only there keep two histories.
    std::string safe;
    for (char c : text)
        safe.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c
                                                                                           : '_');
    std::string key = "usb-2408-0003-" + safe;
    if (safe != text || text.size() < serial.size()) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "-%08x", fnv(serial));
        key += tag;
    }
    return key;
}

std::string History_ReadUsbSerial() {
    const UsbDriverBackend* usb = UsbDriver_Get();
    if (!usb || !usb->serialNumber || !usb->enumBegin()) return "";
    std::string serial;
    char path[512];
    for (uint32_t i = 0; i < 256; ++i) {
        int got = usb->enumPath(i, path, sizeof path);
        if (got == 0) break;
        if (got < 0) continue;
        std::string lower(path);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.find("vid_2408") == std::string::npos ||
            lower.find("pid_0003") == std::string::npos)
            continue;
        // Room for the longest string a device can give and one byte more, so a back end that
        // hands over more than that is seen cut.
        char text[HISTORY_SERIAL_READ_CAP] = {};
        if (usb->serialNumber(path, text, sizeof text))
            serial.assign(text, std::find(text, text + sizeof text, '\0'));
        break;
    }
    usb->enumEnd();
    return serial;
}

std::string History_FilePath(const std::string& key) {
    std::string dir = History_DataDir();
    if (dir.empty()) return "";
#ifdef _WIN32
    return dir + "\\history\\" + key + ".jsonl";
#else
    return dir + "/history/" + key + ".jsonl";
#endif
}

void History_UsePrinter(const std::string& folder) {
    HistoryState* s = state();
    if (!s) return;
    s->printerKey = folder.empty() ? History_UsbPrinterKey(History_ReadUsbSerial())
                                   : History_PrinterKey(folder);
}

void History_Stop() {
    if (HistoryState* s = state()) s->printerKey.clear();
}

void History_SetSaveOrigin(const std::string& origin, bool keepEarlier) {
    HistoryState* s = state();
    if (s && (!keepEarlier || s->saveOrigin.empty())) s->saveOrigin = origin;
}

std::string History_SaveOrigin() {
    HistoryState* s = state();
    return s && !s->saveOrigin.empty() ? s->saveOrigin : "console SAVE";
}

// ---- JSON lines -------------------------------------------------------------------------

std::string History_ToJson(const HistoryEntry& e) {
    std::string out = "{";
    appendField(&out, "time");
    Json_AppendString(&out, History_FormatTime(e.time));
    appendField(&out, "t");
    out += Json_Number(double(e.time));
    appendField(&out, "kind");
    Json_AppendString(&out, KIND_NAMES[e.kind <= HISTORY_SUMMARY ? e.kind : 0]);
    if (e.kind == HISTORY_READING || e.kind == HISTORY_VERIFICATION) {
        appendField(&out, "mode");
        out += Json_Number(e.mode);
        appendField(&out, "pass");
        out += Json_Number(e.pass);
        appendField(&out, "reading");
        out += Json_Number(std::round(e.reading * 10000) / 10000);
        appendField(&out, "spread");
        out += Json_Number(std::round(e.spread * 10000) / 10000);
        appendField(&out, "certain");
        out += e.certain ? "true" : "false";
        if (e.kind == HISTORY_VERIFICATION) {
            appendField(&out, "aligned");
            out += e.aligned ? "true" : "false";
        }
        appendField(&out, "picture");
        Json_AppendString(&out, e.picture);
    }
    if (e.kind != HISTORY_SUMMARY) {
        appendField(&out, "source");
        Json_AppendString(&out, e.source);
    }
    if (e.kind == HISTORY_SAVE) {
        appendField(&out, "outcome");
        Json_AppendString(&out, e.outcome);
        appendField(&out, "changes");
        out += "[";
        for (size_t i = 0; i < e.changes.size(); ++i) {
            const HistoryChange& c = e.changes[i];
            out += i ? ",{" : "{";
            std::string inner = "{";
            appendField(&inner, "field");
            Json_AppendString(&inner, c.field);
            appendField(&inner, "mode");
            inner += Json_Number(c.mode);
            appendField(&inner, "pass");
            inner += Json_Number(c.pass);
            appendField(&inner, "old");
            inner += Json_Number(double(c.before));
            appendField(&inner, "new");
            inner += Json_Number(double(c.after));
            out += inner.substr(1) + "}";
        }
        out += "]";
        appendField(&out, "old");
        Json_AppendString(&out, e.recordBefore);
        appendField(&out, "new");
        Json_AppendString(&out, e.recordAfter);
    }
    if (e.kind == HISTORY_SUMMARY) {
        appendField(&out, "month");
        Json_AppendString(&out, e.month);
        appendField(&out, "readings");
        out += Json_Number(e.readings);
        appendField(&out, "saves");
        out += Json_Number(e.saves);
        appendField(&out, "verifications");
        out += Json_Number(e.verifications);
        appendField(&out, "modes");
        out += "[";
        for (size_t i = 0; i < e.modes.size(); ++i) {
            const HistoryModeSummary& m = e.modes[i];
            std::string inner = "{";
            appendField(&inner, "mode");
            inner += Json_Number(m.mode);
            appendField(&inner, "pass");
            inner += Json_Number(m.pass);
            appendField(&inner, "readings");
            inner += Json_Number(m.readings);
            if (m.readings > 0) {
                appendField(&inner, "mean");
                inner += Json_Number(std::round(m.mean * 10000) / 10000);
                appendField(&inner, "min");
                inner += Json_Number(m.min);
                appendField(&inner, "max");
                inner += Json_Number(m.max);
            }
            if (m.hasValue) {
                appendField(&inner, "lastValue");
                inner += Json_Number(double(m.lastValue));
            }
            out += (i ? "," : "") + inner + "}";
        }
        out += "]";
    }
    out += "}";
    return out;
}

bool History_FromJson(const std::string& line, HistoryEntry* e, std::string* reason) {
    JsonValue v;
    if (!Json_Parse(line, &v, reason)) return false;
    auto refuse = [&](const char* why) {
        if (reason) *reason = why;
        return false;
    };
    if (v.kind != JsonValue::OBJECT) return refuse("not a JSON object");
    *e = HistoryEntry{};
    std::string kind = v.textOr("kind", "");
    int k = -1;
    for (int i = 0; i < 4; ++i)
        if (kind == KIND_NAMES[i]) k = i;
    if (k < 0) return refuse("no known \"kind\"");
    e->kind = static_cast<HistoryKind>(k);
    const JsonValue* t = v.find("t");
    if (!t || t->kind != JsonValue::NUMBER || t->number < 0 || t->number > 253402300799.0)
        return refuse("no time \"t\"");
    e->time = static_cast<int64_t>(t->number);
    e->source = v.textOr("source", "");
    if (e->kind == HISTORY_READING || e->kind == HISTORY_VERIFICATION) {
        e->mode = int(v.numberOr("mode", 0));
        e->pass = int(v.numberOr("pass", 1));
        if (e->mode < 5 || e->mode > 15 || (e->pass != 1 && e->pass != 2))
            return refuse("a mode outside 5..15 or a pass other than 1 and 2");
        e->reading = v.numberOr("reading", 0);
        e->spread = v.numberOr("spread", 0);
        e->certain = v.boolOr("certain", false);
        e->aligned = v.boolOr("aligned", false);
        e->picture = v.textOr("picture", "");
    } else if (e->kind == HISTORY_SAVE) {
        e->outcome = v.textOr("outcome", "saved");
        e->recordBefore = v.textOr("old", "");
        e->recordAfter = v.textOr("new", "");
        if (const JsonValue* changes = v.find("changes")) {
            if (changes->kind != JsonValue::ARRAY) return refuse("\"changes\" is not a list");
            for (const JsonValue& c : changes->items) {
                HistoryChange change;
                if (!parseChange(c, &change)) return refuse("a change without its field");
                e->changes.push_back(change);
            }
        }
    } else {
        e->month = v.textOr("month", "");
        e->readings = int(v.numberOr("readings", 0));
        e->saves = int(v.numberOr("saves", 0));
        e->verifications = int(v.numberOr("verifications", 0));
        if (const JsonValue* modes = v.find("modes")) {
            if (modes->kind != JsonValue::ARRAY) return refuse("\"modes\" is not a list");
            for (const JsonValue& m : modes->items) {
                HistoryModeSummary s;
                if (!parseModeSummary(m, &s)) return refuse("a mode summary without its mode");
                e->modes.push_back(s);
            }
        }
        if (e->month.size() != 7) return refuse("a summary without its month");
    }
    return true;
}

// ---- The file ---------------------------------------------------------------------------

bool History_Load(const std::string& path, const std::string& expectedKey,
                  std::vector<HistoryEntry>* entries, std::string* error) {
    entries->clear();
    std::vector<uint8_t> bytes;
    FileResult read = File_ReadRegular(path, HISTORY_READ_CAP, &bytes);
    if (!read.ok()) {
        *error = read.status == FILE_MISSING ? path + ": no history yet" : read.message;
        return false;
    }
    std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    int lineNumber = 0;
    bool sawHeader = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::string why;
        if (!sawHeader) {
            JsonValue v;
            const JsonValue* magic = nullptr;
            if (!Json_Parse(line, &v, &why) || !(magic = v.find(HISTORY_MAGIC)) ||
                magic->kind != JsonValue::NUMBER) {
                *error = path + " is not a headalign history (its first line is no history header)";
                return false;
            }
            if (magic->number != 1) {
                *error =
                    path + " is a history of a later version (" + Json_Number(magic->number) + ")";
                return false;
            }
            std::string key = v.textOr("printer", "");
            if (!expectedKey.empty() && key != expectedKey) {
                *error = path + " is the history of another printer (" + key + ")";
                return false;
            }
            sawHeader = true;
            continue;
        }
        HistoryEntry e;
        if (!History_FromJson(line, &e, &why)) {
            *error = path + " is damaged (line " + std::to_string(lineNumber) + ": " + why + ")";
            entries->clear();
            return false;
        }
        entries->push_back(std::move(e));
    }
    if (!sawHeader) {
        *error = path + " is not a headalign history (it is empty)";
        return false;
    }
    return true;
}

std::string History_Serialize(const std::string& key, std::vector<HistoryEntry>* entries,
                              size_t maxBytes) {
    std::stable_sort(entries->begin(), entries->end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.time < b.time; });
    const std::string head = header(key);
    size_t total = serializedSize(*entries, head.size() + 1);
    if (total > maxBytes) {
        // Fold down to three quarters, so that the next entries do not fold again at once.
        const size_t target = maxBytes / 4 * 3;
        while (total > target) {
            // The oldest month that still has entries of its own.
            std::string month;
            size_t firstRaw = entries->size();
            for (size_t i = 0; i < entries->size(); ++i)
                if ((*entries)[i].kind != HISTORY_SUMMARY) {
                    firstRaw = i;
                    month = monthOf((*entries)[i].time);
                    break;
                }
            if (firstRaw == entries->size()) {
                // Only summaries: the oldest goes (a history decades long).
                if (entries->size() <= 1) break;
                entries->erase(entries->begin());
            } else {
                std::vector<size_t> ofMonth;
                for (size_t i = 0; i < entries->size(); ++i)
                    if ((*entries)[i].kind != HISTORY_SUMMARY &&
                        monthOf((*entries)[i].time) == month)
                        ofMonth.push_back(i);
                bool newest = true;
                for (size_t i = 0; i < entries->size(); ++i)
                    if ((*entries)[i].kind != HISTORY_SUMMARY &&
                        monthOf((*entries)[i].time) > month)
                        newest = false;
                // The month still running keeps its newer half as it is.
                if (newest && ofMonth.size() > 1) ofMonth.resize(ofMonth.size() / 2);
                HistoryEntry summary;
                summary.kind = HISTORY_SUMMARY;
                summary.month = month;
                size_t existing = entries->size();
                for (size_t i = 0; i < entries->size(); ++i)
                    if ((*entries)[i].kind == HISTORY_SUMMARY && (*entries)[i].month == month)
                        existing = i;
                if (existing != entries->size()) fold(&summary, (*entries)[existing]);
                for (size_t i : ofMonth) fold(&summary, (*entries)[i]);
                std::vector<HistoryEntry> kept;
                for (size_t i = 0; i < entries->size(); ++i)
                    if (i != existing &&
                        std::find(ofMonth.begin(), ofMonth.end(), i) == ofMonth.end())
                        kept.push_back(std::move((*entries)[i]));
                kept.push_back(summary);
                *entries = std::move(kept);
                std::stable_sort(
                    entries->begin(), entries->end(),
                    [](const HistoryEntry& a, const HistoryEntry& b) { return a.time < b.time; });
            }
            total = serializedSize(*entries, head.size() + 1);
        }
    }
    std::string out = head + "\n";
    for (const HistoryEntry& e : *entries) out += History_ToJson(e) + "\n";
    return out;
}

bool History_Record(const HistoryEntry& entry) {
    HistoryState* s = state();
    if (!s || s->printerKey.empty()) return false;
    const std::string key = s->printerKey;
    const std::string path = History_FilePath(key);
    if (path.empty()) {
        warn("no data folder (neither XDG_DATA_HOME nor HOME is set); not recorded");
        return false;
    }
    std::filesystem::path folder = Path_FromUtf8(path).parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        warn("cannot create " + Path_ToUtf8(folder) + ": " + ec.message() + "; not recorded");
        return false;
    }
    // One writer at a time per printer: the console and a command may both be saving.
    FolderLock lock;
    FolderLockResult taken;
    for (int attempt = 0; attempt < 20; ++attempt) {
        taken = FolderLock_Take(Path_ToUtf8(folder), (key + ".lock").c_str(), &lock);
        if (taken.status != FOLDER_LOCK_BUSY) break;
        Clock_Sleep(50);
    }
    if (taken.status != FOLDER_LOCK_TAKEN) {
        warn(path + " is being written by another program" +
             (taken.message.empty() ? "" : ": " + taken.message) + "; not recorded");
        return false;
    }
    std::vector<HistoryEntry> entries;
    std::string error;
    bool ok = true;
    // The file is the program's own: a link, folder or pipe planted at its name is refused.
    if (FileResult own = File_CheckOwn(path); !own.ok()) {
        warn(own.message + "; it is left as it is and nothing is recorded");
        FolderLock_Release(&lock);
        return false;
    }
    if (!History_Load(path, key, &entries, &error)) {
        std::vector<uint8_t> probe;
        if (File_ReadRegular(path, 1, &probe).status != FILE_MISSING) {
            warn(error + "; it is left as it is and nothing is recorded");
            ok = false;
        }
        entries.clear();
    }
    if (ok) {
        HistoryEntry e = entry;
        if (e.time == 0) e.time = History_Now();
        entries.push_back(e);
        std::string text = History_Serialize(key, &entries);
        FileResult written =
            File_ReplaceOwn(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        if (!written.ok()) {
            warn(written.message + "; not recorded");
            ok = false;
        }
    }
    FolderLock_Release(&lock);
    return ok;
}
