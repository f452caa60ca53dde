// What the HTTP server reads and reaches: the plant board the link's side keeps current, the
// toolkit of the thread it runs on, and the capture desk and the command gate when the program
// has them.
#pragma once

#include "base/toolkit.h"
#include "capture/capture_desk.h"
#include "http/remote_commands.h"
#include "net/plant_board.h"

namespace trv4 {

struct HttpSources {
  HttpSources(const PlantBoard& board, Toolkit& toolkit) : board(board), toolkit(toolkit) {}

  const PlantBoard& board;
  Toolkit& toolkit;                    // timers, clock and messages of the server's own thread
  CaptureDesk* captures = nullptr;     // null: captures answer 503
  RemoteCommands* commands = nullptr;  // null: commands answer 503 "commands are off"
};

}  // namespace trv4
