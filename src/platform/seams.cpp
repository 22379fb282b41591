// SPDX-License-Identifier: Apache-2.0
// Installation and dispatch of the platform back-end tables.
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "platform/thread.h"
#include "platform/usb_driver.h"

namespace {
std::atomic<const ClockBackend*> clockBackend{nullptr};
std::atomic<const LocaleBackend*> localeBackend{nullptr};
std::atomic<const MsgBoxBackend*> msgBoxBackend{nullptr};
std::atomic<const UsbDriverBackend*> usbBackend{nullptr};
std::atomic<const LogDirBackend*> logDirBackend{nullptr};
std::atomic<const ThreadBackend*> threadBackend{nullptr};
std::mutex logDirMutex;
std::string logDirOverride;
}  // namespace

void Clock_Install(const ClockBackend* b) { clockBackend.store(b); }
const ClockBackend* Clock_Backend() {
    const ClockBackend* b = clockBackend.load();
    return b ? b : Platform_DefaultClock();
}
void Clock_Sleep(uint32_t ms) { Clock_Backend()->sleepMs(ms); }
uint32_t Clock_Tick() { return Clock_Backend()->tickMs(); }
LocalTime Clock_LocalTime() {
    LocalTime t{};
    Clock_Backend()->localTime(&t);
    return t;
}

void Locale_Install(const LocaleBackend* b) { localeBackend.store(b); }
uint32_t Locale_SystemId() {
    const LocaleBackend* b = localeBackend.load();
    return (b ? b : Platform_DefaultLocale())->systemLocaleId();
}
bool Locale_IsChinese() { return (Locale_SystemId() & 0xFF) == 4; }

namespace {
std::atomic<TraceSink> traceSink{nullptr};
}
void Platform_InstallTraceSink(TraceSink sink) { traceSink.store(sink); }
void Platform_Trace(const char* fmt, ...) {
    TraceSink sink = traceSink.load();
    if (!sink) return;
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    sink(line);
}

void MsgBox_Install(const MsgBoxBackend* b) { msgBoxBackend.store(b); }
int MsgBox_Show(const char* text, const char* caption, int buttons, int icon) {
    const MsgBoxBackend* b = msgBoxBackend.load();
    return (b ? b : Platform_DefaultMsgBox())->show(text, caption, buttons, icon);
}

void UsbDriver_Install(const UsbDriverBackend* b) { usbBackend.store(b); }
const UsbDriverBackend* UsbDriver_Get() {
    const UsbDriverBackend* b = usbBackend.load();
    return b ? b : Platform_DefaultUsbDriver();
}

void LogDir_Install(const LogDirBackend* b) { logDirBackend.store(b); }
const LogDirBackend* LogDir_Backend() {
    const LogDirBackend* b = logDirBackend.load();
    return b ? b : Platform_DefaultLogDir();
}
std::string LogDir_Default() { return LogDir_Backend()->defaultDir(); }
std::string LogDir_FileText(const std::string& utf8) { return LogDir_Backend()->fileText(utf8); }

void Thread_Install(const ThreadBackend* b) { threadBackend.store(b); }
const ThreadBackend* Thread_Backend() {
    const ThreadBackend* b = threadBackend.load();
    return b ? b : Platform_DefaultThread();
}
void Thread_RaisePriority() { Thread_Backend()->raisePriority(); }

std::string LogDir_Get() {
    std::lock_guard<std::mutex> lock(logDirMutex);
    return logDirOverride.empty() ? LogDir_Default() : logDirOverride;
}
void LogDir_Set(const std::string& path) {
    std::lock_guard<std::mutex> lock(logDirMutex);
    logDirOverride = path;
}

uint32_t Locale_IdFromPosixName(const char* name) {
    if (!name || !*name) return 0x0409;
    std::string s(name);
    size_t cut = s.find_first_of(".@");
    if (cut != std::string::npos) s.resize(cut);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string lang = s.substr(0, s.find_first_of("_-"));
    std::string region = s.size() > lang.size() ? s.substr(lang.size() + 1) : std::string();

    struct Exact {
        const char* name;
        uint32_t id;
    };
    static const Exact exact[] = {
        {"zh_cn", 0x0804}, {"zh_tw", 0x0404}, {"zh_hk", 0x0c04}, {"zh_sg", 0x1004},
        {"zh_mo", 0x1404}, {"en_us", 0x0409}, {"en_gb", 0x0809}, {"en_au", 0x0c09},
        {"en_ca", 0x1009}, {"de_de", 0x0407}, {"fr_fr", 0x040c}, {"ja_jp", 0x0411},
    };
    std::string key = lang + "_" + region;
    for (const Exact& e : exact)
        if (key == e.name) return e.id;

    // Otherwise the primary language in its default sub-language (sub-language 1).
    struct Primary {
        const char* lang;
        uint32_t id;
    };
    static const Primary primary[] = {
        {"zh", 0x0804}, {"en", 0x0409}, {"de", 0x0407}, {"fr", 0x040c}, {"es", 0x0c0a},
        {"it", 0x0410}, {"ja", 0x0411}, {"ko", 0x0412}, {"ru", 0x0419}, {"pt", 0x0416},
        {"nl", 0x0413}, {"pl", 0x0415}, {"sv", 0x041d}, {"tr", 0x041f}, {"ar", 0x0401},
    };
    for (const Primary& p : primary)
        if (lang == p.lang) return p.id;
    return 0x0409;
}
