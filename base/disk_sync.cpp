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
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = !pending_;
    pending_ = true;
  }
  // A request already pending is covered by the sync to come: the worker is not woken again.
  if (first) wake_.notify_one();
}

void DiskSync::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  auto lastSync = std::chrono::steady_clock::now() - kSpacing;
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || quit_; });
    if (!pending_) return;  // quitting with nothing left to sync
    // Ending syncs what is pending at once.
    wake_.wait_until(lock, lastSync + kSpacing, [this] { return quit_; });
    pending_ = false;
    lock.unlock();
    if (!syncData(fd_)) failed_ = true;
    ++syncs_;
    lastSync = std::chrono::steady_clock::now();
    lock.lock();
  }
}

}  // namespace trv4
