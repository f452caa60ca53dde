#include "link/port_device.h"

#include <filesystem>
#include <system_error>

namespace trv4 {

std::string portDevice(int port) {
  if (port < 1) return {};
  namespace fs = std::filesystem;
  std::error_code ec;

  // ./COMn counts as soon as the link itself is there, even when its target is gone: the
  // operator chose it, and opening it then fails with a clear error instead of silently
  // reaching some other device. The path is returned absolute so that no serial library takes
  // it for a name under /dev.
  const fs::path local = fs::path("COM" + std::to_string(port));
  if (fs::exists(fs::symlink_status(local, ec))) {
    const fs::path absolute = fs::absolute(local, ec);
    return ec ? ("./" + local.string()) : absolute.string();
  }

  for (const char* base : {"/dev/ttyUSB", "/dev/ttyS"}) {
    const std::string device = base + std::to_string(port - 1);
    if (fs::exists(device, ec)) return device;
  }
  return {};
}

}  // namespace trv4
