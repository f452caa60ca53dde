#include "link/port_device.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace trv4 {

namespace fs = std::filesystem;

namespace {

fs::path localLink(int port, const DeviceFolders& folders) {
  return fs::path(folders.local) / ("COM" + std::to_string(port));
}

}  // namespace

std::string portDevice(int port, const DeviceFolders& folders) {
  if (port < 1) return {};
  std::error_code ec;

  // ./COMn counts as soon as the link itself is there, even when its target is gone: the
  // operator chose it, and opening it then fails with a clear error instead of silently
  // reaching some other device. The path is returned absolute so that no serial library takes
  // it for a name under /dev.
  const fs::path local = localLink(port, folders);
  if (fs::exists(fs::symlink_status(local, ec))) {
    const fs::path absolute = fs::absolute(local, ec);
    return ec ? local.string() : absolute.lexically_normal().string();
  }

  for (const char* base : {"ttyUSB", "ttyS", "ttyACM"}) {
    const fs::path device = fs::path(folders.dev) / (base + std::to_string(port - 1));
    if (fs::exists(device, ec)) return device.string();
  }
  return {};
}

std::string portDeviceText(int port, const DeviceFolders& folders) {
  const std::string device = portDevice(port, folders);
  if (device.empty()) return "no device on this machine";
  std::error_code ec;
  const fs::path local = localLink(port, folders);
  if (!fs::is_symlink(fs::symlink_status(local, ec))) return device;
  const fs::path target = fs::read_symlink(local, ec);
  return "./" + local.filename().string() + " -> " + (ec ? "?" : target.string());
}

std::string deviceProblem(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      struct stat link {};
      if (::lstat(device.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        return "the link points to nothing that exists";
      }
      return "it does not exist";
    }
    return std::error_code(errno, std::generic_category()).message();
  }
  if (S_ISDIR(st.st_mode)) return "it is a folder, not a serial device";
  if (!S_ISCHR(st.st_mode)) return "it is not a serial device";
  return {};
}

std::string permissionMessage(int port, const std::string& device, const std::string& group) {
  const std::string owner =
      group.empty() ? "the group that owns it" : "the group \"" + group + "\"";
  return "Port " + std::to_string(port) + " (" + device +
         "): this user may not open it. Add the user to " + owner +
         " (for example: sudo usermod -aG " + (group.empty() ? "dialout" : group) +
         " $USER), then log out and in again.";
}

}  // namespace trv4
