// SPDX-License-Identifier: Apache-2.0
// Scanner back end on SANE (libsane): devices listed by sane_get_devices, one picture read
// frame by frame with sane_read. Each call is one SANE session of its own (sane_init ..
// sane_exit), so nothing of SANE stays open between scans and a scanner plugged in meanwhile is
// found. Options are set by their SANE names, so the device's own options pass through as the
// usual SANE front ends pass them.
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/scanner.h"

namespace {

ScanStatus fromSane(SANE_Status s) {
    switch (s) {
        case SANE_STATUS_GOOD:
        case SANE_STATUS_EOF:
            return ScanStatus::Ok;
        case SANE_STATUS_DEVICE_BUSY:
            return ScanStatus::Busy;
        case SANE_STATUS_COVER_OPEN:
            return ScanStatus::CoverOpen;
        case SANE_STATUS_JAMMED:
            return ScanStatus::Jammed;
        case SANE_STATUS_NO_DOCS:
            return ScanStatus::NoDocument;
        case SANE_STATUS_CANCELLED:
            return ScanStatus::Cancelled;
        case SANE_STATUS_ACCESS_DENIED:
            return ScanStatus::AccessDenied;
        case SANE_STATUS_IO_ERROR:
            return ScanStatus::IoError;
        case SANE_STATUS_NO_MEM:
            return ScanStatus::NoMemory;
        default:
            return ScanStatus::Failed;
    }
}

// One SANE session: sane_init on entry, sane_exit on leaving. SANE is not made for two sessions
// at once: a listing on one thread and a scan on another take turns.
std::mutex saneMutex;
struct SaneSession {
    std::lock_guard<std::mutex> lock{saneMutex};
    SANE_Status status;
    SaneSession() {
        SANE_Int version = 0;
        status = sane_init(&version, nullptr);
    }
    ~SaneSession() {
        if (status == SANE_STATUS_GOOD) sane_exit();
    }
    SaneSession(const SaneSession&) = delete;
    SaneSession& operator=(const SaneSession&) = delete;
};

struct OpenDevice {
    SANE_Handle handle = nullptr;
    ~OpenDevice() {
        if (!handle) return;
        sane_cancel(handle);
        sane_close(handle);
    }
};

std::string text(SANE_String_Const s) { return s ? s : ""; }

bool listDevices(std::vector<ScannerDevice>* out, std::string* error) {
    SaneSession session;
    if (session.status != SANE_STATUS_GOOD) {
        *error = std::string("SANE did not start: ") + sane_strstatus(session.status);
        return false;
    }
    const SANE_Device** devices = nullptr;
    SANE_Status s = sane_get_devices(&devices, SANE_FALSE);
    if (s != SANE_STATUS_GOOD) {
        *error = std::string("SANE could not list the scanners: ") + sane_strstatus(s);
        return false;
    }
    for (size_t i = 0; devices && devices[i]; ++i)
        out->push_back(ScannerDevice{text(devices[i]->name), text(devices[i]->vendor),
                                     text(devices[i]->model), text(devices[i]->type)});
    return true;
}

// An option of the open device by its name: its number (0 when there is none) and descriptor.
SANE_Int findOption(SANE_Handle h, const std::string& name, const SANE_Option_Descriptor** out) {
    SANE_Int count = 0;
    if (sane_control_option(h, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return 0;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (d && d->name && name == d->name) {
            *out = d;
            return i;
        }
    }
    return 0;
}

bool parseBool(const std::string& v, SANE_Bool* out) {
    static const char* const YES[] = {"yes", "true", "on", "1"};
    static const char* const NO[] = {"no", "false", "off", "0"};
    for (const char* y : YES)
        if (v == y) return *out = SANE_TRUE, true;
    for (const char* n : NO)
        if (v == n) return *out = SANE_FALSE, true;
    return false;
}

// The values a constrained option takes, for a refusal's message.
std::string allowedValues(const SANE_Option_Descriptor* d) {
    std::string out;
    if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
        for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
            out += (out.empty() ? "" : "|") + std::string(*s);
    } else if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        const SANE_Range* r = d->constraint.range;
        auto show = [d](SANE_Word w) {
            char b[32];
            if (d->type == SANE_TYPE_FIXED)
                std::snprintf(b, sizeof b, "%g", SANE_UNFIX(w));
            else
                std::snprintf(b, sizeof b, "%d", static_cast<int>(w));
            return std::string(b);
        };
        out = show(r->min) + ".." + show(r->max);
    } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        for (SANE_Int i = 1; i <= d->constraint.word_list[0]; ++i) {
            char b[32];
            SANE_Word w = d->constraint.word_list[i];
            if (d->type == SANE_TYPE_FIXED)
                std::snprintf(b, sizeof b, "%g", SANE_UNFIX(w));
            else
                std::snprintf(b, sizeof b, "%d", static_cast<int>(w));
            out += (out.empty() ? "" : "|") + std::string(b);
        }
    }
    return out;
}

// Sets option `name` from its text. A setting of ours (required false) that the device does not
// have or refuses is passed over; one the operator asked for is a BadOption naming it.
ScanStatus setOption(SANE_Handle h, const std::string& name, const std::string& value,
                     bool required, std::string* detail) {
    const SANE_Option_Descriptor* d = nullptr;
    SANE_Int n = findOption(h, name, &d);
    auto refuse = [&](const std::string& why) {
        if (!required) return ScanStatus::Ok;
        *detail = why;
        return ScanStatus::BadOption;
    };
    if (!n) return refuse("the scanner has no option '" + name + "'");
    if (!SANE_OPTION_IS_SETTABLE(d->cap) || !SANE_OPTION_IS_ACTIVE(d->cap))
        return refuse("option '" + name + "' cannot be set now");
    const size_t words = std::max<size_t>(1, static_cast<size_t>(d->size) / sizeof(SANE_Word));
    std::vector<SANE_Word> buffer(words + 1, 0);
    std::string str;
    void* data = buffer.data();
    const std::string bad = "option '" + name + "' does not take '" + value + "'";
    const std::string allowed = allowedValues(d);
    const std::string hint = allowed.empty() ? "" : " (it takes " + allowed + ")";
    switch (d->type) {
        case SANE_TYPE_BOOL: {
            SANE_Bool b = SANE_FALSE;
            if (!parseBool(value, &b)) return refuse(bad + " (it takes yes or no)");
            buffer[0] = b;
            break;
        }
        case SANE_TYPE_INT:
        case SANE_TYPE_FIXED: {
            // One number for every element, or one per element separated by commas.
            std::vector<double> numbers;
            const char* p = value.c_str();
            while (true) {
                char* end = nullptr;
                errno = 0;
                double v = std::strtod(p, &end);
                if (end == p || errno || !std::isfinite(v) || std::fabs(v) > 32767)
                    return refuse(bad + hint);
                numbers.push_back(v);
                if (*end == '\0') break;
                if (*end != ',') return refuse(bad + hint);
                p = end + 1;
            }
            if (numbers.size() != 1 && numbers.size() != words) return refuse(bad + hint);
            for (size_t i = 0; i < words; ++i) {
                double v = numbers[numbers.size() == 1 ? 0 : i];
                buffer[i] = d->type == SANE_TYPE_FIXED ? SANE_FIX(v)
                                                       : static_cast<SANE_Word>(std::lround(v));
            }
            break;
        }
        case SANE_TYPE_STRING:
            if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
                bool listed = false;
                for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
                    listed = listed || value == *s;
                if (!listed) return refuse(bad + hint);
            }
            if (value.size() + 1 > static_cast<size_t>(d->size)) return refuse(bad + " (too long)");
            str.assign(value.c_str(), value.size() + 1);
            str.resize(static_cast<size_t>(d->size), '\0');
            data = str.data();
            break;
        case SANE_TYPE_BUTTON:
            data = nullptr;
            break;
        default:
            return refuse("option '" + name + "' is not a value");
    }
    SANE_Int info = 0;
    SANE_Status s = sane_control_option(h, n, SANE_ACTION_SET_VALUE, data, &info);
    if (s == SANE_STATUS_INVAL) return refuse(bad + hint);
    if (s != SANE_STATUS_GOOD) {
        if (!required) return ScanStatus::Ok;
        *detail = "option '" + name + "': " + sane_strstatus(s);
        return fromSane(s);
    }
    return ScanStatus::Ok;
}

// A number option's value (INT or FIXED), 0 when the device has none.
double numberOption(SANE_Handle h, const char* name) {
    const SANE_Option_Descriptor* d = nullptr;
    SANE_Int n = findOption(h, name, &d);
    if (!n || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
        return 0;
    if (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) return 0;
    std::vector<SANE_Word> value(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 1, 0);
    if (sane_control_option(h, n, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
        return 0;
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(value[0]) : value[0];
}

// The value a number option takes nearest to `want` (its range's bound, its list's neighbour).
double nearestAllowed(SANE_Handle h, const char* name, double want) {
    const SANE_Option_Descriptor* d = nullptr;
    if (!findOption(h, name, &d)) return want;
    auto unfix = [d](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : w; };
    if (d->constraint_type == SANE_CONSTRAINT_RANGE)
        return std::clamp(want, unfix(d->constraint.range->min), unfix(d->constraint.range->max));
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list[0] > 0) {
        double best = unfix(d->constraint.word_list[1]);
        for (SANE_Int i = 2; i <= d->constraint.word_list[0]; ++i) {
            double v = unfix(d->constraint.word_list[i]);
            if (std::fabs(v - want) < std::fabs(best - want)) best = v;
        }
        return best;
    }
    return want;
}

// The far end of an area option (br-x, br-y) in millimetres, 0 when it has no range in mm.
double areaMax(SANE_Handle h, const char* name) {
    const SANE_Option_Descriptor* d = nullptr;
    if (!findOption(h, name, &d) || d->unit != SANE_UNIT_MM ||
        d->constraint_type != SANE_CONSTRAINT_RANGE)
        return 0;
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(d->constraint.range->max)
                                      : d->constraint.range->max;
}

std::string number(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

// Our settings first (grey, resolution, the area), then the operator's options in order.
ScanStatus configure(SANE_Handle h, const ScanRequest& r, std::string* detail) {
    if (r.grey) {
        const SANE_Option_Descriptor* d = nullptr;
        if (findOption(h, SANE_NAME_SCAN_MODE, &d) &&
            d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
            for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
                if (std::strcmp(*s, SANE_VALUE_SCAN_MODE_GRAY) == 0)
                    setOption(h, SANE_NAME_SCAN_MODE, *s, false, detail);
        }
    }
    if (r.dpi > 0)
        for (const char* name :
             {SANE_NAME_SCAN_RESOLUTION, SANE_NAME_SCAN_X_RESOLUTION, SANE_NAME_SCAN_Y_RESOLUTION})
            setOption(h, name, number(nearestAllowed(h, name, r.dpi)), false, detail);
    // The top left corner first: some devices keep the far corner beyond the near one.
    setOption(h, SANE_NAME_SCAN_TL_X, "0", false, detail);
    setOption(h, SANE_NAME_SCAN_TL_Y, "0", false, detail);
    const double w = r.widthMm > 0 ? r.widthMm : areaMax(h, SANE_NAME_SCAN_BR_X);
    const double ht = r.heightMm > 0 ? r.heightMm : areaMax(h, SANE_NAME_SCAN_BR_Y);
    if (w > 0)
        setOption(h, SANE_NAME_SCAN_BR_X, number(nearestAllowed(h, "br-x", w)), false, detail);
    if (ht > 0)
        setOption(h, SANE_NAME_SCAN_BR_Y, number(nearestAllowed(h, "br-y", ht)), false, detail);
    for (const ScanOption& o : r.options)
        if (ScanStatus s = setOption(h, o.name, o.value, true, detail); s != ScanStatus::Ok)
            return s;
    return ScanStatus::Ok;
}

bool cancelled(const ScanRequest& r) { return r.cancel && r.cancel->load(); }

// One sample (0..255) of a frame's row: channel `c` of pixel `x`, `channels` per pixel.
uint8_t sample(const uint8_t* row, const SANE_Parameters& p, int channels, size_t x, int c) {
    const size_t i = x * static_cast<size_t>(channels) + static_cast<size_t>(c);
    if (p.depth == 16) {
        uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);  // the device's samples come in the host's byte order
        return static_cast<uint8_t>(v >> 8);
    }
    if (p.depth == 1) return (row[i / 8] >> (7 - i % 8)) & 1 ? 0 : 255;  // 1 is black
    return row[i];
}

// Reads one frame into `raw`, calling progress after each block. Ok at its end.
ScanStatus readFrame(SANE_Handle h, const ScanRequest& r, uint64_t cap, uint64_t* done,
                     uint64_t total, std::vector<uint8_t>* raw, std::string* detail) {
    std::vector<uint8_t> block(64 * 1024);
    while (true) {
        if (cancelled(r)) return ScanStatus::Cancelled;
        SANE_Int got = 0;
        SANE_Status s = sane_read(h, block.data(), static_cast<SANE_Int>(block.size()), &got);
        if (s == SANE_STATUS_EOF) return ScanStatus::Ok;
        if (s != SANE_STATUS_GOOD) {
            if (fromSane(s) == ScanStatus::Failed) *detail = sane_strstatus(s);
            return fromSane(s);
        }
        if (got < 0 || static_cast<size_t>(got) > block.size()) {
            *detail = "the device sent a block of a wrong length";
            return ScanStatus::Failed;
        }
        if (raw->size() + static_cast<size_t>(got) > cap) return ScanStatus::TooLarge;
        raw->insert(raw->end(), block.begin(), block.begin() + got);
        *done += static_cast<uint64_t>(got);
        if (r.progress) r.progress(r.progressContext, *done, total);
    }
}

ScanStatus scanWith(SANE_Handle h, const ScanRequest& r, ImagePixels* out, std::string* detail) {
    if (ScanStatus s = configure(h, r, detail); s != ScanStatus::Ok) return s;
    double xdpi = numberOption(h, SANE_NAME_SCAN_X_RESOLUTION);
    double ydpi = numberOption(h, SANE_NAME_SCAN_Y_RESOLUTION);
    const double dpi = numberOption(h, SANE_NAME_SCAN_RESOLUTION);
    if (xdpi <= 0) xdpi = dpi;
    if (ydpi <= 0) ydpi = xdpi;
    uint64_t done = 0;
    bool first = true;
    while (true) {
        if (cancelled(r)) return ScanStatus::Cancelled;
        SANE_Status s = sane_start(h);
        if (s != SANE_STATUS_GOOD) {
            if (fromSane(s) == ScanStatus::Failed) *detail = sane_strstatus(s);
            return fromSane(s);
        }
        SANE_Parameters p{};
        if (sane_get_parameters(h, &p) != SANE_STATUS_GOOD || p.pixels_per_line <= 0 ||
            p.bytes_per_line <= 0 || (p.depth != 1 && p.depth != 8 && p.depth != 16)) {
            *detail = "the device describes a picture this program does not read";
            return ScanStatus::Failed;
        }
        const bool rgb = p.format == SANE_FRAME_RGB;
        const int channels = rgb ? 3 : 1;
        int target = -1;  // the channel of a one-colour frame; -1: grey or all three
        if (p.format == SANE_FRAME_RED) target = 0;
        if (p.format == SANE_FRAME_GREEN) target = 1;
        if (p.format == SANE_FRAME_BLUE) target = 2;
        if (p.format != SANE_FRAME_GRAY && !rgb && target < 0) {
            *detail = "the device sends frames of a kind this program does not read";
            return ScanStatus::Failed;
        }
        const uint64_t width = static_cast<uint64_t>(p.pixels_per_line);
        const uint64_t bpl = static_cast<uint64_t>(p.bytes_per_line);
        if (bpl * 8 < width * static_cast<uint64_t>(channels * p.depth)) {
            *detail = "the device's line length does not hold its pixels";
            return ScanStatus::Failed;
        }
        if (width > r.maxPixels || (p.lines > 0 && width * uint64_t(p.lines) > r.maxPixels))
            return ScanStatus::TooLarge;
        if (!first && width != out->width) {
            *detail = "the device's frames differ in width";
            return ScanStatus::Failed;
        }
        const uint64_t capLines = r.maxPixels / width;
        const uint64_t total = p.lines > 0 ? bpl * uint64_t(p.lines) * (target >= 0 ? 3 : 1) : 0;
        std::vector<uint8_t> raw;
        if (ScanStatus rs = readFrame(h, r, bpl * capLines, &done, total, &raw, detail);
            rs != ScanStatus::Ok)
            return rs;
        const uint64_t lines = raw.size() / bpl;
        if (lines == 0) {
            *detail = "the device sent no picture";
            return ScanStatus::Failed;
        }
        if (first) {
            out->width = static_cast<uint32_t>(width);
            out->height = static_cast<uint32_t>(lines);
            out->rgb.assign(width * lines * 3, 255);
            out->dpi = xdpi;
            out->aspect = xdpi > 0 && ydpi > 0 ? xdpi / ydpi : 1;
            first = false;
        }
        const uint64_t rows = std::min<uint64_t>(lines, out->height);
        for (uint64_t y = 0; y < rows; ++y) {
            const uint8_t* row = raw.data() + y * bpl;
            uint8_t* dst = out->rgb.data() + y * width * 3;
            for (uint64_t x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    if (target >= 0 && c != target) continue;
                    dst[x * 3 + c] = sample(row, p, channels, x, rgb ? c : 0);
                }
        }
        if (p.last_frame) return ScanStatus::Ok;
    }
}

ScanStatus scanDevice(const ScanRequest& r, ImagePixels* out, std::string* detail) {
    SaneSession session;
    if (session.status != SANE_STATUS_GOOD) {
        *detail = std::string("SANE did not start: ") + sane_strstatus(session.status);
        return ScanStatus::Failed;
    }
    std::string name = r.device;
    if (name.empty()) {
        const SANE_Device** devices = nullptr;
        if (sane_get_devices(&devices, SANE_FALSE) != SANE_STATUS_GOOD || !devices || !devices[0])
            return ScanStatus::NoDevice;
        name = text(devices[0]->name);
    }
    OpenDevice device;
    SANE_Status s = sane_open(name.c_str(), &device.handle);
    if (s != SANE_STATUS_GOOD) {
        device.handle = nullptr;
        // An unknown name comes back as "invalid argument" from most back ends.
        if (s == SANE_STATUS_INVAL || s == SANE_STATUS_UNSUPPORTED) {
            *detail = name;
            return ScanStatus::NoDevice;
        }
        if (fromSane(s) == ScanStatus::Failed) *detail = sane_strstatus(s);
        return fromSane(s);
    }
    return scanWith(device.handle, r, out, detail);
}

const ScannerBackend SANE_BACKEND{
    .list = listDevices,
    .scan = scanDevice,
};

}  // namespace

const ScannerBackend* Platform_DefaultScanner() { return &SANE_BACKEND; }
