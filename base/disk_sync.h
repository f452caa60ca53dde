// Forces what was written to a file onto the disk without making the caller wait: a worker
// thread syncs the file after each request, so a slow or busy disk never holds up the windows.
// Requests that arrive while a sync runs are covered by the next one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace trv4 {

class DiskSync {
 public:
  // fd: an open file descriptor that outlives this object.
  explicit DiskSync(int fd);
  // Syncs once more what is still pending, then ends the worker.
  ~DiskSync();
  DiskSync(const DiskSync&) = delete;
  DiskSync& operator=(const DiskSync&) = delete;

  // Data written and flushed so far should reach the disk.
  void request();
  // A sync failed (the disk or the device is gone). Files that cannot be synced at all, such as
  // devices and pipes, do not count as failed.
  bool failed() const { return failed_; }

 private:
  void run();

  int fd_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool quit_ = false;
  std::atomic<bool> failed_{false};
  std::thread worker_;
};

}  // namespace trv4
