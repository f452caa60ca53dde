#include "base/disk_sync.h"

#include "base/file_sync.h"

namespace trv4 {

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
    if (!syncData(fd_)) failed_ = true;
    lock.lock();
  }
}

}  // namespace trv4
