#include "base/disk_sync.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace trv4 {
namespace {

// Regular files sync; pipes and devices cannot, and that is no failure. Ending with requests
// still pending neither hangs nor loses the worker.
TEST(DiskSync, SyncsFilesAndToleratesWhatCannotBeSynced) {
  const std::string path = ::testing::TempDir() + "trv4-sync-" + std::to_string(getpid());
  const int file = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const int null = open("/dev/null", O_WRONLY);
  for (int fd : {file, pipeEnds[1], null}) {
    ASSERT_GE(fd, 0);
    auto sync = std::make_unique<DiskSync>(fd);
    for (int i = 0; i < 1000; ++i) {
      ASSERT_EQ(write(fd, "line\r\n", 6), 6);
      sync->request();
    }
    sync.reset();
    DiskSync idle(fd);  // made and ended without a request
    EXPECT_FALSE(idle.failed());
  }
  for (int fd : {file, pipeEnds[0], pipeEnds[1], null}) close(fd);
  unlink(path.c_str());
}

}  // namespace
}  // namespace trv4
