#include "base/disk_sync.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <chrono>
#include <string>

namespace trv4 {
namespace {

const std::string kScratch = ::testing::TempDir() + "trv4-sync-" + std::to_string(getpid());

// Regular files sync, lines in quick succession sharing syncs; pipes and devices cannot, and that
// is no failure. Ending with requests still pending neither hangs nor loses the worker.
TEST(DiskSync, SyncsFilesSharingSyncsAndToleratesWhatCannotBeSynced) {
  int pipeEnds[2];
#ifdef _WIN32
  // Room for all the lines below, as a Linux pipe has: nobody reads them.
  ASSERT_EQ(_pipe(pipeEnds, 1 << 16, _O_BINARY), 0);
  const char* nullDevice = "NUL";
#else
  ASSERT_EQ(pipe(pipeEnds), 0);
  const char* nullDevice = "/dev/null";
#endif
  for (int fd : {open(kScratch.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600), pipeEnds[1],
                 open(nullDevice, O_WRONLY)}) {
    ASSERT_GE(fd, 0);
    {
      const auto start = std::chrono::steady_clock::now();
      DiskSync sync(fd);
      for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(write(fd, "line\r\n", 6), 6);
        sync.request();
      }
      // One sync at once, then one per spacing begun since (one may be running as this is read).
      EXPECT_LE(sync.syncs(), 2 + (std::chrono::steady_clock::now() - start) / DiskSync::kSpacing);
    }
    EXPECT_FALSE(DiskSync(fd).failed());  // made and ended without a request
    close(fd);
  }
  close(pipeEnds[0]);
  unlink(kScratch.c_str());
}

}  // namespace
}  // namespace trv4
