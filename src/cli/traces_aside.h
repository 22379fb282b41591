// SPDX-License-Identifier: Apache-2.0
// Trace lines of the link go to standard output (Log_Trace); while a command works they are
// sent to standard error, so that what the command prints (JSON, the file list, a reading)
// stays clean.
#pragma once

// Standard output points at standard error from construction to restore() or destruction.
class TracesAside {
  public:
    TracesAside();
    ~TracesAside();
    TracesAside(const TracesAside&) = delete;
    TracesAside& operator=(const TracesAside&) = delete;
    // Standard output back where it was (once; later calls do nothing).
    void restore();

  private:
    int saved_ = -1;
};
