// SPDX-License-Identifier: Apache-2.0
// The job command slot and the operations on it that neither log nor wait.
#include "handover/command_slot.h"

#include <cstring>

#include "platform/bytes.h"

namespace {
CommandSlot theSlot;
}  // namespace

CommandSlot* commandSlot() { return &theSlot; }

CommandNumber Cmd_Command(const CommandSlot* slot) {
    return static_cast<CommandNumber>(le::getU32(slot->block, 0));
}

void Cmd_Reset() {
    std::memset(theSlot.block, 0, sizeof theSlot.block);
    theSlot.state.store(CMD_STATE_IDLE);
}

CommandSlot* Cmd_Pending() {
    return theSlot.state.load() == CMD_STATE_PENDING ? &theSlot : nullptr;
}

void Cmd_SetState(CommandState state) { theSlot.state.store(state); }
