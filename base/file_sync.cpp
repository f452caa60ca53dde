#include "base/file_sync.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>

#include "base/windows_errno.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace trv4 {

#ifdef _WIN32

namespace {

HANDLE handleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool flush(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  if (FlushFileBuffers(handle)) return true;
  errno = errnoOfLastError();
  return false;
}

}  // namespace

bool syncData(int fd) {
  const HANDLE handle = handleOf(fd);
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) return true;
  return flush(handle);
}

bool syncFile(int fd) {
  return flush(handleOf(fd));
}

void syncFolderOf(const std::string&) {}

#else

bool syncData(int fd) {
#if defined(__APPLE__)
  return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
#else
  return ::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS;
#endif
}

bool syncFile(int fd) {
  return ::fsync(fd) == 0;
}

void syncFolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

#endif

}  // namespace trv4
