// The gateway's command line: what an operator types in a unit file or a shell, and the typing
// errors that must stop it with a message instead of starting with a half-read line.
#include "gateway/gateway_options.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace trv4 {
namespace {

ParsedGatewayOptions parse(std::vector<std::string> args) {
  return parseGatewayOptions(args);
}

TEST(GatewayOptions, BothSpellingsOfAValueAreRead) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  ParsedGatewayOptions p = parse({"--dir", dir, "--log=w.log", "--interval", "60"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.dir, dir);
  EXPECT_EQ(p.options.logFile, "w.log");
  EXPECT_EQ(p.options.logInterval, 60);

  p = parse({});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.dir, ".");
  EXPECT_EQ(p.options.logFile, "");
  EXPECT_EQ(p.options.logInterval, 0);
  EXPECT_TRUE(parse({"--help"}).options.help);
  EXPECT_TRUE(parse({"-h"}).options.help);
  EXPECT_TRUE(parse({"--version"}).options.version);

  // The last of a repeated option counts; 0 and leading zeros are seconds too.
  p = parse({"--log", "a.log", "--log=b.log", "--interval=0", "--interval", "007"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.logFile, "b.log");
  EXPECT_EQ(p.options.logInterval, 7);
  EXPECT_EQ(parse({"--log", "Ζυγός.log"}).options.logFile, "Ζυγός.log");
}

TEST(GatewayOptions, MistypedCommandLinesAreRefusedNamingTheOption) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"--verbose"}, "unknown option: --verbose"},
      {{"--log"}, "--log needs a value"},
      {{"--log="}, "--log needs a file name"},
      {{"--dir", "/no/such/folder"}, "--dir: no such folder: /no/such/folder"},
      {{"--dir", "/etc/hostname"}, "--dir: no such folder: /etc/hostname"},
      {{"--interval", "5"}, "--interval needs --log"},
      {{"--log", "w.log", "--interval"}, "--interval needs a value"},
      {{"--dir="}, "--dir: no such folder: "},
      {{"--dir", ""}, "--dir: no such folder: "},
      {{"extra"}, "unknown option: extra"},
      {{"--"}, "unknown option: --"},
      {{"-dir", "/tmp"}, "unknown option: -dir"},
      {{"--Log", "w.log"}, "unknown option: --Log"},
      {{"--help", "--colour"}, "unknown option: --colour"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.args).error, c.error) << c.args[0];

  // Seconds are a whole number from 0 to what the log's countdown holds.
  for (const char* bad : {"-1", "1.5", "10s", "", "2147483648", "0x10", "+5", " 5", "5 ", "1e3",
                          "\xD9\xA5", "99999999999999999999"}) {
    const std::string error = parse({"--log", "w.log", "--interval", bad}).error;
    EXPECT_EQ(error.rfind("--interval: not a whole number of seconds", 0), 0u) << bad;
  }
  EXPECT_EQ(parse({"--log", "w.log", "--interval", "2147483647"}).options.logInterval, 2147483647);
}

}  // namespace
}  // namespace trv4
