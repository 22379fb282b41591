// SPDX-License-Identifier: Apache-2.0
// The per-case session of every test program (linked into each as an object, so the listener
// registers itself without being named).
#include "support/session_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "handover/command_slot.h"
#include "handover/swath_ring.h"
#include "support/fakes.h"
#include "support/product_internals.h"

namespace {

std::unique_ptr<Session>& caseSession() {
    static std::unique_ptr<Session> session;
    return session;
}

// What a case must leave as it found it: the command slot and the swath ring.
struct Handover {
    int commandState = 0;
    int ring[SWATH_RING_SIZE] = {};
    bool operator==(const Handover&) const = default;
    std::string text() const {
        std::ostringstream s;
        s << "command slot state " << commandState << ", ring records";
        for (int r : ring) s << " " << r;
        return s.str();
    }
};

Handover handoverNow() {
    Handover h;
    h.commandState = static_cast<int>(commandSlot()->state.load());
    for (int i = 0; i < SWATH_RING_SIZE; ++i)
        h.ring[i] = static_cast<int>(Ring_Record(i)->state.load());
    return h;
}

bool idle(const Handover& h) {
    if (h.commandState == static_cast<int>(CMD_STATE_PENDING) ||
        h.commandState == static_cast<int>(CMD_STATE_BUSY))
        return false;
    for (int r : h.ring)
        if (r != static_cast<int>(SWATH_EMPTY)) return false;
    return true;
}

// Each case starts on a fresh session and must end with no command waiting to go, no swath in
// the ring and no error-log line it did not look at, so a case that leaks state into the next
// fails itself, not the case after it. (End events reach this listener before the printer's,
// so a failure added here is reported with the case.)
class SessionPerCase : public ::testing::EmptyTestEventListener {
    Handover atStart;

    void OnTestStart(const ::testing::TestInfo&) override {
        caseSession().reset();
        caseSession() = std::make_unique<Session>();
        error_log_watch::caseStarts();
        atStart = handoverNow();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        Handover atEnd = handoverNow();
        if (!(atEnd == atStart) && !idle(atEnd))
            ADD_FAILURE() << "the case left a job half done: " << atEnd.text() << " (found "
                          << atStart.text() << ")";
        std::string unseen = error_log_watch::unseenLines();
        if (!unseen.empty())
            ADD_FAILURE() << "the case wrote error-log lines it did not check:\n" << unseen;
        caseSession().reset();
    }
};

// Locks the programs of one user share (one per printer) go to a folder of this test program's
// own: parallel test programs never wait for each other's printer.
#ifndef _WIN32
std::string& runtimeDir() {
    static std::string dir;
    return dir;
}
#endif

// Every test program keeps its printers' histories in a data folder of its own, never in the
// user's: the programs it starts inherit it.
const bool privateDataFolder = [] {
    static TempDir folder;
#ifdef _WIN32
    _putenv_s("LOCALAPPDATA", folder.path.c_str());
#else
    setenv("XDG_DATA_HOME", folder.path.c_str(), 1);
#endif
    return true;
}();

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new SessionPerCase);
#ifndef _WIN32
    char folder[] = "/tmp/headalign-test-run-XXXXXX";
    if (mkdtemp(folder)) {
        runtimeDir() = folder;
        setenv("XDG_RUNTIME_DIR", folder, 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(runtimeDir(), ec);
        });
    }
#endif
    return true;
}();

}  // namespace

Session& testSession() {
    if (!caseSession()) {
        std::fprintf(stderr, "testSession() outside a test case\n");
        std::abort();
    }
    return *caseSession();
}
