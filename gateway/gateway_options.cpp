#include "gateway/gateway_options.h"

#include <charconv>
#include <filesystem>
#include <limits>

namespace trv4 {

namespace {

// A whole number of seconds from 0 up to what the log's countdown holds.
bool readSeconds(const std::string& text, int32_t* out) {
  int64_t value = -1;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return false;
  if (value < 0 || value > std::numeric_limits<int32_t>::max()) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

ParsedGatewayOptions parseGatewayOptions(const std::vector<std::string>& args) {
  ParsedGatewayOptions parsed;
  GatewayOptions& o = parsed.options;
  bool intervalGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };

    if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else if (name == "--dir" || name == "--log" || name == "--interval") {
      if (!takeValue()) {
        parsed.error = name + " needs a value";
        return parsed;
      }
      if (name == "--dir") {
        std::error_code error;
        if (value.empty() || !std::filesystem::is_directory(value, error)) {
          parsed.error = "--dir: no such folder: " + value;
          return parsed;
        }
        o.dir = value;
      } else if (name == "--log") {
        if (value.empty()) {
          parsed.error = "--log needs a file name";
          return parsed;
        }
        o.logFile = value;
      } else {
        if (!readSeconds(value, &o.logInterval)) {
          parsed.error = "--interval: not a whole number of seconds from 0 to " +
                         std::to_string(std::numeric_limits<int32_t>::max()) + ": " + value;
          return parsed;
        }
        intervalGiven = true;
      }
    } else {
      parsed.error = "unknown option: " + args[i];
      return parsed;
    }
  }
  if (intervalGiven && o.logFile.empty()) parsed.error = "--interval needs --log";
  return parsed;
}

std::string gatewayUsage() {
  return "Usage: trv4-gateway [--dir FOLDER] [--log FILE [--interval SECONDS]]\n"
         "Polls the scales TRV4.INI names and publishes their weights as TRV4NET.INI says,\n"
         "without any window.\n"
         "  --dir FOLDER        folder of TRV4.INI, TRV4NET.INI and the COMn links (default: .)\n"
         "  --log FILE          write the weight log to FILE (created or emptied)\n"
         "  --interval SECONDS  seconds between log lines, 0 for every tick (default: 0)\n"
         "  --help              this text\n"
         "  --version           the version\n"
         "Messages go to standard error. SIGTERM or SIGINT ends it cleanly.\n";
}

}  // namespace trv4
