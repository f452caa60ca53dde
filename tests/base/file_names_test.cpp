#include "base/file_names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/file_sync.h"
#include "base/platform.h"
#include "base/whole_file.h"

namespace trv4 {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& name) {
  std::ifstream in(filePath(name), std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

// A scratch folder whose name is Greek and accented, as an operator's folders may be.
class FileNames : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_TRUE(fs::create_directories(filePath(folder_)));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(filePath(root_), ec);
  }
  const std::string root_ = fileNameText(fs::temp_directory_path()) + "/trv4-names-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string folder_ = root_ + "/Ζυγαριά Café";
};

// Written, read back, renamed over an older file and found again, all by the UTF-8 name.
TEST_F(FileNames, GreekAndAccentedFoldersWorkThroughout) {
  const std::string ini = folder_ + "/TRV4.INI";
  ASSERT_TRUE(writeWholeFile(ini, "old\r\n"));
  ASSERT_TRUE(replaceWholeFile(ini, "νέο\r\n"));
  EXPECT_EQ(readAll(ini), "νέο\r\n");
  EXPECT_FALSE(fs::exists(filePath(ini + ".tmp")));
  EXPECT_EQ(fileNameText(filePath(ini)), ini);

  std::FILE* log = createOrEmptyFile(folder_ + "/Ζύγιση.log");
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(isFileAt(log, folder_ + "/Ζύγιση.log"));
  EXPECT_FALSE(isFileAt(log, ini));
  // Moved away while open, as an operator may: noticed.
  ASSERT_TRUE(renameOver(folder_ + "/Ζύγιση.log", folder_ + "/moved.log"));
  EXPECT_FALSE(isFileAt(log, folder_ + "/Ζύγιση.log"));
  std::fclose(log);
  ASSERT_TRUE(writeWholeFile(folder_ + "/παλιό.log", "old"));
  ASSERT_TRUE(renameOver(folder_ + "/moved.log", folder_ + "/παλιό.log"));
  EXPECT_EQ(readAll(folder_ + "/παλιό.log"), "");
  EXPECT_FALSE(fs::exists(filePath(folder_ + "/moved.log")));
  EXPECT_TRUE(removeFile(folder_ + "/παλιό.log"));
  EXPECT_FALSE(removeFile(folder_ + "/παλιό.log"));
}

TEST_F(FileNames, FailedRenameChangesNothing) {
  const std::string ini = folder_ + "/TRV4.INI";
  ASSERT_TRUE(writeWholeFile(ini, "kept"));
  EXPECT_FALSE(renameOver(folder_ + "/missing", ini));
  ASSERT_TRUE(fs::create_directory(filePath(folder_ + "/sub")));
  ASSERT_TRUE(writeWholeFile(folder_ + "/sub/inside", "x"));
  EXPECT_FALSE(renameOver(ini, folder_ + "/sub"));  // a folder is not replaced by a file
  EXPECT_EQ(readAll(ini), "kept");
  EXPECT_FALSE(writeWholeFile(folder_ + "/no such folder/TRV4.INI", "x"));
  EXPECT_FALSE(replaceWholeFile(folder_ + "/no such folder/TRV4.INI", "x"));
}

// A new file is never one already there; its data syncs.
TEST_F(FileNames, NewFilesDoNotReplaceOldOnes) {
  const std::string name = folder_ + "/TRV4NET.INI.tmp";
  ASSERT_TRUE(writeWholeFile(name, "old"));
  EXPECT_EQ(createNewFile(name, 0600), nullptr);
  ASSERT_TRUE(removeFile(name));
  std::FILE* file = createNewFile(name, 0600);
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("new", file), 0);
  ASSERT_EQ(std::fflush(file), 0);
  EXPECT_TRUE(syncFile(fileno(file)) && syncData(fileno(file)));
  const int fd = fileno(file);
  std::fclose(file);
  EXPECT_FALSE(syncFile(fd) || syncData(fd));  // closed: it cannot be synced, and says so
  EXPECT_EQ(readAll(name), "new");
}

// Windows only: names reach the system as UTF-16, so text that is no UTF-8 names no file
// (rather than some file in the ANSI code page), and a handle opened to read cannot be synced.
TEST_F(FileNames, WindowsRefusesNamesThatAreNoUtf8AndSyncsOnlyWritableFiles) {
  if (!kOnWindows) GTEST_SKIP() << "Linux names are bytes and read-only files sync there";
  EXPECT_EQ(openFile(folder_ + "/\xFF.log", "wb"), nullptr);
  EXPECT_FALSE(writeWholeFile(folder_ + "/\xFF.ini", "x"));
  EXPECT_FALSE(renameOver(folder_ + "/\xFF.ini", folder_ + "/x"));
  EXPECT_EQ(createOrEmptyFile(folder_ + "/\xC3"), nullptr);
  const std::string ini = folder_ + "/TRV4.INI";
  ASSERT_TRUE(writeWholeFile(ini, "x"));
  std::FILE* file = openFile(ini, "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(syncFile(fileno(file)) || syncData(fileno(file)));
  std::fclose(file);
}

}  // namespace
}  // namespace trv4
