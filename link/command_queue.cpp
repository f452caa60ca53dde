#include "link/command_queue.h"

namespace trv4 {

void QueueCommand(LinkState& state, const std::string& selection, const std::string& text) {
  // Only a single address character names a mailbox; anything else (empty text, a longer
  // text, a character outside "@".."^") queues nothing.
  if (selection.size() != 1) return;
  const int i = static_cast<unsigned char>(selection[0]) - 'A';
  if (i == -1) {
    state.CommandQueue[kBroadcastSlot] = text;
  } else if (i >= 0 && i < kMaxScales) {
    state.CommandQueue[i] = text;
  }
}

}  // namespace trv4
