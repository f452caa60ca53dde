#include "base/write_signals.h"

#include <csignal>

namespace trv4 {

void keepWritesFromSignalling() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace trv4
