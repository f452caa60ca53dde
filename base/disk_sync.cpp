#include "base/disk_sync.h"

#include <cerrno>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace trv4 {

namespace {

bool syncFile(int fd) {
#if defined(__APPLE__)
  return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
#elif defined(__unix__)
  return ::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS;
#else
  (void)fd;
  return true;
#endif
}

}  // namespace

DiskSync::DiskSync(int fd) : fd_(fd), worker_([this] { run(); }) {}

DiskSync::~DiskSync() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void DiskSync::request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = true;
  }
  wake_.notify_one();
}

void DiskSync::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || quit_; });
    if (!pending_) return;  // quitting with nothing left to sync
    pending_ = false;
    lock.unlock();
    if (!syncFile(fd_)) failed_ = true;
    lock.lock();
  }
}

}  // namespace trv4
