#include "base/file_names.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "base/windows_errno.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trv4 {

#ifdef _WIN32

namespace {

// False when text is no UTF-8.
bool toWide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide->data(), n) ==
         n;
}

std::string toUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

// Opening the file that names the same one: its volume and index.
bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

// Opened as Linux opens files: others may still rename or delete the file meanwhile (so a moved
// log or record is noticed, as there), which _wfopen would forbid. Modes "r", "w", "a", with "b"
// and "+" as in std::fopen.
std::FILE* openFile(const std::string& name, const char* mode) {
  std::wstring wide;
  const std::string m = mode;
  if (!toWide(name, &wide) || m.empty() || std::string("rwa").find(m[0]) == std::string::npos) {
    errno = m.empty() ? EINVAL : ENOENT;
    return nullptr;
  }
  const bool update = m.find('+') != std::string::npos;
  DWORD access = m[0] == 'r' ? GENERIC_READ : GENERIC_WRITE;
  if (update) access = GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition = m[0] == 'r' ? OPEN_EXISTING : m[0] == 'w' ? CREATE_ALWAYS : OPEN_ALWAYS;
  const HANDLE handle =
      CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errnoOfLastError();
    return nullptr;
  }
  int flags = _O_BINARY;
  if (m[0] == 'r' && !update) flags |= _O_RDONLY;
  if (m[0] == 'a') flags |= _O_APPEND;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

std::FILE* createOrEmptyFile(const std::string& name) {
  return openFile(name, "wb");
}

std::FILE* createNewFile(const std::string& name, unsigned) {
  std::wstring wide;
  if (!toWide(name, &wide)) {
    errno = ENOENT;
    return nullptr;
  }
  const int fd = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file != nullptr) return file;
  _close(fd);
  _wremove(wide.c_str());
  return nullptr;
}

bool removeFile(const std::string& name) {
  std::wstring wide;
  return toWide(name, &wide) && _wremove(wide.c_str()) == 0;
}

std::filesystem::path filePath(const std::string& name) {
  std::wstring wide;
  // "?" is no valid file name here: an unconvertible name finds and creates nothing.
  if (!toWide(name, &wide)) return std::filesystem::path(L"?");
  return std::filesystem::path(wide);
}

std::string fileNameText(const std::filesystem::path& path) {
  return toUtf8(path.native());
}

bool isFileAt(std::FILE* file, const std::string& path) {
  std::wstring wide;
  if (!toWide(path, &wide)) return false;
  const HANDLE named =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  const bool same = sameFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), named);
  CloseHandle(named);
  return same;
}

#else

std::FILE* openFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

std::FILE* createOrEmptyFile(const std::string& name) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  // A pipe or device stays non-blocking: a write it cannot take now (a reader that stopped
  // reading) fails instead of stopping the program.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}

std::FILE* createNewFile(const std::string& name, unsigned mode) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fchmod(fd, mode) == 0 ? ::fdopen(fd, "wb") : nullptr;
  if (file != nullptr) return file;
  const int failure = errno;
  ::close(fd);
  ::unlink(name.c_str());
  errno = failure;
  return nullptr;
}

bool removeFile(const std::string& name) {
  return ::unlink(name.c_str()) == 0;
}

std::filesystem::path filePath(const std::string& name) {
  return std::filesystem::path(name);
}

std::string fileNameText(const std::filesystem::path& path) {
  return path.string();
}

bool isFileAt(std::FILE* file, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fileno(file), &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

#endif

}  // namespace trv4
