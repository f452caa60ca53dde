// The gateway's command line: a typing error stops it with a message, never a half-read line.
#include "gateway/gateway_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

namespace trv4 {
namespace {

using Args = std::vector<std::string>;
// dir, log, interval, help, version: the options as a whole.
using Read = std::tuple<std::string, std::string, int32_t, bool, bool>;

Read read(const Args& args) {
  const ParsedGatewayOptions p = parseGatewayOptions(args);
  EXPECT_EQ(p.error, "") << ::testing::PrintToString(args);
  const GatewayOptions& o = p.options;
  return {o.dir, o.logFile, o.logInterval, o.help, o.version};
}

// The last of a repeated option counts; 0 and leading zeros are seconds too.
TEST(GatewayOptions, BothSpellingsOfAValueAreRead) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  const std::pair<Args, Read> cases[] = {
      {{"--dir", dir, "--log=w.log", "--interval", "60"}, {dir, "w.log", 60, false, false}},
      {{}, {".", "", 0, false, false}},
      {{"-h"}, {".", "", 0, true, false}},
      {{"--version"}, {".", "", 0, false, true}},
      {{"--log", "a.log", "--log=b.log", "--interval=0", "--interval", "007"},
       {".", "b.log", 7, false, false}},
      {{"--log", "w.log", "--interval", "2147483647"}, {".", "w.log", 2147483647, false, false}},
  };
  for (const auto& [args, expected] : cases)
    EXPECT_EQ(read(args), expected) << ::testing::PrintToString(args);
}

TEST(GatewayOptions, MistypedCommandLinesAreRefusedNamingTheOption) {
  const std::pair<Args, std::string> cases[] = {
      {{"--verbose"}, "unknown option: --verbose"},
      {{"--log"}, "--log needs a value"},
      {{"--log="}, "--log needs a file name"},
      {{"--dir", "/no/such/folder"}, "--dir: no such folder: /no/such/folder"},
      {{"--dir", "/etc/hostname"}, "--dir: no such folder: /etc/hostname"},
      {{"--interval", "5"}, "--interval needs --log"},
  };
  for (const auto& [args, error] : cases) EXPECT_EQ(parseGatewayOptions(args).error, error);
  // Seconds are a whole number from 0 to what the log's countdown holds.
  for (const char* bad : {"-1", "1.5", "2147483648"}) {
    const std::string error = parseGatewayOptions({"--log", "w.log", "--interval", bad}).error;
    EXPECT_TRUE(error.starts_with("--interval: not a whole number of seconds")) << bad;
  }
}

}  // namespace
}  // namespace trv4
