// The program's own threads beside the link's (the plant services, the capture journal) are
// scheduled below it: when both want the processor the link gets it, and they still get every
// cycle it leaves.
#pragma once

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace trv4 {

// The nice value of such a thread on Linux.
inline constexpr int kBelowTheLinkNice = 10;

// Call on the thread itself. Linux keeps a nice value per thread; QThread's priorities do
// nothing under its default scheduling policy (elsewhere QThread::LowPriority does the same).
inline void scheduleThisThreadBelowTheLink() {
#ifdef Q_OS_LINUX
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kBelowTheLinkNice);
#endif
}

}  // namespace trv4
