// Queueing a command for the scale chosen in the single-scale window, and the one-shot commands.
#pragma once

#include <string>

#include "link/link_state.h"

namespace trv4 {

// Queues text for the selected address: "A".."^" its own mailbox, "@" the broadcast slot;
// any other selection is ignored.
void QueueCommand(LinkState& state, const std::string& selection, const std::string& text);

// Bodies of the "Commands" menu entries.
inline const std::string kResetCommand = "R";
inline const std::string kAckCommand = std::string(1, '\x06');
inline const std::string kSyncCommand = std::string(1, '\x10');

}  // namespace trv4
