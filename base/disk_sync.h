// Forces what was written to a file onto the disk without making the caller wait: a worker
// thread syncs the file after each request, so a slow or busy disk never holds up the windows.
// Requests that arrive while a sync runs are covered by the next one, and syncs come at most
// every kSpacing: a request after a quiet spell is synced at once, while lines written faster
// than that share a sync (each costs the disk a journal commit, and the program far more CPU
// than writing the line).
#pragma once

#include <atomic>
#include <chrono>
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

  static constexpr std::chrono::milliseconds kSpacing{200};

  // Data written and flushed so far should reach the disk.
  void request();
  // How many syncs were made so far.
  int syncs() const { return syncs_; }
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
  std::atomic<int> syncs_{0};
  std::thread worker_;
};

}  // namespace trv4
