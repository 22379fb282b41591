// SPDX-License-Identifier: Apache-2.0
// Module state with an owner. A module keeps its mutable state in one plain struct; the
// program's session owns one of each and points the module at it, so a lower module reaches
// its own state without knowing the session (which sits above every module), and a fresh
// session starts every module afresh. The programs keep one session for their whole run, so
// each state stays a single instance for the program.
#pragma once
#include <atomic>

// Stops the program: module state was used with no session alive. Every program creates its
// session before anything else, so this is a fault in the program, never in its input.
[[noreturn]] void OwnedState_Missing(const char* where);

template <typename State>
class OwnedState {
  public:
    // The state of the live session. Any thread; the session outlives the threads it starts.
    static State& get() {
        State* s = slot.load(std::memory_order_acquire);
        if (!s) OwnedState_Missing(__PRETTY_FUNCTION__);
        return *s;
    }
    // The state, or nullptr when no session is alive: for code that may still run after the
    // program's session ended (a transmit thread left behind, a log line at exit).
    static State* find() { return slot.load(std::memory_order_acquire); }
    // Points the module at `s` (nullptr: at nothing); returns what it pointed at before.
    static State* install(State* s) { return slot.exchange(s, std::memory_order_acq_rel); }

  private:
    static inline std::atomic<State*> slot{nullptr};
};

// One module's state held by a session: installed for the holder's lifetime, then the state
// that was installed before comes back (sessions nest, the innermost one counts).
template <typename State>
class Owned {
  public:
    Owned() : previous(OwnedState<State>::install(&state)) {}
    ~Owned() { OwnedState<State>::install(previous); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    State* operator->() { return &state; }
    State& operator*() { return state; }

  private:
    State state{};
    State* previous;
};
