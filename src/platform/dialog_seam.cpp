// SPDX-License-Identifier: Apache-2.0
// Installation of the dialog back end; the in-memory model serves when none is installed.
#include <atomic>

#include "platform/dialog.h"
#include "platform/dialog_model.h"

namespace {
std::atomic<const DialogBackend*> dialogBackend{nullptr};
}

void Dialog_Install(const DialogBackend* backend) { dialogBackend.store(backend); }
const DialogBackend* Dialog_Backend() {
    const DialogBackend* b = dialogBackend.load();
    return b ? b : DialogModel_Backend();
}
