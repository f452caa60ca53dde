#include "link/port_device.h"

#include <filesystem>
#include <system_error>

#include "base/platform.h"

namespace trv4 {

namespace fs = std::filesystem;

namespace {

fs::path localLink(int port, const DeviceFolders& folders) {
  return fs::path(folders.local) / ("COM" + std::to_string(port));
}

}  // namespace

std::string portDevice(int port, const DeviceFolders& folders) {
  if (port < 1) return {};
  // Windows names every port in its device space; the plain "COMn" reaches COM1 to COM9 only.
  if (kOnWindows) return "\\\\.\\COM" + std::to_string(port);
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
  if (kOnWindows) return device;
  std::error_code ec;
  const fs::path local = localLink(port, folders);
  if (!fs::is_symlink(fs::symlink_status(local, ec))) return device;
  const fs::path target = fs::read_symlink(local, ec);
  return "./" + local.filename().string() + " -> " + (ec ? "?" : target.string());
}

std::optional<PortFailure> deviceProblem(int port, const std::string& device) {
  // A Windows port is no file to look at: opening it tells what is wrong.
  if (kOnWindows) return std::nullopt;
  const auto failure = [&](PortFailureCode code, std::string detail = {}) {
    return PortFailure{.code = code, .port = port, .device = device, .detail = std::move(detail)};
  };
  std::error_code ec;
  const fs::file_status st = fs::status(device, ec);
  if (ec) {
    if (ec == std::errc::no_such_file_or_directory) {
      std::error_code linkError;
      if (fs::is_symlink(fs::symlink_status(device, linkError))) {
        return failure(PortFailureCode::kLinkDangling);
      }
      return failure(PortFailureCode::kDeviceMissing);
    }
    return failure(PortFailureCode::kDeviceUnreadable, ec.message());
  }
  if (fs::is_directory(st)) return failure(PortFailureCode::kDeviceIsFolder);
  if (!fs::is_character_file(st)) return failure(PortFailureCode::kNotSerialDevice);
  return std::nullopt;
}

}  // namespace trv4
